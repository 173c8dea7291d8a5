// The Windows services on the real system (under Wine): files, profile
// files, registry, processes, drives, the mutex, shell links written by the
// launcher's own shortcut code, WinINet talking to the local stand-in
// server that with_server.sh runs beside this program, and the resources of
// the built Login.exe as the system reads them.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <ole2.h>

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "install/shortcuts.h"
#include "platform/text.h"
#include "platform/win32/services.h"
#include "platform/win32/ui_win32.h"
#include "platform/win32/wide.h"
#include "update/download.h"

namespace kvn::win32 {
namespace {

WString Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? fromUtf8(v) : WString();
}

// A fresh folder under the temporary folder, removed with its files.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        static int counter = 0;
        path_ = U(temp) + u"kvn-游戏-" + fromUtf8(std::to_string(GetCurrentProcessId())) + u"-" +
                fromUtf8(std::to_string(++counter));
        CreateDirectoryW(W(path_), nullptr);
    }
    ~ScratchFolder() { removeTree(path_); }
    const WString& path() const { return path_; }
    WString operator/(const WString& name) const { return path_ + u"\\" + name; }

private:
    static void removeTree(const WString& dir) {
        WIN32_FIND_DATAW d;
        HANDLE h = FindFirstFileW(W(dir + u"\\*"), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                WString name = U(d.cFileName);
                if (name == u"." || name == u"..") continue;
                WString full = dir + u"\\" + name;
                if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(full);
                else DeleteFileW(W(full));
            } while (FindNextFileW(h, &d));
            FindClose(h);
        }
        RemoveDirectoryW(W(dir));
    }
    WString path_;
};

struct Services : ::testing::Test {
    Win32Services services;
    Win32Ui ui;
    Platform platform = services.platform(ui);
    ScratchFolder dir;
    FileSystem& files = services.files();
};

// ---------------------------------------------------------------- files

TEST_F(Services, FilesAndFoldersWithChineseNamesAndMixedSeparators) {
    using Kind = FileSystem::Kind;
    const WString game = dir / u"游戏";
    EXPECT_FALSE(files.createDirectory(game + u"\\a\\b")) << "creates one level only";
    ASSERT_TRUE(files.createDirectory(game));
    EXPECT_FALSE(files.createDirectory(game)) << "an existing folder is not made again";
    EXPECT_EQ(files.find(game), Kind::Directory);
    // A doubled, mixed separator is an ordinary path.
    const WString file = game + u"\\/登录.txt";
    ASSERT_TRUE(files.writeFile(file, "玩家"));
    EXPECT_EQ(files.find(game + u"\\登录.txt"), Kind::File);
    EXPECT_EQ(files.readFile(file, 100), Bytes("玩家"));
    EXPECT_EQ(files.find(dir / u"none"), Kind::None);

    ASSERT_TRUE(files.copyFile(file, game + u"\\copy.txt"));
    ASSERT_TRUE(files.writeFile(game + u"\\other.txt", "other"));
    ASSERT_TRUE(files.copyFile(game + u"\\other.txt", game + u"\\copy.txt")) << "replaces";
    EXPECT_EQ(files.readFile(game + u"\\copy.txt", 100), Bytes("other"));

    auto entries = files.listDirectory(game);
    ASSERT_TRUE(entries);
    EXPECT_EQ(entries->size(), 3u);
    EXPECT_FALSE(files.listDirectory(dir / u"none"));
    EXPECT_FALSE(files.removeDirectory(game)) << "not empty";
    for (auto& e : *entries) EXPECT_TRUE(files.deleteFile(game + u"\\" + e.name));
    EXPECT_TRUE(files.removeDirectory(game));
}

