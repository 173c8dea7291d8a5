#include <gtest/gtest.h>

#include "tests/fake/fake_platform.h"
#include "webview/web_browser.h"

using namespace kvn;
using kvn::fake::FakePlatform;
using kvn::fake::ProcessExit;

namespace {

struct WebViewTest : ::testing::Test {
    FakePlatform fp;
    CWebBrowser view{fp.platform};
    void SetUp() override {
        fp.files.mkdirs(u"D:\\Korvanis");
        view.m_strClientDir = u"D:\\Korvanis";
    }
    // Runs the hook; true when the launcher ended with code 0.
    bool Navigate(const WString& url) {
        try {
            view.onBeforeNavigate2(url);
        } catch (const ProcessExit& e) {
            EXPECT_EQ(e.code, 0u);
            return true;
        }
        return false;
    }
};

TEST_F(WebViewTest, LoginTextIsHandedToTheClientAndTheLauncherEnds) {
    EXPECT_TRUE(Navigate(u"http://www.korvane.net/micro/done.php?user=abc"));
    EXPECT_EQ(fp.files.get(u"D:\\Korvanis\\kvnlogin.dat"), Bytes("abc"));
    EXPECT_EQ(fp.files.accessOf(u"D:\\Korvanis\\kvnlogin.dat"), FileAccess::OwnerOnly);
    ASSERT_EQ(fp.processes.started.size(), 1u);
    const ProcessStart& s = fp.processes.started[0].request;
    EXPECT_EQ(s.application, u"D:\\Korvanis/Launcher.exe");
    EXPECT_TRUE(s.commandLine.empty());
    EXPECT_EQ(s.workingDirectory, u"D:\\Korvanis");
    EXPECT_GE(fp.system.sleeps.load(), 1u);
    EXPECT_TRUE(fp.ui.boxes.empty());
}

TEST_F(WebViewTest, LoginTextIsTakenVerbatimAfterTheFirstMarker) {
    EXPECT_TRUE(Navigate(u"http://x/micro/?user=a&k=%41#f?user=b"));
    EXPECT_EQ(fp.files.get(u"D:\\Korvanis\\kvnlogin.dat"), Bytes("a&k=%41#f?user=b"));
}

TEST_F(WebViewTest, EmptyLoginTextGivesAnEmptyFile) {
    EXPECT_TRUE(Navigate(u"http://x/micro/?user="));
    EXPECT_EQ(fp.files.get(u"D:\\Korvanis\\kvnlogin.dat"), Bytes());
}

TEST_F(WebViewTest, OtherNavigationsProceedUntouched) {
    EXPECT_FALSE(Navigate(u"http://x/micro/?User=abc"));
    EXPECT_FALSE(Navigate(u"http://x/micro/"));
    EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
    EXPECT_TRUE(fp.processes.started.empty());
    EXPECT_TRUE(fp.ui.boxes.empty());
}

TEST_F(WebViewTest, EmptyClientFolderUsesTheDriveRoot) {
    fp.files.addDrive(u'C');
    view.m_strClientDir.clear();
    EXPECT_TRUE(Navigate(u"http://x/micro/?user=z"));
    EXPECT_EQ(fp.files.get(u"C:\\kvnlogin.dat"), Bytes("z"));
    EXPECT_EQ(fp.processes.started.at(0).request.application, u"/Launcher.exe");
}

TEST_F(WebViewTest, UnwritableHandOffFileWarnsAndStaysOpen) {
    view.m_strClientDir = u"D:\\Missing";
    EXPECT_FALSE(Navigate(u"http://x/micro/?user=abc"));
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].text, u"kvnlogin.dat 写入失败");
    EXPECT_EQ(fp.ui.boxes[0].caption, u"Login");
    EXPECT_EQ(fp.ui.boxes[0].icon, MsgIcon::Warning);
    EXPECT_FALSE(fp.ui.boxes[0].owned);
    EXPECT_TRUE(fp.processes.started.empty());
}

TEST_F(WebViewTest, ClientThatCannotStartKeepsTheLauncherOpen) {
    fp.processes.behaviour = [](const ProcessStart&) { return std::optional<std::uint32_t>{}; };
    EXPECT_FALSE(Navigate(u"http://x/micro/?user=abc"));
    EXPECT_EQ(fp.files.get(u"D:\\Korvanis\\kvnlogin.dat"), Bytes("abc"));
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].text, u"Launcher.exe 启动失败");
}

TEST_F(WebViewTest, OversizedLoginIsRefusedWholeNotCut) {
    // 255 narrow bytes fit exactly.
    const WString prefix = u"http://x/?user=";
    EXPECT_TRUE(Navigate(prefix + WString(255 - prefix.size(), u'a')));
    EXPECT_EQ(fp.files.get(u"D:\\Korvanis\\kvnlogin.dat")->size(), 255 - prefix.size());

    fp.files.deleteFile(u"D:\\Korvanis\\kvnlogin.dat");
    fp.processes.started.clear();
    // One unit beyond the 256-unit address buffer.
    EXPECT_FALSE(Navigate(prefix + WString(256 - prefix.size(), u'a')));
    EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
    EXPECT_TRUE(fp.processes.started.empty());
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].text, u"kvnlogin.dat 写入失败");
}

TEST_F(WebViewTest, LoginWhoseNarrowFormExceeds255BytesIsRefused) {
    // Chinese characters take two bytes each in the narrow code page.
    EXPECT_FALSE(Navigate(u"http://x/?user=" + WString(130, u'中')));
    EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
    EXPECT_TRUE(fp.processes.started.empty());
    EXPECT_EQ(fp.ui.boxes.size(), 1u);
}

TEST_F(WebViewTest, UnconvertibleLoginIsRefused) {
    EXPECT_FALSE(Navigate(WString(u"http://x/?user=a") + char16_t(0xD800)));
    EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
    EXPECT_EQ(fp.ui.boxes.size(), 1u);
}

TEST(WebLinkRule, OnlyOrdinaryWebLinksLeaveTheView) {
    FakePlatform fp;
    CWebBrowser view{fp.platform};
    for (const WString url :
         {WString(u""), WString(u"http://www.korvane.net/micro/news.php"),
          WString(u"http://x/?user=abc"), WString(u"http://x/kvnin/page"),
          WString(u"javascript:void(0)"), WString(u"mailto:a@b.c")})
        view.onTranslateUrl(url);
    EXPECT_TRUE(fp.shell.opened.empty());
    view.onTranslateUrl(u"https://example.org/a");
    view.onTranslateUrl(u"http://x/MICRO/");  // case-sensitive markers
    view.onTranslateUrl(u"http://x/KVNIN");
    EXPECT_EQ(fp.shell.opened, (std::vector<WString>{u"https://example.org/a", u"http://x/MICRO/",
                                                      u"http://x/KVNIN"}));
}

}  // namespace
