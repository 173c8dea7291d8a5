// The complete-file checks of a downloaded launcher (PE32+ GUI for x86-64,
// ELF) and bitmap. Properties:
// - what the check admits has every section, segment and the pixel data
//   inside the file, by a separate reading of the headers;
// - bytes appended to an admitted file leave it admitted (with the same
//   size, for a bitmap): only a cut can make a file incomplete;
// - a usable background is exactly a complete bitmap of at least the
//   window's size.
// And the version record's keys (the same bytes read as a record):
// - a digest, size or expiry that reads as valid writes back to the same
//   value; a valid expiry is a real UTC time;
// - with a build key, a record is taken only when no number is below the
//   stored one's and its expiry (if any) is still ahead; a launcher or
//   background it raises is fetched only when it names the digest, and the
//   file is then taken only with that digest, within its ceiling, at the
//   size named.
#include "fuzz/fuzz_support.h"
#include "update/complete_files.h"
#include "update/update_rules.h"

namespace {

std::uint64_t Le(std::string_view b, std::uint64_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(b[at + i]);
    return v;
}

// Offset and length inside the file, in arithmetic that cannot wrap.
bool Within(std::string_view b, std::uint64_t at, std::uint64_t length) {
    return static_cast<unsigned __int128>(at) + length <= b.size();
}

// The PE sections' raw data, read from the headers again.
bool PeSectionsInside(std::string_view b) {
    if (!Within(b, 0x3c, 4)) return false;
    const std::uint64_t pe = Le(b, 0x3c, 4);
    if (!Within(b, pe, 24)) return false;
    const std::uint64_t sections = Le(b, pe + 6, 2), optional = Le(b, pe + 20, 2);
    const std::uint64_t table = pe + 24 + optional;
    if (!Within(b, table, sections * 40)) return false;
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t size = Le(b, table + i * 40 + 16, 4), at = Le(b, table + i * 40 + 20, 4);
        if (size > 0 && !Within(b, at, size)) return false;
    }
    return true;
}

// The ELF program segments' file bytes, read from the headers again.
bool ElfSegmentsInside(std::string_view b) {
    if (!Within(b, 0, 64)) return false;
    const std::uint64_t phoff = Le(b, 32, 8), phnum = Le(b, 56, 2);
    if (!Within(b, phoff, phnum * 56)) return false;
    for (std::uint64_t i = 0; i < phnum; ++i) {
        const std::uint64_t at = Le(b, phoff + i * 56 + 8, 8), size = Le(b, phoff + i * 56 + 32, 8);
        if (size > 0 && !Within(b, at, size)) return false;
    }
    return true;
}

// An uncompressed bitmap's rows, read from the headers again.
bool BitmapRowsInside(std::string_view b, const kvn::BitmapSize& size) {
    const std::uint64_t pixels = Le(b, 10, 4), header = Le(b, 14, 4);
    if (header == 12) return true;  // no compression field: checked by the loader below
    const std::uint64_t bits = Le(b, 28, 2), compression = Le(b, 30, 4);
    if (compression == 1 || compression == 2) return true;  // run-length: any length
    const std::uint64_t stride = (static_cast<std::uint64_t>(size.width) * bits + 31) / 32 * 4;
    return static_cast<unsigned __int128>(stride) * static_cast<std::uint64_t>(size.height) + pixels <= b.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string tail = in.ConsumeRandomLengthString(16);
    const std::string file = in.ConsumeRemainingBytesAsString();
    const std::string longer = file + (tail.empty() ? std::string(1, '\0') : tail);

    if (kvn::IsCompleteProgram(file, kvn::ProgramKind::WindowsGuiX64)) {
        KVN_PROPERTY(PeSectionsInside(file));
        KVN_PROPERTY(kvn::IsCompleteProgram(longer, kvn::ProgramKind::WindowsGuiX64));
    }
    if (kvn::IsCompleteProgram(file, kvn::ProgramKind::Elf)) {
        KVN_PROPERTY(ElfSegmentsInside(file));
        KVN_PROPERTY(kvn::IsCompleteProgram(longer, kvn::ProgramKind::Elf));
    }
    const auto bitmap = kvn::CompleteBitmapSize(file);
    if (bitmap) {
        KVN_PROPERTY(bitmap->width > 0 && bitmap->height > 0);
        KVN_PROPERTY(BitmapRowsInside(file, *bitmap));
        const auto again = kvn::CompleteBitmapSize(longer);
        KVN_PROPERTY(again && again->width == bitmap->width && again->height == bitmap->height);
    }
    KVN_PROPERTY(kvn::IsUsableBackground(file) ==
                 (bitmap && bitmap->width >= kvn::kWindowWidth && bitmap->height >= kvn::kWindowHeight));

    using kvn::FieldState;
    const kvn::VersionRecord record = kvn::ParseVersionRecord(file);
    if (record.launcherSha256.valid())
        KVN_PROPERTY(kvn::ParseSha256Hex(kvn::Sha256Hex(record.launcherSha256.value)) == record.launcherSha256.value);
    if (record.launcherSize.valid())
        KVN_PROPERTY(kvn::ParseByteCount(std::to_string(record.launcherSize.value)) == record.launcherSize.value);
    if (record.expires.valid()) {
        KVN_PROPERTY(record.expires.value >= 0);
        KVN_PROPERTY(kvn::ParseUtcTime(kvn::FormatUtcTime(record.expires.value)) == record.expires.value);
    }
    // The stored record: the same keys read from the tail.
    const kvn::VersionRecord stored = kvn::ParseVersionRecord(tail);
    const std::int64_t now = 1780315200;
    if (kvn::CheckRecord(record, stored, true, now) == kvn::RecordFault::None) {
        // VersionNumber may go down; the files' numbers never do.
        KVN_PROPERTY(record.launcher >= stored.launcher && record.background >= stored.background);
        KVN_PROPERTY(record.expires.state == FieldState::Absent ||
                     (record.expires.valid() && record.expires.value > now));
    }
    KVN_PROPERTY(kvn::CheckRecord(record, stored, false, now) == kvn::RecordFault::None);
    const kvn::FileDemand launcher = kvn::LauncherDemand(record, true);
    KVN_PROPERTY(launcher.fault != kvn::FileFault::None || launcher.digest);
    KVN_PROPERTY(launcher.ceiling <= kvn::kLargestByteCount);
    if (kvn::CheckLauncherFile(file, launcher) == kvn::FileFault::None) {
        KVN_PROPERTY(kvn::Sha256(file) == *launcher.digest && file.size() <= launcher.ceiling);
        KVN_PROPERTY(!launcher.exactSize || file.size() == launcher.ceiling);
    }
    const kvn::FileDemand background = kvn::BackgroundDemand(record, true, true);
    KVN_PROPERTY(background.fault != kvn::FileFault::None ||
                 (background.digest && background.ceiling <= kvn::kMaxBackgroundBytes));
    return 0;
}
