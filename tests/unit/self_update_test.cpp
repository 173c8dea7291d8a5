#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "launcher/launcher_dlg.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "update/complete_files.h"
#include "update/update_rules.h"
#include "res/resource.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/image_files.h"

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

Bytes Background(const Bytes& tail) { return Bitmap(kWindowWidth, kWindowHeight, tail); }

std::string HexOf(const Sha256Digest& digest) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : digest) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

// The launcher's key is RFC 8032's first test key; "another key" its second.
const Bytes kSecret = "\x9d\x61\xb1\x9d\xef\xfd\x5a\x60\xba\x84\x4a\xf4\x92\xec\x2c\xc4"
                      "\x44\x49\xc5\x69\x7b\x32\x69\x19\x70\x3b\xac\x03\x1c\xae\x7f\x60";
const Bytes kOtherSecret = "\x4c\xcd\x08\x9b\x28\xff\x96\xda\x9d\xb6\xc3\x46\xec\x11\x4e\x0f"
                           "\x5b\x8a\x31\x9f\x35\xab\xa6\x24\xda\x8c\xf6\xed\x4f\xb8\xa6\xfb";

Bytes Signed(const Bytes& secret, const Bytes& file) { return *SignFile(secret, file); }

WString Bytes16(const char16_t* text) { return WString(text); }

FakeHttpAnswer Whole(const Bytes& body) {
    return FakeHttpAnswer{200, std::to_string(body.size()), body, std::nullopt, false};
}

const Bytes kNewLauncher = Launcher("new launcher");
const std::string kNewLauncherDigest = HexOf(Sha256(kNewLauncher));

std::size_t RequestsOf(FakePlatform& fp, const WString& object) {
    std::size_t n = 0;
    for (auto& r : fp.http.requests) n += r.object == object;
    return n;
}

struct SelfUpdateTest : ::testing::Test {
    FakePlatform fp;
    CLauncherDlg dlg{fp.platform, Config{u"http://site", u"http://dl", {}}};
    void SetUp() override {
        fp.files.mkdirs(u"D:\\Korvanis");
        ASSERT_TRUE(dlg.m_szInstallDir.assign(u"D:\\Korvanis"));
        fp.files.put(kBitmapPath, Background("local"));
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
        fp.http.serve(kLauncherUrl, kNewLauncher);
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
    EXPECT_EQ(fp.files.get(kBitmapPath), Background("local"));
    EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 3u);  // record, bitmap, client version
}

TEST_F(SelfUpdateTest, BitmapIsFetchedWhenMissingOrOlder) {
    // Missing: fetched although the number did not change.
    fp.files.deleteFile(kBitmapPath);
    fp.files.put(kRecordPath, Record(5, 3, 0));
    fp.http.serve(kRecordUrl, Record(5, 3, 0));
    fp.http.serve(kBitmapUrl, Background("v3"));
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(Requests(), (std::vector<WString>{kRecordUrl, kBitmapUrl}));
    EXPECT_EQ(fp.files.get(kBitmapPath), Background("v3"));

    // Present but older than the server's: fetched.
    fp.http.requests.clear();
    fp.http.serve(kRecordUrl, Record(5, 4, 0));
    fp.http.serve(kBitmapUrl, Background("v4"));
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(Requests(), (std::vector<WString>{kRecordUrl, kBitmapUrl}));
    EXPECT_EQ(fp.files.get(kBitmapPath), Background("v4"));

    // Present and newer locally: left alone.
    fp.http.requests.clear();
    fp.http.serve(kRecordUrl, Record(5, 2, 0));
    EXPECT_FALSE(dlg.CheckLauncherUpdate());
    EXPECT_EQ(Requests(), std::vector<WString>{kRecordUrl});
    EXPECT_TRUE(fp.ui.boxes.empty());

    // Present but cut or smaller than the window: it is never applied, so it
    // is fetched again although no number changed.
    for (const Bytes& broken : {Background("v4").substr(0, 200), Bitmap(16, 16, "small"), Bytes("bmp")}) {
        fp.http.requests.clear();
        fp.files.put(kBitmapPath, broken);
        fp.http.serve(kRecordUrl, Record(5, 4, 0));
        fp.http.serve(kBitmapUrl, Background("v4 again"));
        EXPECT_FALSE(dlg.CheckLauncherUpdate());
        EXPECT_EQ(Requests(), (std::vector<WString>{kRecordUrl, kBitmapUrl}));
        EXPECT_EQ(fp.files.get(kBitmapPath), Background("v4 again"));
    }
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
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
    EXPECT_EQ(Requests(), (std::vector<WString>{kRecordUrl, kLauncherUrl}));
    ASSERT_EQ(fp.processes.started.size(), 1u);
    const ProcessStart& start = fp.processes.started[0].request;
    EXPECT_EQ(start.commandLine, u"D:\\Korvanis/update.exe");
    EXPECT_EQ(start.application, u"D:\\Korvanis/update.exe");
    EXPECT_EQ(start.workingDirectory, u"D:\\Korvanis");
    EXPECT_TRUE(start.hidden);
    EXPECT_TRUE(fp.ui.boxes.empty());
    EXPECT_TRUE(fp.ui.templatesRun.empty());
    // Handed over: the stored record takes the new numbers.
    EXPECT_EQ(fp.files.get(kRecordPath), Record(5, 1, 120));
}

