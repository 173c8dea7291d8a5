#include <gtest/gtest.h>

#include <algorithm>

#include "platform/text.h"
#include "tests/fake/fake_platform.h"
#include "webview/web_browser.h"

using namespace kvn;
using kvn::fake::FakePlatform;
using kvn::fake::ProcessExit;

namespace {

using Frame = WebNavigation::Frame;

// A link or window request the player's click started.
WebNavigation Click(const WString& url, bool newWindow = false) {
    return WebNavigation{url, Frame::Top, true, newWindow};
}

struct WebViewTest : ::testing::Test {
    FakePlatform fp;
    CWebBrowser view{fp.platform};
    void SetUp() override {
        fp.files.mkdirs(u"D:\\Korvanis");
        view.m_strClientDir = u"D:\\Korvanis";
        view.m_strLoginPage = u"http://x/micro/";
    }
    // Runs the hook for the view's own page; true when the launcher ended
    // with code 0.
    bool Navigate(const WString& url, Frame frame = Frame::Top) {
        try {
            view.onBeforeNavigate2(WebNavigation{url, frame});
        } catch (const ProcessExit& e) {
            EXPECT_EQ(e.code, 0u);
            return true;
        }
        return false;
    }
};

TEST_F(WebViewTest, LoginTextIsHandedToTheClientAndTheLauncherEnds) {
    EXPECT_TRUE(Navigate(u"http://x/micro/done.php?user=abc"));
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
        EXPECT_TRUE(view.onBeforeNavigate2({url})) << toUtf8(url);
    for (const char16_t* url : {u"ms-msdt:-id PCWDiagnostic", u"search-ms:query=x", u"file:///etc/passwd",
                                u"\\\\host\\share\\x.exe", u"data:text/html,x", u"smb://host/s",
                                u"mailto:a@b.c", u"res://ieframe.dll/x", u"kvnx://y", u""})
        EXPECT_FALSE(view.onBeforeNavigate2({url})) << toUtf8(url);
    EXPECT_TRUE(fp.shell.opened.empty());
    EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
    EXPECT_TRUE(fp.processes.started.empty());
    EXPECT_TRUE(fp.ui.boxes.empty());
}

// The waiting page's view (no client folder, no login page) never hands a
// login off: nothing is written at the drive's root, nothing is started.
TEST_F(WebViewTest, TheWaitingPagesViewNeverHandsOff) {
    fp.files.addDrive(u'C');
    CWebBrowser waiting{fp.platform, view};
    for (Frame frame : {Frame::Top, Frame::NotYetKnown, Frame::Inner})
        for (const char16_t* url : {u"http://x/micro/?user=z", u"http://x/micro/waiting.php?user="})
            EXPECT_FALSE(waiting.onBeforeNavigate2({url, frame})) << toUtf8(url);
    EXPECT_TRUE(waiting.onBeforeNavigate2({u"http://x/micro/waiting.php"}));
    EXPECT_FALSE(fp.files.exists(u"C:\\kvnlogin.dat"));
    EXPECT_TRUE(fp.processes.started.empty());
    EXPECT_TRUE(fp.ui.boxes.empty());
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

// Broken text (a lone surrogate, which no narrow code page holds) is no
// address of the login page's: the navigation is cancelled, nothing written.
TEST_F(WebViewTest, BrokenLoginTextIsRefused) {
    const WString url = WString(u"http://x/?user=a") + char16_t(0xD800);
    EXPECT_FALSE(view.onBeforeNavigate2({url}));
    EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
    EXPECT_TRUE(fp.processes.started.empty());
}

// Only the page the launcher opened ends a login: a navigation of the
// view's own top frame to the login page's origin. Anything else carrying
// "?user=" is cancelled and hands nothing off.
TEST_F(WebViewTest, OnlyTheLoginPagesOwnTopFrameHandsOff) {
    struct Case {
        const char16_t* loginPage;
        const char16_t* url;
        Frame frame;
        bool handsOff;
    };
    const Case cases[] = {
        {u"http://x/micro/", u"http://x/micro/?user=a", Frame::Top, true},
        {u"http://x/micro/", u"http://x/elsewhere.php?user=a", Frame::Top, true},
        // The origin as browsers compare it: letter case, the default port.
        {u"http://x/micro/", u"HTTP://X:80/micro/?user=a", Frame::Top, true},
        {u"https://x:8443/micro/#auto=1", u"https://x:08443/?user=a", Frame::Top, true},
        {u"http://[::1]:81/micro/", u"http://[::1]:81/micro/?user=a", Frame::Top, true},
        {u"http://evil@x/micro/", u"http://x/micro/?user=a", Frame::Top, true},
        // login.ini as saved by an editor: the address keeps its line break.
        {u"http://x:81/micro/\r\n", u"http://x:81/micro/?user=a", Frame::Top, true},
        {u" http://x:81\r\n", u"http://x:81/?user=a", Frame::Top, true},
        // A frame inside the page (an advert, a widget), whatever its address.
        {u"http://x/micro/", u"http://x/micro/?user=a", Frame::Inner, false},
        {u"http://x/micro/", u"http://ads.example/?user=a", Frame::Inner, false},
        // Another origin, even as the page's own top frame.
        {u"http://x/micro/", u"http://y/micro/?user=a", Frame::Top, false},
        {u"http://x/micro/", u"http://x:81/micro/?user=a", Frame::Top, false},
        {u"http://x/micro/", u"https://x/micro/?user=a", Frame::Top, false},
        {u"http://x/micro/", u"http://x.evil/micro/?user=a", Frame::Top, false},
        {u"http://x/micro/", u"http://x@y/micro/?user=a", Frame::Top, false},
        {u"http://x/micro/", u"http://y/?x/micro/?user=a", Frame::Top, false},
        {u"http://x/micro/", u"javascript:location='http://x/?user=a'", Frame::Top, false},
        {u"http://x/micro/", u"file:///C:/x/micro/?user=a", Frame::Top, false},
        // The waiting page's view knows no login page; nor does a login page
        // that is not a web address make one.
        {u"", u"http://x/micro/?user=a", Frame::Top, false},
        {u"about:blank", u"http://x/micro/?user=a", Frame::Top, false},
        {u"file:///C:/x/micro/", u"file:///C:/x/micro/?user=a", Frame::Top, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.loginPage) + " / " + toUtf8(c.url));
        fp.files.deleteFile(u"D:\\Korvanis\\kvnlogin.dat");
        view.m_strLoginPage = c.loginPage;
        if (c.handsOff) {
            EXPECT_TRUE(Navigate(c.url, c.frame));
            EXPECT_EQ(fp.files.get(u"D:\\Korvanis\\kvnlogin.dat"), Bytes("a"));
        } else {
            EXPECT_FALSE(view.onBeforeNavigate2({c.url, c.frame})) << "not cancelled";
            EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
        }
    }
    EXPECT_EQ(fp.processes.started.size(),
              std::size_t(std::count_if(std::begin(cases), std::end(cases), [](const Case& c) { return c.handsOff; })));
    EXPECT_TRUE(fp.ui.boxes.empty());
}

// A frame of another site may navigate the page itself to the login
// page's address: where the engine says who asked (Sec-Fetch-Site, else the
// Referer), only the login page's own origin, or the launcher, hands off.
TEST_F(WebViewTest, OnlyTheLoginSitesOwnDocumentsHandOff) {
    using Requester = WebNavigation::Requester;
    const std::pair<Requester, bool> cases[] = {
        {{u"same-origin", u""}, true},
        {{u"none", u""}, true},
        {{u"same-origin", u"http://ads.example/"}, true},  // the relation is the engine's own word
        {{u"", u"http://x/micro/index.html"}, true},
        {{u"", u"HTTP://X:80/"}, true},
        {{u"same-site", u"http://x/micro/"}, false},
        {{u"cross-site", u"http://x/micro/"}, false},
        {{u"", u"http://ads.example/frame.html"}, false},
        {{u"", u"http://x:81/"}, false},
        {{u"", u""}, false},  // the asking document left its address out
    };
    for (const auto& [requester, handsOff] : cases) {
        SCOPED_TRACE(toUtf8(requester.fetchSite + u" / " + requester.referrer));
        fp.processes.started.clear();
        WebNavigation navigation{u"http://x/micro/?user=a"};
        navigation.requester = requester;
        // Not judged before WebKit has sent the request.
        navigation.frame = Frame::NotYetKnown;
        EXPECT_TRUE(view.onBeforeNavigate2(navigation));
        navigation.frame = Frame::Top;
        bool ended = false;
        try {
            EXPECT_EQ(view.onBeforeNavigate2(navigation), handsOff);
        } catch (const ProcessExit&) {
            ended = true;
        }
        EXPECT_EQ(ended, handsOff);
        EXPECT_EQ(fp.processes.started.size(), handsOff ? 1u : 0u);
    }
}

// WebKit names the frame only once the answer has arrived: the navigation
// goes on until then, and only the top frame's answer hands off.
TEST_F(WebViewTest, AFrameNamedWithTheAnswerHandsOffOnlyAsTheTopFrame) {
    const WString url = u"http://x/micro/?user=a";
    EXPECT_TRUE(view.onBeforeNavigate2({url, Frame::NotYetKnown}));
    EXPECT_FALSE(view.onBeforeNavigate2({url, Frame::Inner}));
    EXPECT_FALSE(view.onBeforeNavigate2({u"http://y/micro/?user=a", Frame::NotYetKnown}));
    EXPECT_FALSE(fp.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
    EXPECT_TRUE(fp.processes.started.empty());
    EXPECT_TRUE(Navigate(url, Frame::Top));
    EXPECT_EQ(fp.files.get(u"D:\\Korvanis\\kvnlogin.dat"), Bytes("a"));
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
        view.onTranslateUrl(Click(c.url));
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
    for (int i = 0; i < 200; ++i) login.onTranslateUrl(Click(u"http://example.org/" + decimal(i)));
    EXPECT_EQ(fp.shell.opened, std::vector<WString>{u"http://example.org/0"});

    fp.system.clockMs += 999;
    login.onTranslateUrl(Click(u"http://example.org/late"));
    waiting.onTranslateUrl(Click(u"http://example.org/other-view"));
    fp.system.clockMs += 1;  // a second after the start, not after the dropped requests
    waiting.onTranslateUrl(Click(u"https://example.org/next"));
    login.onTranslateUrl(Click(u"https://example.org/dropped"));
    // A refused address does not use up the second.
    fp.system.clockMs += 1000;
    login.onTranslateUrl(Click(u"ms-msdt:-id PCWDiagnostic"));
    login.onTranslateUrl(Click(u"http://example.org/micro/"));
    login.onTranslateUrl(Click(u"http://example.org/after-refused"));
    EXPECT_EQ(fp.shell.opened, (std::vector<WString>{u"http://example.org/0", u"https://example.org/next",
                                                      u"http://example.org/after-refused"}));
    // Views that do not share the limit each have their own.
    CWebBrowser separate{fp.platform};
    separate.onTranslateUrl(Click(u"http://example.org/separate"));
    EXPECT_EQ(fp.shell.opened.size(), 4u);
}

// Only the player's own click or key sends an address out: a page's script
// or timer that clicks a link or asks for a window opens nothing.
TEST(WebLinkRule, OnlyThePlayersClickOpensTheDefaultBrowser) {
    FakePlatform fp;
    CWebBrowser view{fp.platform};
    for (bool newWindow : {false, true}) {
        fp.system.clockMs += 1000;
        const std::size_t before = fp.shell.opened.size();
        view.onTranslateUrl({u"http://example.org/script", Frame::Top, false, newWindow});
        view.onTranslateUrl({u"http://example.org/frame", Frame::Inner, false, newWindow});
        EXPECT_EQ(fp.shell.opened.size(), before);
        // A refused request does not use up the second: the click right
        // after it opens the browser.
        view.onTranslateUrl({u"http://example.org/click", Frame::Inner, true, newWindow});
    }
    EXPECT_EQ(fp.shell.opened, (std::vector<WString>{u"http://example.org/click", u"http://example.org/click"}));
}

// A link that goes to the default browser is not also followed in the view:
// the login page stays. Neither is one clicked again within the second, nor
// one a script clicked. A window request, a script's own navigation and the
// site's own links are the view's as before.
TEST(WebLinkRule, AnOutsideLinkLeavesTheViewWhereItIs) {
    FakePlatform fp;
    CWebBrowser view{fp.platform};
    const auto link = [&](const WString& url, const WString& navigatesTo, bool gesture = true) {
        view.onTranslateUrl({url, Frame::Top, gesture});
        return view.onBeforeNavigate2({navigatesTo});
    };
    EXPECT_FALSE(link(u"http://example.org/news", u"http://example.org/news"));
    // The control may spell the address its own way.
    fp.system.clockMs += 1000;
    EXPECT_FALSE(link(u"HTTP://Example.ORG", u"http://example.org/"));
    EXPECT_FALSE(link(u"http://example.org/again", u"http://example.org/again"));  // too soon: dropped
    EXPECT_EQ(fp.shell.opened, (std::vector<WString>{u"http://example.org/news", u"HTTP://Example.ORG"}));
    // The mark is for that link's own navigation only.
    EXPECT_TRUE(view.onBeforeNavigate2({u"http://example.org/again"}));
    fp.system.clockMs += 1000;
    EXPECT_FALSE(link(u"http://example.org/script", u"http://example.org/script", false));
    EXPECT_TRUE(view.onBeforeNavigate2({u"http://example.org/script"}));
    EXPECT_TRUE(link(u"http://x/micro/news.php", u"http://x/micro/news.php"));
    view.onTranslateUrl(Click(u"http://example.org/window", true));
    EXPECT_TRUE(view.onBeforeNavigate2({u"http://example.org/window"}));
    view.onTranslateUrl(Click(u"http://example.org/elsewhere"));
    EXPECT_TRUE(view.onBeforeNavigate2({u"http://example.org/other"}));
    EXPECT_TRUE(view.onBeforeNavigate2({u"http://example.org/elsewhere"}));
    // The launcher's own blank page still loads.
    EXPECT_TRUE(view.onBeforeNavigate2({u"about:blank"}));
}

TEST(WebLinkRule, OriginsAndSameAddresses) {
    const std::pair<const char16_t*, std::optional<WString>> origins[] = {
        {u"http://www.korvane.net/micro/", u"http://www.korvane.net:80"},
        {u"HTTPS://WWW.Korvane.NET:443/x?y#z", u"https://www.korvane.net:443"},
        {u"http://127.0.0.1:8080", u"http://127.0.0.1:8080"},
        {u"http://u:p@h:0081/", u"http://h:81"},
        {u"http://h:/", u"http://h:80"},
        {u"http://[::1]/", u"http://[::1]:80"},
        {u"http://例子.测试/", u"http://例子.测试:80"},
        {u"\t http://h/\r\n", u"http://h:80"},
        {u"http://h\n:81/", u"http://h:81"},
        {u"about:blank", std::nullopt},
        {u"", std::nullopt},
        {u"http:///x", std::nullopt},
        {u"http://h x/", std::nullopt},
        {u"ftp://h/", std::nullopt},
    };
    for (const auto& [url, origin] : origins) EXPECT_EQ(WebOrigin(url), origin) << toUtf8(url);
    EXPECT_TRUE(SameAddress(u"http://h", u"HTTP://H/"));
    EXPECT_TRUE(SameAddress(u"http://h?q", u"http://h/?q"));
    EXPECT_FALSE(SameAddress(u"http://h/A", u"http://h/a"));
    EXPECT_FALSE(SameAddress(u"http://h/", u"http://h/x"));
    EXPECT_FALSE(SameAddress(u"http://h/", u"http://g/"));
    EXPECT_TRUE(SameAddress(u"about:blank", u"about:blank"));
}

}  // namespace