TEST_F(Services, ReadingRefusesLargeFilesReadsHeadsAndReadsThrough) {
    const WString file = dir / u"big.bin";
    ASSERT_TRUE(files.writeFile(file, Bytes(5000, 'x')));
    EXPECT_FALSE(files.readFile(file, 4999)) << "a file over the limit is not read";
    EXPECT_EQ(files.readFile(file, 5000)->size(), 5000u);
    EXPECT_EQ(files.readFileHead(file, 10), Bytes(10, 'x'));
    EXPECT_FALSE(files.readFile(dir / u"missing", 10));
    EXPECT_FALSE(files.readFileHead(dir / u"missing", 10));

    // Read through to its end. (A read error part-way cannot be made here:
    // this Wine does not refuse reads of a range locked by another handle.)
    const WString list = dir / u"Uninstall.list";
    ASSERT_TRUE(files.writeFile(list, Bytes(10000, 'l')));
    auto whole = files.readFileUntilError(list);
    ASSERT_TRUE(whole);
    EXPECT_TRUE(whole->complete);
    EXPECT_EQ(whole->bytes, Bytes(10000, 'l'));
    EXPECT_FALSE(files.readFileUntilError(dir / u"missing"));

    // One file however it is spelt; another file, a folder or nothing is not.
    EXPECT_TRUE(files.isSameFile(list, dir / u".\\UNINSTALL.LIST"));
    EXPECT_TRUE(files.isSameFile(list, dir / u"x\\..\\Uninstall.list"));
    EXPECT_FALSE(files.isSameFile(list, file));
    EXPECT_FALSE(files.isSameFile(dir.path(), dir.path()));
    EXPECT_FALSE(files.isSameFile(list, dir / u"missing"));
}

TEST_F(Services, AnOwnerOnlyFileListsTheCurrentUserAlone) {
    const WString file = dir / u"kvnlogin.dat";
    ASSERT_TRUE(files.writeFile(file, "older login text"));  // an ordinary older file
    ASSERT_TRUE(files.writeFile(file, "abc", FileAccess::OwnerOnly));
    EXPECT_EQ(files.readFile(file, 100), Bytes("abc"));

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE user[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    CloseHandle(token);
    PSID me = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;

    BYTE systemSid[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof systemSid;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize));

    // Nobody but the user (and the system itself, which Wine lists on every
    // file) is let in: no group, no Everyone.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(W(file), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(dacl) << "a null list would let everyone in";
    ACL_SIZE_INFORMATION sizes{};
    ASSERT_TRUE(GetAclInformation(dacl, &sizes, sizeof sizes, AclSizeInformation));
    bool userIn = false;
    for (DWORD i = 0; i < sizes.AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        userIn = userIn || EqualSid(&allowed->SidStart, me);
        LPWSTR who = nullptr;
        ConvertSidToStringSidW(&allowed->SidStart, &who);
        EXPECT_TRUE(EqualSid(&allowed->SidStart, me) || EqualSid(&allowed->SidStart, systemSid))
            << "entry " << i << " lets " << toUtf8(U(who ? who : L"?")) << " in";
        LocalFree(who);
    }
    EXPECT_TRUE(userIn);
    LocalFree(descriptor);
}

TEST_F(Services, StreamedOutputAndReplacingInOneStep) {
    const WString part = dir / u"f.part", target = dir / u"f";
    ASSERT_TRUE(files.writeFile(target, "old"));
    {
        auto out = files.createFile(part);
        ASSERT_TRUE(out);
        EXPECT_EQ(out->write("new ", 4), 4u);
        EXPECT_EQ(out->write("file", 4), 4u);
        EXPECT_EQ(out->size(), 8u);
        out->close();
    }
    ASSERT_TRUE(files.replaceFile(part, target));
    EXPECT_EQ(files.readFile(target, 100), Bytes("new file"));
    EXPECT_FALSE(files.exists(part));
    EXPECT_FALSE(files.replaceFile(dir / u"gone", target));
    EXPECT_EQ(files.readFile(target, 100), Bytes("new file")) << "a failed replace keeps the target";
    EXPECT_FALSE(files.createFile(dir / u"no\\such\\folder\\f"));
}

// ---------------------------------------------------------------- profiles

