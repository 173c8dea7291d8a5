#include <gtest/gtest.h>

#include "launcher/launcher_dlg.h"
#include "platform/text.h"
#include "res/resource.h"
#include "tests/fake/fake_platform.h"

using namespace kvn;
using kvn::fake::FakeHttpAnswer;
using kvn::fake::FakePlatform;

namespace {

constexpr char16_t kRecordPath[] = u"D:\\Korvanis\\LoginExeVersionInfo.ini";
constexpr char16_t kBitmapPath[] = u"D:\\Korvanis\\LauncherDlg.bmp";
constexpr char16_t kStagedPath[] = u"D:\\Korvanis\\TmpLogin.exe";
constexpr char16_t kClientVersionPath[] = u"D:\\Korvanis\\kvnversion.ini";
constexpr char16_t kRecordUrl[] = u"/download/LoginExeVersionInfo.ini";
constexpr char16_t kBitmapUrl[] = u"/download/LauncherDlg.bmp";
constexpr char16_t kLauncherUrl[] = u"/download/Login.exe";

constexpr char16_t kRecordFailed[] = u"文件LoginExeVersionInfo.ini下载失败，请稍后重试！";
constexpr char16_t kBitmapFailed[] = u"文件LauncherDlg.bmp下载失败，请稍后重试！";
constexpr char16_t kLauncherFailed[] = u"文件“Login.exe”下载失败，请稍后重试！";
constexpr char16_t kTooOld[] =
    u"检测到你的游戏版本长时间未更新，为确保游戏能够正常运行，请先手动卸载程序";
// The uninstall window's own question, asked once it runs.
constexpr char16_t kUninstallQuestion[] = u"是否要卸载Korvane?";

// SHA-256 of "new launcher".
constexpr char kNewLauncherDigest[] =
    "afca1de8ef05397fdd0d385da221351d271715c4e697aca4d699dab23e81377f";

struct SelfUpdateTest : ::testing::Test {
    FakePlatform fp;
    CLauncherDlg dlg{fp.platform, Config{u"http://site", u"http://dl"}};
    void SetUp() override {
        fp.files.mkdirs(u"D:\\Korvanis");
        ASSERT_TRUE(dlg.m_szInstallDir.assign(u"D:\\Korvanis"));
        fp.files.put(kBitmapPath, "bmp");
    }
    static Bytes Record(int launcher, int back, int version, const Bytes& extra = {}) {
        return "[VersionInfo]\r\nLoginExeVersionNumber=" + std::to_string(launcher) +
               "\r\nDlgBackVersionNumber=" + std::to_string(back) +
               "\r\nVersionNumber=" + std::to_string(version) + "\r\n" + extra;
    }
    // The object paths asked for, in order.
    std::vector<WString> Requests() {
        std::vector<WString> out;
        for (auto& r : fp.http.requests) out.push_back(r.object);
        return out;
    }
    std::size_t RequestsFor(const WString& object) {
        std::size_t n = 0;
        for (auto& r : fp.http.requests) n += r.object == object;
        return n;
    }
    std::vector<WString> BoxTexts() {
        std::vector<WString> out;
        for (auto& b : fp.ui.boxes) out.push_back(b.text);
        return out;
    }
    // Runs the check where it may end the process; the exit code if it did.
    std::optional<std::uint32_t> RunExpectingExit() {
        try {
            dlg.CheckLauncherUpdate();
        } catch (const kvn::fake::ProcessExit& e) {
            return e.code;
        }
        return std::nullopt;
    }
    void OfferNewLauncher(const Bytes& recordExtra) {
        fp.files.put(kRecordPath, Record(4, 1, 0));
        fp.http.serve(kRecordUrl, Record(5, 1, 0, recordExtra));
        fp.http.serve(kLauncherUrl, "new launcher");
    }
};

// ---------------------------------------------------------------- record and bitmap

TEST_F(SelfUpdateTest, EqualVersionsFetchOnlyTheRecord) {
    fp.files.put(kRecordPath, Record(5, 1, 120));
    fp.http.serve(kRecordUrl, Record(5, 1, 120));
    fp.files.put(kClientVersionPath, "version:120");
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(Requests(), std::vector<WString>{kRecordUrl});
    EXPECT_EQ(fp.http.requests[0].host, u"dl");
    EXPECT_TRUE(fp.ui.boxes.empty());
    EXPECT_EQ(fp.files.get(kBitmapPath), Bytes("bmp"));
    EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 3u);  // record, bitmap, client version
}

