#include "uninstall/uninstall_dlg.h"

#include "app/config.h"
#include "install/install_dir.h"
#include "platform/text.h"
#include "res/resource.h"
#include "uninstall/uninstall_list.h"

namespace kvn {

namespace {

constexpr char16_t kCaption[] = u"提示";
constexpr std::u16string_view kInstallMarkers[] = {u"Korvanis", u"Korvane", u"Korvene"};
constexpr std::u16string_view kKeptBitmaps[] = {u"LauncherDlg.bmp", u"Launcherdlg.bmp",
                                                u"launcherdlg.bmp"};
// How often a cancelled run is looked at until its worker has ended.
constexpr unsigned kClosePollMs = 50;
// Every log line ends with CR LF: a Windows edit control breaks lines only
// there (a lone LF shows as nothing, and the lines run together, unless the
// control opts into ES_EX_ALLOWEOL_LF); Wine breaks at a lone LF as well, so
// only the text read back tells. GTK's text view takes CR LF as one line end.
constexpr char16_t kLogLineEnd[] = u"\r\n";

bool HasInstallMarker(const WString& path) {
    for (auto marker : kInstallMarkers)
        if (contains(path, marker)) return true;
    return false;
}

bool IsKeptBitmap(const WString& name) {
    for (auto bitmap : kKeptBitmaps)
        if (contains(name, bitmap)) return true;
    return false;
}

// Removes a link itself: a file link as a file, a folder link as a folder.
void RemoveLink(FileSystem& files, const WString& path) {
    if (!files.deleteFile(path)) files.removeDirectory(path);
}

// True when every step of the entry before its last is a real folder: a
// link on the way would lead the removal outside the launcher folder.
bool ReachedWithoutLinks(FileSystem& files, const WString& folder, const WString& entry) {
    std::size_t at = 0;
    for (;;) {
        const std::size_t next = entry.find_first_of(u"\\/", at + 1);
        if (at == entry.size() || next == WString::npos) return true;
        const WString step = entry.substr(at + 1, next - at - 1);
        if (step.find_first_not_of(u". ") != WString::npos &&
            files.find(folder + entry.substr(0, next)) != FileSystem::Kind::Directory)
            return false;
        at = next;
    }
}

WString UpperAscii(WString text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    return text;
}

}  // namespace

bool IsGameRunning(Platform& platform) {
    const WString target = UpperAscii(u"Korvanis.exe");
    const auto names = platform.processes.runningProcessNames();
    if (!names) return true;  // no process list: assume the worst
    for (const WString& name : *names)
        if (UpperAscii(name) == target) return true;
    return false;
}

WString GetLauncherFolder(Platform& platform) {
    const WString own = platform.system.moduleFileName();
    if (own.size() > FixedText<260>::kCapacity) return {};  // would be cut: no trusted folder
    const auto slash = own.rfind(u'\\');
    return slash == WString::npos ? WString() : own.substr(0, slash);
}

CUninstallDlg::~CUninstallDlg() {
    m_bRunning.store(0);
    m_bStopWorker.store(true);
    JoinWorker();
}

void CUninstallDlg::JoinWorker() {
    if (m_hWorkerThread.joinable()) m_hWorkerThread.join();
}

int CUninstallDlg::DoModal(Dialog* owner) {
    // A fresh run: no worker of an earlier one is left.
    JoinWorker();
    m_bRunning.store(0);
    m_bStopWorker.store(false);
    m_bWorkerDone.store(false);
    m_uninstallList.clear();
    return m_platform.ui.runModal(IDD_UNINSTALL_DIALOG, *this, owner);
}

bool CUninstallDlg::onInitDialog(Dialog& dialog) {
    m_pDialog.store(&dialog);
    m_editLog = dialog.editBox(IDC_UNINSTALL_LOG);
    dialog.setIcon(IDR_MAINFRAME);

    // Asked before the window shows, as the application's own box.
    const MsgResult answer =
        m_platform.ui.messageBox(nullptr, u"是否要卸载Korvane?", AppName(m_platform.system),
                                 MsgButtons::OkCancel, MsgIcon::Warning);
    if (answer == MsgResult::Ok) {
        if (m_editLog) {
            m_editLog->setLimitToMax();
            m_editLog->setText(WString(u"正在卸载以下文件：") + kLogLineEnd);
        }
        m_bRunning.store(1);
        dialog.setTimer(kUninstallStartTimer, 1000);
    } else {
        dialog.endDialog(IDCANCEL);
    }
    return true;
}

void CUninstallDlg::onCommand(int controlId) {
    if (controlId == IDCANCEL) OnBnClickedCancel();
}

void CUninstallDlg::onTimer(int timerId) { OnTimer(timerId); }

void CUninstallDlg::OnTimer(int timerId) {
    Dialog* dialog = m_pDialog.load();
    if (!dialog) return;
    if (timerId == kUninstallStartTimer) {
        dialog->killTimer(kUninstallStartTimer);
        if (!IsGameRunning(m_platform)) {
            m_hWorkerThread = std::thread(UninstallWorker, this);
        } else {
            m_platform.ui.messageBox(dialog, u"Korvane程序正在运行，请先关闭程序后再试！", kCaption,
                                     MsgButtons::Ok, MsgIcon::Error);
            dialog->endDialog(IDCANCEL);
        }
    } else if (timerId == kUninstallCloseTimer && m_bWorkerDone.load()) {
        dialog->killTimer(kUninstallCloseTimer);
        JoinWorker();
        if (dialog->exists()) dialog->endDialog(IDCANCEL);
    }
}

void CUninstallDlg::OnBnClickedCancel() {
    m_bRunning.store(0);  // first: folder walks in progress stop deleting
    Dialog* dialog = m_pDialog.load();
    if (m_hWorkerThread.joinable() && !m_bWorkerDone.load()) {
        // The worker still uses this window: it ends after the entry in
        // hand, and the window closes once it has (the window keeps serving
        // the worker's calls meanwhile).
        m_bStopWorker.store(true);
        if (dialog) dialog->setTimer(kUninstallCloseTimer, kClosePollMs);
        return;
    }
    JoinWorker();
    if (dialog && dialog->exists()) {
        dialog->killTimer(kUninstallStartTimer);
        dialog->endDialog(IDCANCEL);
    }
}

void CUninstallDlg::onDestroy() {
    // Normally the worker has ended by now; if not, it is stopped and waited
    // for while the window object is still there.
    m_bRunning.store(0);
    m_bStopWorker.store(true);
    JoinWorker();
    m_editLog = nullptr;
    m_pDialog.store(nullptr);
}

void CUninstallDlg::AppendLog(const WString& text) {
    Dialog* dialog = m_pDialog.load();
    if (!dialog || !dialog->exists() || !m_editLog) return;
    m_editLog->append(text + kLogLineEnd);
}

bool CUninstallDlg::ReadPluginDir() {
    // Read at the real size of a 255-unit buffer, as the launcher finds the
    // install: a 127-byte read would miss any plug-in path over 62
    // characters and leave its registration behind. A value that still does
    // not fit counts as not found.
    const auto path = m_platform.registry.readUserString(kPluginKey, u"Path", 255 * 2);
    if (!path || !m_szPluginDir.assign(*path)) return false;
    m_szPluginDir.assign(CutBeforeBin(*path));
    return true;
}

bool CUninstallDlg::DeleteTree(const WString& folder) {
    if (!HasInstallMarker(folder)) return false;
    Dialog* dialog = m_pDialog.load();
    // A folder that is a link (the start-menu folder may be one) goes as a
    // link; what it points at is not walked.
    if (m_platform.files.find(folder) == FileSystem::Kind::Link) {
        RemoveLink(m_platform.files, folder);
        return true;
    }
    const WString pattern = folder + u"\\*.*";
    const auto entries = pattern.size() <= FixedText<256>::kCapacity
                             ? m_platform.files.listDirectory(folder)
                             : std::nullopt;
    if (!entries) {
        m_platform.ui.messageBox(dialog, u"无法找到目录，请确认输入路径正确",
                                 AppName(m_platform.system), MsgButtons::Ok, MsgIcon::None);
        return false;
    }
    for (const DirEntry& entry : *entries) {
        if (entry.name == u"." || entry.name == u"..") continue;
        if (IsKeptBitmap(entry.name)) continue;
        const WString path = folder + u"\\" + entry.name;
        if (entry.kind == FileSystem::Kind::Directory) {
            DeleteTree(path);
        } else if (m_bRunning.load()) {
            // A file, or a link removed as one.
            AppendLog(entry.name);
            if (entry.kind == FileSystem::Kind::Link) RemoveLink(m_platform.files, path);
            else if (!IsRunningLauncher(path)) m_platform.files.deleteFile(path);
        }
    }
    m_platform.files.removeDirectory(folder);  // stays while anything is left in it
    return true;
}

// The running launcher is logged but stays, with its folder, where the list
// covers it: Windows refuses to delete a running program, and the other
// platforms are held to the same.
bool CUninstallDlg::IsRunningLauncher(const WString& path) {
    return m_platform.files.isSameFile(path, m_platform.system.moduleFileName());
}

bool CUninstallDlg::UninstallFiles() {
    ReadPluginDir();
    FixedText<256> command;
    if (command.assign(formatS(u"regsvr32 /s /u %s/bin/npKVNWebPlayer.dll", {m_szPluginDir.str()}))) {
        ProcessStart start;
        start.commandLine = command.str();
        start.workingDirectory = m_szPluginDir.str();
        start.hidden = true;
        if (auto process = m_platform.processes.start(start)) process->wait();
    }

    const WString folder = GetLauncherFolder(m_platform);
    ReadUninstallList(m_platform, folder, m_uninstallList);
    if (!HasInstallMarker(folder) || m_uninstallList.empty()) {
        m_platform.ui.messageBox(m_pDialog.load(), u"卸载路径错误，请手动删除！", kCaption,
                                 MsgButtons::Ok, MsgIcon::Error);
        return false;
    }

    for (const Bytes& raw : m_uninstallList) {
        if (m_bStopWorker.load()) return false;
        const WString entry = m_platform.system.fromAnsi(raw);
        // Only what lies inside the launcher folder, reached without passing
        // through a link, is ours to remove.
        if (!IsUsableEntry(entry) || !ReachedWithoutLinks(m_platform.files, folder, entry)) continue;
        const WString path = folder + entry;
        switch (m_platform.files.find(path)) {
            case FileSystem::Kind::None:
                break;
            case FileSystem::Kind::Directory:
                DeleteTree(path);
                break;
            case FileSystem::Kind::File:
                AppendLog(path);
                if (!IsRunningLauncher(path)) m_platform.files.deleteFile(path);  // a failure leaves it
                break;
            case FileSystem::Kind::Link:
                AppendLog(path);
                RemoveLink(m_platform.files, path);
                break;
        }
    }
    return !m_bStopWorker.load();
}

unsigned CUninstallDlg::UninstallWorker(CUninstallDlg* dlg) {
    Platform& p = dlg->m_platform;
    // A run that could not apply the list, or was cancelled, leaves the
    // links in place and does not report success.
    if (dlg->UninstallFiles()) {
        if (const auto desktop = p.shell.specialFolderPath(SpecialFolder::Desktop)) {
            for (const char16_t* pattern : {u"%s/KorvaneWeb.lnk", u"%s/Korvane.lnk"}) {
                FixedText<260> link;
                if (link.assign(formatS(pattern, {*desktop}))) p.files.deleteFile(link.str());
            }
        }
        // What the platform made beside the launcher for its links goes with
        // them (logged as a listed file is).
        const WString launcherFolder = GetLauncherFolder(p);
        if (!launcherFolder.empty()) {
            for (const WString& file : p.shell.filesMadeForLinks(launcherFolder + u"\\Login.exe")) {
                if (p.files.find(file) != FileSystem::Kind::File) continue;
                dlg->AppendLog(file);
                p.files.deleteFile(file);
            }
        }
        // Without the programs folder there is nothing to look for: a bare
        // "/Korvane" would name a folder at the drive's root.
        if (const auto programs = p.shell.specialFolderPath(SpecialFolder::Programs)) {
            FixedText<260> menu;
            if (!dlg->m_bStopWorker.load() && menu.assign(formatS(u"%s/Korvane", {*programs})))
                dlg->DeleteTree(menu.str());
        }
        if (!dlg->m_bStopWorker.load()) dlg->AppendLog(u"卸载成功！");
    }
    if (Dialog* dialog = dlg->m_pDialog.load(); dialog && dialog->exists())
        if (Control* button = dialog->control(IDCANCEL)) button->setText(u"确定");
    dlg->m_bWorkerDone.store(true);
    return 0;
}

}  // namespace kvn
