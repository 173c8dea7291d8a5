// The per-user registry store that stands in for HKEY_CURRENT_USER.
#include <sys/stat.h>

#include <thread>

#include "tests/linux/linux_test_support.h"

using namespace kvn;

namespace {

const WString kKey = u"SOFTWARE\\MozillaPlugins\\@korvane.net/KVNWebPlayer";

struct RegistryTest : kvntest::ScratchTest {
    Registry& reg() { return svc().registry(); }
    std::string store() { return root + "/config/korvane/registry.ini"; }
};

TEST_F(RegistryTest, WriteReadDelete) {
    EXPECT_EQ(reg().readUserString(kKey, u"Path", 255 * 2), std::nullopt);
    ASSERT_TRUE(reg().writeUserString(kKey, u"Path", u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll"));
    EXPECT_EQ(reg().readUserString(kKey, u"Path", 255 * 2),
              WString(u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll"));
    // Key and value names are case-insensitive, a trailing separator is no
    // other key.
    EXPECT_EQ(reg().readUserString(u"software\\mozillaplugins\\@KORVANE.NET/kvnwebplayer\\", u"path", 255 * 2),
              WString(u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll"));
    // Overwriting keeps one value.
    ASSERT_TRUE(reg().writeUserString(kKey, u"PATH", u"E:\\Korvanis\\bin\\npKVNWebPlayer.dll"));
    EXPECT_EQ(reg().readUserString(kKey, u"Path", 255 * 2),
              WString(u"E:\\Korvanis\\bin\\npKVNWebPlayer.dll"));

    ASSERT_TRUE(reg().deleteUserValue(kKey, u"Path"));
    EXPECT_EQ(reg().readUserString(kKey, u"Path", 255 * 2), std::nullopt);
    EXPECT_FALSE(reg().deleteUserValue(kKey, u"Path"));
    EXPECT_FALSE(reg().deleteUserValue(u"SOFTWARE\\Nothing", u"Path"));

    // A store edited by hand with the value twice, and its key twice: the
    // first one is read, and a removal leaves none.
    kvntest::Spit(store(), "[HKCU\\" + toUtf8(kKey) + "]\nPATH=a\npath=b\n[hkcu\\" + toUtf8(kKey) +
                               "]\nPath=c\n");
    EXPECT_EQ(reg().readUserString(kKey, u"Path", 255 * 2), WString(u"a"));
    ASSERT_TRUE(reg().deleteUserValue(kKey, u"Path"));
    EXPECT_EQ(reg().readUserString(kKey, u"Path", 255 * 2), std::nullopt);
}

TEST_F(RegistryTest, MissingKeyOrValueReadsAsNothing) {
    ASSERT_TRUE(reg().writeUserString(kKey, u"Version", u"1"));
    EXPECT_EQ(reg().readUserString(kKey, u"Path", 1000), std::nullopt);
    EXPECT_EQ(reg().readUserString(u"SOFTWARE\\MozillaPlugins\\other", u"Version", 1000), std::nullopt);
    // A key whose name only starts the same is another key.
    EXPECT_EQ(reg().readUserString(u"SOFTWARE\\MozillaPlugins", u"Version", 1000), std::nullopt);
}

TEST_F(RegistryTest, DataMustFitTheBufferWithItsTerminator) {
    // 62 characters and a terminator are 126 bytes: they fit 127 bytes.
    const WString sixtyTwo = u"D:\\Korvanis\\bin\\" + WString(46, u'k');
    const WString sixtyThree = sixtyTwo + u"k";
    ASSERT_EQ(sixtyTwo.size(), 62u);
    ASSERT_TRUE(reg().writeUserString(kKey, u"A", sixtyTwo));
    ASSERT_TRUE(reg().writeUserString(kKey, u"B", sixtyThree));
    EXPECT_EQ(reg().readUserString(kKey, u"A", 127), sixtyTwo);
    EXPECT_EQ(reg().readUserString(kKey, u"B", 127), std::nullopt);
    EXPECT_EQ(reg().readUserString(kKey, u"B", 128), sixtyThree);
    EXPECT_EQ(reg().readUserString(kKey, u"A", 126), sixtyTwo);
    EXPECT_EQ(reg().readUserString(kKey, u"A", 125), std::nullopt);
    // The empty text needs its terminator only.
    ASSERT_TRUE(reg().writeUserString(kKey, u"E", u""));
    EXPECT_EQ(reg().readUserString(kKey, u"E", 2), WString());
    EXPECT_EQ(reg().readUserString(kKey, u"E", 1), std::nullopt);
    // Chinese text is counted in UTF-16 units of two bytes.
    ASSERT_TRUE(reg().writeUserString(kKey, u"C", u"游戏"));
    EXPECT_EQ(reg().readUserString(kKey, u"C", 6), WString(u"游戏"));
    EXPECT_EQ(reg().readUserString(kKey, u"C", 5), std::nullopt);
}

TEST_F(RegistryTest, ValuesSurviveANewInstanceAndKeepTheirCharacters) {
    const WString odd = u"C:\\游戏\\韩服\\bin\\x.dll\nsecond line\\n = [not a section]";
    ASSERT_TRUE(reg().writeUserString(kKey, u"Path", odd));
    ASSERT_TRUE(reg().writeUserString(u"SOFTWARE\\Korvane", u"Path", u"other key"));
    {
        auto fresh = NewServices();
        EXPECT_EQ(fresh->registry().readUserString(kKey, u"Path", 1000), odd);
        EXPECT_EQ(fresh->registry().readUserString(u"SOFTWARE\\Korvane", u"Path", 1000),
                  WString(u"other key"));
    }
    // The store is the user's own.
    struct stat st {};
    ASSERT_EQ(::stat(store().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

TEST_F(RegistryTest, AStoreThatCannotBeReadIsNotReplacedByOneValue) {
    ASSERT_TRUE(reg().writeUserString(kKey, u"Path", u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll"));
    // Grown beyond what the reader takes.
    std::ofstream(store(), std::ios::app) << "[HKCU\\Padding]\nBlob=" << std::string(17 << 20, 'x') << "\n";
    const auto before = std::filesystem::file_size(store());
    reg().writeUserString(u"SOFTWARE\\Korvane", u"Other", u"value");
    EXPECT_GE(std::filesystem::file_size(store()), before);
    EXPECT_EQ(kvntest::Slurp(store()).compare(0, 10, "[HKCU\\SOFT"), 0);
}

TEST_F(RegistryTest, ConcurrentWritersLoseNoValue) {
    // The plug-in registration and the launcher may write at the same time.
    auto writer = [&](char16_t tag) {
        auto own = NewServices();
        for (int i = 0; i < 25; ++i) {
            WString name = WString(1, tag) + decimal(i);
            if (!own->registry().writeUserString(kKey, name, name + u"-data")) ADD_FAILURE() << "write failed";
        }
    };
    std::thread a(writer, u'a'), b(writer, u'b');
    a.join();
    b.join();
    for (char16_t tag : {u'a', u'b'})
        for (int i = 0; i < 25; ++i) {
            WString name = WString(1, tag) + decimal(i);
            EXPECT_EQ(reg().readUserString(kKey, name, 100), name + u"-data") << toUtf8(name);
        }
}

}  // namespace
