#include "install/shortcuts.h"

#include "launcher/launcher_dlg.h"

namespace kvn {

// Placeholders until the shortcuts land.
void CreateStartMenuShortcuts(CLauncherDlg&) {}
void CreateShellLinkFile(Platform&, WString, WString, WString, WString) {}
void CreateDesktopShortcut(Platform&, WString) {}

}  // namespace kvn
