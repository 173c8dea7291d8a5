// Drives from the drive table; free space from statvfs of each folder.
#include <sys/statvfs.h>

#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"

namespace kvn::linuxp {
namespace {

std::string folderOfRoot(const WString& root) {
    if (root.size() < 2 || root[1] != u':') return {};
    char16_t c = root[0];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    for (auto& [l, f] : DriveTable())
        if (l == c) return f;
    return {};
}

class LinuxDrives : public Drives {
public:
    std::uint32_t logicalDriveMask() override {
        std::uint32_t mask = 0;
        for (auto& [l, f] : DriveTable()) mask |= 1u << (l - 'A');
        return mask;
    }
    WString logicalDriveStrings() override {
        WString out;
        for (auto& [l, f] : DriveTable()) {
            out += static_cast<char16_t>(l);
            out += u":\\";
            out += char16_t(0);
        }
        out += char16_t(0);
        return out;
    }
    std::uint32_t driveType(const WString& root) override {
        std::string f = folderOfRoot(root);
        if (f.empty()) return 1;
        struct statvfs sv {};
        return ::statvfs(f.c_str(), &sv) == 0 ? 3 : 1;
    }
    std::optional<DiskSpace> diskFreeSpace(const WString& root) override {
        std::string f = folderOfRoot(root);
        struct statvfs sv {};
        if (f.empty() || ::statvfs(f.c_str(), &sv) != 0) return std::nullopt;
        DiskSpace d;
        d.availableToCaller = static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
        d.totalBytes = static_cast<std::uint64_t>(sv.f_blocks) * sv.f_frsize;
        d.totalFree = static_cast<std::uint64_t>(sv.f_bfree) * sv.f_frsize;
        return d;
    }
};

}  // namespace

std::unique_ptr<Drives> makeDrives() { return std::make_unique<LinuxDrives>(); }

}  // namespace kvn::linuxp
