#include <gtest/gtest.h>

#include "install/shortcuts.h"
#include "launcher/launcher_dlg.h"
#include "tests/fake/fake_platform.h"

using namespace kvn;
using kvn::fake::FakePlatform;

namespace {

struct ShortcutsTest : ::testing::Test {
    FakePlatform fp;
    CLauncherDlg dlg{fp.platform, Config{u"http://site", u"http://dl", {}}};
    const WString menu = u"C:\\Users\\player\\Programs\\Korvane";
    void SetUp() override {
        fp.files.mkdirs(u"C:\\Users\\player\\Desktop");
        fp.files.mkdirs(u"C:\\Users\\player\\Programs");
        fp.files.mkdirs(u"D:\\Korvanis");
        ASSERT_TRUE(dlg.m_szInstallDir.assign(u"D:\\Korvanis"));
    }
};

TEST_F(ShortcutsTest, ThreeLinksWithTheirTargetsFoldersAndArguments) {
    CreateStartMenuShortcuts(dlg);
    CreateDesktopShortcut(fp.platform, dlg.m_szInstallDir.str());

    auto desktop = fp.shell.readShellLink(u"C:\\Users\\player\\Desktop/Korvane.lnk");
    ASSERT_TRUE(desktop);
    EXPECT_EQ(desktop->target, u"D:\\Korvanis/Login.exe");
    EXPECT_EQ(desktop->workingDirectory, u"D:\\Korvanis");
    EXPECT_TRUE(desktop->arguments.empty());
    EXPECT_TRUE(desktop->iconPath.empty());

    auto play = fp.shell.readShellLink(menu + u"/Korvane.lnk");
    auto uninstall = fp.shell.readShellLink(menu + u"/卸载游戏.lnk");
    ASSERT_TRUE(play);
    ASSERT_TRUE(uninstall);
    for (const auto* link : {&*play, &*uninstall}) {
        EXPECT_EQ(link->target, u"D:\\Korvanis/Login.exe");
        // Started in the install folder, like the desktop link: the skin
        // and login.ini are found there.
        EXPECT_EQ(link->workingDirectory, u"D:\\Korvanis");
        EXPECT_EQ(link->iconPath, u"D:\\Korvanis/Login.exe");
        EXPECT_EQ(link->iconIndex, 0);
    }
    EXPECT_EQ(play->arguments, u"");
    EXPECT_EQ(uninstall->arguments, u"-Uninstall");
}

TEST_F(ShortcutsTest, SecondRunReplacesOldLinksInAnExistingFolder) {
    fp.files.put(menu + u"\\Korvane.lnk", "stale");
    fp.files.put(menu + u"\\卸载游戏.lnk", "stale");
    fp.files.put(u"C:\\Users\\player\\Desktop\\Korvane.lnk", "stale");
    CreateStartMenuShortcuts(dlg);
    CreateDesktopShortcut(fp.platform, u"D:\\Korvanis");
    EXPECT_EQ(fp.shell.readShellLink(menu + u"/Korvane.lnk")->target, u"D:\\Korvanis/Login.exe");
    EXPECT_EQ(fp.shell.readShellLink(menu + u"/卸载游戏.lnk")->arguments, u"-Uninstall");
    EXPECT_EQ(fp.shell.readShellLink(u"C:\\Users\\player\\Desktop/Korvane.lnk")->target,
              u"D:\\Korvanis/Login.exe");

    // A folder found with a trailing separator is kept as it is.
    ASSERT_TRUE(dlg.m_szInstallDir.assign(u"E:\\游戏\\"));
    CreateStartMenuShortcuts(dlg);
    for (const auto* name : {u"/Korvane.lnk", u"/卸载游戏.lnk"}) {
        auto link = fp.shell.readShellLink(menu + name);
        ASSERT_TRUE(link);
        EXPECT_EQ(link->target, u"E:\\游戏\\/Login.exe");
        EXPECT_EQ(link->workingDirectory, u"E:\\游戏\\");
    }
}

TEST_F(ShortcutsTest, NoLinkObjectNoFilesNoMessage) {
    fp.shell.linkObjectsAvailable = false;
    CreateStartMenuShortcuts(dlg);
    CreateDesktopShortcut(fp.platform, u"D:\\Korvanis");
    EXPECT_TRUE(fp.files.exists(menu));  // the folder is still made
    EXPECT_TRUE(fp.files.filesUnder(menu).empty());
    EXPECT_TRUE(fp.files.filesUnder(u"C:\\Users\\player\\Desktop").empty());
    EXPECT_TRUE(fp.ui.boxes.empty());
}

TEST_F(ShortcutsTest, OldStartMenuLinkThatCannotBeRemovedStopsTheRest) {
    fp.files.put(menu + u"\\Korvane.lnk", "stale");
    fp.files.refuseDelete = [](const WString& path) { return path.ends_with(u"Korvane.lnk"); };
    CreateStartMenuShortcuts(dlg);
    EXPECT_EQ(fp.files.get(menu + u"\\Korvane.lnk"), Bytes("stale"));
    EXPECT_FALSE(fp.files.exists(menu + u"\\卸载游戏.lnk"));
}

}  // namespace
