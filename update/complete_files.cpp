#include "update/complete_files.h"

namespace kvn {
namespace {

// Little-endian reads that fail outside the bytes.
struct Reader {
    std::string_view b;
    bool has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= b.size() && length <= b.size() - offset;
    }
    std::uint64_t get(std::uint64_t offset, int bytes, bool& ok) const {
        if (!has(offset, static_cast<std::uint64_t>(bytes))) {
            ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | static_cast<std::uint8_t>(b[offset + static_cast<std::uint64_t>(i)]);
        return v;
    }
};

bool IsCompletePe(const Reader& r) {
    bool ok = true;
    if (!r.has(0, 0x40) || r.b.substr(0, 2) != "MZ") return false;
    const std::uint64_t pe = r.get(0x3c, 4, ok);
    if (!ok || !r.has(pe, 24) || r.b.substr(pe, 4) != std::string_view("PE\0\0", 4)) return false;
    const std::uint64_t machine = r.get(pe + 4, 2, ok);
    const std::uint64_t sections = r.get(pe + 6, 2, ok);
    const std::uint64_t optionalSize = r.get(pe + 20, 2, ok);
    const std::uint64_t characteristics = r.get(pe + 22, 2, ok);
    constexpr std::uint64_t kExecutable = 0x0002, kDll = 0x2000;
    if (!ok || machine != 0x8664 || sections == 0 || !(characteristics & kExecutable) ||
        (characteristics & kDll))
        return false;
    // The PE32+ optional header up to its data directories is 112 bytes.
    const std::uint64_t opt = pe + 24;
    if (optionalSize < 112 || !r.has(opt, optionalSize)) return false;
    const std::uint64_t magic = r.get(opt, 2, ok);
    const std::uint64_t headersSize = r.get(opt + 60, 4, ok);
    const std::uint64_t subsystem = r.get(opt + 68, 2, ok);
    const std::uint64_t directories = r.get(opt + 108, 4, ok);
    constexpr std::uint64_t kPe32Plus = 0x20b, kGui = 2;
    if (!ok || magic != kPe32Plus || subsystem != kGui || !r.has(0, headersSize) ||
        directories > (optionalSize - 112) / 8)
        return false;
    const std::uint64_t table = opt + optionalSize;
    if (!r.has(table, sections * 40)) return false;
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t rawSize = r.get(table + i * 40 + 16, 4, ok);
        const std::uint64_t rawAt = r.get(table + i * 40 + 20, 4, ok);
        if (!ok || (rawSize > 0 && !r.has(rawAt, rawSize))) return false;
    }
    // The certificate table is the one directory given as a file offset.
    if (directories > 4) {
        const std::uint64_t certAt = r.get(opt + 112 + 4 * 8, 4, ok);
        const std::uint64_t certSize = r.get(opt + 112 + 4 * 8 + 4, 4, ok);
        if (!ok || (certSize > 0 && !r.has(certAt, certSize))) return false;
    }
    return true;
}

bool IsCompleteElf(const Reader& r) {
    bool ok = true;
    if (!r.has(0, 64) || r.b.substr(0, 4) != "\x7f" "ELF") return false;
    constexpr char kClass64 = 2, kLittleEndian = 1, kVersion = 1;
    if (r.b[4] != kClass64 || r.b[5] != kLittleEndian || r.b[6] != kVersion) return false;
    const std::uint64_t type = r.get(16, 2, ok);
    const std::uint64_t machine = r.get(18, 2, ok);
    constexpr std::uint64_t kExec = 2, kShared = 3;
    if (type != kExec && type != kShared) return false;
#if defined(__x86_64__)
    if (machine != 62) return false;
#elif defined(__aarch64__)
    if (machine != 183) return false;
#else
    (void)machine;
#endif
    const std::uint64_t phoff = r.get(32, 8, ok);
    const std::uint64_t shoff = r.get(40, 8, ok);
    const std::uint64_t phentsize = r.get(54, 2, ok);
    const std::uint64_t phnum = r.get(56, 2, ok);
    const std::uint64_t shentsize = r.get(58, 2, ok);
    const std::uint64_t shnum = r.get(60, 2, ok);
    if (!ok || phentsize != 56 || phnum == 0 || !r.has(phoff, phnum * 56)) return false;
    bool loadable = false;
    for (std::uint64_t i = 0; i < phnum; ++i) {
        const std::uint64_t at = phoff + i * 56;
        const std::uint64_t segType = r.get(at, 4, ok);
        const std::uint64_t offset = r.get(at + 8, 8, ok);
        const std::uint64_t fileSize = r.get(at + 32, 8, ok);
        constexpr std::uint64_t kLoad = 1;
        if (!ok || (fileSize > 0 && !r.has(offset, fileSize))) return false;
        loadable = loadable || segType == kLoad;
    }
    if (!loadable) return false;
    // Section headers are optional, but when named they and their contents
    // must be there too (they sit at the very end of a linked program).
    if (shoff != 0 || shnum != 0) {
        const std::uint64_t count = shnum == 0 ? 1 : shnum;  // extended numbering: entry 0
        if (shentsize != 64 || !r.has(shoff, count * 64)) return false;
        for (std::uint64_t i = 0; i < shnum; ++i) {
            const std::uint64_t at = shoff + i * 64;
            const std::uint64_t secType = r.get(at + 4, 4, ok);
            const std::uint64_t offset = r.get(at + 24, 8, ok);
            const std::uint64_t size = r.get(at + 32, 8, ok);
            constexpr std::uint64_t kNull = 0, kNoBits = 8;
            if (!ok) return false;
            if (secType != kNull && secType != kNoBits && size > 0 && !r.has(offset, size))
                return false;
        }
    }
    return true;
}

}  // namespace

