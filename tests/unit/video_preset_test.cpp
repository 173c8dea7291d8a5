#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "launcher/launcher_dlg.h"
#include "res/resource.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/launcher_window_fixture.h"
#include "video/video_preset.h"

namespace kvn {
namespace {

using fake::FakeDialog;
using fake::FakeImageButton;

// ------------------------------------------------------------ renderer rule

struct RendererCase {
    const char* renderer;
    int level;
};

void ExpectLevels(std::initializer_list<RendererCase> cases) {
    for (const RendererCase& c : cases) {
        SCOPED_TRACE(c.renderer);
        EXPECT_EQ(QualityLevelFromRenderer(c.renderer), c.level);
    }
}

TEST(QualityLevelFromRenderer, GeForceGtxByTheLastTwoDigits) {
    ExpectLevels({
        {"GeForce GTX 970/PCIe/SSE2", 3},
        {"GeForce GTX 1050 Ti/PCIe/SSE2", 2},
        {"GeForce GTX 750", 2},
        {"GeForce GTX 630", 0},
        {"GeForce GTX 1080", 3},
        // Bounds of the two-digit bands.
        {"GeForce GTX 1930", 0},
        {"GeForce GTX 1931", 2},
        {"GeForce GTX 1950", 2},
        {"GeForce GTX 1951", 3},
        {"GeForce GTX 1999", 3},
        // Above 2000 is level 0, whatever the digits.
        {"GeForce GTX 2000", 0},
        {"GeForce GTX 2080", 0},
        {"GeForce GTX 99999999999999", 0},
        // The number is read as C does: blanks skipped, sign kept, 0 without digits.
        {"GeForce GTX   970", 3},
        {"GeForce GTX -60", 0},
        {"GeForce GTX ", 0},
        {"GeForce GTX Ti", 0},
    });
}

TEST(QualityLevelFromRenderer, TestsAreCaseSensitiveAndTakenInOrder) {
    ExpectLevels({
        // "GTX " decides before "Titan" is looked at.
        {"GeForce GTX TITAN X/PCIe/SSE2", 0},
        {"GeForce GTX Titan", 0},
        {"NVIDIA Titan V", 3},
        {"NVIDIA TITAN V", 0},
        {"GeForce GTX970", 0},  // no blank after GTX: no test matches
        {"GeForce RTX 2080", 0},
        {"radeon hd 7900", 0},
        {"", 0},
        {"Radeon HD 4850 GeForce GTX 970", 3},  // GTX first
        {"AMD Radeon HD 4850 Radeon R9", 1},   // HD before R9
        {"AMD Radeon R9 Radeon R7 200", 3},     // R9 before R7
    });
}

TEST(QualityLevelFromRenderer, RadeonModelsByTheirNumber) {
    ExpectLevels({
        {"AMD Radeon HD 7900 Series", 3},
        {"AMD Radeon HD 5450", 3},
        {"Radeon HD 7060", 2},
        {"Radeon HD 7050", 1},
        {"ATI Radeon HD 4850", 1},
        {"Radeon HD 4999", 1},
        {"Radeon HD 5000", 1},
        {"Radeon HD 5051", 2},
        {"Radeon HD 5070", 2},
        {"Radeon HD 5071", 3},
        // The number starts one character after the family name, whatever it is.
        {"Radeon HD-7900", 3},
        {"Radeon HD7900", 1},  // reads "900"
        // A name that ends at or before the number is 0, not a read past the end.
        {"AMD Radeon HD", 1},
        {"AMD Radeon HD ", 1},
        {"AMD Radeon R9 200 Series", 3},
        {"AMD Radeon R7 260X", 3},
        {"AMD Radeon R7 250", 2},
        {"AMD Radeon R7 259", 2},
        {"AMD Radeon R7", 2},
    });
}

// ------------------------------------------------------------ the launcher window

constexpr char16_t kLoginFile[] = u"C:\\Games\\GameVideoSetting.ini";

class VideoWindow : public LauncherWindowTest {
protected:
    // Runs the window on the login path (client in the current folder).
    void Open(const std::function<void(FakeDialog&, CLauncherDlg&)>& inspect) {
        p.files.put(u"C:\\Games\\Launcher.exe", "client");
        OpenAsIs(inspect);
    }
    void OpenAsIs(const std::function<void(FakeDialog&, CLauncherDlg&)>& inspect) {
        RunWindow(inspect);
    }
    static FakeImageButton& Button(FakeDialog& d, int id) {
        return *dynamic_cast<FakeImageButton*>(d.control(id));
    }
    // Check states of the five boxes, levels 0 to 4, as "01000".
    static std::string Checks(FakeDialog& d) {
        std::string s;
        for (int id : kQualityBoxIds) s += static_cast<char>('0' + Button(d, id).checkState());
        return s;
    }
    static bool PanelShown(FakeDialog& d) {
        bool all = true, none = true;
        for (int id : {1012, 1014, 1015, 1016, 1017, 1010, 1011}) {
            const bool shown = Button(d, id).isVisible();
            all = all && shown;
            none = none && !shown;
        }
        EXPECT_TRUE(all || none) << "panel partly shown";
        return all;
    }
    void Store(const std::string& text) { p.files.put(kLoginFile, text); }
};

TEST_F(VideoWindow, FirstPresetIsWrittenFromTheRendererOnTheLoginPath) {
    p.ui.beforeInit = [](FakeDialog& d) { d.renderer = "GeForce GTX 970/PCIe/SSE2"; };
    Open([&](FakeDialog& d, CLauncherDlg&) { EXPECT_EQ(d.rendererQueries, 1); });
    EXPECT_EQ(p.files.get(kLoginFile), "[GameVideoSetting]\r\nSettingValue=3\r\nSettingUpdate=1\r\n");
}

TEST_F(VideoWindow, FirstPresetIsWrittenInTheNewInstallFolder) {
    p.ui.beforeInit = [](FakeDialog& d) { d.renderer = "AMD Radeon R7 250"; };
    OpenAsIs([&](FakeDialog&, CLauncherDlg& dlg) { EXPECT_EQ(dlg.m_szInstallDir.str(), u"C:\\Korvanis"); });
    EXPECT_EQ(p.profiles.getInt(u"GameVideoSetting", u"SettingValue", -7, u"C:\\Korvanis/GameVideoSetting.ini"), 2);
    EXPECT_EQ(p.profiles.getString(u"GameVideoSetting", u"SettingUpdate", u"C:\\Korvanis\\GameVideoSetting.ini", 16),
              u"1");
}

TEST_F(VideoWindow, NoRendererGivesLevelZero) {
    Open([](FakeDialog&, CLauncherDlg&) {});
    EXPECT_EQ(p.profiles.getInt(u"GameVideoSetting", u"SettingValue", -7, kLoginFile), 0);
}

TEST_F(VideoWindow, AnExistingFileIsNeverChangedButTheCardIsStillAsked) {
    // Even a file without the key stays as it is.
    const std::string existing = "[Other]\r\nx=1\r\n";
    Store(existing);
    p.ui.beforeInit = [](FakeDialog& d) { d.renderer = "GeForce GTX 970"; };
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        EXPECT_EQ(d.rendererQueries, 1);
        InitVideoPreset(dlg);
        EXPECT_EQ(d.rendererQueries, 2);
        EXPECT_EQ(p.files.get(kLoginFile), existing);

        // Once the file is gone, the next call writes it, then leaves it alone.
        p.files.deleteFile(kLoginFile);
        InitVideoPreset(dlg);
        EXPECT_EQ(p.profiles.getInt(u"GameVideoSetting", u"SettingValue", -7, kLoginFile), 3);
        p.profiles.writeString(u"GameVideoSetting", u"SettingValue", u"1", kLoginFile);
        d.renderer = "GeForce GTX 630";
        InitVideoPreset(dlg);
        EXPECT_EQ(p.profiles.getInt(u"GameVideoSetting", u"SettingValue", -7, kLoginFile), 1);
    });
    EXPECT_EQ(GetGpuRenderer(nullptr), "");
}

