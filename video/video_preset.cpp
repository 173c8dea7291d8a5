#include "video/video_preset.h"

#include "launcher/launcher_dlg.h"
#include "platform/text.h"

namespace kvn {
namespace {

// Where the number after a Radeon model family starts: the nine letters of
// "Radeon HD" / "Radeon R7" and one separating character.
constexpr std::size_t kRadeonNumberOffset = 10;

// The number that starts `offset` characters after `at`; 0 when the name
// ends before that.
int NumberAfter(std::string_view name, std::size_t at, std::size_t offset) {
    const std::size_t start = at + offset;
    if (start >= name.size()) return 0;
    return parseDecimal(name.substr(start));
}

void WriteLevel(ProfileFiles& profiles, const WString& path, int level) {
    profiles.writeString(kVideoSection, kVideoValueKey, decimal(level), path);
    profiles.writeString(kVideoSection, kVideoUpdateKey, u"1", path);
}

WString PanelFilePath(const CLauncherDlg& dlg) {
    return dlg.m_szInstallDir.str() + u"/GameVideoSetting.ini";
}

}  // namespace

Bytes GetGpuRenderer(Dialog* window) { return window ? window->openGlRenderer() : Bytes{}; }

int QualityLevelFromRenderer(std::string_view renderer) {
    constexpr std::string_view kGtx = "GTX ";
    if (const auto at = renderer.find(kGtx); at != std::string_view::npos) {
        const int n = NumberAfter(renderer, at, kGtx.size());
        if (n > 2000) return 0;
        const int r = n % 100;  // keeps the sign of n
        if (r > 50) return 3;
        if (r > 30) return 2;
        return 0;
    }
    if (renderer.find("Titan") != std::string_view::npos) return 3;
    if (const auto at = renderer.find("Radeon HD"); at != std::string_view::npos) {
        const int n = NumberAfter(renderer, at, kRadeonNumberOffset);
        if (n < 5000) return 1;
        const int r = n % 1000;
        if (r <= 50) return 1;
        if (r <= 70) return 2;
        return 3;
    }
    if (renderer.find("Radeon R9") != std::string_view::npos) return 3;
    if (const auto at = renderer.find("Radeon R7"); at != std::string_view::npos)
        return NumberAfter(renderer, at, kRadeonNumberOffset) >= 260 ? 3 : 2;
    return 0;
}

void InitVideoPreset(CLauncherDlg& dlg) {
    Platform& platform = dlg.platform();
    const WString path = dlg.m_szInstallDir.str() + u"\\GameVideoSetting.ini";
    const bool present = platform.files.exists(path);
    // The card is asked on every call, also when the file is already there.
    const Bytes renderer = GetGpuRenderer(dlg.dialog());
    if (present) return;
    WriteLevel(platform.profiles, path, QualityLevelFromRenderer(renderer));
}

void CLauncherDlg::OnVideoSettingsButton() {
    m_wndLoginPage.ShowWindow(false);
    m_wndWaitingPage.ShowWindow(false);
    m_btnVideoSave.ShowWindow(true);
    m_btnVideoClose.ShowWindow(true);

    int level = m_platform.profiles.getInt(kVideoSection, kVideoValueKey, kDefaultVideoLevel,
                                           PanelFilePath(*this));
    // Too high a value shows the highest level; a negative one checks no box.
    if (level > kHighestVideoLevel) level = kHighestVideoLevel;
    for (std::size_t i = 0; i < m_chkVideoLevel.size(); ++i) {
        m_chkVideoLevel[i].ShowWindow(true);
        m_chkVideoLevel[i].SetCheck(static_cast<int>(i) == level ? 1 : 0);
    }
}

// The boxes act as one group of radio buttons.
void CLauncherDlg::OnQualityCheck(int level) {
    for (std::size_t i = 0; i < m_chkVideoLevel.size(); ++i)
        if (static_cast<int>(i) != level) m_chkVideoLevel[i].SetCheck(0);
    if (level >= 0 && static_cast<std::size_t>(level) < m_chkVideoLevel.size())
        m_chkVideoLevel[static_cast<std::size_t>(level)].SetCheck(1);
}

void CLauncherDlg::OnVideoSettingsSave() {
    const WString path = PanelFilePath(*this);
    // With no box checked the stored value is written back as it was read.
    int level = m_platform.profiles.getInt(kVideoSection, kVideoValueKey, kDefaultVideoLevel, path);
    for (std::size_t i = 0; i < m_chkVideoLevel.size(); ++i) {
        if (m_chkVideoLevel[i].GetCheck() == 1) {
            level = static_cast<int>(i);
            break;
        }
    }
    WriteLevel(m_platform.profiles, path, level);
    OnVideoSettingsClose();
}

void CLauncherDlg::OnVideoSettingsClose() {
    if (m_bWaitingPage == 1)
        m_wndWaitingPage.ShowWindow(true);
    else
        m_wndLoginPage.ShowWindow(true);
    for (CButtonST& box : m_chkVideoLevel) box.ShowWindow(false);
    m_btnVideoSave.ShowWindow(false);
    m_btnVideoClose.ShowWindow(false);
}

}  // namespace kvn
