#include <gtest/gtest.h>

#include "install/drives.h"
#include "tests/fake/fake_platform.h"

namespace kvn {
namespace {

using fake::FakeDrive;
using fake::FakePlatform;

constexpr std::uint64_t GiB = 1ull << 30;

struct Survey {
    int count = kDriveCapacity;
    std::array<WString, kDriveCapacity> descriptions{};
    std::array<std::uint64_t, kDriveCapacity> freeBytes{};
    std::array<char16_t, kDriveCapacity> letters{};
    char16_t chosen = 0;
};

Survey SurveyOf(FakePlatform& p, std::vector<FakeDrive> drives) {
    p.drives.drives = std::move(drives);
    p.system.sleeps = 0;
    p.system.sleptMs = 0;
    Survey s;
    SurveyDrives(p, s.count, s.descriptions.data(), s.freeBytes.data(), s.letters.data());
    s.chosen = ChooseInstallDrive(s.descriptions.data(), s.freeBytes.data(), s.letters.data());
    return s;
}

DiskSpace Free(std::uint64_t bytes) { return DiskSpace{bytes, 100 * GiB, bytes}; }

TEST(DriveChoice, SecondFixedDiskWinsOnlyWhenTheFirstIsBelowFiveGiB) {
    FakePlatform p;
    EXPECT_EQ(SurveyOf(p, {{u'C', 3, Free(4 * GiB)}, {u'D', 3, Free(GiB)}}).chosen, u'D');
    EXPECT_EQ(SurveyOf(p, {{u'C', 3, Free(5368709120ull)}, {u'D', 3, Free(GiB)}}).chosen, u'C');
    EXPECT_EQ(SurveyOf(p, {{u'C', 3, Free(GiB)}, {u'D', 5, std::nullopt}}).chosen, u'C');
    EXPECT_EQ(SurveyOf(p, {{u'C', 3, Free(GiB)}, {u'D', 5, std::nullopt}, {u'E', 3, Free(500 * GiB)}}).chosen,
              u'C');
    EXPECT_EQ(SurveyOf(p, {{u'C', 3, Free(1)}}).chosen, u'C');
    EXPECT_EQ(DefaultInstallDir(u'D'), u"D:\\Korvanis");
}

TEST(DriveChoice, AFailedSpaceQueryCountsAsNoFreeSpace) {
    FakePlatform p;
    Survey s = SurveyOf(p, {{u'A', 2, std::nullopt}, {u'C', 3, Free(GiB)}});
    EXPECT_EQ(s.descriptions[0], u"可移动磁盘(A:\\):");
    EXPECT_EQ(s.freeBytes[0], 0u);
    EXPECT_EQ(s.chosen, u'C');
}

TEST(DriveSurvey, DescriptionsAreFormedByteForByte) {
    FakePlatform p;
    Survey s = SurveyOf(p, {{u'C', 3, DiskSpace{40960ull << 20, 107373129728ull, 0}},
                       {u'D', 0, std::nullopt},
                       {u'E', 1, std::nullopt},
                       {u'F', 7, std::nullopt},
                       {u'G', 4, std::nullopt},
                       {u'H', 6, std::nullopt}});
    EXPECT_EQ(s.count, 6);
    EXPECT_EQ(s.descriptions[0], u"本地磁盘(C:\\):磁盘总容量102398.996094MB磁盘剩余空间40960.000000MB");
    EXPECT_EQ(s.descriptions[1], u"虚拟RAM未知设备(D:\\):");
    EXPECT_EQ(s.descriptions[2], u"未知设备(E:\\):");
    EXPECT_EQ(s.descriptions[3], u"未知设备(F:\\):");
    EXPECT_EQ(s.descriptions[4], u"网络磁盘(G:\\):");
    EXPECT_EQ(s.descriptions[5], u"虚拟RAM磁盘(H:\\):");
    EXPECT_EQ(s.freeBytes[0], 40960ull << 20);
    EXPECT_EQ(std::u16string(s.letters.data(), 6), u"CDEFGH");
}

TEST(DriveSurvey, PausesOnceForEachMaskBitUpToTheHighestAndOncePerDrive) {
    FakePlatform p;
    SurveyOf(p, {{u'C', 3, Free(GiB)}, {u'D', 5, std::nullopt}, {u'E', 3, Free(GiB)}});
    EXPECT_EQ(p.system.sleeps.load(), 8u);  // bits 0..4, then three drives
    EXPECT_EQ(p.system.sleptMs.load(), 80u);
}

TEST(DriveSurvey, MoreDrivesThanCapacityFillsNothing) {
    FakePlatform p;
    p.drives.drives = {{u'C', 3, Free(GiB)}, {u'D', 3, Free(GiB)}, {u'E', 3, Free(GiB)}};
    int count = 2;
    WString descriptions[3];
    std::uint64_t freeBytes[3] = {};
    char16_t letters[3] = {};
    SurveyDrives(p, count, descriptions, freeBytes, letters);
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(descriptions[0].empty());
    EXPECT_EQ(letters[0], 0);
}

}  // namespace
}  // namespace kvn
