#include "video/video_preset.h"

#include "launcher/launcher_dlg.h"

namespace kvn {

// Placeholders until the video settings land.
void InitVideoPreset(CLauncherDlg&) {}
int QualityLevelFromRenderer(std::string_view) { return 0; }

void CLauncherDlg::OnVideoSettingsButton() {}
void CLauncherDlg::OnQualityCheck(int) {}
void CLauncherDlg::OnVideoSettingsSave() {}
void CLauncherDlg::OnVideoSettingsClose() {}

}  // namespace kvn