TEST_F(SelfUpdateTest, BitmapIsFetchedWhenMissingOrOlder) {
    // Missing: fetched although the number did not change.
    fp.files.deleteFile(kBitmapPath);
    fp.files.put(kRecordPath, Record(5, 3, 0));
    fp.http.serve(kRecordUrl, Record(5, 3, 0));
    fp.http.serve(kBitmapUrl, "bitmap v3");
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(Requests(), (std::vector<WString>{kRecordUrl, kBitmapUrl}));
    EXPECT_EQ(fp.files.get(kBitmapPath), Bytes("bitmap v3"));

    // Present but older than the server's: fetched.
    fp.http.requests.clear();
    fp.http.serve(kRecordUrl, Record(5, 4, 0));
    fp.http.serve(kBitmapUrl, "bitmap v4");
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(Requests(), (std::vector<WString>{kRecordUrl, kBitmapUrl}));
    EXPECT_EQ(fp.files.get(kBitmapPath), Bytes("bitmap v4"));

    // Present and newer locally: left alone.
    fp.http.requests.clear();
    fp.http.serve(kRecordUrl, Record(5, 2, 0));
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(Requests(), std::vector<WString>{kRecordUrl});
    EXPECT_TRUE(fp.ui.boxes.empty());
}

TEST_F(SelfUpdateTest, FailedBitmapDownloadIsRetriedTenTimesThenReported) {
    fp.files.deleteFile(kBitmapPath);
    fp.files.put(kRecordPath, Record(5, 1, 0));
    fp.http.serve(kRecordUrl, Record(5, 1, 0));
    fp.http.answers[kBitmapUrl] = {FakeHttpAnswer{404, "9", "not found", std::nullopt, false}};
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(RequestsFor(kBitmapUrl), 10u);
    EXPECT_EQ(BoxTexts(), std::vector<WString>{kBitmapFailed});
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].caption, u"Login");
    EXPECT_EQ(fp.ui.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(fp.ui.boxes[0].icon, MsgIcon::None);
    EXPECT_FALSE(fp.files.exists(kBitmapPath));
}

TEST_F(SelfUpdateTest, UnreachableServerShowsOnlyTheFirstMessage) {
    // No record on disk: every number reads 0, so only a missing bitmap
    // would be fetched, and the client is current unless its number is
    // negative.
    fp.files.put(kClientVersionPath, "version:0");
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(Requests(), std::vector<WString>(10, kRecordUrl));
    EXPECT_EQ(BoxTexts(), std::vector<WString>{kRecordFailed});
    EXPECT_FALSE(fp.files.exists(kRecordPath));

    fp.ui.boxes.clear();
    fp.files.put(kClientVersionPath, "version:-1");
    EXPECT_TRUE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(BoxTexts(), (std::vector<WString>{kRecordFailed, kTooOld, kUninstallQuestion}));
}

TEST_F(SelfUpdateTest, FailedRecordDownloadLeavesThePreviousRecordIntact) {
    const Bytes previous = Record(5, 1, 7, "; kept byte for byte\r\n");
    fp.files.put(kRecordPath, previous);
    // A cut transfer, then a short body, then a missing length: all fail.
    fp.http.answers[kRecordUrl] = {
        FakeHttpAnswer{200, "60", Record(9, 9, 9), 20, false},
        FakeHttpAnswer{200, "500", Record(9, 9, 9), std::nullopt, false},
        FakeHttpAnswer{200, std::nullopt, Record(9, 9, 9), std::nullopt, false}};
    fp.files.put(kClientVersionPath, "version:7");
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(RequestsFor(kRecordUrl), 10u);
    EXPECT_EQ(fp.files.get(kRecordPath), previous);
    EXPECT_EQ(BoxTexts(), std::vector<WString>{kRecordFailed});
    // The old numbers still rule: nothing else was fetched.
    EXPECT_EQ(fp.http.requests.size(), 10u);
    EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 3u);
}

// ---------------------------------------------------------------- launcher

