#include "launcher/launcher_dlg.h"

#include <algorithm>

#include "install/drives.h"
#include "install/install_dir.h"
#include "install/shortcuts.h"
#include "platform/text.h"
#include "res/resource.h"
#include "update/complete_files.h"
#include "update/install_worker.h"
#include "video/video_preset.h"

namespace kvn {
namespace {

constexpr int kTimerId = 1;
constexpr unsigned kTimerPeriodMs = 100;
constexpr std::size_t kLoginIniLimit = 64 * 1024;  // larger files are not addresses

struct ButtonPlace {
    int id, inBitmap, outBitmap, x, y;
    bool shown;
};
constexpr ButtonPlace kButtonPlaces[] = {
    {IDC_BTN_CLOSE, IDB_CLOSE_IN, IDB_CLOSE_OUT, 981, 80, true},
    {IDC_BTN_MINIMIZE, IDB_MINIMIZE_IN, IDB_MINIMIZE_OUT, 951, 80, true},
    {IDC_BTN_VIDEO, IDB_VIDEO_IN, IDB_VIDEO_OUT, 829, 81, true},
    {IDC_CHK_LEVEL0, IDB_LEVEL_IN, IDB_LEVEL_OUT, 101, 313, false},
    {IDC_CHK_LEVEL1, IDB_LEVEL_IN, IDB_LEVEL_OUT, 269, 313, false},
    {IDC_CHK_LEVEL2, IDB_LEVEL_IN, IDB_LEVEL_OUT, 437, 313, false},
    {IDC_CHK_LEVEL3, IDB_LEVEL_IN, IDB_LEVEL_OUT, 605, 313, false},
    {IDC_CHK_LEVEL4, IDB_LEVEL_IN, IDB_LEVEL_OUT, 773, 313, false},
    {IDC_BTN_VIDEO_SAVE, IDB_VIDEO_SAVE_IN, IDB_VIDEO_SAVE_OUT, 370, 500, false},
    {IDC_BTN_VIDEO_CLOSE, IDB_VIDEO_CLOSE_IN, IDB_VIDEO_CLOSE_OUT, 568, 500, false},
};

constexpr Rect kViewRect{38, 120, 968, 515};

CButtonST* ButtonOf(CLauncherDlg& dlg, int id) {
    switch (id) {
        case IDC_BTN_CLOSE: return &dlg.m_btnClose;
        case IDC_BTN_MINIMIZE: return &dlg.m_btnMinimize;
        case IDC_BTN_VIDEO: return &dlg.m_btnVideo;
        case IDC_BTN_VIDEO_SAVE: return &dlg.m_btnVideoSave;
        case IDC_BTN_VIDEO_CLOSE: return &dlg.m_btnVideoClose;
        default:
            for (std::size_t i = 0; i < kQualityBoxIds.size(); ++i)
                if (kQualityBoxIds[i] == id) return &dlg.m_chkVideoLevel[i];
            return nullptr;
    }
}

}  // namespace

CLauncherDlg::CLauncherDlg(Platform& platform, Config config)
    : m_hIcon(IDR_MAINFRAME),
      m_wndLoginPage(platform),
      m_wndWaitingPage(platform, m_wndLoginPage),
      m_installTask(this),
      m_dlgUninstall(platform),
      m_platform(platform),
      m_config(std::move(config)) {}

CLauncherDlg::~CLauncherDlg() { StopInstallWorker(); }

int CLauncherDlg::DoModal() { return m_platform.ui.runModal(IDD_LAUNCHER_DIALOG, *this, nullptr); }

WString CLauncherDlg::SitePage(std::u16string_view path) const { return m_config.site + WString(path); }

WString StartUrlFromLoginIni(System& system, const std::optional<Bytes>& file,
                             const WString& fallback) {
    // The whole file is the address, as stored: no trimming, a trailing line
    // break stays. It ends at a zero byte, as a zero-terminated buffer would.
    if (!file) return fallback;
    const WString url = system.fromAnsi(file->substr(0, file->find('\0')));
    return url.empty() ? fallback : url;
}

void CLauncherDlg::ReadStartUrl() {
    m_strStartUrl = StartUrlFromLoginIni(
        m_platform.system, m_platform.files.readFile(u"login.ini", kLoginIniLimit),
        SitePage(u"/micro/"));
    m_wndLoginPage.m_strLoginPage = m_strStartUrl;  // only that page can end a login
}

void CLauncherDlg::SetUpButtons() {
    for (const ButtonPlace& place : kButtonPlaces) {
        CButtonST* button = ButtonOf(*this, place.id);
        button->Attach(m_pDialog->imageButton(place.id));
        button->SetImages(place.inBitmap, place.outBitmap);
        button->SizeToImage();
        const Rect r = button->control() ? button->control()->windowRect() : Rect{};
        button->MoveWindow(place.x, place.y, r.width(), r.height());
        button->ShowWindow(place.shown);
    }
}

bool CLauncherDlg::onInitDialog(Dialog& dialog) {
    CDialogSK::onInitDialog(dialog);
    m_wndProgress.Attach(dialog.progressBar(IDC_PROGRESS));
    m_pUiDialog.store(&dialog);

    ReadStartUrl();
    // The skin: window size and icon, dragged by any point, the background
    // picture (which sizes the window) and its transparent key colour.
    dialog.setSize(1035, 590);
    dialog.setIcon(m_hIcon);
    EnableDragAnywhere(true);
    // Style 4 sizes the window to its background, so a bitmap that is not
    // whole or is smaller than the window is not applied: the window keeps
    // 1035 x 590, as without the file.
    if (const auto bitmap = m_platform.files.readFile(u"LauncherDlg.bmp", kMaxBitmapFileBytes);
        bitmap && IsUsableBackground(*bitmap))
        SetBackground(u"LauncherDlg.bmp");
    SetBackgroundStyle(4);
    SetColorKey(0x404040);
    dialog.setTitle(u"Korvane安装程序");
    SetUpButtons();
    dialog.removeClientEdge();

    // Both web views on the same place; the waiting page starts hidden.
    m_wndLoginPage.Create(dialog, IDC_WEBVIEW, kViewRect);
    m_wndWaitingPage.Create(dialog, IDC_WEBVIEW, kViewRect);
    m_wndWaitingPage.ShowWindow(false);
    m_bWaitingPage = 0;

    // The progress bar is placed and hidden; nothing shows it again.
    m_wndProgress.MoveWindow(72, 552, 893, 13);
    m_wndProgress.SetRange(0, 100);
    m_wndProgress.ShowWindow(false);

    // The timer and the install worker run before the start-up decision.
    dialog.setTimer(kTimerId, kTimerPeriodMs);
    StartInstallWorker();
    RunStartup();
    return true;
}

void CLauncherDlg::StartInstallWorker() {
    m_workerThread = std::thread([this] { InstallWorker(m_platform, &m_installTask); });
    m_installTask.m_pWorkerThread = &m_workerThread;
}

void CLauncherDlg::StopInstallWorker() {
    m_installTask.m_bStopWorker.store(true);
    if (m_workerThread.joinable()) m_workerThread.join();
}

void CLauncherDlg::RunStartup() {
    FindInstallDir(*this);
    // A client whose plug-in did not register has no registry value to be
    // found by: a start from elsewhere (the package, say) finds it finished
    // in the install folder of a drive the choice can take, rather than
    // installing it all again.
    if (!IsClientInstalled(*this)) {
        int count = kDriveCapacity;
        std::array<WString, kDriveCapacity> descriptions{};
        std::array<std::uint64_t, kDriveCapacity> freeBytes{};
        std::array<char16_t, kDriveCapacity> letters{};
        SurveyDrives(m_platform, count, descriptions.data(), freeBytes.data(), letters.data());
        for (int i = 0; i < std::min(count, 2); ++i) {
            const WString folder = DefaultInstallDir(letters[i]);
            if (m_platform.files.exists(folder + u"/Launcher.exe") &&
                !IsInstallUnfinished(m_platform, folder)) {
                m_szInstallDir.assign(folder);
                break;
            }
        }
    }
    // A client whose installation was cut short (a kill, a power cut, a
    // failed extraction) is not installed yet: the installation path
    // finishes it.
    if (IsClientInstalled(*this) && !IsInstallUnfinished(m_platform, m_szInstallDir.str())) {
        m_wndLoginPage.m_strClientDir = m_szInstallDir.str();
        if (!CheckLauncherUpdate()) {
            m_wndLoginPage.Navigate(m_strStartUrl);
            m_wndWaitingPage.ShowWindow(false);
            m_wndLoginPage.ShowWindow(true);
            m_bWaitingPage = 0;
            InitVideoPreset(*this);
            return;
        }
    }

    // Installation: the client is missing, was too old and uninstalled, or
    // its installation was cut short.
    m_wndWaitingPage.ShowWindow(true);
    m_wndWaitingPage.Navigate(SitePage(u"/micro/waiting.php"));
    m_wndLoginPage.ShowWindow(false);
    m_bWaitingPage = 1;

    int count = kDriveCapacity;
    std::array<WString, kDriveCapacity> descriptions{};
    std::array<std::uint64_t, kDriveCapacity> freeBytes{};
    std::array<char16_t, kDriveCapacity> letters{};
    SurveyDrives(m_platform, count, descriptions.data(), freeBytes.data(), letters.data());
    const char16_t letter = ChooseInstallDrive(descriptions.data(), freeBytes.data(), letters.data());

    // An unfinished installation is finished where it lies, never begun
    // again on another drive: look in the folder found above and on both
    // drives the choice can take.
    WString folder = DefaultInstallDir(letter);
    if (IsInstallUnfinished(m_platform, m_szInstallDir.str())) {
        folder = m_szInstallDir.str();
    } else {
        for (int i = 0; i < std::min(count, 2); ++i)
            if (IsInstallUnfinished(m_platform, DefaultInstallDir(letters[i]))) {
                folder = DefaultInstallDir(letters[i]);
                break;
            }
    }
    m_szInstallDir.assign(folder);
    m_installTask.m_szExtractDir.assign(folder);
    m_wndLoginPage.m_strClientDir = m_szInstallDir.str();
    m_platform.files.createDirectory(m_szInstallDir.str());
    // A mark left by a cut installation says how far it came, and stays.
    const bool unpacked = IsClientUnpacked(m_platform, m_szInstallDir.str());
    if (!IsInstallUnfinished(m_platform, m_szInstallDir.str()))
        MarkInstallUnfinished(m_platform, m_szInstallDir.str());
    InitVideoPreset(*this);
    // A client unpacked in full has the launcher's files beside it already:
    // only its registration is missing.
    if (!unpacked) PlaceLauncherFiles(*this);
    m_installTask.RequestExtraction();
    CreateStartMenuShortcuts(*this);
    CreateDesktopShortcut(m_platform, m_szInstallDir.str());
}

void CLauncherDlg::onCommand(int controlId) {
    switch (controlId) {
        case IDC_BTN_MINIMIZE: OnBnClickedMinimize(); return;
        case IDC_BTN_CLOSE: OnBnClickedClose(); return;
        case IDC_BTN_VIDEO: OnVideoSettingsButton(); return;
        case IDC_BTN_VIDEO_SAVE: OnVideoSettingsSave(); return;
        case IDC_BTN_VIDEO_CLOSE: OnVideoSettingsClose(); return;
        default:
            for (std::size_t i = 0; i < kQualityBoxIds.size(); ++i)
                if (kQualityBoxIds[i] == controlId) OnQualityCheck(static_cast<int>(i));
    }
}

void CLauncherDlg::OnBnClickedMinimize() {
    if (m_pDialog) m_pDialog->minimize();
}

// The dialog's own cancel: ends the modal loop with the cancel result.
void CLauncherDlg::OnBnClickedClose() {
    if (m_pDialog) m_pDialog->endDialog(IDCANCEL);
}

void CLauncherDlg::onTimer(int timerId) { OnTimer(timerId); }

void CLauncherDlg::OnTimer(int /*timerId*/) {
    if (m_installTask.m_nInstallDone.load() != 0) {
        m_wndProgress.SetPos(100);
        m_wndLoginPage.ShowWindow(true);
        m_wndLoginPage.Navigate(m_strStartUrl);
        m_wndWaitingPage.ShowWindow(false);
        m_wndProgress.ShowWindow(false);
        m_bWaitingPage = 0;
        if (m_pDialog) m_pDialog->killTimer(kTimerId);
        return;
    }
    const std::uint32_t total = m_nProgressTotal.load();
    if (total != 0) {
        const double position = static_cast<double>(m_nProgressDone.load()) * 100.0 / total;
        m_wndProgress.SetPos(static_cast<int>(position));
    }
}

void CLauncherDlg::OnDownloadProgress(const WString& /*text*/, std::uint32_t done,
                                      std::uint32_t total) {
    m_nProgressDone.store(done);
    m_nProgressTotal.store(total);
}

// Runs on the install worker: the bar's calls are carried out on the
// window's thread by the backend.
void CLauncherDlg::OnInstallStart() {
    // Carried out on the window's thread, and only while the window lives.
    // The dialog object itself outlives its window (see Ui::runModal), so a
    // window that closes after the load only drops the call.
    Dialog* dialog = m_pUiDialog.load();
    if (!dialog) return;
    dialog->runOnDialogThread([this] {
        if (!m_pUiDialog.load()) return;
        m_wndProgress.SetPos(0);
        m_wndProgress.SetText(u"正在安装....");
    });
}

// The worker is stopped by the destructor, once the window is gone: calls it
// makes on the window then return at once instead of waiting for a thread
// that is itself waiting for the worker.
void CLauncherDlg::onDestroy() {
    m_pUiDialog.store(nullptr);
    m_wndProgress.Attach(nullptr);
    CDialogSK::onDestroy();
}

}  // namespace kvn