TEST_F(VideoWindow, OpeningChecksTheStoredLevelAndHidesThePages) {
    struct Case {
        const char* stored;  // nullptr: no file
        const char* checks;
    };
    const Case cases[] = {
        {"[GameVideoSetting]\r\nSettingValue=0\r\n", "10000"},
        {"[GameVideoSetting]\r\nSettingValue=1\r\n", "01000"},
        {"[GameVideoSetting]\r\nSettingValue=3\r\n", "00010"},
        {"[GameVideoSetting]\r\nSettingValue=4\r\n", "00001"},
        {"[GameVideoSetting]\r\nSettingValue=9\r\n", "00001"},   // above 4 shows 4
        {"[GameVideoSetting]\r\nSettingValue=-1\r\n", "00000"},  // negative checks none
        {"[GameVideoSetting]\r\nSettingUpdate=1\r\n", "00100"},  // no key: 2
        {"[GameVideoSetting]\r\nSettingValue=high\r\n", "10000"},  // no digits read as 0
        {"[GameVideoSetting]\r\nSettingValue=\r\n", "00100"},      // empty: 2
        {"[GameVideoSetting]\r\nSettingValue=  \r\n", "00100"},
        {nullptr, "00100"},                                         // no file: 2
    };
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        auto& login = *d.webViews[0];
        auto& waiting = *d.webViews[1];
        EXPECT_FALSE(PanelShown(d));
        for (const Case& c : cases) {
            SCOPED_TRACE(c.stored ? c.stored : "no file");
            if (c.stored)
                Store(c.stored);
            else
                p.files.deleteFile(kLoginFile);
            // Opening again while open re-reads the file and resets the boxes.
            d.click(dlg, 1012);
            d.click(dlg, 1004);
            EXPECT_EQ(Checks(d), c.checks);
            EXPECT_TRUE(PanelShown(d));
            EXPECT_TRUE(Button(d, 1004).isVisible());
            EXPECT_FALSE(login.isVisible());
            EXPECT_FALSE(waiting.isVisible());
        }
        // Opening never writes.
        EXPECT_FALSE(p.files.exists(kLoginFile));
    });
}

