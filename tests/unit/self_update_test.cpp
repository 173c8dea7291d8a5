#include <gtest/gtest.h>

#include "launcher/launcher_dlg.h"
#include "tests/fake/fake_platform.h"

using namespace kvn;
using kvn::fake::FakePlatform;

namespace {

struct SelfUpdateTest : ::testing::Test {
    FakePlatform fp;
    CLauncherDlg dlg{fp.platform, Config{u"http://site", u"http://dl"}};
    void SetUp() override {
        fp.files.mkdirs(u"D:\\Korvanis");
        ASSERT_TRUE(dlg.m_szInstallDir.assign(u"D:\\Korvanis"));
        fp.files.put(u"D:\\Korvanis\\LauncherDlg.bmp", "bmp");
    }
    static Bytes Record(int launcher, int back, int version) {
        return "[VersionInfo]\r\nLoginExeVersionNumber=" + std::to_string(launcher) +
               "\r\nDlgBackVersionNumber=" + std::to_string(back) +
               "\r\nVersionNumber=" + std::to_string(version) + "\r\n";
    }
};

TEST_F(SelfUpdateTest, NewerLauncherIsStagedAndHandedToUpdateExe) {
    fp.files.put(u"D:\\Korvanis\\LoginExeVersionInfo.ini", Record(4, 1, 0));
    fp.http.serve(u"/download/LoginExeVersionInfo.ini", Record(5, 1, 0));
    fp.http.serve(u"/download/Login.exe", "new launcher");
    try {
        dlg.CheckLauncherUpdate();
        FAIL() << "the launcher should have ended";
    } catch (const kvn::fake::ProcessExit& e) {
        EXPECT_EQ(e.code, 0u);
    }
    EXPECT_EQ(fp.files.get(u"D:\\Korvanis\\TmpLogin.exe"), Bytes("new launcher"));
    ASSERT_EQ(fp.processes.started.size(), 1u);
    EXPECT_EQ(fp.processes.started[0].request.commandLine, u"D:\\Korvanis/update.exe");
    EXPECT_TRUE(fp.processes.started[0].request.hidden);
}

TEST_F(SelfUpdateTest, FailedLauncherDownloadKeepsTheCurrentLauncher) {
    fp.files.put(u"D:\\Korvanis\\LoginExeVersionInfo.ini", Record(4, 1, 0));
    fp.http.serve(u"/download/LoginExeVersionInfo.ini", Record(5, 1, 0));
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_TRUE(fp.processes.started.empty());
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].text, u"文件“Login.exe”下载失败，请稍后重试！");
    EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\TmpLogin.exe"));
}

TEST_F(SelfUpdateTest, EqualVersionsFetchOnlyTheRecord) {
    fp.files.put(u"D:\\Korvanis\\LoginExeVersionInfo.ini", Record(5, 1, 120));
    fp.http.serve(u"/download/LoginExeVersionInfo.ini", Record(5, 1, 120));
    fp.files.put(u"D:\\Korvanis\\kvnversion.ini", "version:120");
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(fp.http.requests.size(), 1u);
    EXPECT_TRUE(fp.ui.boxes.empty());
}

}  // namespace