bool IsCompleteProgram(std::string_view file, ProgramKind kind) {
    const Reader r{file};
    return kind == ProgramKind::WindowsGuiX64 ? IsCompletePe(r) : IsCompleteElf(r);
}

std::optional<BitmapSize> CompleteBitmapSize(std::string_view file) {
    const Reader r{file};
    bool ok = true;
    if (!r.has(0, 18) || file.substr(0, 2) != "BM") return std::nullopt;
    const std::uint64_t pixelsAt = r.get(10, 4, ok);
    const std::uint64_t headerSize = r.get(14, 4, ok);
    if (!r.has(14, headerSize)) return std::nullopt;

    std::int64_t width = 0, height = 0;
    std::uint64_t planes = 0, bits = 0, compression = 0, imageSize = 0, colours = 0;
    std::uint64_t entrySize = 4;
    constexpr std::uint64_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;
    if (headerSize == 12) {  // the old core header: unsigned 16-bit sizes
        width = static_cast<std::int64_t>(r.get(18, 2, ok));
        height = static_cast<std::int64_t>(r.get(20, 2, ok));
        planes = r.get(22, 2, ok);
        bits = r.get(24, 2, ok);
        entrySize = 3;
        if (bits == 16 || bits == 32) return std::nullopt;
    } else if (headerSize == 40 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
        width = static_cast<std::int32_t>(r.get(18, 4, ok));
        height = static_cast<std::int32_t>(r.get(22, 4, ok));
        planes = r.get(26, 2, ok);
        bits = r.get(28, 2, ok);
        compression = r.get(30, 4, ok);
        imageSize = r.get(34, 4, ok);
        colours = r.get(46, 4, ok);
    } else {
        return std::nullopt;
    }
    if (!ok || planes != 1 || width <= 0 || height == 0) return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return std::nullopt;
    const bool rle = compression == kRle8 || compression == kRle4;
    if (!(compression == kRgb || (compression == kRle8 && bits == 8) ||
          (compression == kRle4 && bits == 4) ||
          (compression == kBitFields && (bits == 16 || bits == 32))))
        return std::nullopt;
    if (rle && height < 0) return std::nullopt;  // compressed rows only run bottom-up
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    // The window loads the whole picture into memory: a few compressed
    // bytes may not claim a picture of gigabytes.
    if (static_cast<std::uint64_t>(width) > kMaxBitmapSide || rows > kMaxBitmapSide) return std::nullopt;

    // Colour masks (after a 40-byte header) and the colour table come
    // before the pixels.
    std::uint64_t tableAt = 14 + headerSize;
    if (compression == kBitFields && headerSize == 40) tableAt += 12;
    const std::uint64_t maxColours = bits <= 8 ? (1u << bits) : 0;
    if (bits <= 8 && colours > maxColours) return std::nullopt;
    if (colours > 256) return std::nullopt;
    // A colour table beside direct colours is legal but not loaded by every
    // decoder (GdkPixbuf refuses it): such a file is not taken.
    if (bits > 8 && colours != 0) return std::nullopt;
    const std::uint64_t entries = colours != 0 ? colours : maxColours;
    const std::uint64_t tableEnd = tableAt + entries * entrySize;
    if (!r.has(0, tableEnd) || pixelsAt < tableEnd) return std::nullopt;

    std::uint64_t pixelBytes = 0;
    if (rle) {
        pixelBytes = imageSize;
        if (pixelBytes == 0) return std::nullopt;
    } else {
        const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
        // Every row takes at least four bytes, so neither factor can exceed
        // the file's size and the product cannot overflow.
        if (stride > file.size() || rows > file.size()) return std::nullopt;
        pixelBytes = stride * rows;
    }
    if (!r.has(pixelsAt, pixelBytes)) return std::nullopt;
    return BitmapSize{static_cast<std::int32_t>(width), static_cast<std::int32_t>(rows)};
}

bool IsUsableBackground(std::string_view file) {
    const auto size = CompleteBitmapSize(file);
    return size && size->width >= kWindowWidth && size->height >= kWindowHeight;
}

}  // namespace kvn
