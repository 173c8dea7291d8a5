#include "app/launcher_app.h"

#include "app/config.h"
#include "launcher/launcher_dlg.h"
#include "uninstall/uninstall_dlg.h"

namespace kvn {
namespace {
// "程序已经在运行中，不能重复启动！" in GBK (code page 936).
constexpr char kAlreadyRunningGbk[] =
    "\xB3\xCC\xD0\xF2\xD2\xD1\xBE\xAD\xD4\xDA\xD4\xCB\xD0\xD0\xD6\xD0\xA3\xAC"
    "\xB2\xBB\xC4\xDC\xD6\xD8\xB8\xB4\xC6\xF4\xB6\xAF\xA3\xA1";
}  // namespace

bool CLauncherApp::InitInstance() {
    bool alreadyExisted = false;
    auto mutex = m_platform.system.createNamedMutex(kMutexName, alreadyExisted);
    if (alreadyExisted) {
        m_platform.ui.desktopMessageBoxGbk(kAlreadyRunningGbk, "Korvane");
        return false;  // the handle closes with `mutex`
    }

    m_platform.ui.initialise();

    // Exactly one argument after the program name selects the uninstaller,
    // whatever its text.
    if (m_platform.system.arguments().size() == 2) {
        CUninstallDlg dlg(m_platform);
        dlg.DoModal();
    } else {
        CLauncherDlg dlg(m_platform, LoadConfig(m_platform.system));
        dlg.DoModal();
        // The window is gone. An installation in hand is still finished
        // before the process ends (the window object waits for its worker);
        // a new start meanwhile is let in, and waits for it on its own.
        mutex.reset();
    }
    return false;
}

}  // namespace kvn
