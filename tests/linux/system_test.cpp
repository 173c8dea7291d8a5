// Named mutex, process starts and the process list, drives, system texts.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "tests/linux/linux_test_support.h"

using namespace kvn;
using kvntest::Slurp;
using kvntest::Spit;

namespace kvn::linuxp {
std::vector<WString> SplitCommandLine(const WString& line);
std::string FindProgram(const WString& program, const std::string& ownFolder);
}

namespace {

struct SystemTest : kvntest::ScratchTest {};

// /bin/sh in Windows form: native paths outside every drive are on Z:.
const WString kSh = u"Z:\\bin\\sh";

// ---------------------------------------------------------------- mutex

// Polls for a file with a bounded deadline.
bool WaitForFile(const std::string& native, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (kvntest::NativeExists(native)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}


// Runs fn in a forked child and returns its exit code.
int InChild(const std::function<int()>& fn) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SystemTest, ASecondMutexOfTheSameNameReportsThatItExisted) {
    auto& sys = svc().system();
    bool existed = true;
    auto first = sys.createNamedMutex(u"KVNLancher", existed);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(existed);

    bool again = false;
    auto second = sys.createNamedMutex(u"KVNLancher", again);
    EXPECT_NE(second, nullptr);  // a handle is still given, as CreateMutex does
    EXPECT_TRUE(again);

    bool other = true;
    auto third = sys.createNamedMutex(u"OtherName", other);
    EXPECT_FALSE(other);

    // Another process sees the name taken.
    EXPECT_EQ(InChild([] {
                  bool e = false;
                  auto m = NewServices()->system().createNamedMutex(u"KVNLancher", e);
                  return m && e ? 0 : 1;
              }),
              0);

    second.reset();
    first.reset();
    bool after = true;
    auto fourth = sys.createNamedMutex(u"KVNLancher", after);
    EXPECT_FALSE(after);
}

TEST_F(SystemTest, TheNameIsFreeOnceItsHolderHasDied) {
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        bool e = true;
        auto m = NewServices()->system().createNamedMutex(u"KVNLancher", e);
        char ok = m && !e ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(release[0], &c, 1);  // hold until told
        ::_exit(0);  // dies without releasing anything itself
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    {
        bool e = false;
        auto m = svc().system().createNamedMutex(u"KVNLancher", e);
        EXPECT_TRUE(e);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    bool e = true;
    auto m = svc().system().createNamedMutex(u"KVNLancher", e);
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(e);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

TEST_F(SystemTest, AProgramStartedByTheHolderDoesNotKeepTheMutex) {
    bool e = true;
    auto m = svc().system().createNamedMutex(u"KVNLancher", e);
    ASSERT_FALSE(e);
    // The child blocks on a pipe until the check is done.
    const std::string fifo = d + "/hold";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ProcessStart start;
    start.application = kSh;
    start.commandLine = u"sh -c \"echo up > up.txt; read line < hold\"";
    start.workingDirectory = u"D:\\";
    auto child = svc().processes().start(start);
    ASSERT_NE(child, nullptr);
    // Until its exec has finished the child still shares the descriptor;
    // once it runs its own code the descriptor is closed.
    ASSERT_TRUE(WaitForFile(d + "/up.txt"));
    m.reset();  // the launcher ends, the client it started runs on
    bool after = true;
    auto again = svc().system().createNamedMutex(u"KVNLancher", after);
    EXPECT_FALSE(after);
    kvntest::Spit(fifo, "go\n");  // lets the child end
    EXPECT_EQ(child->wait(), std::optional<std::uint32_t>(0));
}

// ---------------------------------------------------------------- processes

TEST(CommandLineSplitting, FollowsTheWindowsRules) {
    using kvn::linuxp::SplitCommandLine;
    using V = std::vector<WString>;
    EXPECT_EQ(SplitCommandLine(u"\"abc\" d e"), (V{u"abc", u"d", u"e"}));
    EXPECT_EQ(SplitCommandLine(u"a\\\\\\b d\"e f\"g h"), (V{u"a\\\\\\b", u"de fg", u"h"}));
    EXPECT_EQ(SplitCommandLine(u"a\\\\\\\"b c d"), (V{u"a\\\"b", u"c", u"d"}));
    EXPECT_EQ(SplitCommandLine(u"a\\\\\\\\\"b c\" d e"), (V{u"a\\\\b c", u"d", u"e"}));
    EXPECT_EQ(SplitCommandLine(u"a\"b\"\" c d"), (V{u"ab\" c d"}));
    EXPECT_EQ(SplitCommandLine(u"  regsvr32  /s\t/u  D:\\Korvanis/bin/npKVNWebPlayer.dll  "),
              (V{u"regsvr32", u"/s", u"/u", u"D:\\Korvanis/bin/npKVNWebPlayer.dll"}));
    EXPECT_EQ(SplitCommandLine(u"\"\" x"), (V{u"", u"x"}));
    EXPECT_EQ(SplitCommandLine(u"   "), V{});
    EXPECT_EQ(SplitCommandLine(u"\"C:\\Program Files\\a.exe\" \"trailing\\\\\""),
              (V{u"C:\\Program Files\\a.exe", u"trailing\\"}));
}

TEST_F(SystemTest, StartPassesTheSplitArgumentsInTheWorkingFolder) {
    std::filesystem::create_directories(d + "/Korvanis");
    ProcessStart start;
    start.application = kSh;
    // The script prints each argument on a line of its own into args.txt
    // in its working folder; drive paths reach it as native paths.
    start.commandLine =
        u"sh -c \"printf '%s\\n' \\\"$@\\\" > args.txt; pwd > pwd.txt\" sh "
        u"\"two words\" D:\\Korvanis/KVNClient.7z -y \"\"";
    start.workingDirectory = u"D:\\Korvanis";
    start.hidden = true;
    auto p = svc().processes().start(start);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->wait(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(Slurp(d + "/Korvanis/args.txt"),
              "two words\n" + d + "/Korvanis/KVNClient.7z\n-y\n\n");
    EXPECT_EQ(Slurp(d + "/Korvanis/pwd.txt"), d + "/Korvanis\n");
}

TEST_F(SystemTest, WaitGivesTheExitCode) {
    auto& procs = svc().processes();
    ProcessStart start;
    start.application = kSh;
    start.commandLine = u"sh -c \"exit 7\"";
    auto p = procs.start(start);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->wait(), std::optional<std::uint32_t>(7));
    EXPECT_EQ(p->wait(), std::optional<std::uint32_t>(7));  // asked again

    // Found on PATH from the command line's first word.
    ProcessStart byName;
    byName.commandLine = u"sh -c \"exit 3\"";
    auto q = procs.start(byName);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->wait(), std::optional<std::uint32_t>(3));

    // Killed by a signal: 128 + its number.
    byName.commandLine = u"sh -c \"kill -9 $$\"";
    auto r = procs.start(byName);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->wait(), std::optional<std::uint32_t>(128 + 9));
}

TEST_F(SystemTest, AProgramThatCannotStartGivesNoProcess) {
    auto& procs = svc().processes();
    ProcessStart missing;
    missing.application = u"D:\\Korvanis\\7zr.exe";
    missing.commandLine = u"D:\\Korvanis\\7zr.exe x -r D:\\Korvanis/KVNClient.7z -y";
    EXPECT_EQ(procs.start(missing), nullptr);

    ProcessStart unknown;
    unknown.commandLine = u"kvn-no-such-program-anywhere /s";
    EXPECT_EQ(procs.start(unknown), nullptr);
    EXPECT_EQ(procs.start(ProcessStart{}), nullptr);

    // A file that is not executable.
    Spit(d + "/plain.exe", "not a program");
    ProcessStart plain;
    plain.application = u"D:\\plain.exe";
    EXPECT_EQ(procs.start(plain), nullptr);

    // A working folder that does not exist.
    ProcessStart noDir;
    noDir.application = kSh;
    noDir.commandLine = u"sh -c \"exit 0\"";
    noDir.workingDirectory = u"D:\\missing";
    EXPECT_EQ(procs.start(noDir), nullptr);
}

TEST_F(SystemTest, AProgramNamedAloneIsLookedForAsCreateProcessWLooks) {
    using kvn::linuxp::FindProgram;
    // The same name in the launcher's own folder, the current folder (C:)
    // and a folder on PATH, given relative to the current folder.
    const std::string own = root + "/own", onPath = c + "/tools";
    auto probe = [](const std::string& folder, const std::string& says) {
        Spit(folder + "/kvn-probe", "#!/bin/sh\necho " + says + " > \"$PWD/said.txt\"\n");
        ::chmod((folder + "/kvn-probe").c_str(), 0755);
    };
    probe(own, "own");
    probe(c, "current");
    probe(onPath, "path");
    env.set("PATH", "tools:/usr/bin:/bin");
    EXPECT_EQ(FindProgram(u"kvn-probe", own), own + "/kvn-probe");
    ::chmod((own + "/kvn-probe").c_str(), 0644);  // not a program: the next place
    EXPECT_EQ(FindProgram(u"kvn-probe", own), c + "/kvn-probe");
    std::filesystem::remove(c + "/kvn-probe");
    EXPECT_EQ(FindProgram(u"kvn-probe", own), onPath + "/kvn-probe");
    EXPECT_EQ(FindProgram(u"kvn-probe", ""), onPath + "/kvn-probe");
    EXPECT_EQ(FindProgram(u"sh", own), "/usr/bin/sh");
    EXPECT_EQ(FindProgram(u"kvn-no-such-program", own), "");
    EXPECT_EQ(FindProgram(u"", own), "");
    // A name with a folder is not looked for.
    EXPECT_EQ(FindProgram(u"D:\\kvn-probe", own), d + "/kvn-probe");

    // Started in another working folder, the program found from the current
    // folder runs, there.
    probe(c, "current");
    std::filesystem::create_directories(d + "/Korvanis");
    ProcessStart start;
    start.commandLine = u"kvn-probe /s";
    start.workingDirectory = u"D:\\Korvanis";
    auto p = svc().processes().start(start);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->wait(), std::optional<std::uint32_t>(0));
    EXPECT_EQ(Slurp(d + "/Korvanis/said.txt"), "current\n");
}

