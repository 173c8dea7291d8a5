// Windows-form paths on the Linux file system: the drive table, separators,
// the Z: fallback and non-ASCII names.
#include "tests/linux/linux_test_support.h"

using namespace kvn;
using kvn::linuxp::DriveTable;
using kvn::linuxp::NativePath;
using kvn::linuxp::WindowsPath;

namespace {

struct PathsTest : kvntest::ScratchTest {};

TEST_F(PathsTest, DriveTableComesFromTheEnvironmentSortedAndCleaned) {
    // Lower-case letters are upper-cased, trailing separators dropped,
    // relative folders and repeated letters ignored.
    env.set("KORVANE_DRIVES", "e=/srv/e/;c=/srv/c;X=relative;C=/srv/other;QQ=/q;;D=/srv/d//");
    const std::vector<std::pair<char, std::string>> expected{
        {'C', "/srv/c"}, {'D', "/srv/d"}, {'E', "/srv/e"}};
    EXPECT_EQ(DriveTable(), expected);

    // Read again on every call: a changed variable takes effect at once.
    env.set("KORVANE_DRIVES", "F=/srv/f");
    EXPECT_EQ(DriveTable(), (std::vector<std::pair<char, std::string>>{{'F', "/srv/f"}}));
}

TEST_F(PathsTest, WithoutATableDriveCLivesUnderTheDataFolderAndIsCreated) {
    env.unset("KORVANE_DRIVES");
    const std::string folder = root + "/data/korvane/drives/C";
    ASSERT_FALSE(kvntest::NativeExists(folder));
    EXPECT_EQ(DriveTable(), (std::vector<std::pair<char, std::string>>{{'C', folder}}));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(NativePath(u"C:\\Korvanis\\Login.exe"), folder + "/Korvanis/Login.exe");

    // A table of nothing usable falls back the same way.
    env.set("KORVANE_DRIVES", "junk;=;1=/x");
    EXPECT_EQ(DriveTable(), (std::vector<std::pair<char, std::string>>{{'C', folder}}));
}

TEST_F(PathsTest, BothSeparatorsAndDoubledSeparatorsNameTheSameFile) {
    const std::string want = d + "/Korvanis/Launcher.exe";
    EXPECT_EQ(NativePath(u"D:\\Korvanis\\/Launcher.exe"), want);
    EXPECT_EQ(NativePath(u"D:\\Korvanis/Launcher.exe"), want);
    EXPECT_EQ(NativePath(u"D:/Korvanis//Launcher.exe"), want);
    EXPECT_EQ(NativePath(u"d:\\Korvanis\\\\Launcher.exe"), want);
    EXPECT_EQ(NativePath(u"D:\\Korvanis\\.\\Launcher.exe"), want);
    EXPECT_EQ(NativePath(u"D:\\Korvanis\\bin\\..\\Launcher.exe"), want);
    // Drive roots, with and without a separator.
    EXPECT_EQ(NativePath(u"D:\\"), d);
    EXPECT_EQ(NativePath(u"D:/"), d);
    EXPECT_EQ(NativePath(u"D:"), d);
}

TEST_F(PathsTest, DotDotStopsAtTheDriveRootAsOnWindows) {
    // "D:\..\x" is "D:\x": the root is its own parent.
    EXPECT_EQ(NativePath(u"D:\\..\\..\\etc\\passwd"), d + "/etc/passwd");
    EXPECT_EQ(NativePath(u"D:\\Korvanis\\..\\..\\..\\Launcher.exe"), d + "/Launcher.exe");
    EXPECT_EQ(NativePath(u"D:\\.."), d);
    EXPECT_EQ(NativePath(u"\\..\\Launcher.exe"), c + "/Launcher.exe");
}

TEST_F(PathsTest, ALetterOutsideTheTableNamesNothingThatExists) {
    const std::string native = NativePath(u"Q:\\Korvanis\\Login.exe");
    EXPECT_FALSE(kvntest::NativeExists(native)) << native;
    EXPECT_EQ(svc().files().find(u"Q:\\Korvanis"), FileSystem::Kind::None);
    EXPECT_EQ(svc().drives().logicalDriveMask() & (1u << ('Q' - 'A')), 0u);
}

TEST_F(PathsTest, NativePathsReadAsDriveLettersOrZ) {
    EXPECT_EQ(WindowsPath(d + "/Korvanis/Launcher.exe"), u"D:\\Korvanis\\Launcher.exe");
    EXPECT_EQ(WindowsPath(d), u"D:\\");
    EXPECT_EQ(WindowsPath(d + "/"), u"D:\\");
    EXPECT_EQ(WindowsPath(c + "//x/./y"), u"C:\\x\\y");
    // Outside every drive: Z: names the native root.
    EXPECT_EQ(WindowsPath("/usr/share/doc"), u"Z:\\usr\\share\\doc");
    EXPECT_EQ(WindowsPath("/"), u"Z:\\");
    EXPECT_EQ(NativePath(u"Z:\\usr\\share\\doc"), "/usr/share/doc");
    // A folder beside a drive whose name starts the same is not on it.
    std::string beside = d + "x/file";
    for (auto& ch : beside)
        if (ch == '/') ch = '\\';
    EXPECT_EQ(WindowsPath(d + "x/file"), fromUtf8("Z:" + beside));
    // Relative native paths are taken from the current folder (drive C).
    EXPECT_EQ(WindowsPath("sub/file.txt"), u"C:\\sub\\file.txt");
    // Z: stays the native root even when the table names it, so a path
    // outside the drives maps back to itself.
    env.set("KORVANE_DRIVES", "C=" + c + ";Z=" + d);
    EXPECT_EQ(DriveTable(), (std::vector<std::pair<char, std::string>>{{'C', c}}));
    EXPECT_EQ(WindowsPath("/usr/share/doc"), u"Z:\\usr\\share\\doc");
    EXPECT_EQ(NativePath(u"Z:\\usr\\share\\doc"), "/usr/share/doc");
}

TEST_F(PathsTest, TheLongestMatchingDriveWins) {
    env.set("KORVANE_DRIVES", "C=" + c + ";E=" + c + "/inner");
    EXPECT_EQ(WindowsPath(c + "/inner/game"), u"E:\\game");
    EXPECT_EQ(WindowsPath(c + "/innerx"), u"C:\\innerx");
    EXPECT_EQ(NativePath(u"E:\\game"), c + "/inner/game");
}

TEST_F(PathsTest, ChineseNamesRoundTrip) {
    const WString win = u"D:\\游戏\\韩服\\卸载游戏.lnk";
    const std::string native = NativePath(win);
    EXPECT_EQ(native, d + "/游戏/韩服/卸载游戏.desktop");
    EXPECT_EQ(WindowsPath(d + "/游戏/韩服"), u"D:\\游戏\\韩服");
    EXPECT_EQ(NativePath(WindowsPath(d + "/游戏/启动.exe")), d + "/游戏/启动.exe");

    // And the file operations reach such a folder by its Windows name.
    auto& fs = svc().files();
    ASSERT_TRUE(fs.createDirectory(u"D:\\游戏"));
    ASSERT_TRUE(fs.writeFile(u"D:\\游戏/说明.txt", "内容"));
    EXPECT_EQ(kvntest::Slurp(d + "/游戏/说明.txt"), "内容");
}

TEST_F(PathsTest, LinkFilesBecomeDesktopEntriesWhateverTheCase) {
    EXPECT_EQ(NativePath(u"C:\\Menu\\Korvane.lnk"), c + "/Menu/Korvane.desktop");
    EXPECT_EQ(NativePath(u"C:\\Menu\\Korvane.LNK"), c + "/Menu/Korvane.desktop");
    EXPECT_EQ(NativePath(u"C:\\Menu/KorvaneWeb.lnk"), c + "/Menu/KorvaneWeb.desktop");
    EXPECT_EQ(NativePath(u"C:\\Menu\\Korvane.lnk.txt"), c + "/Menu/Korvane.lnk.txt");
    // Only the launcher's own link names: any other ".lnk" is a file of that name.
    EXPECT_EQ(NativePath(u"C:\\Menu\\Other.lnk"), c + "/Menu/Other.lnk");
    EXPECT_EQ(NativePath(u"C:\\Menu\\xKorvane.lnk"), c + "/Menu/xKorvane.lnk");
}

TEST_F(PathsTest, NamesReadFromAFolderComeBackAsTheSameBytes) {
    using kvn::linuxp::EncodeName;
    for (const std::string name : {"plain.txt", "游戏", "..\\..", "a\\b", "bad\xff\xfe", "\xc0\xaf",
                                   "\xed\xa0\x80", "\xee\x81\x9c", "Korvane.lnk", "KORVANE.LNK",
                                   "\xef\xbf\xbd", "tail\xe6\xb8"}) {
        const WString step = EncodeName(name);
        // One step: no separator, no ".." and no launcher link name to map.
        EXPECT_EQ(step.find_first_of(u"\\/"), WString::npos) << name;
        EXPECT_EQ(NativePath(u"C:\\Menu\\" + step), c + "/Menu/" + name) << name;
        // And a native path holding it has a Windows form that maps back.
        EXPECT_EQ(NativePath(WindowsPath(c + "/Menu/" + name + "/x")), c + "/Menu/" + name + "/x") << name;
    }
    EXPECT_EQ(EncodeName("游戏.txt"), u"游戏.txt");  // plain names are shown as they are
    // Escape units that spell a step up, a separator or a zero byte stay
    // plain characters: they never climb, split or cut a path.
    EXPECT_EQ(NativePath(u"C:\\Menu\\\uF02E\uF02E\\x"), c + "/Menu/\xEF\x80\xAE\xEF\x80\xAE/x");
    EXPECT_EQ(NativePath(u"C:\\Menu\\a\uF02Fb"), c + "/Menu/a\xEF\x80\xAF" "b");
    EXPECT_EQ(NativePath(u"C:\\Menu\\a\uF000b"), c + "/Menu/a\xEF\x80\x80" "b");
    // A zero unit is replaced, never a zero byte that ends the path early or
    // reads as a placeholder with the unit after it ("\0D" would be a dot).
    EXPECT_EQ(NativePath(WString(u"C:\\Menu\\a\0Db", 12)), c + "/Menu/a\xEF\xBF\xBD" "Db");
    EXPECT_EQ(NativePath(WString(u"C:\\Menu\\\0B\\x", 12)), c + "/Menu/\xEF\xBF\xBD" "B/x");
}

TEST_F(PathsTest, ARootedPathWithoutLetterIsOnTheCurrentDrive) {
    ASSERT_EQ(::chdir(d.c_str()), 0);
    EXPECT_EQ(NativePath(u"\\Korvanis\\Login.exe"), d + "/Korvanis/Login.exe");
    EXPECT_EQ(NativePath(u"/Launcher.exe"), d + "/Launcher.exe");
    // A relative Windows path is taken from the current folder.
    EXPECT_EQ(NativePath(u"login.ini"), d + "/login.ini");
}

}  // namespace