TEST_F(Services, ProfileFilesReadAndWriteKeys) {
    auto& profiles = services.profiles();
    const WString ini = dir / u"LoginExeVersionInfo.ini";
    ASSERT_TRUE(files.writeFile(ini, "[VersionInfo]\r\nLoginExeVer=5\r\nName=abc\r\nEmpty=\r\n"
                                     "Blank=   \r\n[Other]\r\nK=1\r\n"));
    EXPECT_EQ(profiles.getInt(u"VersionInfo", u"LoginExeVer", 0, ini), 5);
    EXPECT_EQ(profiles.getInt(u"versioninfo", u"missing", 77, ini), 77);
    // An empty value reads as the default, a value without digits as 0:
    // the Linux build reads them the same way.
    EXPECT_EQ(profiles.getInt(u"VersionInfo", u"Empty", 77, ini), 77);
    EXPECT_EQ(profiles.getInt(u"VersionInfo", u"Blank", 77, ini), 77);
    EXPECT_EQ(profiles.getInt(u"VersionInfo", u"Name", 77, ini), 0);
    EXPECT_EQ(profiles.getString(u"VersionInfo", u"Name", ini, 64), WString(u"abc"));
    EXPECT_FALSE(profiles.getString(u"VersionInfo", u"Name", ini, 3)) << "a cut text is refused";
    EXPECT_EQ(profiles.getString(u"VersionInfo", u"Name", ini, 4), WString(u"abc"));
    EXPECT_FALSE(profiles.getString(u"VersionInfo", u"Missing", ini, 64));
    EXPECT_FALSE(profiles.getString(u"VersionInfo", u"Name", dir / u"none.ini", 64));

    ASSERT_TRUE(profiles.writeString(u"VersionInfo", u"LoginExeVer", u"6", ini));
    ASSERT_TRUE(profiles.writeString(u"New", u"Key", u"value", ini));
    EXPECT_EQ(profiles.getInt(u"VersionInfo", u"LoginExeVer", 0, ini), 6);
    EXPECT_EQ(profiles.getString(u"VersionInfo", u"Name", ini, 64), WString(u"abc"));
    EXPECT_EQ(profiles.getInt(u"Other", u"K", 0, ini), 1);
    EXPECT_EQ(profiles.getString(u"New", u"Key", ini, 64), WString(u"value"));
    EXPECT_FALSE(files.exists(ini + u".new")) << "no temporary file left";

    const WString fresh = dir / u"fresh.ini";
    ASSERT_TRUE(profiles.writeString(u"S", u"K", u"v", fresh));
    EXPECT_EQ(profiles.getString(u"S", u"K", fresh, 8), WString(u"v"));
    EXPECT_FALSE(profiles.writeString(u"S", u"K", u"v", dir / u"no\\folder\\x.ini"));
}

// ---------------------------------------------------------------- registry

TEST_F(Services, RegistryValuesAndTheBufferSizeRule) {
    auto& reg = services.registry();
    const WString key = u"SOFTWARE\\KorvaneTest\\游戏";
    ASSERT_TRUE(reg.writeUserString(key, u"Path", u"C:\\Korvanis\\bin\\np.dll"));  // 22 units
    EXPECT_EQ(reg.readUserString(key, u"Path", 255 * 2), WString(u"C:\\Korvanis\\bin\\np.dll"));
    EXPECT_EQ(reg.readUserString(key, u"Path", 23 * 2), WString(u"C:\\Korvanis\\bin\\np.dll"))
        << "exactly fitting with its terminator";
    EXPECT_FALSE(reg.readUserString(key, u"Path", 22 * 2)) << "no room for the terminator";
    EXPECT_FALSE(reg.readUserString(key, u"Other", 510));
    EXPECT_FALSE(reg.readUserString(u"SOFTWARE\\KorvaneTest\\None", u"Path", 510));
    EXPECT_TRUE(reg.deleteUserValue(key, u"Path"));
    EXPECT_FALSE(reg.readUserString(key, u"Path", 510));
    EXPECT_FALSE(reg.deleteUserValue(key, u"Path"));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\KorvaneTest");
}

// ---------------------------------------------------------------- processes

TEST_F(Services, ProcessesStartInTheirFolderAndReportTheirExitCode) {
    auto& processes = services.processes();
    ASSERT_TRUE(files.createDirectory(dir / u"work"));
    ProcessStart start;
    start.commandLine = u"cmd.exe /c echo here> where.txt & exit 7";
    start.workingDirectory = dir / u"work";
    start.hidden = true;
    auto p = processes.start(start);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->wait(), 7u);
    EXPECT_TRUE(files.exists(dir / u"work\\where.txt")) << "ran in its working folder";

    ProcessStart missing;
    missing.commandLine = u"no-such-program-kvn.exe /s";
    EXPECT_FALSE(processes.start(missing));
    ProcessStart byApplication;
    byApplication.application = dir / u"none.exe";
    EXPECT_FALSE(processes.start(byApplication));

    auto names = processes.runningProcessNames();
    ASSERT_TRUE(names);
    bool self = false;
    for (auto& n : *names) self = self || n == u"kvn_win32_tests.exe";
    EXPECT_TRUE(self);
}

TEST_F(Services, TheNamedMutexTellsASecondHolder) {
    auto& system = services.system();
    bool first = true, second = false;
    auto a = system.createNamedMutex(u"KVNLancherTest", first);
    ASSERT_TRUE(a);
    EXPECT_FALSE(first);
    auto b = system.createNamedMutex(u"KVNLancherTest", second);
    EXPECT_TRUE(second);
    b.reset();
    a.reset();
    bool again = true;
    auto c = system.createNamedMutex(u"KVNLancherTest", again);
    EXPECT_FALSE(again) << "free once every holder is gone";
}

