// The uninstall window (dialog template 136) and its worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/fixed_text.h"
#include "platform/platform.h"

namespace kvn {

// Timer that starts the run one second after the confirmation.
inline constexpr int kUninstallStartTimer = 9;
// Timer that closes the window once a cancelled worker has ended.
inline constexpr int kUninstallCloseTimer = 10;

class CUninstallDlg : public DialogHandler {
public:
    explicit CUninstallDlg(Platform& platform) : m_platform(platform) {}
    // Waits for a worker that is still running.
    ~CUninstallDlg() override;
    CUninstallDlg(const CUninstallDlg&) = delete;
    CUninstallDlg& operator=(const CUninstallDlg&) = delete;

    // Runs the dialog modally; returns its result.
    int DoModal(Dialog* owner = nullptr);

    // DialogHandler
    bool onInitDialog(Dialog& dialog) override;
    void onCommand(int controlId) override;
    void onTimer(int timerId) override;
    void onCancel() override { OnBnClickedCancel(); }  // Esc and the close box
    void onDestroy() override;

    void OnTimer(int timerId);
    void OnBnClickedCancel();

    // Worker side.
    void AppendLog(const WString& text);
    bool ReadPluginDir();
    bool UninstallFiles();
    bool DeleteTree(const WString& folder);
    bool IsRunningLauncher(const WString& path);
    static unsigned UninstallWorker(CUninstallDlg* dlg);

    // True once the worker has started and ended.
    bool WorkerFinished() const { return m_bWorkerDone.load(); }

    // Members in declaration order.
    std::thread m_hWorkerThread;
    std::atomic<std::uint8_t> m_bRunning{0};
    std::vector<Bytes> m_uninstallList;
    EditBox* m_editLog = nullptr;
    FixedText<260> m_szPluginDir;

private:
    void JoinWorker();
    Platform& m_platform;
    // The window while it exists; read by the worker.
    std::atomic<Dialog*> m_pDialog{nullptr};
    // Set by the button: the worker ends after the entry in hand.
    std::atomic<bool> m_bStopWorker{false};
    std::atomic<bool> m_bWorkerDone{false};
};

// True when a process named "Korvanis.exe" (any letter case) runs, or when
// the process list cannot be had.
bool IsGameRunning(Platform& platform);
// The running executable's folder, without its last backslash; empty when
// the name has no backslash or does not fit its 260-unit buffer.
WString GetLauncherFolder(Platform& platform);

}  // namespace kvn
