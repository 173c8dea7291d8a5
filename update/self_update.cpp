#include "launcher/launcher_dlg.h"

namespace kvn {

// Placeholder until the self-update lands: the launcher counts as current.
bool CLauncherDlg::CheckLauncherUpdate() { return false; }

}  // namespace kvn