TEST_F(Services, SystemFacts) {
    auto& system = services.system();
    auto args = system.arguments();
    ASSERT_FALSE(args.empty());
    EXPECT_TRUE(contains(args[0], u"kvn_win32_tests"));
    EXPECT_TRUE(contains(system.moduleFileName(), u"kvn_win32_tests.exe"));
    EXPECT_FALSE(system.currentDirectory().empty());
    SetEnvironmentVariableW(L"KVN_TEST_VALUE", L"值");
    EXPECT_EQ(system.environment(u"KVN_TEST_VALUE"), WString(u"值"));
    EXPECT_FALSE(system.environment(u"KVN_TEST_NO_SUCH_VALUE"));
    EXPECT_EQ(system.toAnsi(u"abc&%#"), Bytes("abc&%#"));
    EXPECT_EQ(system.fromAnsi("abc"), WString(u"abc"));
    // The wall clock is UTC seconds since 1970, as the C runtime's time()
    // counts them (not since 1601, not in 100 ns steps).
    const long long before = _time64(nullptr);
    const long long now = system.utcSeconds();
    EXPECT_GE(now, before);
    EXPECT_LE(now, static_cast<long long>(_time64(nullptr)));
}

TEST_F(Services, DrivesListTheSystemDrive) {
    auto& drives = services.drives();
    EXPECT_TRUE(drives.logicalDriveMask() & (1u << 2)) << "C:";
    const WString list = drives.logicalDriveStrings();
    ASSERT_GE(list.size(), 5u);
    EXPECT_EQ(list.size() % 4, 1u) << "roots of four units and the final zero";
    EXPECT_NE(list.find(WString(u"C:\\\0", 4)), WString::npos);
    EXPECT_EQ(drives.driveType(u"C:\\"), 3u);
    auto space = drives.diskFreeSpace(u"C:\\");
    ASSERT_TRUE(space);
    EXPECT_GT(space->totalBytes, 0u);
}

// ---------------------------------------------------------------- links

TEST_F(Services, ShortcutsWrittenByTheLauncherReadBackThroughIShellLink) {
    auto& shell = services.shell();
    const WString link = dir / u"卸载游戏.lnk";
    CreateShellLinkFile(platform, link, u"D:\\Korvanis/Login.exe", u"D:\\Korvanis/Login.exe",
                        u"-Uninstall");
    auto info = shell.readShellLink(link);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->target, WString(u"D:\\Korvanis\\Login.exe"));
    EXPECT_EQ(info->arguments, WString(u"-Uninstall"));
    EXPECT_EQ(info->workingDirectory, WString(u"D:\\Korvanis"));
    EXPECT_EQ(info->iconPath, WString(u"D:\\Korvanis/Login.exe"));
    EXPECT_EQ(info->iconIndex, 0);
    // Written again over the old one.
    CreateShellLinkFile(platform, link, u"E:\\Korvanis/Login.exe", u"E:\\Korvanis/Login.exe", u"");
    info = shell.readShellLink(link);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->target, WString(u"E:\\Korvanis\\Login.exe"));
    EXPECT_EQ(info->arguments, WString(u""));
    EXPECT_FALSE(shell.readShellLink(dir / u"none.lnk"));

    auto desktop = shell.specialFolderPath(SpecialFolder::Desktop);
    ASSERT_TRUE(desktop);
    const WString desktopLink = *desktop + u"\\Korvane.lnk";
    DeleteFileW(W(desktopLink));
    CreateDesktopShortcut(platform, u"C:\\Korvanis");
    info = shell.readShellLink(desktopLink);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->target, WString(u"C:\\Korvanis\\Login.exe"));
    EXPECT_EQ(info->workingDirectory, WString(u"C:\\Korvanis"));
    EXPECT_EQ(info->arguments, WString(u""));
    DeleteFileW(W(desktopLink));
    EXPECT_TRUE(shell.specialFolderPath(SpecialFolder::Programs));
}

// ---------------------------------------------------------------- HTTP

struct Recorder : CUpdateEventCallback {
    std::vector<std::uint32_t> progress;
    int completions = 0;
    void OnDownloadProgress(const WString&, std::uint32_t done, std::uint32_t) override {
        progress.push_back(done);
    }
    void OnDownloadComplete(const WString&, const WString&) override { ++completions; }
};

