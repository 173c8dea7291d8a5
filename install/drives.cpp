#include "install/drives.h"

#include <cstdio>

#include "platform/text.h"

namespace kvn {
namespace {

const char16_t* TypeName(std::uint32_t type) {
    switch (type) {
        case 0: return u"虚拟RAM未知设备";
        case 1: return u"未知设备";
        case 2: return u"可移动磁盘";
        case 3: return u"本地磁盘";
        case 4: return u"网络磁盘";
        case 5: return u"DVD驱动器";
        case 6: return u"虚拟RAM磁盘";
        default: return u"未知设备";
    }
}

// "%f" of a byte count in megabytes of 1,048,576 bytes.
WString Megabytes(std::uint64_t bytes) {
    const double mb = static_cast<double>(bytes) * (1.0 / 1024) * (1.0 / 1024);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%f", mb);
    return widen(buffer);
}

}  // namespace

void SurveyDrives(Platform& platform, int& count, WString* descriptions,
                  std::uint64_t* freeBytes, char16_t* letters) {
    std::uint32_t mask = platform.drives.logicalDriveMask();
    int drives = 0;
    while (mask != 0) {
        platform.system.sleep(10);
        if (mask & 1u) ++drives;
        mask >>= 1;
    }
    if (count < drives) return;
    count = drives;

    const WString list = platform.drives.logicalDriveStrings();
    const std::size_t processed = list.size() / 4;
    for (std::size_t i = 0; i < processed; ++i) {
        platform.system.sleep(10);
        const WString root = untilZero(std::u16string_view(list).substr(4 * i, 4));
        const std::uint32_t type = platform.drives.driveType(root);
        letters[i] = list[4 * i];

        WString capacity, available;
        if (const auto space = platform.drives.diskFreeSpace(root)) {
            freeBytes[i] = space->availableToCaller;
            capacity = u"磁盘总容量" + Megabytes(space->totalBytes) + u"MB";
            available = u"磁盘剩余空间" + Megabytes(space->availableToCaller) + u"MB";
        }
        descriptions[i] = TypeName(type) + (u"(" + root + u"):") + capacity + available;
    }
}

char16_t ChooseInstallDrive(const WString* descriptions, const std::uint64_t* freeBytes,
                            const char16_t* letters) {
    constexpr std::uint64_t kFiveGiB = 5368709120ull;
    if (contains(descriptions[1], u"本地磁盘(") && freeBytes[0] < kFiveGiB) return letters[1];
    return letters[0];
}

WString DefaultInstallDir(char16_t letter) { return WString(1, letter) + u":\\Korvanis"; }

}  // namespace kvn