TEST_F(SelfUpdateTest, UpdateExeThatCannotStartKeepsThisLauncherAndTriesAgainNextTime) {
    OfferNewLauncher({});
    const Bytes stored = *fp.files.get(kRecordPath);
    fp.processes.behaviour = [](const ProcessStart&) { return std::nullopt; };
    EXPECT_EQ(RunExpectingExit(), std::nullopt);
    EXPECT_EQ(fp.processes.started.size(), 1u);
    EXPECT_EQ(BoxTexts(), std::vector<WString>{kLauncherFailed});
    // Nothing was handed over: the launcher's number is not taken, and the
    // staged copy does not stay.
    EXPECT_EQ(fp.files.get(kRecordPath), stored);
    EXPECT_FALSE(fp.files.exists(kStagedPath));
    // update.exe is back: the next start hands over.
    fp.processes.behaviour = nullptr;
    EXPECT_EQ(RunExpectingExit(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(fp.files.get(kRecordPath), Record(5, 1, 0));
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
}

TEST_F(SelfUpdateTest, OnlyAStrictlyNewerServerLauncherIsFetched) {
    fp.files.put(kRecordPath, Record(5, 1, 0));
    fp.http.serve(kRecordUrl, Record(4, 1, 0));
    fp.http.serve(kLauncherUrl, Launcher("older launcher"));
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
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
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
    fp.http.answers[kLauncherUrl] = {Whole(Launcher("damaged launch")), Whole(kNewLauncher)};
    EXPECT_EQ(RunExpectingExit(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(RequestsFor(kLauncherUrl), 2u);
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
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

// ---------------------------------------------------------------- complete files

TEST(CompleteFiles, ProgramsAreWholeImagesOfTheirOwnKind) {
    for (ProgramKind kind : {ProgramKind::WindowsGuiX64, ProgramKind::Elf}) {
        const ProgramKind other =
            kind == ProgramKind::Elf ? ProgramKind::WindowsGuiX64 : ProgramKind::Elf;
        const Bytes whole = Program(kind, Bytes(3000, 'c'));
        SCOPED_TRACE(kind == ProgramKind::Elf ? "ELF" : "PE");
        EXPECT_TRUE(IsCompleteProgram(whole, kind));
        EXPECT_TRUE(IsCompleteProgram(whole + "trailing bytes", kind));
        EXPECT_FALSE(IsCompleteProgram(whole, other));
        // Cut anywhere: in the last piece, in the middle, inside the headers.
        for (std::size_t keep : {whole.size() - 1, whole.size() / 2, std::size_t{100},
                                 std::size_t{63}, std::size_t{2}, std::size_t{0}})
            EXPECT_FALSE(IsCompleteProgram(whole.substr(0, keep), kind)) << keep;
    }
    Bytes pe = Program(ProgramKind::WindowsGuiX64, "body");
    Bytes console = pe, dll = pe, pe32 = pe, arm = pe, farSection = pe;
    Put16(console, 0x58 + 68, 3);               // console subsystem
    Put16(dll, 0x56, 0x2022);                   // a library
    Put16(pe32, 0x58, 0x10b);                   // 32-bit image
    Put16(arm, 0x44, 0xaa64);                   // ARM64
    Put32(farSection, 0x58 + 240 + 20, 0xfffffff0);  // raw data beyond the end
    for (const Bytes& b : {console, dll, pe32, arm, farSection})
        EXPECT_FALSE(IsCompleteProgram(b, ProgramKind::WindowsGuiX64));
    // An Authenticode-signed program: the certificate table lies after the
    // sections, aligned to 8 bytes, named by its file offset; cut, it is
    // not whole.
    Bytes signedPe = pe + Bytes(4, '\0') + Bytes(16, 'S');
    Put32(signedPe, 0x58 + 112 + 4 * 8, pe.size() + 4);
    Put32(signedPe, 0x58 + 112 + 4 * 8 + 4, 16);
    EXPECT_TRUE(IsCompleteProgram(signedPe, ProgramKind::WindowsGuiX64));
    EXPECT_FALSE(IsCompleteProgram(signedPe.substr(0, signedPe.size() - 1),
                                   ProgramKind::WindowsGuiX64));
    Bytes elf = Program(ProgramKind::Elf, "body");
    Bytes elf32 = elf, relocatable = elf, noLoad = elf, farSections = elf;
    elf32[4] = 1;
    Put16(relocatable, 16, 1);
    Put32(noLoad, 64, 4);  // a note, nothing to load
    Put64(farSections, 40, 1 << 20);
    Put16(farSections, 58, 64);
    Put16(farSections, 60, 3);
    for (const Bytes& b : {elf32, relocatable, noLoad, farSections})
        EXPECT_FALSE(IsCompleteProgram(b, ProgramKind::Elf));
    EXPECT_FALSE(IsCompleteProgram("new launcher", kLauncherProgramKind));
}

TEST(CompleteFiles, BitmapsAreWholeAndBackgroundsAtLeastTheWindow) {
    struct Case {
        const char* name;
        Bytes file;
        std::optional<std::pair<int, int>> size;  // nullopt: not a whole bitmap
        bool background;
    };
    const Bytes window = Bitmap(1035, 590);
    Bytes coreHeader(14 + 12 + 6, '\0');  // 2 x 1, one bit per pixel, old header
    coreHeader[0] = 'B', coreHeader[1] = 'M';
    Put32(coreHeader, 10, 32);
    Put32(coreHeader, 14, 12);
    Put16(coreHeader, 18, 2), Put16(coreHeader, 20, 1), Put16(coreHeader, 22, 1), Put16(coreHeader, 24, 1);
    coreHeader += Bytes(4, '\0');
    Bytes rle = Bitmap(1035, 590);
    Put16(rle, 28, 8), Put32(rle, 30, 1), Put32(rle, 34, 10);  // RLE8, 10 bytes of data,
    Put32(rle, 46, 2);                                         // two colours
    Bytes rleTooLong = rle;
    Put32(rleTooLong, 34, 0x7fffffff);
    Bytes rleHuge = rle, rleWidest = rle;  // a few bytes that claim a picture of gigabytes
    Put32(rleHuge, 18, 30000), Put32(rleHuge, 22, 30000);
    Put32(rleWidest, 18, 8192), Put32(rleWidest, 22, 8192);
    Bytes directWithTable = Bitmap(1, 3);  // 32 bits per pixel and a table of two colours
    Put16(directWithTable, 28, 32), Put32(directWithTable, 46, 2);
    Bytes badHeader = window, badPlanes = window, hugeWidth = window, bigPalette = window,
          offsetInPalette = window;
    Put32(badHeader, 14, 41);
    Put16(badPlanes, 26, 2);
    Put32(hugeWidth, 18, 0x7fffffff);
    Put32(bigPalette, 46, 3);      // three colours at one bit per pixel
    Put32(offsetInPalette, 10, 58);  // pixels said to start inside the colour table
    const Case cases[] = {
        {"window size", window, std::pair{1035, 590}, true},
        {"larger", Bitmap(1280, 800), std::pair{1280, 800}, true},
        {"rows top-down", Bitmap(1035, -590), std::pair{1035, 590}, true},
        {"one pixel narrower", Bitmap(1034, 590), std::pair{1034, 590}, false},
        {"one pixel lower", Bitmap(1035, 589), std::pair{1035, 589}, false},
        {"16 x 16", Bitmap(16, 16), std::pair{16, 16}, false},
        {"1 x 1", Bitmap(1, 1), std::pair{1, 1}, false},
        {"old core header", coreHeader, std::pair{2, 1}, false},
        {"compressed", rle, std::pair{1035, 590}, true},
        {"cut by one byte", window.substr(0, window.size() - 1), std::nullopt, false},
        {"cut in half", window.substr(0, window.size() / 2), std::nullopt, false},
        {"headers only", window.substr(0, 54), std::nullopt, false},
        {"compressed data beyond the end", rleTooLong, std::nullopt, false},
        {"compressed, 30000 x 30000", rleHuge, std::nullopt, false},
        {"compressed, 8192 x 8192", rleWidest, std::pair{8192, 8192}, true},
        {"direct colours with a colour table", directWithTable, std::nullopt, false},
        {"unknown header", badHeader, std::nullopt, false},
        {"two planes", badPlanes, std::nullopt, false},
        {"width beyond the data", hugeWidth, std::nullopt, false},
        {"more colours than bits", bigPalette, std::nullopt, false},
        {"pixels inside the colour table", offsetInPalette, std::nullopt, false},
        {"zero width", Bitmap(0, 590), std::nullopt, false},
        {"not a bitmap", "bitmap v3", std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto size = CompleteBitmapSize(c.file);
        EXPECT_EQ(size.has_value(), c.size.has_value());
        if (size && c.size) {
            EXPECT_EQ(size->width, c.size->first);
            EXPECT_EQ(size->height, c.size->second);
        }
        EXPECT_EQ(IsUsableBackground(c.file), c.background);
    }
}

TEST_F(SelfUpdateTest, CutOrTooSmallDownloadsNeverReplaceTheOldFiles) {
    // Each answer has a length that matches its body: only the content is wrong.
    const Bytes cutLauncher = kNewLauncher.substr(0, kNewLauncher.size() - 3);
    const Bytes cutBitmap = Background("").substr(0, 40000);
    struct Case {
        const char* name;
        const char16_t* url;
        Bytes body;
        const char16_t* message;
    };
    const Case cases[] = {
        {"cut launcher", kLauncherUrl, cutLauncher, kLauncherFailed},
        {"a page in place of the launcher", kLauncherUrl, "<html>portal</html>", kLauncherFailed},
        {"cut bitmap", kBitmapUrl, cutBitmap, kBitmapFailed},
        {"16 x 16 bitmap", kBitmapUrl, Bitmap(16, 16), kBitmapFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fp.http.requests.clear();
        fp.ui.boxes.clear();
        fp.files.put(kRecordPath, Record(4, 1, 0));
        fp.files.put(kBitmapPath, Background("old"));
        fp.http.serve(kRecordUrl, Record(c.url == kLauncherUrl ? 5 : 4, c.url == kBitmapUrl ? 2 : 1, 0));
        fp.http.answers.erase(kBitmapUrl);
        fp.http.answers.erase(kLauncherUrl);
        fp.http.answers[c.url] = {Whole(c.body)};
        fp.files.put(kClientVersionPath, "version:0");
        EXPECT_FALSE(dlg.CheckLauncherUpdate());
        EXPECT_EQ(RequestsFor(c.url), 10u);
        EXPECT_EQ(BoxTexts(), std::vector<WString>{c.message});
        EXPECT_TRUE(fp.processes.started.empty());
        EXPECT_FALSE(fp.files.exists(kStagedPath));
        EXPECT_EQ(fp.files.get(kBitmapPath), Background("old"));
        // Record, bitmap, client version: no partial or staged file is left.
        EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 3u);
    }
}

// ---------------------------------------------------------------- signed updates


TEST(UpdateRules, AFileVerifiesWhenAnyTrustedKeyVerifiesIt) {
    const Bytes key = *Ed25519PublicKeyOf(kSecret), other = *Ed25519PublicKeyOf(kOtherSecret);
    const auto third = GenerateEd25519();
    ASSERT_TRUE(third);
    const auto both = ParseKeyList(EncodeBase64(key) + " , " + EncodeBase64(other));
    ASSERT_TRUE(both);
    EXPECT_EQ(*both, (std::vector<std::string>{key, other}));
    const Bytes file = "a file";
    EXPECT_TRUE(VerifyWithAnyKey(*both, file, Signed(kSecret, file)));
    EXPECT_TRUE(VerifyWithAnyKey(*both, file, Signed(kOtherSecret, file)));
    EXPECT_FALSE(VerifyWithAnyKey(*both, file, Signed(third->secretKey, file)));
    EXPECT_FALSE(VerifyWithAnyKey(*both, file + ".", Signed(kSecret, file)));
    EXPECT_FALSE(VerifyWithAnyKey({}, file, Signed(kSecret, file)));
    EXPECT_EQ(ParseKeyList(""), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
    EXPECT_EQ(ParseKeyList(EncodeBase64(key))->size(), 1u);
    for (const Bytes& bad : {EncodeBase64(key) + ",", EncodeBase64(key) + "," + EncodeBase64("short"),
                             EncodeBase64(key).substr(1), Bytes("not base64!")})
        EXPECT_FALSE(ParseKeyList(bad)) << bad;
}

TEST_F(SelfUpdateTest, SignedUpdatesNeedAValidSignatureForEachFile) {
    enum class Fault { None, WrongKey, FlippedByte, MissingSignature, SignatureOfAnotherFile };
    const Fault faults[] = {Fault::None, Fault::WrongKey, Fault::FlippedByte,
                            Fault::MissingSignature, Fault::SignatureOfAnotherFile};
    const char16_t* const urls[] = {kRecordUrl, kBitmapUrl, kLauncherUrl};
    for (const char16_t* url : urls) {
        for (Fault fault : faults) {
            SCOPED_TRACE(::testing::Message() << toUtf8(url) << ", fault " << static_cast<int>(fault));
            FakePlatform fp;
            CLauncherDlg dlg{fp.platform, Config{u"http://site", u"http://dl", {*Ed25519PublicKeyOf(kSecret)}}};
            fp.files.mkdirs(u"D:\\Korvanis");
            ASSERT_TRUE(dlg.m_szInstallDir.assign(u"D:\\Korvanis"));
            fp.files.put(kClientVersionPath, "version:120");

            // The local state and what the server offers: a record that
            // asks for a new bitmap and, for the launcher case, a new
            // launcher (for the record case too: a forged record must not
            // start an update, nor call the client too old).
            const Bytes oldRecord = Record(4, 1, 0), oldBitmap = Background("old");
            fp.files.put(kRecordPath, oldRecord);
            fp.files.put(kBitmapPath, oldBitmap);
            const bool launcherToo = url != kBitmapUrl;
            const Bytes bitmap = Background("new");
            // A signed record names what it raises.
            const Bytes record = Record(launcherToo ? 5 : 4, url == kBitmapUrl ? 2 : 1,
                                        url == kRecordUrl ? 999 : 0,
                                        "LoginExeSha256=" + kNewLauncherDigest + "\r\nDlgBackSha256=" +
                                            HexOf(Sha256(bitmap)) + "\r\n");
            std::map<WString, Bytes> files{{kRecordUrl, record}, {kBitmapUrl, bitmap},
                                           {kLauncherUrl, kNewLauncher}};
            for (const auto& [path, body] : files) {
                fp.http.serve(path, body);
                fp.http.serve(path + u".sig", Signed(kSecret, body));
            }
            // The file under test gets the fault.
            const Bytes& body = files[url];
            switch (fault) {
                case Fault::None: break;
                case Fault::WrongKey: fp.http.serve(WString(url) + u".sig", Signed(kOtherSecret, body)); break;
                case Fault::FlippedByte: {
                    Bytes flipped = body;
                    flipped[flipped.size() - 1] ^= 0x01;  // still a whole file of its kind
                    fp.http.serve(url, flipped);
                    break;
                }
                case Fault::MissingSignature: fp.http.answers[WString(url) + u".sig"] = {FakeHttpAnswer{404, "0", "", std::nullopt, false}}; break;
                case Fault::SignatureOfAnotherFile:
                    fp.http.serve(WString(url) + u".sig",
                                  Signed(kSecret, url == kRecordUrl ? bitmap : record));
                    break;
            }

            std::optional<std::uint32_t> exitCode;
            bool result = false;
            try {
                result = dlg.CheckLauncherUpdate();
            } catch (const kvn::fake::ProcessExit& e) {
                exitCode = e.code;
            }
            std::size_t fetches = 0, signatureFetches = 0;
            for (auto& r : fp.http.requests) {
                fetches += r.object == url;
                signatureFetches += r.object == WString(url) + u".sig";
            }
            const bool good = fault == Fault::None;
            EXPECT_EQ(fetches, good ? 1u : 10u);
            EXPECT_EQ(signatureFetches, good ? 1u : 10u);
            EXPECT_FALSE(result);
            if (url == kRecordUrl) {
                EXPECT_EQ(fp.files.get(kRecordPath), good ? record : oldRecord);
                if (!good) {
                    EXPECT_EQ(fp.ui.boxes.size(), 1u);
                    EXPECT_EQ(fp.ui.boxes[0].text, kRecordFailed);
                    EXPECT_EQ(RequestsOf(fp, kLauncherUrl), 0u);
                }
            }
            if (url == kBitmapUrl) {
                EXPECT_EQ(fp.files.get(kBitmapPath), good ? bitmap : oldBitmap);
                EXPECT_EQ(fp.ui.boxes.size(), good ? 0u : 1u);
                if (!good) {
                    EXPECT_EQ(fp.ui.boxes[0].text, kBitmapFailed);
                }
            }
            if (launcherToo) {
                // A good record (or a good launcher) hands over; a bad record
                // never gets as far as the launcher, a bad launcher is refused.
                EXPECT_EQ(exitCode.has_value(), good);
                EXPECT_EQ(fp.files.get(kStagedPath),
                          good ? std::optional<Bytes>(kNewLauncher) : std::nullopt);
                if (url == kLauncherUrl && !good) {
                    EXPECT_EQ(fp.ui.boxes.size(), 1u);
                    EXPECT_EQ(fp.ui.boxes[0].text, kLauncherFailed);
                }
            }
            EXPECT_EQ(fp.processes.started.size(), exitCode ? 1u : 0u);
            EXPECT_TRUE(fp.ui.templatesRun.empty());  // never told to uninstall
            // Nothing staged or fetched is left beside the files.
            for (const WString& f : fp.files.filesUnder(u"D:\\Korvanis"))
                EXPECT_TRUE(f.find(u".sig") == WString::npos && f.find(u".new") == WString::npos)
                    << toUtf8(f);
        }
    }
}

// ---------------------------------------------------------------- the trust rules of a signed build

struct SignedSelfUpdateTest : ::testing::Test {
    FakePlatform fp;
    CLauncherDlg dlg{fp.platform, Config{u"http://site", u"http://dl", {*Ed25519PublicKeyOf(kSecret)}}};
    const Bytes newBitmap = Background("new");
    void SetUp() override {
        fp.files.mkdirs(u"D:\\Korvanis");
        ASSERT_TRUE(dlg.m_szInstallDir.assign(u"D:\\Korvanis"));
        fp.files.put(kRecordPath, SelfUpdateTest::Record(4, 1, 100));
        fp.files.put(kBitmapPath, Background("local"));
        fp.files.put(kClientVersionPath, "version:100");
        Serve(kLauncherUrl, kNewLauncher);
        Serve(kBitmapUrl, newBitmap);
    }
    // A file and its signature by the build's key.
    void Serve(const WString& url, const Bytes& body) {
        fp.http.serve(url, body);
        fp.http.serve(url + u".sig", Signed(kSecret, body));
    }
    static Bytes Names(const Bytes& launcher) {
        return "LoginExeSha256=" + HexOf(Sha256(launcher)) + "\r\nLoginExeSize=" +
               std::to_string(launcher.size()) + "\r\n";
    }
    Bytes NamesBitmap(const Bytes& bitmap) const {
        return "DlgBackSha256=" + HexOf(Sha256(bitmap)) + "\r\nDlgBackSize=" +
               std::to_string(bitmap.size()) + "\r\n";
    }
    std::map<WString, Bytes> InstallFolder() {
        std::map<WString, Bytes> out;
        for (const WString& f : fp.files.filesUnder(u"D:\\Korvanis")) out[f] = *fp.files.get(f);
        return out;
    }
    std::vector<WString> BoxTexts() {
        std::vector<WString> out;
        for (auto& b : fp.ui.boxes) out.push_back(b.text);
        return out;
    }
    std::optional<std::uint32_t> Run() {
        try {
            dlg.CheckLauncherUpdate();
        } catch (const kvn::fake::ProcessExit& e) {
            return e.code;
        }
        return std::nullopt;
    }
};

TEST_F(SignedSelfUpdateTest, EachRuleRefusesWhatBreaksItAndLeavesTheStoredFilesAsTheyWere) {
    const Bytes foreign = Launcher("a foreign program, signed with the build's key");
    const Bytes bigComment = "; " + Bytes(kMaxRecordBytes, 'p') + "\r\n";
    const Bytes record5 = SelfUpdateTest::Record(5, 1, 100, Names(kNewLauncher));
    struct Case {
        const char* name;
        std::function<void(SignedSelfUpdateTest&)> serve;
        std::vector<WString> boxes;
        const char16_t* refused;          // the file refused, fetched ten times (or never)
        std::size_t fetches;
        std::uint64_t mostBodyBytes;      // of the refused file, all attempts together
    };
    const Case cases[] = {
        {"the launcher number rises, no digest, a signed foreign program",
         [&](auto& t) { t.Serve(kRecordUrl, SelfUpdateTest::Record(5, 1, 100)); t.Serve(kLauncherUrl, foreign); },
         {kLauncherFailed}, kLauncherUrl, 0, 0},
        {"the digest names another program",
         [&](auto& t) { t.Serve(kRecordUrl, SelfUpdateTest::Record(5, 1, 100, "LoginExeSha256=" + kNewLauncherDigest + "\r\n")); t.Serve(kLauncherUrl, foreign); },
         {kLauncherFailed}, kLauncherUrl, 10, 10 * foreign.size()},
        {"a launcher longer than LoginExeSize: refused before its body",
         [&](auto& t) { t.Serve(kRecordUrl, record5); t.Serve(kLauncherUrl, kNewLauncher + "tail"); },
         {kLauncherFailed}, kLauncherUrl, 10, 0},
        {"a launcher running past LoginExeSize under a short length: cut off",
         [&](auto& t) {
             t.Serve(kRecordUrl, record5);
             t.fp.http.answers[kLauncherUrl] = {FakeHttpAnswer{200, std::to_string(kNewLauncher.size()), kNewLauncher + Bytes(100000, 'x'), std::nullopt, false}};
         },
         {kLauncherFailed}, kLauncherUrl, 10, 10 * (kNewLauncher.size() + 1024)},
        {"the background number rises, no digest",
         [&](auto& t) { t.Serve(kRecordUrl, SelfUpdateTest::Record(4, 2, 100)); },
         {kBitmapFailed}, kBitmapUrl, 0, 0},
        {"the background digest names another bitmap",
         [&](auto& t) { t.Serve(kRecordUrl, SelfUpdateTest::Record(4, 2, 100, t.NamesBitmap(Background("other")))); },
         {kBitmapFailed}, kBitmapUrl, 10, 10 * newBitmap.size()},
        {"a background beyond its ceiling, with an honest length",
         [&](auto& t) {
             t.Serve(kRecordUrl, SelfUpdateTest::Record(4, 2, 100, "DlgBackSha256=" + HexOf(Sha256(t.newBitmap)) + "\r\n"));
             t.fp.http.answers[kBitmapUrl] = {FakeHttpAnswer{200, std::to_string(kMaxBitmapFileBytes + 1ull), "BM", std::nullopt, false}};
         },
         {kBitmapFailed}, kBitmapUrl, 10, 0},
        {"rolled back: a lower launcher number",
         [&](auto& t) { t.Serve(kRecordUrl, SelfUpdateTest::Record(3, 1, 100)); },
         {kRecordFailed}, kRecordUrl, 10, 10 * SelfUpdateTest::Record(3, 1, 100).size()},
        {"rolled back: a lower background number",
         [&](auto& t) { t.Serve(kRecordUrl, SelfUpdateTest::Record(4, 0, 100)); },
         {kRecordFailed}, kRecordUrl, 10, 10 * SelfUpdateTest::Record(4, 0, 100).size()},
        {"rolled back: lower launcher and background numbers, VersionNumber lowered too",
         [&](auto& t) { t.Serve(kRecordUrl, SelfUpdateTest::Record(3, 0, 0)); },
         {kRecordFailed}, kRecordUrl, 10, 10 * SelfUpdateTest::Record(3, 0, 0).size()},
        {"expired by the player's clock",
         [&](auto& t) { t.Serve(kRecordUrl, record5 + "Expires=2026-06-01T11:59:59Z\r\n"); },
         {kRecordFailed}, kRecordUrl, 10, 10 * (record5.size() + 32)},
        {"an expiry that is not a UTC time",
         [&](auto& t) { t.Serve(kRecordUrl, record5 + "Expires=2026-06-02\r\n"); },
         {kRecordFailed}, kRecordUrl, 10, 10 * (record5.size() + 20)},
        {"a record over 64 KiB with an honest length: refused before its body",
         [&](auto& t) { t.Serve(kRecordUrl, record5 + bigComment); },
         {kRecordFailed}, kRecordUrl, 10, 0},
        {"a record over 64 KiB without a length: cut off",
         [&](auto& t) { t.fp.http.answers[kRecordUrl] = {FakeHttpAnswer{200, std::nullopt, record5 + bigComment, std::nullopt, false}}; },
         {kRecordFailed}, kRecordUrl, 10, 10 * 1024},
        {"a record running past its length: cut off",
         [&](auto& t) { t.fp.http.answers[kRecordUrl] = {FakeHttpAnswer{200, "100", record5 + bigComment, std::nullopt, false}}; },
         {kRecordFailed}, kRecordUrl, 10, 10 * 1024},
        {"a signature of 65 bytes",
         [&](auto& t) { t.fp.http.serve(kRecordUrl, record5); t.fp.http.serve(Bytes16(kRecordUrl) + u".sig", Signed(kSecret, record5) + "x"); },
         {kRecordFailed}, kRecordUrl, 10, 10 * record5.size()},
        {"a 100 MB signature with an honest length: refused before its body",
         [&](auto& t) {
             t.fp.http.serve(kRecordUrl, record5);
             t.fp.http.answers[Bytes16(kRecordUrl) + u".sig"] = {FakeHttpAnswer{200, "104857600", Signed(kSecret, record5), std::nullopt, false}};
         },
         {kRecordFailed}, kRecordUrl, 10, 10 * record5.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fp.http.answers.clear();
        fp.http.requests.clear();
        fp.http.bodyBytesSent.clear();
        fp.ui.boxes.clear();
        fp.processes.started.clear();
        SetUp();
        c.serve(*this);
        const auto before = InstallFolder();
        EXPECT_EQ(Run(), std::nullopt);
        EXPECT_EQ(InstallFolder(), before);  // byte for byte, nothing added
        EXPECT_EQ(BoxTexts(), c.boxes);
        EXPECT_TRUE(fp.processes.started.empty());
        std::size_t fetches = 0;
        for (auto& r : fp.http.requests) fetches += r.object == c.refused;
        EXPECT_EQ(fetches, c.fetches);
        EXPECT_LE(fp.http.bodyBytesSent[c.refused], c.mostBodyBytes);
    }
}

TEST_F(SignedSelfUpdateTest, NumbersAreTakenOnlyWithTheirFilesInPlace) {
    // The record raises all three numbers; the bitmap cannot be had and the
    // launcher's download fails.
    fp.files.put(kClientVersionPath, "version:101");
    const Bytes record = SelfUpdateTest::Record(5, 2, 101, Names(kNewLauncher) + NamesBitmap(newBitmap));
    Serve(kRecordUrl, record);
    fp.http.answers[kBitmapUrl] = {FakeHttpAnswer{404, "0", "", std::nullopt, false}};
    fp.http.answers[kLauncherUrl] = {FakeHttpAnswer{200, "99", "cut", std::nullopt, false}};
    EXPECT_EQ(Run(), std::nullopt);
    EXPECT_EQ(BoxTexts(), (std::vector<WString>{kBitmapFailed, kLauncherFailed}));
    // Only the number whose file needs nothing is taken.
    const VersionRecord stored = ParseVersionRecord(*fp.files.get(kRecordPath));
    EXPECT_EQ(stored.launcher, 4);
    EXPECT_EQ(stored.background, 1);
    EXPECT_EQ(stored.required, 101);
    EXPECT_EQ(fp.files.get(kBitmapPath), Background("local"));
    EXPECT_FALSE(fp.files.exists(kStagedPath));

    // The next start tries both again; now the bitmap arrives, the launcher
    // still does not.
    fp.ui.boxes.clear();
    Serve(kBitmapUrl, newBitmap);
    EXPECT_EQ(Run(), std::nullopt);
    EXPECT_EQ(BoxTexts(), std::vector<WString>{kLauncherFailed});
    EXPECT_EQ(fp.files.get(kBitmapPath), newBitmap);
    EXPECT_EQ(ParseVersionRecord(*fp.files.get(kRecordPath)).background, 2);
    EXPECT_EQ(ParseVersionRecord(*fp.files.get(kRecordPath)).launcher, 4);

    // And the start after that hands the launcher over and takes its number.
    fp.ui.boxes.clear();
    Serve(kLauncherUrl, kNewLauncher);
    EXPECT_EQ(Run(), std::optional<std::uint32_t>(0));
    EXPECT_TRUE(fp.ui.boxes.empty());
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
    EXPECT_EQ(fp.files.get(kRecordPath), record);
    EXPECT_EQ(fp.processes.started.size(), 1u);
}

TEST_F(SignedSelfUpdateTest, ASelfUpdateCutShortAnywhereIsFinishedByLaterStarts) {
    const Bytes record = SelfUpdateTest::Record(5, 2, 100, Names(kNewLauncher) + NamesBitmap(newBitmap));
    struct Killed {};
    // Every request of a whole self-update, and the start of update.exe.
    Serve(kRecordUrl, record);
    const std::size_t requestsOfAWholeUpdate = 6;  // three files, three signatures
    for (std::size_t killAt = 1; killAt <= requestsOfAWholeUpdate + 1; ++killAt) {
        SCOPED_TRACE(::testing::Message() << "killed at step " << killAt);
        fp.files.put(kRecordPath, SelfUpdateTest::Record(4, 1, 100));
        fp.files.put(kBitmapPath, Background("local"));
        fp.files.deleteFile(kStagedPath);
        fp.processes.started.clear();
        fp.ui.boxes.clear();
        std::atomic<std::size_t> step = 0;  // a signature comes on a thread of its own
        fp.http.beforeAnswer = [&](const HttpTarget&) {
            if (++step == killAt) throw Killed{};
        };
        fp.processes.behaviour = [&](const ProcessStart&) -> std::optional<std::uint32_t> {
            if (++step == killAt) throw Killed{};
            return 0;
        };
        EXPECT_THROW(Run(), Killed);
        fp.http.beforeAnswer = nullptr;
        fp.processes.behaviour = nullptr;

        // Later starts: each either carries on or hands over; within three
        // the new launcher is handed over, every file in place, no message.
        std::optional<std::uint32_t> exit;
        int starts = 0;
        while (!exit && starts < 3) {
            exit = Run();
            ++starts;
        }
        EXPECT_EQ(exit, std::optional<std::uint32_t>(0));
        EXPECT_TRUE(fp.ui.boxes.empty());
        EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
        EXPECT_EQ(fp.files.get(kBitmapPath), newBitmap);
        EXPECT_EQ(fp.files.get(kRecordPath), record);
        // Only the staged launcher is left beside the files.
        EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 4u);
    }
}

TEST_F(SignedSelfUpdateTest, EachFileAndItsSignatureAreFetchedAtTheSameTime) {
    // Each file's answer waits until its signature has been asked for: one
    // fetched after the other would never see it (the wait is bounded, so a
    // fault fails rather than hangs).
    const Bytes record = SelfUpdateTest::Record(5, 2, 100, Names(kNewLauncher) + NamesBitmap(newBitmap));
    Serve(kRecordUrl, record);
    std::mutex mutex;
    std::condition_variable arrived;
    std::set<WString> asked;
    std::vector<WString> overlapped, alone;
    fp.http.beforeAnswer = [&](const HttpTarget& t) {
        std::unique_lock lock(mutex);
        asked.insert(t.object);
        arrived.notify_all();
        if (t.object.ends_with(u".sig")) return;
        const WString signature = t.object + u".sig";
        const bool both = arrived.wait_for(lock, std::chrono::seconds(10),
                                           [&] { return asked.count(signature) > 0; });
        (both ? overlapped : alone).push_back(t.object);
    };
    EXPECT_EQ(Run(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(overlapped, (std::vector<WString>{kRecordUrl, kBitmapUrl, kLauncherUrl}));
    EXPECT_TRUE(alone.empty());
    // The checks are the same: all three taken, nothing left beside them.
    EXPECT_EQ(fp.files.get(kRecordPath), record);
    EXPECT_EQ(fp.files.get(kBitmapPath), newBitmap);
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
    EXPECT_TRUE(fp.ui.boxes.empty());
    EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 4u);
}

TEST_F(SignedSelfUpdateTest, AHandOverThatDidNotFinishIsTriedAgainWithoutKeepingThePlayerOut) {
    const Bytes record = SelfUpdateTest::Record(5, 1, 100, Names(kNewLauncher));
    Serve(kRecordUrl, record);
    EXPECT_EQ(Run(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(fp.files.get(kRecordPath), record);
    // update.exe failed: TmpLogin.exe is still there at the next start,
    // which removes it, carries on with this launcher and leaves the
    // launcher's number below the record's...
    EXPECT_EQ(Run(), std::nullopt);
    EXPECT_FALSE(fp.files.exists(kStagedPath));
    EXPECT_TRUE(fp.ui.boxes.empty());
    EXPECT_EQ(ParseVersionRecord(*fp.files.get(kRecordPath)).launcher, 4);
    // ...so that the start after that hands over again.
    EXPECT_EQ(Run(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
    EXPECT_EQ(fp.processes.started.size(), 2u);
    EXPECT_EQ(fp.files.get(kRecordPath), record);
}

TEST_F(SignedSelfUpdateTest, WithoutAKeyARecordNeedNotNameItsLauncherNorKeepItsNumbers) {
    CLauncherDlg unsignedDlg{fp.platform, Config{u"http://site", u"http://dl", {}}};
    ASSERT_TRUE(unsignedDlg.m_szInstallDir.assign(u"D:\\Korvanis"));
    // An expired record with a lower VersionNumber, naming no digest.
    const Bytes record = SelfUpdateTest::Record(5, 1, 50, "Expires=2001-01-01T00:00:00Z\r\n");
    fp.http.serve(kRecordUrl, record);
    try {
        unsignedDlg.CheckLauncherUpdate();
        ADD_FAILURE() << "not handed over";
    } catch (const kvn::fake::ProcessExit& e) {
        EXPECT_EQ(e.code, 0u);
    }
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
    EXPECT_EQ(fp.files.get(kRecordPath), record);
}

TEST_F(SignedSelfUpdateTest, AVersionNumberRaisedByMistakeIsWithdrawnByTheNextSignedRecord) {
    // The stored record asks for client 120; the player's client is 100, so
    // this start would send them through the uninstall. The operator
    // publishes the record again with VersionNumber back at 100.
    fake::FakeDialog window(IDD_LAUNCHER_DIALOG);
    const Rect rect{38, 120, 968, 515};
    dlg.m_wndLoginPage.Create(window, IDC_WEBVIEW, rect);
    dlg.m_wndWaitingPage.Create(window, IDC_WEBVIEW, rect);
    fp.files.put(kRecordPath, SelfUpdateTest::Record(4, 1, 120));
    const Bytes withdrawn = SelfUpdateTest::Record(4, 1, 100);
    Serve(kRecordUrl, withdrawn);
    EXPECT_EQ(Run(), std::nullopt);
    EXPECT_FALSE(dlg.CheckLauncherUpdate());  // and the next start agrees
    EXPECT_TRUE(fp.ui.boxes.empty());
    EXPECT_TRUE(fp.ui.templatesRun.empty());  // never told to uninstall
    EXPECT_EQ(fp.files.get(kRecordPath), withdrawn);

    // Lowering VersionNumber does not carry a lower file number with it:
    // such a record is refused whole, the stored one stays.
    fp.files.put(kRecordPath, SelfUpdateTest::Record(4, 1, 100));
    for (const Bytes& rolledBack : {SelfUpdateTest::Record(3, 1, 50), SelfUpdateTest::Record(4, 0, 50)}) {
        SCOPED_TRACE(rolledBack);
        fp.ui.boxes.clear();
        Serve(kRecordUrl, rolledBack);
        EXPECT_EQ(Run(), std::nullopt);
        EXPECT_EQ(BoxTexts(), std::vector<WString>{kRecordFailed});
        EXPECT_EQ(fp.files.get(kRecordPath), SelfUpdateTest::Record(4, 1, 100));
    }
}

TEST_F(SignedSelfUpdateTest, ABuildThatTrustsTwoKeysTakesFilesSignedWithEither) {
    CLauncherDlg rotating{fp.platform, Config{u"http://site", u"http://dl",
                                              {*Ed25519PublicKeyOf(kOtherSecret), *Ed25519PublicKeyOf(kSecret)}}};
    ASSERT_TRUE(rotating.m_szInstallDir.assign(u"D:\\Korvanis"));
    const Bytes record = SelfUpdateTest::Record(5, 1, 100, Names(kNewLauncher));
    fp.http.serve(kRecordUrl, record);
    fp.http.serve(Bytes16(kRecordUrl) + u".sig", Signed(kOtherSecret, record));  // the new key
    // the launcher stays signed with the old one
    try {
        rotating.CheckLauncherUpdate();
        ADD_FAILURE() << "not handed over";
    } catch (const kvn::fake::ProcessExit& e) {
        EXPECT_EQ(e.code, 0u);
    }
    EXPECT_EQ(fp.files.get(kStagedPath), kNewLauncher);
    EXPECT_TRUE(fp.ui.boxes.empty());
}

// ---------------------------------------------------------------- the rules of a record

TEST(UpdateRules, RecordKeysReadAsTheProfileFunctionsReadThem) {
    const Bytes digest = HexOf(Sha256("launcher"));
    const VersionRecord r = ParseVersionRecord(
        "[Other]\r\nLoginExeVersionNumber=77\r\n"
        "[ versioninfo ]\r\n loginexeversionnumber = 12x\r\nLoginExeVersionNumber=13\r\n"
        "DlgBackVersionNumber=-4\r\nVersionNumber=99999999999\r\n"
        "LoginExeSha256=" + digest + "\r\nLoginExeSize=4096\r\n"
        "DlgBackSha256=abc\r\nDlgBackSize=12 \r\nExpires=2030-01-02T03:04:05Z");  // no line end
    EXPECT_EQ(r.launcher, 12);  // first line of the key, read as strtol reads it
    EXPECT_EQ(r.background, -4);
    EXPECT_EQ(r.required, 2147483647);
    EXPECT_TRUE(r.launcherSha256.valid());
    EXPECT_EQ(r.launcherSha256.value, Sha256("launcher"));
    EXPECT_EQ(r.launcherSize.state, FieldState::Valid);
    EXPECT_EQ(r.launcherSize.value, 4096u);
    EXPECT_EQ(r.backgroundSha256.state, FieldState::Malformed);
    EXPECT_EQ(r.backgroundSize.value, 12u);
    EXPECT_EQ(r.expires.value, ParseUtcTime("2030-01-02T03:04:05Z").value());
    const VersionRecord empty = ParseVersionRecord("LoginExeVersionNumber=5\r\n\xff\xfe");
    EXPECT_EQ(empty.launcher, 0);
    EXPECT_EQ(empty.expires.state, FieldState::Absent);
    EXPECT_EQ(empty.launcherSha256.state, FieldState::Absent);
}

TEST(UpdateRules, DigestsSizesAndTimesHaveOneFormEach) {
    EXPECT_TRUE(ParseSha256Hex(Bytes(64, 'A')));
    EXPECT_EQ(Sha256Hex(*ParseSha256Hex(HexOf(Sha256("x")))), HexOf(Sha256("x")));
    for (const Bytes& bad : {Bytes(63, 'a'), Bytes(65, 'a'), "g" + Bytes(63, 'a'), Bytes(" ") + Bytes(63, 'a')})
        EXPECT_FALSE(ParseSha256Hex(bad)) << bad;

    EXPECT_EQ(ParseByteCount("0"), std::optional<std::uint32_t>(0));
    EXPECT_EQ(ParseByteCount("2147483647"), std::optional<std::uint32_t>(2147483647u));
    for (const char* bad : {"2147483648", "99999999999", "", "+5", "-5", " 5", "5k", "0x10"})
        EXPECT_FALSE(ParseByteCount(bad)) << bad;

    EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:00Z"), std::optional<std::int64_t>(0));
    EXPECT_EQ(ParseUtcTime("2000-01-01T00:00:00Z"), std::optional<std::int64_t>(946684800));
    EXPECT_EQ(ParseUtcTime("2028-02-29T23:59:59Z"), std::optional<std::int64_t>(1835481599));
    for (const char* bad : {"2027-02-29T00:00:00Z", "2100-02-29T00:00:00Z", "2026-04-31T00:00:00Z",
                            "2026-13-01T00:00:00Z", "2026-00-10T00:00:00Z", "2026-01-01T24:00:00Z",
                            "2026-01-01T00:60:00Z", "2026-01-01T00:00:60Z", "1969-12-31T23:59:59Z",
                            "2026-01-01T00:00:00", "2026-01-01 00:00:00Z", "2026-01-01t00:00:00z",
                            "2026-1-01T00:00:00Z", "+026-01-01T00:00:00Z", "2026-01-01T00:00:00+08:00"})
        EXPECT_FALSE(ParseUtcTime(bad)) << bad;
    for (std::int64_t t : {std::int64_t{0}, std::int64_t{951782400}, std::int64_t{1835481599},
                           std::int64_t{4102444800}, std::int64_t{253402300799}})
        EXPECT_EQ(ParseUtcTime(FormatUtcTime(t)), std::optional<std::int64_t>(t)) << FormatUtcTime(t);
    EXPECT_EQ(FormatUtcTime(951782400), "2000-02-29T00:00:00Z");
}

TEST(UpdateRules, WithAKeyFileNumbersNeverGoDownAndExpiredRecordsAreRefused) {
    const std::int64_t now = *ParseUtcTime("2026-06-01T12:00:00Z");
    auto rec = [](int l, int b, int v, const char* expires = nullptr) {
        VersionRecord r;
        r.launcher = l, r.background = b, r.required = v;
        if (expires) {
            const auto t = ParseUtcTime(expires);
            r.expires.state = t ? FieldState::Valid : FieldState::Malformed;
            r.expires.value = t.value_or(0);
        }
        return r;
    };
    const VersionRecord stored = rec(5, 3, 120);
    struct Case { VersionRecord fresh; RecordFault fault; };
    const Case cases[] = {
        {rec(5, 3, 120), RecordFault::None},
        {rec(6, 4, 121), RecordFault::None},
        {rec(4, 9, 999), RecordFault::LowerLauncher},
        {rec(9, 2, 999), RecordFault::LowerBackground},
        {rec(4, 3, 120), RecordFault::LowerLauncher},
        // VersionNumber is a gate of compatibility, not of trust: it may go
        // down, so that a rise made by mistake can be withdrawn.
        {rec(5, 3, 119), RecordFault::None},
        {rec(5, 3, -1), RecordFault::None},
        {rec(5, 3, 120, "2026-06-01T12:00:01Z"), RecordFault::None},
        {rec(5, 3, 120, "2026-06-01T12:00:00Z"), RecordFault::Expired},
        {rec(5, 3, 120, "2020-01-01T00:00:00Z"), RecordFault::Expired},
        {rec(5, 3, 120, "next week"), RecordFault::BadExpiry},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Describe(c.fault));
        EXPECT_EQ(CheckRecord(c.fresh, stored, true, now), c.fault);
        // Without a key every record is taken, as before.
        EXPECT_EQ(CheckRecord(c.fresh, stored, false, now), RecordFault::None);
    }
}

TEST(UpdateRules, AFileIsTakenOnlyAsTheRecordNamesIt) {
    const Bytes launcher = Launcher("the launcher");
    VersionRecord named;
    named.launcherSha256 = {FieldState::Valid, Sha256(launcher)};
    named.launcherSize = {FieldState::Valid, static_cast<std::uint32_t>(launcher.size())};
    VersionRecord bare;
    VersionRecord malformed = named;
    malformed.launcherSha256.state = FieldState::Malformed;
    VersionRecord badSize = named;
    badSize.launcherSize.state = FieldState::Malformed;
    VersionRecord tooSmall = named;
    tooSmall.launcherSize.value = static_cast<std::uint32_t>(launcher.size() - 1);

    struct Case { const char* name; VersionRecord record; bool signedBuild; Bytes file; FileFault fault; std::uint32_t ceiling; };
    const Case cases[] = {
        {"named, signed", named, true, launcher, FileFault::None, static_cast<std::uint32_t>(launcher.size())},
        {"named, unsigned", named, false, launcher, FileFault::None, static_cast<std::uint32_t>(launcher.size())},
        {"no digest, signed", bare, true, launcher, FileFault::NoDigest, kMaxLauncherBytes},
        {"no digest, unsigned", bare, false, launcher, FileFault::None, kMaxLauncherBytes},
        {"malformed digest", malformed, false, launcher, FileFault::BadDigestField, static_cast<std::uint32_t>(launcher.size())},
        {"malformed size", badSize, true, launcher, FileFault::BadSizeField, kMaxLauncherBytes},
        {"another program", named, true, Launcher("the launcheR"), FileFault::WrongDigest, static_cast<std::uint32_t>(launcher.size())},
        {"longer", named, true, launcher + "x", FileFault::TooLarge, static_cast<std::uint32_t>(launcher.size())},
        {"size one short", tooSmall, true, launcher, FileFault::TooLarge, tooSmall.launcherSize.value},
        {"shorter", named, true, launcher.substr(1), FileFault::WrongSize, static_cast<std::uint32_t>(launcher.size())},
        {"not a program", bare, false, "MZ page", FileFault::Incomplete, kMaxLauncherBytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FileDemand demand = LauncherDemand(c.record, c.signedBuild);
        EXPECT_EQ(demand.ceiling, c.ceiling);
        EXPECT_EQ(CheckLauncherFile(c.file, demand), c.fault) << Describe(CheckLauncherFile(c.file, demand));
    }

    // The background needs a digest only when its number rises; a size
    // beyond the bitmap's own ceiling is refused outright.
    const Bytes bitmap = Background("b");
    VersionRecord back;
    EXPECT_EQ(CheckBackgroundFile(bitmap, BackgroundDemand(back, true, true)), FileFault::NoDigest);
    EXPECT_EQ(CheckBackgroundFile(bitmap, BackgroundDemand(back, true, false)), FileFault::None);
    EXPECT_EQ(BackgroundDemand(back, true, false).ceiling, kMaxBitmapFileBytes);
    back.backgroundSha256 = {FieldState::Valid, Sha256(bitmap)};
    EXPECT_EQ(CheckBackgroundFile(bitmap, BackgroundDemand(back, true, true)), FileFault::None);
    EXPECT_EQ(CheckBackgroundFile(Background("c"), BackgroundDemand(back, true, false)), FileFault::WrongDigest);
    EXPECT_EQ(CheckBackgroundFile(Bitmap(16, 16), BackgroundDemand(VersionRecord{}, false, true)), FileFault::Incomplete);
    back.backgroundSize = {FieldState::Valid, kLargestByteCount};
    EXPECT_EQ(BackgroundDemand(back, true, true).fault, FileFault::TooLarge);
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