struct Http : Services {
    WString port = Env("KVN_HTTP_PORT");
    WString root = Env("KVN_HTTP_ROOT");
    Recorder sink;
    InstallWorkerContext context{&sink};

    void SetUp() override {
        ASSERT_FALSE(port.empty()) << "run through tests/win32/with_server.sh";
        files.writeFile(Env("KVN_HTTP_RULES"), "{}");
    }
    void Serve(const char* name, const Bytes& body) {
        ASSERT_TRUE(files.writeFile(root + u"\\" + fromUtf8(name), body));
    }
    void Rules(const std::string& json) { ASSERT_TRUE(files.writeFile(Env("KVN_HTTP_RULES"), json)); }
    WString Url(const char* path) { return u"http://127.0.0.1:" + port + fromUtf8(path); }
    bool Get(const char* path, const WString& target, bool notify = true) {
        return DownloadFile(platform, context, Url(path), target, notify);
    }
    Bytes Log() { return files.readFile(Env("KVN_HTTP_LOG"), 1 << 20).value_or(""); }
};

TEST_F(Http, TheRequestLineAndHeadersTheServerSees) {
    Serve("v.ini", "[VersionInfo]\r\n");
    ASSERT_TRUE(Get("/v.ini", dir / u"v.ini", false));
    const Bytes log = Log();
    EXPECT_NE(log.find("\"method\": \"GET\", \"target\": \"/v.ini\", \"version\": \"HTTP/1.0\""),
              Bytes::npos)
        << log;
    EXPECT_NE(log.find("\"User-Agent\": \"KVN\""), Bytes::npos) << log;
}

TEST_F(Http, OnlyAnExactCompleteAnswerReplacesTheFile) {
    const WString target = dir / u"LauncherDlg.bmp";
    Serve("a.bmp", Bytes(2500, 'b'));
    ASSERT_TRUE(Get("/a.bmp", target));
    EXPECT_EQ(files.readFile(target, 1 << 20), Bytes(2500, 'b'));
    EXPECT_EQ(sink.progress, (std::vector<std::uint32_t>{1024, 2048, 2500}));
    EXPECT_EQ(sink.completions, 1);

    Rules(R"({"/a.bmp": {"status": 302, "headers": {"Location": "/elsewhere"}},
              "/nolength.bmp": {"body": "some body", "content_length": "missing"},
              "/cut.bmp": {"body": "0123456789abcdefghij", "truncate": 5},
              "/wrong.bmp": {"body": "short", "content_length": "wrong"},
              "/signed.bmp": {"body": "short", "content_length": "+{n}"},
              "/disagree.bmp": {"body": "short", "content_length": ["{n}", "4"]},
              "/disagree2.bmp": {"body": "short", "content_length": ["4", "{n}"]},
              "/gone.bmp": {"status": 404}})");
    for (const char* path : {"/a.bmp", "/nolength.bmp", "/cut.bmp", "/wrong.bmp", "/signed.bmp",
                             "/disagree.bmp", "/disagree2.bmp", "/gone.bmp"}) {
        EXPECT_FALSE(Get(path, target)) << path;
        EXPECT_EQ(files.readFile(target, 1 << 20), Bytes(2500, 'b')) << path << " kept the old file";
        EXPECT_FALSE(files.exists(target + u".part")) << path;
    }
    EXPECT_EQ(Log().find("/elsewhere"), Bytes::npos) << "a redirect is not followed";
    EXPECT_EQ(sink.completions, 1);

    // Every Content-Length line reaches the download: lines that agree
    // stand for one length.
    Rules(R"({"/agree.bmp": {"body": "short", "content_length": ["{n}", "{n}"]}})");
    ASSERT_TRUE(Get("/agree.bmp", target));
    EXPECT_EQ(files.readFile(target, 10), Bytes("short"));

    Rules(R"({"/empty.bmp": {"body": "", "content_length": "zero"}})");
    ASSERT_TRUE(Get("/empty.bmp", target));
    EXPECT_EQ(files.readFile(target, 10), Bytes(""));
}