TEST_F(SelfUpdateTest, NewerLauncherIsStagedAndHandedToUpdateExe) {
    OfferNewLauncher({});
    // A client that would count as too old: the check must not get there.
    fp.files.put(kClientVersionPath, "version:1");
    fp.http.serve(kRecordUrl, Record(5, 1, 120));
    EXPECT_EQ(RunExpectingExit(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(fp.files.get(kStagedPath), Bytes("new launcher"));
    EXPECT_EQ(Requests(), (std::vector<WString>{kRecordUrl, kLauncherUrl}));
    ASSERT_EQ(fp.processes.started.size(), 1u);
    const ProcessStart& start = fp.processes.started[0].request;
    EXPECT_EQ(start.commandLine, u"D:\\Korvanis/update.exe");
    EXPECT_EQ(start.application, u"D:\\Korvanis/update.exe");
    EXPECT_EQ(start.workingDirectory, u"D:\\Korvanis");
    EXPECT_TRUE(start.hidden);
    EXPECT_TRUE(fp.ui.boxes.empty());
    EXPECT_TRUE(fp.ui.templatesRun.empty());
}

TEST_F(SelfUpdateTest, UpdateExeThatCannotStartStillEndsTheLauncher) {
    OfferNewLauncher({});
    fp.processes.behaviour = [](const ProcessStart&) { return std::nullopt; };
    EXPECT_EQ(RunExpectingExit(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(fp.processes.started.size(), 1u);
    EXPECT_TRUE(fp.ui.boxes.empty());
}

TEST_F(SelfUpdateTest, OnlyAStrictlyNewerServerLauncherIsFetched) {
    fp.files.put(kRecordPath, Record(5, 1, 0));
    fp.http.serve(kRecordUrl, Record(4, 1, 0));
    fp.http.serve(kLauncherUrl, "older launcher");
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(RequestsFor(kLauncherUrl), 0u);
    fp.http.serve(kRecordUrl, Record(4, 1, 0));  // now local 4, server 4
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(RequestsFor(kLauncherUrl), 0u);
    EXPECT_FALSE(fp.files.exists(kStagedPath));
    EXPECT_TRUE(fp.processes.started.empty());
}

TEST_F(SelfUpdateTest, FailedLauncherDownloadKeepsTheCurrentLauncherAndGoesOn) {
    fp.files.put(kRecordPath, Record(4, 1, 120));
    fp.http.serve(kRecordUrl, Record(5, 1, 120));
    fp.http.answers[kLauncherUrl] = {FakeHttpAnswer{200, "99", "cut", std::nullopt, false}};
    fp.files.put(kClientVersionPath, "version:119");
    // Goes on to the client check, which finds the client too old.
    EXPECT_TRUE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(RequestsFor(kLauncherUrl), 10u);
    EXPECT_TRUE(fp.processes.started.empty());
    EXPECT_EQ(BoxTexts(), (std::vector<WString>{kLauncherFailed, kTooOld, kUninstallQuestion}));
    EXPECT_FALSE(fp.files.exists(kStagedPath));
    EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 3u);  // no partial file left
}

// ---------------------------------------------------------------- launcher digest

TEST_F(SelfUpdateTest, MatchingDigestIsHandedOverInEitherCase) {
    Bytes upper = kNewLauncherDigest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    OfferNewLauncher("LoginExeSha256=" + upper + "\r\n");
    EXPECT_EQ(RunExpectingExit(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(fp.files.get(kStagedPath), Bytes("new launcher"));
    EXPECT_EQ(RequestsFor(kLauncherUrl), 1u);
    EXPECT_EQ(fp.processes.started.size(), 1u);
}

TEST_F(SelfUpdateTest, MismatchIsRetriedAndAWrongFileIsNeverHandedOver) {
    Bytes other = kNewLauncherDigest;
    other[0] = other[0] == '0' ? '1' : '0';
    OfferNewLauncher("LoginExeSha256=" + other + "\r\n");
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(RequestsFor(kLauncherUrl), 10u);
    EXPECT_TRUE(fp.processes.started.empty());
    EXPECT_FALSE(fp.files.exists(kStagedPath));
    EXPECT_EQ(BoxTexts(), std::vector<WString>{kLauncherFailed});
}

TEST_F(SelfUpdateTest, AWrongCopyThenARightOneIsHandedOver) {
    OfferNewLauncher("LoginExeSha256=" + Bytes(kNewLauncherDigest) + "\r\n");
    fp.http.answers[kLauncherUrl] = {
        FakeHttpAnswer{200, "14", "damaged launch", std::nullopt, false},
        FakeHttpAnswer{200, "12", "new launcher", std::nullopt, false}};
    EXPECT_EQ(RunExpectingExit(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(RequestsFor(kLauncherUrl), 2u);
    EXPECT_EQ(fp.files.get(kStagedPath), Bytes("new launcher"));
    EXPECT_TRUE(fp.ui.boxes.empty());
}

TEST_F(SelfUpdateTest, MalformedDigestFetchesNothingAndKeepsTheCurrentLauncher) {
    const Bytes bad[] = {Bytes(kNewLauncherDigest).substr(1),           // 63 digits
                         Bytes(kNewLauncherDigest) + "0",               // 65 digits
                         "g" + Bytes(kNewLauncherDigest).substr(1),     // not hex
                         Bytes(2000, 'a'),                              // beyond any buffer
                         ""};
    for (const Bytes& value : bad) {
        SCOPED_TRACE(value.substr(0, 70));
        fp.http.requests.clear();
        fp.ui.boxes.clear();
        OfferNewLauncher("LoginExeSha256=" + value + "\r\n");
        EXPECT_FALSE(dlg.CheckLauncherUpdate());
        EXPECT_EQ(RequestsFor(kLauncherUrl), 0u);
        EXPECT_TRUE(fp.processes.started.empty());
        EXPECT_EQ(BoxTexts(), std::vector<WString>{kLauncherFailed});
        EXPECT_FALSE(fp.files.exists(kStagedPath));
    }
}

// ---------------------------------------------------------------- client version

TEST_F(SelfUpdateTest, TooOldClientShowsTheWaitingPageAndRunsTheUninstaller) {
    fake::FakeDialog window(IDD_LAUNCHER_DIALOG);
    const Rect rect{38, 120, 968, 515};
    dlg.m_wndLoginPage.Create(window, IDC_WEBVIEW, rect);
    dlg.m_wndWaitingPage.Create(window, IDC_WEBVIEW, rect);
    dlg.m_wndWaitingPage.ShowWindow(false);
    fp.files.put(kRecordPath, Record(5, 1, 120));
    fp.http.serve(kRecordUrl, Record(5, 1, 120));
    fp.files.put(kClientVersionPath, "version:119");

    // The message comes after the page switch and before the uninstaller.
    bool pagesSwitchedAtMessage = false;
    std::size_t dialogsAtMessage = 99;
    fp.ui.onBox = [&](const fake::ShownBox& box) {
        if (box.text != kTooOld) return;
        pagesSwitchedAtMessage = dlg.m_wndWaitingPage.IsWindowVisible() &&
                                 !dlg.m_wndLoginPage.IsWindowVisible() && dlg.m_bWaitingPage == 1;
        dialogsAtMessage = fp.ui.templatesRun.size();
    };
    EXPECT_TRUE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(BoxTexts(), (std::vector<WString>{kTooOld, kUninstallQuestion}));
    EXPECT_TRUE(pagesSwitchedAtMessage);
    EXPECT_EQ(dialogsAtMessage, 0u);
    EXPECT_EQ(fp.ui.templatesRun, std::vector<int>{IDD_UNINSTALL_DIALOG});
    EXPECT_EQ(dlg.m_wndWaitingPage.view()->location(), u"http://site/micro/waiting.php");
    EXPECT_EQ(dlg.m_bWaitingPage, 1);
}

TEST_F(SelfUpdateTest, ClientVersionIsASignedNumberAfterTheMarker) {
    fp.files.put(kRecordPath, Record(5, 1, 120));
    fp.http.serve(kRecordUrl, Record(5, 1, 120));
    struct Case { Bytes file; bool tooOld; };
    const Case cases[] = {
        {"version:120", false},
        {"version:121\r\n", false},
        {"version: 119", true},         // leading blank accepted
        {"version:119x7", true},        // the number ends at the first non-digit
        {"version:-130", true},
        {"version:", true},             // no digit reads 0
        {"header\nversion:120", false}, // the marker is searched for
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        fp.ui.templatesRun.clear();
        fp.files.put(kClientVersionPath, c.file);
        EXPECT_EQ(dlg.CheckLauncherUpdate(), c.tooOld);
        EXPECT_EQ(fp.ui.templatesRun.size(), c.tooOld ? 1u : 0u);
    }
}

TEST_F(SelfUpdateTest, UnusableClientVersionFileCountsAsCurrent) {
    fp.files.put(kRecordPath, Record(5, 1, 120));
    fp.http.serve(kRecordUrl, Record(5, 1, 120));
    // UTF-16 text of "version:1": the 8-bit marker is never found.
    Bytes utf16 = "\xff\xfe";
    for (char c : Bytes("version:1")) utf16 += Bytes{c, '\0'};
    // The marker only after the first zero byte, or beyond the first 255.
    const Bytes files[] = {utf16, Bytes("x\0version:1", 11), Bytes(255, ' ') + "version:1",
                           "no marker here"};
    for (const Bytes& file : files) {
        fp.files.put(kClientVersionPath, file);
        EXPECT_FALSE(dlg.CheckLauncherUpdate());
    }
    fp.files.deleteFile(kClientVersionPath);
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_TRUE(fp.ui.boxes.empty());
    EXPECT_TRUE(fp.ui.templatesRun.empty());
}

}  // namespace
