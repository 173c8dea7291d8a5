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

TEST(UninstallList, EntriesThatClimbOutOfTheFolderAreRecognised) {
    for (const char16_t* inside : {u"\\bin", u"", u"\\.", u"\\a\\.\\b", u"\\..x", u"\\x..", u"bin",
                                   u"\\a.b\\c"})
        EXPECT_TRUE(IsEntryInsideFolder(inside)) << toUtf8(inside);
    for (const char16_t* outside : {u"\\..", u"\\..\\Windows", u"/../x", u"\\a\\..\\..\\b",
                                    u"\\...\\x", u"\\.. \\x", u"\\. .", u"\\bin\\.."})
        EXPECT_FALSE(IsEntryInsideFolder(outside)) << toUtf8(outside);
}

}  // namespace
}  // namespace kvn