TEST_F(Http, AServerThatNeverAnswersOrIsNotThereFails) {
    Rules(R"({"/hang": {"hang": true}})");
    HttpSessionOptions quick;
    quick.connectTimeoutMs = 500;
    quick.connectRetries = 1;
    quick.receiveTimeoutMs = 800;
    quick.dataReceiveTimeoutMs = 800;
    auto session = services.http().openSession(u"Login", quick);
    HttpTarget target;
    target.host = u"127.0.0.1";
    target.port = static_cast<std::uint16_t>(parseDecimal(port));
    target.object = u"/hang";
    EXPECT_THROW(
        {
            auto request = session->openRequest(target);
            request->send();
            char b[16];
            request->read(b, sizeof b);
        },
        HttpFailure);
    EXPECT_FALSE(DownloadFile(platform, context, u"http://127.0.0.1:1/none", dir / u"x", true));
    EXPECT_FALSE(DownloadFile(platform, context, u"127.0.0.1/none", dir / u"x", true));
    EXPECT_FALSE(files.exists(dir / u"x"));
}

TEST_F(Http, ATrickleEndsTheTransferButASteadyDripArrivesWhole) {
    // One byte every 40 ms: never silent for the receive time-out, far below
    // the low-speed rule's bytes per window; unchecked, two minutes.
    Serve("slow.ini", Bytes(3000, 's'));
    Serve("steady.bmp", Bytes(2500, 'b'));
    Rules(R"({"/slow.ini": {"drip": 1, "drip_ms": 40}, "/steady.bmp": {"drip": 100}})");
    HttpSessionOptions quick;
    quick.receiveTimeoutMs = 2000;
    quick.dataReceiveTimeoutMs = 2000;
    quick.lowSpeedWindowMs = 600;
    auto session = services.http().openSession(u"Login", quick);
    HttpTarget target;
    target.host = u"127.0.0.1";
    target.port = static_cast<std::uint16_t>(parseDecimal(port));
    target.object = u"/slow.ini";
    Bytes got;
    EXPECT_THROW(
        {
            auto request = session->openRequest(target);
            request->send();
            char b[1024];
            while (std::size_t n = request->read(b, sizeof b)) got.append(b, n);
        },
        HttpFailure);
    EXPECT_LT(got.size(), 3000u);

    // 100 bytes every 10 ms keeps well above the rule, and each read still
    // fills the buffer while the body lasts.
    target.object = u"/steady.bmp";
    auto request = session->openRequest(target);
    request->send();
    std::vector<std::size_t> counts;
    char b[1024];
    while (std::size_t n = request->read(b, sizeof b)) counts.push_back(n);
    EXPECT_EQ(counts, (std::vector<std::size_t>{1024, 1024, 452}));
}

// Every attempt has an end, with the download's own time-outs: a head that
// trickles one byte every 2 s, a body that brings one byte every 6.5 s and
// a server that never answers each end their attempt within 8 s (unchecked,
// the head would take minutes and the body 13 s or more). A stop ends a
// download at once.
TEST_F(Http, EveryAttemptEndsOnAClock) {
    Serve("head.ini", Bytes(3000, 'h'));
    Serve("body.ini", Bytes(3000, 'b'));
    Rules(R"({"/head.ini": {"head_drip_ms": 2000}, "/body.ini": {"drip": 1, "drip_ms": 6500},
              "/silent.ini": {"hang": true}})");
    const WString target = dir / u"v.ini";
    ASSERT_TRUE(files.writeFile(target, "old"));
    for (const char* path : {"/head.ini", "/body.ini", "/silent.ini"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(Get(path, target, false)) << path;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: the attempt ended after %.1f s\n", path, seconds);
        EXPECT_LT(seconds, 8.0) << path << ": the attempt outlived the 7 s rule";
        EXPECT_EQ(files.readFile(target, 10), Bytes("old")) << path;
        EXPECT_FALSE(files.exists(target + u".part")) << path;
    }

    // A stop while the server says nothing, with time-outs of a minute.
    std::atomic<bool> stop{false};
    HttpSessionOptions slow;
    slow.receiveTimeoutMs = slow.dataReceiveTimeoutMs = slow.lowSpeedWindowMs = 60000;
    slow.stop = &stop;
    auto session = services.http().openSession(u"Login", slow);
    HttpTarget silent;
    silent.host = u"127.0.0.1";
    silent.port = static_cast<std::uint16_t>(parseDecimal(port));
    silent.object = u"/silent.ini";
    auto request = session->openRequest(silent);
    std::thread closer([&] {
        Sleep(300);
        stop.store(true);
    });
    const auto start = std::chrono::steady_clock::now();
    try {
        request->send();
        ADD_FAILURE() << "the silent server answered";
    } catch (const HttpFailure& e) {
        EXPECT_EQ(e.kind(), HttpFailure::Kind::Stopped) << e.what();
    }
    closer.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("a stop 0.3 s into a silent answer ended it after %.2f s\n", seconds);
    EXPECT_LT(seconds, 30.0) << "the stop was not heard";

    // And through DownloadFile: the window's flag, set while the body comes.
    context.m_bStopWorker.store(false);
    std::thread window([&] {
        Sleep(300);
        context.m_bStopWorker.store(true);
    });
    EXPECT_FALSE(Get("/body.ini", target, false));
    window.join();
    EXPECT_EQ(files.readFile(target, 10), Bytes("old"));
    EXPECT_FALSE(files.exists(target + u".part"));
}

