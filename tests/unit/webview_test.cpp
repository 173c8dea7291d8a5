#include <gtest/gtest.h>

#include "platform/text.h"
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
    // The view follows web pages and the page's own blank documents and
    // scripts; any other scheme is refused before the control could hand
    // it to a program of the system's.
    for (const char16_t* url : {u"http://x/micro/", u"HTTPS://x/", u"about:blank", u"javascript:void(0)"})
        EXPECT_TRUE(view.onBeforeNavigate2(url)) << toUtf8(url);
    for (const char16_t* url : {u"ms-msdt:-id PCWDiagnostic", u"search-ms:query=x", u"file:///etc/passwd",
                                u"\\\\host\\share\\x.exe", u"data:text/html,x", u"smb://host/s",
                                u"mailto:a@b.c", u"res://ieframe.dll/x", u"kvnx://y", u""})
        EXPECT_FALSE(view.onBeforeNavigate2(url)) << toUtf8(url);
    EXPECT_TRUE(fp.shell.opened.empty());
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

// Addresses a page may try to send out. Only an absolute http(s) address
// with a host reaches the default browser: the system's shell would run
// whatever is registered for any other scheme or file type.
TEST(WebLinkRule, OnlyAbsoluteWebAddressesLeaveTheView) {
    struct Case {
        WString url;
        bool leaves;
    };
    const std::vector<Case> cases = {
        // Ordinary web links; the scheme in any letter case, the markers not.
        {u"https://example.org/a", true},
        {u"http://x/MICRO/", true},
        {u"http://x/KVNIN", true},
        {u"HTTP://EXAMPLE.ORG/", true},
        {u"hTtPs://example.org:8443/p?q=1#f", true},
        {u"http://user:pw@example.org/", true},
        {u"http://[::1]:8080/", true},
        {u"http://[::ffff:192.0.2.1]:65535/", true},
        {u"http://[2001:db8:0:0:0:0:0:1]/", true},
        {u"http://example.org", true},
        {u"http://例子.测试/新闻?q=中", true},
        // Nothing, the site's own pages, the login result, marked addresses.
        {u"", false},
        {u"http://www.korvane.net/micro/news.php", false},
        {u"http://x/?user=abc", false},
        {u"http://x/kvnin/page", false},
        // Other schemes, with "http" only in the path, query or fragment.
        {u"file:///etc/passwd#http", false},
        {u"FILE:///C:/Windows/System32/calc.exe?http", false},
        {u"\\\\host\\share\\x.exe", false},
        {u"\\\\host\\share\\http.exe", false},
        {u"file://host/share/x.exe#http", false},
        {u"ms-msdt:-id%20PCWDiagnostic#http", false},
        {u"search-ms:query=http&crumb=location:\\\\host\\share", false},
        {u"javascript:location='http://x/'", false},
        {u"data:text/html,<a href=http://x>", false},
        {u"smb://host/share/http", false},
        {u"ftp://host/http/x.exe", false},
        {u"kvnx-made-up://http/", false},
        {u"mailto:a@b.c?body=http://x", false},
        // Not quite an absolute web address.
        {u"httpx://example.org/", false},
        {u"http:/example.org/", false},
        {u"http:example.org", false},
        {u"http:\\\\example.org\\", false},
        {u"//example.org/http", false},
        {u"/relative/http", false},
        // No host.
        {u"http://", false},
        {u"https:///etc/passwd", false},
        {u"http://:80/", false},
        {u"http://user@/", false},
        {u"http://?http", false},
        {u"http://#x", false},
        {u"http://[]/", false},
        {u"http://\\\\host\\share", false},
        {u"http://evil.example\\@good.example/", false},
        {u"http://host:abc/", false},
        {u"http://host:65536/", false},
        {u"http://a;b/", false},
        {u"http://a%zz/", false},
        {u"http://a%41b.example/", true},
        {u"http://[1]/", false},
        {u"http://[::1::2]/", false},
        {u"http://[:p:1]/", false},
        {u"http://[::1]x/", false},
        {u"http://[::1.2.3.256]/", false},
        // Blanks and control characters anywhere; broken text.
        {u" http://example.org/", false},
        {u"http://example.org/a b", false},
        {u"http://example.org/\t", false},
        {u"http://example.org/\r\nx", false},
        {WString(u"http://example.org/\0x", 21), false},
        {u"http://example.org/\x7f", false},
        {u"http://example.org/\u0085", false},
        {u"http://example.org/\u00A0", false},
        {u"http://example.org\u2028/", false},
        {u"http://example.org/\u3000", false},
        {WString(u"http://example.org/") + char16_t(0xD800), false},
    };
    FakePlatform fp;
    CWebBrowser view{fp.platform};
    std::vector<WString> expected;
    for (const Case& c : cases) {
        fp.system.clockMs += 1000;  // each request in a second of its own
        view.onTranslateUrl(c.url);
        if (c.leaves) expected.push_back(c.url);
        EXPECT_EQ(OpensInDefaultBrowser(c.url), c.leaves) << toUtf8(c.url);
    }
    EXPECT_EQ(fp.shell.opened, expected);
}

// One click whose handler asks for a window 200 times starts one browser;
// the next start comes a second after the last one, whichever view asks.
TEST(WebLinkRule, TheDefaultBrowserStartsAtMostOnceASecond) {
    FakePlatform fp;
    CWebBrowser login{fp.platform};
    CWebBrowser waiting{fp.platform, login};
    for (int i = 0; i < 200; ++i) login.onTranslateUrl(u"http://example.org/" + decimal(i));
    EXPECT_EQ(fp.shell.opened, std::vector<WString>{u"http://example.org/0"});

    fp.system.clockMs += 999;
    login.onTranslateUrl(u"http://example.org/late");
    waiting.onTranslateUrl(u"http://example.org/other-view");
    fp.system.clockMs += 1;  // a second after the start, not after the dropped requests
    waiting.onTranslateUrl(u"https://example.org/next");
    login.onTranslateUrl(u"https://example.org/dropped");
    // A refused address does not use up the second.
    fp.system.clockMs += 1000;
    login.onTranslateUrl(u"ms-msdt:-id PCWDiagnostic");
    login.onTranslateUrl(u"http://example.org/micro/");
    login.onTranslateUrl(u"http://example.org/after-refused");
    EXPECT_EQ(fp.shell.opened, (std::vector<WString>{u"http://example.org/0", u"https://example.org/next",
                                                      u"http://example.org/after-refused"}));
    // Views that do not share the limit each have their own.
    CWebBrowser separate{fp.platform};
    separate.onTranslateUrl(u"http://example.org/separate");
    EXPECT_EQ(fp.shell.opened.size(), 4u);
}

}  // namespace
