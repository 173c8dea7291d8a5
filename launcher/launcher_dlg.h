// The launcher window: members, start-up decision, commands and timer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "app/config.h"
#include "platform/fixed_text.h"
#include "platform/platform.h"
#include "skin/skin.h"
#include "uninstall/uninstall_dlg.h"
#include "update/install_context.h"
#include "webview/web_browser.h"

namespace kvn {

// The login-page address from the bytes of login.ini: the whole content up
// to the first zero byte, converted from the ANSI code page, nothing
// trimmed; `fallback` when the file is missing or that text is empty.
WString StartUrlFromLoginIni(System& system, const std::optional<Bytes>& file,
                             const WString& fallback);

class CLauncherDlg : public CDialogSK, public CUpdateEventCallback {
public:
    CLauncherDlg(Platform& platform, Config config);
    ~CLauncherDlg();
    CLauncherDlg(const CLauncherDlg&) = delete;
    CLauncherDlg& operator=(const CLauncherDlg&) = delete;

    int DoModal();

    // DialogHandler
    bool onInitDialog(Dialog& dialog) override;
    void onCommand(int controlId) override;
    void onTimer(int timerId) override;
    void onOK() override {}      // Enter does not close the launcher
    void onCancel() override {}  // nor do Esc and the close command
    void onDestroy() override;

    // CUpdateEventCallback
    void OnDownloadProgress(const WString& text, std::uint32_t done, std::uint32_t total) override;
    void OnInstallStart() override;

    void RunStartup();
    // Brings the launcher up to date; true when the installed client was
    // found too old (uninstall dialog run). May end the process.
    bool CheckLauncherUpdate();

    void OnBnClickedMinimize();
    void OnBnClickedClose();
    void OnTimer(int timerId);
    void OnVideoSettingsButton();
    void OnQualityCheck(int level);
    void OnVideoSettingsSave();
    void OnVideoSettingsClose();

    Platform& platform() { return m_platform; }
    const Config& config() const { return m_config; }
    Dialog* dialog() const { return m_pDialog; }
    // The web site's address of a page path such as "/micro/".
    WString SitePage(std::u16string_view path) const;

    // Members in declaration order.
    int m_hIcon;
    CButtonST m_btnClose;
    CButtonST m_btnMinimize;
    CButtonST m_btnVideo;
    std::array<CButtonST, 5> m_chkVideoLevel;
    CButtonST m_btnVideoSave;
    CButtonST m_btnVideoClose;
    WString m_strStartUrl;
    CWebBrowser m_wndLoginPage;
    CWebBrowser m_wndWaitingPage;
    std::int32_t m_bWaitingPage = 0;
    InstallWorkerContext m_installTask;
    std::atomic<std::uint32_t> m_nProgressDone{0};
    std::atomic<std::uint32_t> m_nProgressTotal{1};
    CUninstallDlg m_dlgUninstall;
    FixedText<256> m_szInstallDir;
    CTextProgress m_wndProgress;

private:
    void ReadStartUrl();
    void SetUpButtons();
    void StartInstallWorker();
    void StopInstallWorker();

    Platform& m_platform;
    Config m_config;
    std::thread m_workerThread;
    // The window while it exists, for the install worker's reports.
    std::atomic<Dialog*> m_pUiDialog{nullptr};
};

// The control ids of the quality boxes, levels 0 to 4.
inline constexpr std::array<int, 5> kQualityBoxIds{1012, 1014, 1015, 1016, 1017};

}  // namespace kvn