// The per-user proxy of the system's Internet settings, pointed at the proxy
// stand-in that with_server.sh runs: the version record's request arrives
// there. The settings are put back afterwards.
struct RegistryProxy : Http {
    static constexpr const wchar_t* kKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    HKEY key = nullptr;
    std::optional<DWORD> oldEnable;
    std::optional<std::wstring> oldServer;

    void SetUp() override {
        Http::SetUp();
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        DWORD value = 0, size = sizeof value;
        if (RegQueryValueExW(key, L"ProxyEnable", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                             &size) == ERROR_SUCCESS)
            oldEnable = value;
        wchar_t text[512] = {};
        size = sizeof text - sizeof(wchar_t);
        if (RegQueryValueExW(key, L"ProxyServer", nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                             &size) == ERROR_SUCCESS)
            oldServer = text;
    }
    void TearDown() override {
        if (!key) return;
        if (oldEnable) SetEnable(*oldEnable);
        else RegDeleteValueW(key, L"ProxyEnable");
        if (oldServer) SetServer(*oldServer);
        else RegDeleteValueW(key, L"ProxyServer");
        RegCloseKey(key);
    }
    void SetEnable(DWORD on) {
        RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    }
    void SetServer(const std::wstring& server) {
        RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                       static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    }
};

TEST_F(RegistryProxy, TheVersionRecordGoesThroughTheUsersProxy) {
    const WString proxyPort = Env("KVN_PROXY_PORT");
    ASSERT_FALSE(proxyPort.empty()) << "run through tests/win32/with_server.sh";
    Serve("LoginExeVersionInfo.ini", "[VersionInfo]\r\nVersionNumber=1\r\n");
    SetEnable(1);
    SetServer(L"127.0.0.1:" + std::wstring(W(proxyPort)));
    const WString target = dir / u"LoginExeVersionInfo.ini";
    ASSERT_TRUE(Get("/LoginExeVersionInfo.ini", target, false));
    EXPECT_EQ(files.readFile(target, 100), Bytes("[VersionInfo]\r\nVersionNumber=1\r\n"));
    const Bytes seen = files.readFile(Env("KVN_PROXY_LOG"), 1 << 20).value_or("");
    EXPECT_NE(seen.find("\"method\": \"GET\", \"target\": \"http://127.0.0.1:" + toUtf8(port) +
                        "/LoginExeVersionInfo.ini\""),
              Bytes::npos)
        << seen;
    EXPECT_NE(seen.find("\"User-Agent\": \"KVN\""), Bytes::npos) << seen;

    // A proxy that is not there fails the download, and the file stays.
    SetServer(L"127.0.0.1:1");
    Serve("LoginExeVersionInfo.ini", "[VersionInfo]\r\nVersionNumber=2\r\n");
    EXPECT_FALSE(Get("/LoginExeVersionInfo.ini", target, false));
    EXPECT_EQ(files.readFile(target, 100), Bytes("[VersionInfo]\r\nVersionNumber=1\r\n"));
}

// The https server beside the plain one has a certificate nobody vouches
// for: the request goes out over TLS and the certificate check refuses it.
TEST_F(Http, HttpsGoesOverTlsAndAnUntrustedCertificateIsRefused) {
    const WString tlsPort = Env("KVN_HTTPS_PORT");
    ASSERT_FALSE(tlsPort.empty());
    auto session = services.http().openSession(u"Login", HttpSessionOptions{});
    HttpTarget target;
    target.secure = true;
    target.host = u"127.0.0.1";
    target.port = static_cast<std::uint16_t>(parseDecimal(tlsPort));
    target.object = u"/v.ini";
    std::string why;
    try {
        session->openRequest(target)->send();
    } catch (const HttpFailure& e) {
        why = e.what();
    }
    // ERROR_INTERNET_INVALID_CA, SEC_ERROR_UNKNOWN_ISSUER and the other
    // certificate errors of WinINet.
    bool certificate = false;
    for (const char* code : {"12037", "12038", "12044", "12045", "12055", "12057", "12169", "12175"})
        certificate = certificate || why.find(std::string("error ") + code) != std::string::npos;
    EXPECT_TRUE(certificate) << "failure: '" << why << "'";
    EXPECT_EQ(files.readFile(Env("KVN_HTTPS_LOG"), 1 << 20).value_or(""), "")
        << "no request reaches an unverified server";
    EXPECT_FALSE(DownloadFile(platform, context, u"https://127.0.0.1:" + tlsPort + u"/v.ini",
                              dir / u"v.ini", false));
    EXPECT_FALSE(files.exists(dir / u"v.ini"));
}

