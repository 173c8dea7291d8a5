#include <gtest/gtest.h>

#include "install/install_dir.h"
#include "launcher/launcher_dlg.h"
#include "platform/text.h"
#include "tests/fake/fake_platform.h"

namespace kvn {
namespace {

using fake::FakePlatform;

struct Fixture : ::testing::Test {
    FakePlatform p;
    CLauncherDlg dlg{p, Config{u"http://site", u"http://dl", {}}};
    void SetUp() override {
        fake::FakeSystem::heldMutexes().clear();
        p.files.addDrive(u'D');
        p.files.addDrive(u'E');
    }
    void RegisterPlugin(const WString& path) { p.registry.writeUserString(kPluginKey, u"Path", path); }
};

using FindInstallDirTest = Fixture;

TEST_F(FindInstallDirTest, RegistryPathIsCutBeforeTheFirstBin) {
    RegisterPlugin(u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll");
    EXPECT_TRUE(FindInstallDir(dlg));
    EXPECT_EQ(dlg.m_szInstallDir.str(), u"D:\\Korvanis\\");
    p.files.put(u"D:\\Korvanis\\Launcher.exe", "client");
    EXPECT_TRUE(IsClientInstalled(dlg));  // via D:\Korvanis\/Launcher.exe

    RegisterPlugin(u"E:\\Bin\\Korvanis\\bin\\npKVNWebPlayer.dll");
    FindInstallDir(dlg);
    EXPECT_EQ(dlg.m_szInstallDir.str(), u"E:\\");

    RegisterPlugin(u"D:\\Korvanis\\Bin\\npKVNWebPlayer.dll");
    FindInstallDir(dlg);
    EXPECT_EQ(dlg.m_szInstallDir.str(), u"D:\\Korvanis\\");

    RegisterPlugin(u"D:\\Korvanis\\plugin.dll");
    FindInstallDir(dlg);
    EXPECT_EQ(dlg.m_szInstallDir.str(), u"D:\\Korvanis\\plugin.dll");
}

TEST_F(FindInstallDirTest, LongPluginPathsAreFoundUpToTheBufferSize) {
    // Longer than 62 characters: still an install, not a reinstall each start.
    const WString folder = u"D:\\Games\\" + WString(80, u'k');
    RegisterPlugin(folder + u"\\bin\\npKVNWebPlayer.dll");
    EXPECT_TRUE(FindInstallDir(dlg));
    EXPECT_EQ(dlg.m_szInstallDir.str(), folder + u"\\");

    // A value that does not fit the 255-unit buffer counts as absent.
    RegisterPlugin(u"D:\\" + WString(300, u'x') + u"\\bin\\npKVNWebPlayer.dll");
    p.system.currentDir = u"C:\\Games";
    p.files.put(u"C:\\Games\\Launcher.exe", "client");
    EXPECT_TRUE(FindInstallDir(dlg));
    EXPECT_EQ(dlg.m_szInstallDir.str(), u"C:\\Games");
}

TEST_F(FindInstallDirTest, CurrentFolderCountsOnlyWithTheClientInIt) {
    p.system.currentDir = u"C:\\Games";
    EXPECT_FALSE(FindInstallDir(dlg));
    EXPECT_TRUE(dlg.m_szInstallDir.empty());
    EXPECT_FALSE(IsClientInstalled(dlg));  // looks for "/Launcher.exe" at the drive root
    p.files.put(u"C:\\Launcher.exe", "client");
    EXPECT_TRUE(IsClientInstalled(dlg));
}

TEST_F(FindInstallDirTest, ACurrentFolderTooLongForTheBufferIsAbsentNotCut) {
    const WString deep = u"C:\\" + WString(300, u'd');
    p.files.put(deep + u"\\Launcher.exe", "client");
    p.system.currentDir = deep;
    EXPECT_FALSE(FindInstallDir(dlg));
    EXPECT_TRUE(dlg.m_szInstallDir.empty());
}

using PlaceFilesTest = Fixture;

TEST_F(PlaceFilesTest, SevenFilesAreCopiedFromTheLaunchersFolder) {
    p.system.moduleFile = u"C:\\游戏\\Login.exe";
    for (const char16_t* name : {u"Login.exe", u"login.ini", u"LauncherDlg.bmp", u"Uninstall.list",
                                 u"LoginExeVersionInfo.ini", u"KVNClient.7z", u"7zr.exe"})
        p.files.put(WString(u"C:\\游戏\\") + name, toUtf8(name));
    p.files.put(u"C:\\游戏\\other.txt", "not placed");
    dlg.m_szInstallDir.assign(u"D:\\Korvanis");
    PlaceLauncherFiles(dlg);
    ASSERT_EQ(p.files.copies.size(), 7u);
    EXPECT_EQ(p.files.copies[0].first, u"C:\\游戏\\Login.exe");
    EXPECT_EQ(p.files.copies[0].second, u"D:\\Korvanis/Login.exe");
    EXPECT_EQ(p.files.copies[6].second, u"D:\\Korvanis/7zr.exe");
    EXPECT_EQ(p.files.get(u"D:\\Korvanis\\KVNClient.7z"), "KVNClient.7z");
    EXPECT_FALSE(p.files.exists(u"D:\\Korvanis\\other.txt"));
}

TEST_F(PlaceFilesTest, ThePlatformsOwnProgramsFollowTheSevenFiles) {
    p.system.moduleFile = u"C:\\游戏\\Login.exe";
    p.system.packageFileNames = {u"regsvr32"};
    p.files.put(u"C:\\游戏\\Login.exe", "launcher");
    p.files.put(u"C:\\游戏\\regsvr32", "registration");
    dlg.m_szInstallDir.assign(u"D:\\Korvanis");
    PlaceLauncherFiles(dlg);
    ASSERT_EQ(p.files.copies.size(), 8u);
    EXPECT_EQ(p.files.copies[7].first, u"C:\\游戏\\regsvr32");
    EXPECT_EQ(p.files.copies[7].second, u"D:\\Korvanis/regsvr32");
    EXPECT_EQ(p.files.get(u"D:\\Korvanis\\regsvr32"), "registration");

    // Started from the install folder: nothing is copied, these included.
    p.files.copies.clear();
    p.system.moduleFile = u"D:\\Korvanis\\Login.exe";
    PlaceLauncherFiles(dlg);
    EXPECT_TRUE(p.files.copies.empty());
}

TEST_F(PlaceFilesTest, MissingSourcesAreSkippedSilently) {
    p.files.put(u"C:\\Games\\Login.exe", "launcher");
    dlg.m_szInstallDir.assign(u"D:\\Korvanis");
    PlaceLauncherFiles(dlg);
    EXPECT_EQ(p.files.copies.size(), 7u);
    EXPECT_EQ(p.files.filesUnder(u"D:\\Korvanis").size(), 1u);
}

TEST_F(PlaceFilesTest, NothingIsCopiedWhenRunningFromTheInstallFolder) {
    p.system.moduleFile = u"D:\\Korvanis\\Login.exe";
    dlg.m_szInstallDir.assign(u"D:\\Korvanis");
    PlaceLauncherFiles(dlg);
    EXPECT_TRUE(p.files.copies.empty());

    // Other letter case: the texts differ, every copy is attempted and
    // fails onto itself without harm.
    p.files.put(u"D:\\Korvanis\\Login.exe", "launcher");
    p.system.moduleFile = u"d:\\korvanis\\Login.exe";
    PlaceLauncherFiles(dlg);
    EXPECT_EQ(p.files.copies.size(), 7u);
    EXPECT_EQ(p.files.get(u"D:\\Korvanis\\Login.exe"), "launcher");
}

TEST(FileNamePart, TakesTheTextAfterTheLastSeparator) {
    WString name;
    EXPECT_TRUE(GetFileNamePart(u"C:\\a\\b/c.txt", name));
    EXPECT_EQ(name, u"c.txt");
    EXPECT_TRUE(GetFileNamePart(u"C:\\a/b\\c", name));
    EXPECT_EQ(name, u"c");
    name = u"unchanged";
    EXPECT_TRUE(GetFileNamePart(u"no-backslash/at/all", name));
    EXPECT_EQ(name, u"unchanged");
    EXPECT_TRUE(GetFileNamePart(u"C:\\folder\\", name));
    EXPECT_EQ(name, u"");
}

TEST(CopyToDir, ASourceWithoutBackslashTargetsTheBareFolder) {
    FakePlatform p;
    p.files.put(u"C:\\Games\\plain", "x");
    CopyFileToDir(p, u"plain", u"C:\\Target");
    ASSERT_EQ(p.files.copies.size(), 1u);
    EXPECT_EQ(p.files.copies[0].second, u"C:\\Target/");
    EXPECT_TRUE(p.files.filesUnder(u"C:\\Target").empty());
}

}  // namespace
}  // namespace kvn
