// INI files: reads by section and key, and writes that keep the rest.
#include "tests/linux/linux_test_support.h"

using namespace kvn;
using kvntest::Slurp;
using kvntest::Spit;

namespace {

struct ProfilesTest : kvntest::ScratchTest {
    ProfileFiles& ini() { return svc().profiles(); }
    const WString file = u"D:\\Korvanis/GameVideoSetting.ini";
    std::string native() { return d + "/Korvanis/GameVideoSetting.ini"; }
};

TEST_F(ProfilesTest, GetIntReadsDecimalsAndFallsBackToTheDefault) {
    Spit(d + "/LoginExeVersionInfo.ini",
         "; version record\r\n[VersionInfo]\r\nLoginExeVersionNumber = 12\r\n"
         "DlgBackVersionNumber=  -3xyz\r\nVersionNumber=abc\r\nEmpty=\r\nBlank=  \t\r\n"
         "[Other]\r\nMissing=5\r\n");
    const WString v = u"D:\\LoginExeVersionInfo.ini";
    EXPECT_EQ(ini().getInt(u"VersionInfo", u"LoginExeVersionNumber", 7, v), 12);
    EXPECT_EQ(ini().getInt(u"versioninfo", u"LOGINEXEVERSIONNUMBER", 7, v), 12);
    EXPECT_EQ(ini().getInt(u"VersionInfo", u"DlgBackVersionNumber", 7, v), -3);
    EXPECT_EQ(ini().getInt(u"VersionInfo", u"VersionNumber", 7, v), 0);  // no digit
    EXPECT_EQ(ini().getInt(u"VersionInfo", u"Empty", 7, v), 7);          // empty: the default
    EXPECT_EQ(ini().getInt(u"VersionInfo", u"Blank", 7, v), 7);
    EXPECT_EQ(ini().getInt(u"VersionInfo", u"Missing", 7, v), 7);        // other section's key
    EXPECT_EQ(ini().getInt(u"NoSection", u"LoginExeVersionNumber", 7, v), 7);
    EXPECT_EQ(ini().getInt(u"VersionInfo", u"LoginExeVersionNumber", 7, u"D:\\none.ini"), 7);
}

TEST_F(ProfilesTest, GetStringNeedsRoomForTheTextAndItsTerminator) {
    Spit(d + "/login.ini", "[Login]\nUrl=http://127.0.0.1/micro/\nName=游戏\nEmpty=\n");
    const WString p = u"D:\\login.ini";
    const WString url = u"http://127.0.0.1/micro/";
    EXPECT_EQ(ini().getString(u"login", u"url", p, url.size() + 1), url);
    EXPECT_EQ(ini().getString(u"Login", u"Url", p, url.size()), std::nullopt);
    // Counted in UTF-16 units, not bytes.
    EXPECT_EQ(ini().getString(u"Login", u"Name", p, 3), WString(u"游戏"));
    EXPECT_EQ(ini().getString(u"Login", u"Name", p, 2), std::nullopt);
    EXPECT_EQ(ini().getString(u"Login", u"Empty", p, 1), WString());
    EXPECT_EQ(ini().getString(u"Login", u"Nope", p, 100), std::nullopt);
    EXPECT_EQ(ini().getString(u"Nope", u"Url", p, 100), std::nullopt);
    EXPECT_EQ(ini().getString(u"Login", u"Url", u"D:\\none.ini", 100), std::nullopt);
}

TEST_F(ProfilesTest, WriteStringCreatesTheFileAndSection) {
    std::filesystem::create_directories(d + "/Korvanis");
    ASSERT_TRUE(ini().writeString(u"GameVideoSetting", u"SettingValue", u"3", file));
    ASSERT_TRUE(ini().writeString(u"GameVideoSetting", u"SettingUpdate", u"1", file));
    EXPECT_EQ(ini().getInt(u"GameVideoSetting", u"SettingValue", -1, file), 3);
    EXPECT_EQ(ini().getInt(u"GameVideoSetting", u"SettingUpdate", -1, file), 1);
    EXPECT_EQ(Slurp(native()), "[GameVideoSetting]\nSettingValue=3\nSettingUpdate=1\n");
    // No folder: nothing to write into.
    EXPECT_FALSE(ini().writeString(u"S", u"K", u"V", u"D:\\nofolder\\x.ini"));
}

TEST_F(ProfilesTest, WriteStringKeepsOtherSectionsKeysAndComments) {
    Spit(native(),
         "; written by the client\n[Client]\nLanguage=zh\n\n[GameVideoSetting]\n"
         "settingvalue=0\nWindowed=1\n\n[Tail]\nX=1\n");
    ASSERT_TRUE(ini().writeString(u"gamevideosetting", u"SettingValue", u"4", file));
    ASSERT_TRUE(ini().writeString(u"GameVideoSetting", u"SettingUpdate", u"1", file));
    ASSERT_TRUE(ini().writeString(u"New", u"名字", u"值", file));

    EXPECT_EQ(ini().getInt(u"GameVideoSetting", u"SettingValue", -1, file), 4);
    EXPECT_EQ(ini().getInt(u"GameVideoSetting", u"SettingUpdate", -1, file), 1);
    EXPECT_EQ(ini().getInt(u"GameVideoSetting", u"Windowed", -1, file), 1);
    EXPECT_EQ(ini().getString(u"Client", u"Language", file, 10), WString(u"zh"));
    EXPECT_EQ(ini().getInt(u"Tail", u"X", -1, file), 1);
    EXPECT_EQ(ini().getString(u"New", u"名字", file, 10), WString(u"值"));

    const std::string text = Slurp(native());
    EXPECT_NE(text.find("; written by the client\n"), std::string::npos);
    // The key is replaced in place, once, keeping its spelling; the new key
    // goes into its section, not at the end of the file.
    EXPECT_EQ(text.find("SettingValue"), std::string::npos);
    EXPECT_EQ(text.find("settingvalue=0"), std::string::npos);
    const auto section = text.find("[GameVideoSetting]");
    const auto update = text.find("SettingUpdate=1");
    const auto tail = text.find("[Tail]");
    ASSERT_NE(section, std::string::npos);
    EXPECT_NE(text.find("settingvalue=4"), std::string::npos);
    EXPECT_LT(section, update);
    EXPECT_LT(update, tail);
}

TEST_F(ProfilesTest, WriteStringReplacesTheFileWhole) {
    Spit(native(), "[A]\nk=v\n");
    ASSERT_TRUE(ini().writeString(u"A", u"k", u"w", file));
    // No temporary file is left beside it.
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(d + "/Korvanis")) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
    EXPECT_EQ(Slurp(native()), "[A]\nk=w\n");
}

TEST_F(ProfilesTest, AFileThatCannotBeReadIsNotReplacedByOneKey) {
    // Larger than the reader takes: the write must not drop the rest.
    std::string big = "[Client]\nLanguage=zh\n[Padding]\n";
    big += "Blob=" + std::string(17 << 20, 'x') + "\n";
    Spit(native(), big);
    ini().writeString(u"GameVideoSetting", u"SettingValue", u"2", file);
    const std::string after = Slurp(native());
    EXPECT_EQ(after.compare(0, 30, big, 0, 30), 0);
    EXPECT_GE(after.size(), big.size());
}

}  // namespace