TEST_F(VideoWindow, BoxesActAsOneGroup) {
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        d.click(dlg, 1004);
        EXPECT_EQ(Checks(d), "10000");  // the first preset, level 0
        d.click(dlg, 1016);
        EXPECT_EQ(Checks(d), "00010");
        d.click(dlg, 1016);  // clicking the checked box keeps it checked
        EXPECT_EQ(Checks(d), "00010");
        d.click(dlg, 1017);
        EXPECT_EQ(Checks(d), "00001");
        d.click(dlg, 1012);
        EXPECT_EQ(Checks(d), "10000");
        // Clicking a box changes nothing in the file.
        EXPECT_EQ(p.profiles.getInt(u"GameVideoSetting", u"SettingValue", -7, kLoginFile), 0);
    });
}

TEST_F(VideoWindow, SaveStoresTheCheckedLevelAndCloses) {
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        auto& login = *d.webViews[0];
        auto& waiting = *d.webViews[1];
        d.click(dlg, 1004);
        d.click(dlg, 1015);
        d.click(dlg, 1010);
        EXPECT_EQ(p.files.get(kLoginFile), "[GameVideoSetting]\r\nSettingValue=2\r\nSettingUpdate=1\r\n");
        EXPECT_FALSE(PanelShown(d));
        EXPECT_TRUE(Button(d, 1004).isVisible());
        EXPECT_TRUE(login.isVisible());
        EXPECT_FALSE(waiting.isVisible());

        d.click(dlg, 1004);
        EXPECT_EQ(Checks(d), "00100");  // what was saved
        d.click(dlg, 1017);
        d.click(dlg, 1010);
        EXPECT_EQ(p.profiles.getInt(u"GameVideoSetting", u"SettingValue", -7, kLoginFile), 4);

        // Other keys of the file are kept.
        p.profiles.writeString(u"Client", u"Width", u"1280", kLoginFile);
        d.click(dlg, 1004);
        d.click(dlg, 1014);
        d.click(dlg, 1010);
        EXPECT_EQ(p.profiles.getInt(u"GameVideoSetting", u"SettingValue", -7, kLoginFile), 1);
        EXPECT_EQ(p.profiles.getString(u"Client", u"Width", kLoginFile, 16), u"1280");
    });
}

TEST_F(VideoWindow, SaveWithoutAClickWritesWhatTheBoxesShowOrTheStoredValue) {
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        // 9 opens as 4 and is saved as 4.
        Store("[GameVideoSetting]\r\nSettingValue=9\r\nSettingUpdate=0\r\n");
        d.click(dlg, 1004);
        d.click(dlg, 1010);
        EXPECT_EQ(p.files.get(kLoginFile), "[GameVideoSetting]\r\nSettingValue=4\r\nSettingUpdate=1\r\n");

        // -1 checks nothing, so -1 is written back.
        Store("[GameVideoSetting]\r\nSettingValue=-1\r\n");
        d.click(dlg, 1004);
        d.click(dlg, 1010);
        EXPECT_EQ(p.files.get(kLoginFile), "[GameVideoSetting]\r\nSettingValue=-1\r\nSettingUpdate=1\r\n");

        // A file gone while the panel is open is made again with the checked level.
        d.click(dlg, 1004);
        d.click(dlg, 1016);
        p.files.deleteFile(kLoginFile);
        d.click(dlg, 1010);
        EXPECT_EQ(p.files.get(kLoginFile), "[GameVideoSetting]\r\nSettingValue=3\r\nSettingUpdate=1\r\n");
    });
}

TEST_F(VideoWindow, CloseHidesThePanelWithoutStoring) {
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        auto& login = *d.webViews[0];
        auto& waiting = *d.webViews[1];
        const auto before = p.files.get(kLoginFile);
        d.click(dlg, 1004);
        d.click(dlg, 1017);
        d.click(dlg, 1011);
        EXPECT_EQ(p.files.get(kLoginFile), before);
        EXPECT_FALSE(PanelShown(d));
        EXPECT_TRUE(login.isVisible());
        EXPECT_FALSE(waiting.isVisible());
        d.click(dlg, 1004);
        EXPECT_EQ(Checks(d), "10000");  // the unsaved choice is gone

        // While installing, closing returns to the waiting page.
        dlg.m_bWaitingPage = 1;
        d.click(dlg, 1011);
        EXPECT_TRUE(waiting.isVisible());
        EXPECT_FALSE(login.isVisible());
        EXPECT_FALSE(PanelShown(d));
        d.click(dlg, 1004);
        d.click(dlg, 1010);
        EXPECT_TRUE(waiting.isVisible());
        EXPECT_FALSE(login.isVisible());
    });
}

}  // namespace
}  // namespace kvn