#ifdef KVN_LOGIN_EXE
// ---------------------------------------------------------------- Login.exe

// The built program, on Wine's drive for the Unix root.
WString LoginExe() {
    WString path = u"Z:" + fromUtf8(KVN_LOGIN_EXE);
    for (char16_t& c : path)
        if (c == u'/') c = u'\\';
    return path;
}

TEST(LoginExe, VersionBlockCarriesTheProjectVersionAndItsNames) {
    const WString exe = LoginExe();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(W(exe), &ignored);
    ASSERT_GT(size, 0u) << "no version block, error " << GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(W(exe), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const std::string numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numbers, KVN_VERSION);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 0);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    // One language: Chinese (PRC), Unicode texts.
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);
    auto text = [&](const wchar_t* name) -> WString {
        wchar_t* value = nullptr;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
        if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            return u"(missing)";
        return U(value);
    };
    EXPECT_EQ(text(L"ProductName"), u"Korvane");
    EXPECT_EQ(text(L"FileVersion"), fromUtf8(KVN_VERSION));
    EXPECT_EQ(text(L"ProductVersion"), fromUtf8(KVN_VERSION));
    EXPECT_EQ(text(L"OriginalFilename"), u"Login.exe");
    EXPECT_EQ(text(L"FileDescription"), u"Korvane登录器");
    for (const wchar_t* name : {L"CompanyName", L"LegalCopyright"}) {
        const WString value = text(name);
        EXPECT_TRUE(!value.empty() && value != u"(missing)") << toUtf8(U(name));
    }
}

// The manifest is read as the loader reads it, and the uninstall window made
// from Login.exe's own template under that manifest gets the controls of
// Common Controls 6 (a button that answers BCM_GETIDEALSIZE); without it,
// the same template gets the old ones.
TEST(LoginExe, ManifestGivesTheUninstallWindowCommonControls6) {
    const WString exe = LoginExe();
    HMODULE module =
        LoadLibraryExW(W(exe), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_TRUE(module) << GetLastError();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_TRUE(found) << "no manifest resource 1";
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, found))),
                               SizeofResource(module, found));
    const std::string identity = std::string("version=\"") + KVN_VERSION + ".0\"";
    for (const std::string& part :
         {std::string("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
          std::string("level=\"asInvoker\""), identity,
          std::string("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"),   // Windows 7
          std::string("{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"),   // 8
          std::string("{1f676c76-80e1-4239-95bb-83d0f6d0da78}"),   // 8.1
          std::string("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"),   // 10 and 11
          std::string(">false</dpiAware>"), std::string(">unaware</dpiAwareness>")})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;

    HRSRC dialog = FindResourceW(module, MAKEINTRESOURCEW(136), RT_DIALOG);
    ASSERT_TRUE(dialog);
    const auto* uninstallTemplate =
        static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, dialog)));
    // Made hidden; true when its cancel button knows its ideal size.
    auto newStyleButton = [&] {
        HWND window = CreateDialogIndirectParamW(
            GetModuleHandleW(nullptr), uninstallTemplate, nullptr,
            [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        EXPECT_TRUE(window);
        SIZE ideal{};
        const LRESULT answer = SendMessageW(GetDlgItem(window, IDCANCEL), BCM_GETIDEALSIZE, 0,
                                            reinterpret_cast<LPARAM>(&ideal));
        DestroyWindow(window);
        return answer != 0 && ideal.cx > 0;
    };
    EXPECT_FALSE(newStyleButton()) << "a program without the manifest has the old button";

    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = W(exe);
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the manifest does not load, error " << GetLastError();
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(context, &cookie));
    EXPECT_TRUE(newStyleButton()) << "the uninstall window's button is not from Common Controls 6";
    DeactivateActCtx(0, cookie);
    ReleaseActCtx(context);
    FreeLibrary(module);
}
#endif

}  // namespace
}  // namespace kvn::win32