TEST_F(SystemTest, DroppingAProcessLetsItRunOn) {
    ProcessStart start;
    start.application = kSh;
    start.commandLine = u"sh -c \"sleep 0.2; echo done > late.txt\"";
    start.workingDirectory = u"D:\\";
    svc().processes().start(start).reset();
    EXPECT_TRUE(WaitForFile(d + "/late.txt"));
}

TEST_F(SystemTest, TheProcessListHoldsOurOwnExecutable) {
    auto names = svc().processes().runningProcessNames();
    ASSERT_TRUE(names);
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    ASSERT_GT(n, 0);
    std::string self(buf, static_cast<std::size_t>(n));
    const WString own = fromUtf8(self.substr(self.rfind('/') + 1));
    EXPECT_NE(std::find(names->begin(), names->end(), own), names->end()) << toUtf8(own);
    for (auto& name : *names) EXPECT_EQ(name.find(u'/'), WString::npos) << toUtf8(name);
}

// ---------------------------------------------------------------- drives

TEST_F(SystemTest, DrivesFollowTheTable) {
    env.set("KORVANE_DRIVES", "C=" + c + ";E=" + d + ";G=" + root + "/gone");
    auto& drives = svc().drives();
    EXPECT_EQ(drives.logicalDriveMask(), (1u << 2) | (1u << 4) | (1u << 6));
    const WString strings = drives.logicalDriveStrings();
    EXPECT_EQ(strings, WString(u"C:\\\0E:\\\0G:\\\0\0", 13));
    EXPECT_EQ(drives.driveType(u"C:\\"), 3u);
    EXPECT_EQ(drives.driveType(u"e:\\"), 3u);
    EXPECT_EQ(drives.driveType(u"G:\\"), 1u);  // its folder is missing
    EXPECT_EQ(drives.driveType(u"Q:\\"), 1u);
    EXPECT_EQ(drives.driveType(u""), 1u);

    auto space = drives.diskFreeSpace(u"E:\\");
    ASSERT_TRUE(space);
    EXPECT_GT(space->totalBytes, 0u);
    EXPECT_GT(space->totalFree, 0u);
    EXPECT_LE(space->availableToCaller, space->totalFree);
    EXPECT_LE(space->totalFree, space->totalBytes);
    EXPECT_EQ(drives.diskFreeSpace(u"G:\\"), std::nullopt);
    EXPECT_EQ(drives.diskFreeSpace(u"Q:\\"), std::nullopt);
}

