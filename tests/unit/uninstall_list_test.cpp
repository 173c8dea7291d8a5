#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/fake/fake_platform.h"
#include "uninstall/uninstall_list.h"

namespace kvn {
namespace {

using Entries = std::vector<Bytes>;

TEST(UninstallList, LinesAreSplitAsTextModeReadsThem) {
    // CR LF and LF give the same entries; a final line feed adds nothing.
    EXPECT_EQ(ParseUninstallList("\\bin\r\n\\Launcher.exe\r\n"), (Entries{"\\bin", "\\Launcher.exe"}));
    EXPECT_EQ(ParseUninstallList("\\bin\n\\Launcher.exe\n"), (Entries{"\\bin", "\\Launcher.exe"}));
    EXPECT_EQ(ParseUninstallList("\\bin\n\\Launcher.exe"), (Entries{"\\bin", "\\Launcher.exe"}));
    // Only a CR right before the LF goes; any other stays in the entry.
    EXPECT_EQ(ParseUninstallList("a\r\r\nb\rc\nd\r"), (Entries{"a\r", "b\rc", "d\r"}));
    // 0x1A ends the text, even inside a line.
    EXPECT_EQ(ParseUninstallList("a\nb\x1A" "c\nd\n"), (Entries{"a", "b"}));
    EXPECT_EQ(ParseUninstallList("\x1A\\bin\n"), Entries{});
}

TEST(UninstallList, EntriesAreVerbatimEmptyOnesIncluded) {
    EXPECT_EQ(ParseUninstallList(""), Entries{});
    EXPECT_EQ(ParseUninstallList("\n"), Entries{""});
    EXPECT_EQ(ParseUninstallList("\\a\n\n\\b\n"), (Entries{"\\a", "", "\\b"}));
    EXPECT_EQ(ParseUninstallList(" \\bin\t\n# no comment\n"), (Entries{" \\bin\t", "# no comment"}));
    // A UTF-8 byte-order mark is not recognised: it is part of the first entry.
    EXPECT_EQ(ParseUninstallList("\xEF\xBB\xBF\\bin\n"), Entries{"\xEF\xBB\xBF\\bin"});
    const Bytes longLine(100000, 'x');
    EXPECT_EQ(ParseUninstallList(longLine + "\n"), Entries{longLine});
}

TEST(UninstallList, ReadAppendsTheFileAndKeepsTheListWhenItIsMissing) {
    fake::FakePlatform fp;
    fp.files.addDrive(u'D');
    Entries list{"earlier"};
    ReadUninstallList(fp.platform, u"D:\\Korvanis", list);
    EXPECT_EQ(list, Entries{"earlier"});
    fp.files.put(u"D:\\Korvanis\\Uninstall.list", "\\bin\r\n\\7zr.exe\r\n");
    ReadUninstallList(fp.platform, u"D:\\Korvanis", list);
    EXPECT_EQ(list, (Entries{"earlier", "\\bin", "\\7zr.exe"}));
}

TEST(UninstallList, AReadErrorKeepsTheWholeLinesBeforeIt) {
    struct Case {
        const char* name;
        Bytes text;
        std::size_t errorAt;
        Entries entries;
    };
    const Bytes three = "\\bin\r\n\\7zr.exe\r\n\\Launcher.exe\r\n";  // lines end at 5, 15, 30
    const Case cases[] = {
        {"in the third line", three, 20, {"\\bin", "\\7zr.exe"}},
        {"right after a line feed", three, 16, {"\\bin", "\\7zr.exe"}},
        {"between CR and LF", three, 15, {"\\bin"}},
        {"at the last byte", three, 30, {"\\bin", "\\7zr.exe"}},
        {"past the end", three, 31, {"\\bin", "\\7zr.exe", "\\Launcher.exe"}},
        {"at the start", three, 0, {}},
        // A cut line is not taken: it could name a shorter path.
        {"in the first line", "\\binaries\n\\x\n", 4, {}},
        {"in a last line without line feed", "\\a\n\\binaries", 7, {"\\a"}},
        // The end-of-file byte ends the text before the error.
        {"after an end-of-file byte", "\\a\n\\b\x1A\\c\n\\d\n", 9, {"\\a", "\\b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform fp;
        fp.files.addDrive(u'D');
        fp.files.put(u"D:\\Korvanis\\Uninstall.list", c.text);
        fp.files.failReadsFrom(u"D:\\Korvanis\\Uninstall.list", c.errorAt);
        Entries list;
        ReadUninstallList(fp.platform, u"D:\\Korvanis", list);
        EXPECT_EQ(list, c.entries);
    }
}

TEST(UninstallList, OnlyEntriesInsideTheLauncherFolderAreUsed) {
    struct Case {
        WString entry;  // owned: one case is built from a text holding a NUL
        bool usable;
    };
    const Case cases[] = {
        // The folder itself and things strictly inside it.
        {u"", true}, {u"\\bin", true}, {u"/bin", true}, {u"\\", true}, {u"\\.", true},
        {u"\\a\\.\\b", true}, {u"\\..x", true}, {u"\\x..", true}, {u"\\a.b\\c", true},
        {u"\\bin\\", true}, {u"\\a\\\\b", true}, {u"\\ bin ", true}, {u"\\. ", true},
        {u"\\游戏\\韩服", true}, {u"\\CONFIG", true}, {u"\\COM0", true}, {u"\\console.txt", true},
        // Without a leading separator an entry is glued to the folder's name:
        // "2" and "Backup" would name the siblings C:\Korvanis2, C:\KorvanisBackup.
        {u"2", false}, {u"Backup", false}, {u"bin", false}, {u" \\bin", false}, {u".", false},
        {u"..\\x", false},
        // Steps that climb out, also as Windows trims them to "..".
        {u"\\..", false}, {u"\\..\\Windows", false}, {u"/../x", false}, {u"\\a\\..\\..\\b", false},
        {u"\\...\\x", false}, {u"\\.. \\x", false}, {u"\\. .", false}, {u"\\bin\\..", false},
        {u"\\bin\\..\\..", false}, {u"\\ ..", false}, {u"\\bin/..", false}, {u"\\....", false},
        // Drive, UNC and device prefixes, streams.
        {u"\\C:\\Windows", false}, {u"\\\\server\\share", false}, {u"\\\\?\\C:\\x", false},
        {u"\\\\.\\PhysicalDrive0", false}, {u"//server/share", false}, {u"\\/x", false},
        {u"\\??\\C:\\x", false}, {u"\\bin::$INDEX_ALLOCATION", false}, {u"\\Launcher.exe:s", false},
        // NUL, CR and other control characters; wildcards and pipes.
        {WString(u"\\bin\0\\..", 8), false}, {u"\\bin\r", false}, {u"\\bin\r\\x", false},
        {u"\\a\tb", false}, {u"\\*", false}, {u"\\*.*", false}, {u"\\bin\\?", false},
        {u"\\a<b", false}, {u"\\a>b", false}, {u"\\\"x\"", false}, {u"\\a|b", false},
        // Device names in any letter case, with an extension or trailing blanks.
        {u"\\CON", false}, {u"\\bin\\nul", false}, {u"\\Aux.txt", false}, {u"\\PRN ", false},
        {u"\\com1", false}, {u"\\LPT9.log", false}, {u"\\con .x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsUsableEntry(c.entry), c.usable) << toUtf8(c.entry);
}

}  // namespace
}  // namespace kvn
