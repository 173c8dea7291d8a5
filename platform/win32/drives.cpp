// Logical drives, their types and free space.
#include <windows.h>

#include <vector>

#include "platform/win32/internal.h"
#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

class Win32Drives : public Drives {
public:
    std::uint32_t logicalDriveMask() override { return GetLogicalDrives(); }
    WString logicalDriveStrings() override {
        DWORD needed = GetLogicalDriveStringsW(0, nullptr);
        if (needed == 0) return {};
        std::vector<wchar_t> buffer(needed + 1, 0);
        DWORD n = GetLogicalDriveStringsW(needed, buffer.data());
        if (n == 0 || n > needed) return {};
        // n counts the units before the final extra zero; keep that zero.
        return U(buffer.data(), n + 1);
    }
    std::uint32_t driveType(const WString& root) override { return GetDriveTypeW(W(root)); }
    std::optional<DiskSpace> diskFreeSpace(const WString& root) override {
        ULARGE_INTEGER caller{}, total{}, free{};
        if (!GetDiskFreeSpaceExW(W(root), &caller, &total, &free)) return std::nullopt;
        return DiskSpace{caller.QuadPart, total.QuadPart, free.QuadPart};
    }
};

}  // namespace

std::unique_ptr<Drives> makeDrives() { return std::make_unique<Win32Drives>(); }

}  // namespace kvn::win32
