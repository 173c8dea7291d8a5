// Files and folders on the real file system, reached by Windows-form paths.
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "platform/linux/paths.h"
#include "platform/text.h"
#include "tests/linux/linux_test_support.h"

using namespace kvn;
using kvntest::Slurp;
using kvntest::Spit;

namespace {

struct FilesTest : kvntest::ScratchTest {
    FileSystem& fs() { return svc().files(); }
};

TEST_F(FilesTest, FindTellsFilesFoldersAndNothingApart) {
    Spit(d + "/Korvanis/Launcher.exe", "MZ");
    EXPECT_EQ(fs().find(u"D:\\Korvanis\\/Launcher.exe"), FileSystem::Kind::File);
    EXPECT_EQ(fs().find(u"D:\\Korvanis"), FileSystem::Kind::Directory);
    EXPECT_EQ(fs().find(u"D:\\Korvanis\\"), FileSystem::Kind::Directory);
    EXPECT_EQ(fs().find(u"D:\\"), FileSystem::Kind::Directory);
    EXPECT_EQ(fs().find(u"D:\\Korvanis/Login.exe"), FileSystem::Kind::None);
    EXPECT_TRUE(fs().exists(u"d:/korvanis/../Korvanis/Launcher.exe"));
    // Names are case-sensitive here, as the native file system is.
    EXPECT_FALSE(fs().exists(u"D:\\KORVANIS\\Launcher.exe"));
}

TEST_F(FilesTest, CreateDirectoryMakesOneLevelOnly) {
    EXPECT_FALSE(fs().createDirectory(u"D:\\a\\b"));  // parent missing
    EXPECT_FALSE(kvntest::NativeExists(d + "/a"));
    EXPECT_TRUE(fs().createDirectory(u"D:\\a"));
    EXPECT_TRUE(fs().createDirectory(u"D:\\a\\b"));
    EXPECT_TRUE(std::filesystem::is_directory(d + "/a/b"));
    EXPECT_FALSE(fs().createDirectory(u"D:\\a"));  // exists
    Spit(d + "/file", "x");
    EXPECT_FALSE(fs().createDirectory(u"D:\\file"));
    EXPECT_EQ(Slurp(d + "/file"), "x");
}

TEST_F(FilesTest, CopyFileReplacesTheTargetAndKeepsTheSource) {
    Spit(c + "/src/Login.exe", std::string(200000, 'n'));
    Spit(d + "/Korvanis/Login.exe", "old and longer than nothing");
    ASSERT_TRUE(fs().copyFile(u"C:\\src\\Login.exe", u"D:\\Korvanis/Login.exe"));
    EXPECT_EQ(Slurp(d + "/Korvanis/Login.exe"), std::string(200000, 'n'));
    EXPECT_EQ(Slurp(c + "/src/Login.exe"), std::string(200000, 'n'));

    // A file copied onto itself (another spelling of the same path) stays whole.
    ASSERT_TRUE(fs().copyFile(u"D:\\Korvanis\\Login.exe", u"D:\\Korvanis/./Login.exe"));
    EXPECT_EQ(Slurp(d + "/Korvanis/Login.exe").size(), 200000u);

    EXPECT_FALSE(fs().copyFile(u"C:\\src\\missing.exe", u"D:\\Korvanis/missing.exe"));
    EXPECT_FALSE(kvntest::NativeExists(d + "/Korvanis/missing.exe"));
    EXPECT_FALSE(fs().copyFile(u"C:\\src", u"D:\\Korvanis/src"));  // a folder is no file
    EXPECT_FALSE(fs().copyFile(u"C:\\src\\Login.exe", u"D:\\nofolder\\Login.exe"));
}

TEST_F(FilesTest, CopyFileKeepsTheExecutableBit) {
    Spit(c + "/7zr.exe", "#!/bin/sh\n");
    ::chmod((c + "/7zr.exe").c_str(), 0755);
    ASSERT_TRUE(fs().copyFile(u"C:\\7zr.exe", u"D:\\7zr.exe"));
    struct stat st {};
    ASSERT_EQ(::stat((d + "/7zr.exe").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST_F(FilesTest, ReadFileRefusesAFileLargerThanTheLimit) {
    Spit(d + "/ten.txt", "0123456789");
    EXPECT_EQ(fs().readFile(u"D:\\ten.txt", 10), Bytes("0123456789"));
    EXPECT_EQ(fs().readFile(u"D:\\ten.txt", 100), Bytes("0123456789"));
    EXPECT_EQ(fs().readFile(u"D:\\ten.txt", 9), std::nullopt);
    EXPECT_EQ(fs().readFile(u"D:\\ten.txt", 0), std::nullopt);
    Spit(d + "/empty.txt", "");
    EXPECT_EQ(fs().readFile(u"D:\\empty.txt", 0), Bytes());
    EXPECT_EQ(fs().readFile(u"D:\\missing.txt", 100), std::nullopt);
    EXPECT_EQ(fs().readFile(u"D:\\", 100), std::nullopt);
    // A large file is read whole, beyond one internal chunk.
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    Spit(d + "/big.bin", big);
    EXPECT_EQ(fs().readFile(u"D:\\big.bin", big.size()), big);
    EXPECT_EQ(fs().readFile(u"D:\\big.bin", big.size() - 1), std::nullopt);
}

TEST_F(FilesTest, ReadFileHeadTakesAtMostTheFirstBytes) {
    std::string big(100000, 'a');
    big += "tail";
    Spit(d + "/kvnversion.ini", big);
    EXPECT_EQ(fs().readFileHead(u"D:\\kvnversion.ini", 5), Bytes("aaaaa"));
    EXPECT_EQ(fs().readFileHead(u"D:\\kvnversion.ini", 100004), big);
    EXPECT_EQ(fs().readFileHead(u"D:\\kvnversion.ini", 1 << 20), big);
    EXPECT_EQ(fs().readFileHead(u"D:\\kvnversion.ini", 0), Bytes());
    EXPECT_EQ(fs().readFileHead(u"D:\\none.ini", 5), std::nullopt);
}

TEST_F(FilesTest, ReadUntilErrorKeepsWhatCameBeforeTheError) {
    std::string big(100000, 'a');
    big += "tail";
    Spit(d + "/Uninstall.list", big);
    auto whole = fs().readFileUntilError(u"D:\\Uninstall.list");
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->bytes, big);
    EXPECT_TRUE(whole->complete);
    EXPECT_EQ(fs().readFileUntilError(u"D:\\none.list"), std::nullopt);
    EXPECT_EQ(fs().readFileUntilError(u"D:\\"), std::nullopt);
    // Our own memory from address 0, which is never mapped: it opens, and
    // the first read fails.
    auto failed = fs().readFileUntilError(u"Z:\\proc\\self\\mem");
    ASSERT_TRUE(failed);
    EXPECT_FALSE(failed->complete);
    EXPECT_EQ(failed->bytes, Bytes());
}

TEST_F(FilesTest, SameFileThroughAnySpellingOrLink) {
    Spit(d + "/Korvanis/Login.exe", "launcher");
    Spit(d + "/Korvanis/login.exe", "another");
    ASSERT_EQ(::link((d + "/Korvanis/Login.exe").c_str(), (d + "/hard.exe").c_str()), 0);
    ASSERT_EQ(::symlink((d + "/Korvanis").c_str(), (d + "/via").c_str()), 0);
    const WString launcher = u"D:\\Korvanis\\Login.exe";
    EXPECT_TRUE(fs().isSameFile(launcher, launcher));
    EXPECT_TRUE(fs().isSameFile(launcher, u"D:\\Korvanis\\.\\Login.exe"));
    EXPECT_TRUE(fs().isSameFile(launcher, u"D:/Korvanis//Login.exe"));
    EXPECT_TRUE(fs().isSameFile(launcher, u"D:\\via\\Login.exe"));
    EXPECT_TRUE(fs().isSameFile(launcher, u"D:\\hard.exe"));
    EXPECT_FALSE(fs().isSameFile(launcher, u"D:\\Korvanis\\login.exe"));  // names differ in case here
    EXPECT_FALSE(fs().isSameFile(launcher, u"D:\\Korvanis\\none.exe"));
    EXPECT_FALSE(fs().isSameFile(u"D:\\Korvanis", u"D:\\via"));  // folders are no files
}

TEST_F(FilesTest, WriteFileCreatesOrTruncates) {
    ASSERT_TRUE(fs().writeFile(u"D:\\kvnlogin.dat", "first login text"));
    ASSERT_TRUE(fs().writeFile(u"D:\\kvnlogin.dat", "2nd"));
    EXPECT_EQ(Slurp(d + "/kvnlogin.dat"), "2nd");
    ASSERT_TRUE(fs().writeFile(u"D:\\zero.dat", ""));
    EXPECT_TRUE(kvntest::NativeExists(d + "/zero.dat"));
    EXPECT_FALSE(fs().writeFile(u"D:\\nofolder\\x.dat", "x"));
    EXPECT_FALSE(fs().writeFile(u"D:\\", "x"));
}

TEST_F(FilesTest, AnOwnerOnlyFileIsOpenToItsOwnerAloneWhateverItsName) {
    auto modeOf = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 0777;
    };
    for (const std::string name : {"kvnlogin.dat", "other.dat"}) {
        const std::string native = d + "/Korvanis/" + name;
        Spit(native, "old");
        ::chmod(native.c_str(), 0644);  // an older file open to others
        ASSERT_TRUE(fs().writeFile(u"D:\\Korvanis/" + fromUtf8(name), "user=secret",
                                   FileAccess::OwnerOnly));
        EXPECT_EQ(modeOf(native), 0600u) << name;
        EXPECT_EQ(Slurp(native), "user=secret");
        ASSERT_TRUE(fs().writeFile(u"D:\\Korvanis/new-" + fromUtf8(name), "x", FileAccess::OwnerOnly));
        EXPECT_EQ(modeOf(d + "/Korvanis/new-" + name), 0600u) << name;
    }
    // An ordinary write gives the usual mode, whatever the file is called.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_TRUE(fs().writeFile(u"D:\\kvnlogin.dat", "x"));
    EXPECT_EQ(modeOf(d + "/kvnlogin.dat"), 0666u & ~mask);
}

TEST_F(FilesTest, CreatedFileTakesWritesAndReportsItsSize) {
    Spit(d + "/LauncherDlg.bmp", std::string(5000, 'o'));
    auto file = fs().createFile(u"D:\\LauncherDlg.bmp");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size(), 0u);  // truncated at once
    EXPECT_EQ(file->write("BM", 2), 2u);
    const std::string chunk(1024, 'p');
    EXPECT_EQ(file->write(chunk.data(), chunk.size()), 1024u);
    EXPECT_EQ(file->size(), 1026u);
    file->close();
    EXPECT_EQ(file->write("x", 1), 0u);  // closed: nothing is written
    file.reset();
    EXPECT_EQ(Slurp(d + "/LauncherDlg.bmp"), "BM" + chunk);

    EXPECT_EQ(fs().createFile(u"D:\\nofolder\\a.bin"), nullptr);
}

TEST_F(FilesTest, ReplaceFileSwapsInTheWholeNewFile) {
    Spit(d + "/Login.exe", "old launcher");
    Spit(d + "/TmpLogin.exe", "new launcher");
    ASSERT_TRUE(fs().replaceFile(u"D:\\TmpLogin.exe", u"D:\\Login.exe"));
    EXPECT_EQ(Slurp(d + "/Login.exe"), "new launcher");
    EXPECT_FALSE(kvntest::NativeExists(d + "/TmpLogin.exe"));
    // A missing source leaves the target alone.
    EXPECT_FALSE(fs().replaceFile(u"D:\\TmpLogin.exe", u"D:\\Login.exe"));
    EXPECT_EQ(Slurp(d + "/Login.exe"), "new launcher");
}

TEST_F(FilesTest, AReaderSeesEitherTheOldOrTheWholeNewFile) {
    const std::string a(64 * 1024, 'A'), b(64 * 1024, 'B');
    Spit(d + "/target.bin", a);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const std::string now = Slurp(d + "/target.bin");
            if (now != a && now != b) torn.fetch_add(1);
            reads.fetch_add(1);
        }
    });
    for (int i = 0; i < 200; ++i) {
        Spit(d + "/next.bin", i % 2 ? a : b);
        ASSERT_TRUE(fs().replaceFile(u"D:\\next.bin", u"D:\\target.bin"));
    }
    stop = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}