// ---------------------------------------------------------------- system

TEST_F(SystemTest, FoldersAndNamesReadInWindowsForm) {
    auto& sys = svc().system();
    std::filesystem::create_directories(d + "/游戏");
    ASSERT_EQ(::chdir((d + "/游戏").c_str()), 0);
    EXPECT_EQ(sys.currentDirectory(), u"D:\\游戏");
    const WString module = sys.moduleFileName();
    EXPECT_EQ(module.substr(0, 3), u"Z:\\");  // the test binary lies outside the drives
    EXPECT_EQ(module.substr(module.rfind(u'\\') + 1), u"kvn_linux_tests");
    EXPECT_EQ(sys.arguments(), std::vector<WString>{u"kvn_linux_tests"});
    env.set("KVN_TEST_VALUE", "值");
    EXPECT_EQ(sys.environment(u"KVN_TEST_VALUE"), WString(u"值"));
    env.unset("KVN_TEST_VALUE");
    EXPECT_EQ(sys.environment(u"KVN_TEST_VALUE"), std::nullopt);
    EXPECT_EQ(sys.toAnsi(u"游戏"), Bytes("游戏"));
    EXPECT_EQ(sys.toAnsi(WString(1, char16_t(0xD800))), std::nullopt);
    EXPECT_EQ(sys.fromAnsi("游戏"), u"游戏");
    // The wall clock is UTC seconds since 1970, as C's time() counts them.
    const std::int64_t before = ::time(nullptr);
    const std::int64_t now = sys.utcSeconds();
    EXPECT_GE(now, before);
    EXPECT_LE(now, static_cast<std::int64_t>(::time(nullptr)));
}

}  // namespace