TEST_F(FilesTest, ListDirectoryGivesBareNamesAndKinds) {
    Spit(d + "/Korvanis/Launcher.exe", "");
    Spit(d + "/Korvanis/游戏.txt", "");
    std::filesystem::create_directories(d + "/Korvanis/bin");
    // Links to folders and a file outside, and one that leads nowhere.
    Spit(c + "/outside/keep.txt", "keep");
    std::filesystem::create_directory_symlink(c + "/outside", d + "/Korvanis/toOutside");
    std::filesystem::create_symlink(c + "/outside/keep.txt", d + "/Korvanis/keep.lnk");
    std::filesystem::create_symlink(c + "/nowhere", d + "/Korvanis/dangling");
    // Names that a Windows path would read as syntax: backslashes and dots,
    // bytes that are not UTF-8, and a real file with a launcher link's name.
    std::filesystem::create_directories(d + "/Korvanis/..\\..");
    Spit(d + "/Korvanis/a\\b.txt", "");
    Spit(d + "/Korvanis/bad\xff.txt", "");
    Spit(d + "/Korvanis/Korvane.lnk", "");
    auto list = fs().listDirectory(u"D:\\Korvanis\\");
    ASSERT_TRUE(list);
    using K = FileSystem::Kind;
    std::map<std::string, K> seen;
    for (auto& e : *list) {
        // Each name joined to its folder names that entry and nothing else.
        EXPECT_EQ(fs().find(u"D:\\Korvanis\\" + e.name), e.kind) << toUtf8(e.name);
        seen[linuxp::NativePath(u"D:\\Korvanis\\" + e.name).substr(d.size() + 10)] = e.kind;
    }
    const std::map<std::string, K> expected{
        {"Launcher.exe", K::File}, {"bin", K::Directory},     {"游戏.txt", K::File},
        {"toOutside", K::Link},    {"keep.lnk", K::Link},     {"dangling", K::Link},
        {"..\\..", K::Directory},  {"a\\b.txt", K::File},     {"bad\xff.txt", K::File},
        {"Korvane.lnk", K::File}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(list->size(), expected.size());
    EXPECT_EQ(fs().find(u"D:\\Korvanis\\toOutside"), K::Link);
    EXPECT_EQ(fs().find(u"D:\\Korvanis\\toOutside\\keep.txt"), K::File);  // only the last step is not followed

    auto empty = fs().listDirectory(u"D:\\Korvanis\\bin");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_EQ(fs().listDirectory(u"D:\\missing"), std::nullopt);
}

TEST_F(FilesTest, DeleteAndRemoveTakeOnlyTheirKind) {
    Spit(d + "/Korvanis/bin/npKVNWebPlayer.dll", "dll");
    EXPECT_FALSE(fs().deleteFile(u"D:\\Korvanis\\bin"));
    EXPECT_FALSE(fs().removeDirectory(u"D:\\Korvanis\\bin"));  // not empty
    EXPECT_FALSE(fs().removeDirectory(u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll"));
    EXPECT_TRUE(fs().deleteFile(u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll"));
    EXPECT_FALSE(fs().deleteFile(u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll"));
    EXPECT_TRUE(fs().removeDirectory(u"D:\\Korvanis\\bin"));
    EXPECT_FALSE(kvntest::NativeExists(d + "/Korvanis/bin"));

    // A link goes as a link: what it points at stays.
    Spit(c + "/outside/keep.txt", "keep");
    std::filesystem::create_directory_symlink(c + "/outside", d + "/Korvanis/toOutside");
    std::filesystem::create_symlink(c + "/outside/keep.txt", d + "/Korvanis/file.lnk");
    EXPECT_FALSE(fs().removeDirectory(u"D:\\Korvanis\\toOutside"));
    EXPECT_TRUE(fs().deleteFile(u"D:\\Korvanis\\toOutside"));
    EXPECT_TRUE(fs().deleteFile(u"D:\\Korvanis\\file.lnk"));
    EXPECT_FALSE(std::filesystem::is_symlink(d + "/Korvanis/toOutside"));
    EXPECT_FALSE(std::filesystem::is_symlink(d + "/Korvanis/file.lnk"));
    EXPECT_EQ(Slurp(c + "/outside/keep.txt"), "keep");

    // A folder named "..\.." is removed by its own name, not read as steps up.
    std::filesystem::create_directories(d + "/Korvanis/bin/..\\..");
    Spit(d + "/Korvanis/bin/..\\../x.txt", "x");
    Spit(d + "/x.txt", "outside");
    auto list = fs().listDirectory(u"D:\\Korvanis\\bin");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    const WString odd = u"D:\\Korvanis\\bin\\" + list->front().name;
    EXPECT_TRUE(fs().deleteFile(odd + u"\\x.txt"));
    EXPECT_TRUE(fs().removeDirectory(odd));
    EXPECT_EQ(Slurp(d + "/x.txt"), "outside");
    EXPECT_FALSE(kvntest::NativeExists(d + "/Korvanis/bin/..\\.."));
}

}  // namespace
