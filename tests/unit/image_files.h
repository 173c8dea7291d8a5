// Small whole files of the kinds the self-update checks (programs and
// bitmaps), built byte by byte for the tests.
#pragma once

#include <cstdint>
#include <string>

#include "update/complete_files.h"

namespace kvn {

using Bytes = std::string;

inline void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 2; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}
inline void Put32(Bytes& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}
inline void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// The smallest whole program of a kind that carries `body`: a PE32+ GUI
// image for x86-64 with one section, or an ELF image of this machine with
// one loadable segment spanning the file.
inline Bytes Program(ProgramKind kind, const Bytes& body) {
    if (kind == ProgramKind::WindowsGuiX64) {
        Bytes b(0x200, '\0');
        b[0] = 'M', b[1] = 'Z';
        Put32(b, 0x3c, 0x40);
        b.replace(0x40, 4, Bytes("PE\0\0", 4));
        Put16(b, 0x44, 0x8664);      // machine
        Put16(b, 0x46, 1);           // sections
        Put16(b, 0x54, 240);         // optional header size
        Put16(b, 0x56, 0x22);        // executable image, large addresses
        const std::size_t opt = 0x58;
        Put16(b, opt, 0x20b);        // PE32+
        Put32(b, opt + 60, 0x200);   // headers size
        Put16(b, opt + 68, 2);       // GUI
        Put32(b, opt + 108, 16);     // data directories
        const std::size_t section = opt + 240;
        b.replace(section, 5, ".text");
        Put32(b, section + 16, body.size());
        Put32(b, section + 20, 0x200);
        return b + body;
    }
    Bytes b(64 + 56, '\0');
    b.replace(0, 4, "\x7f" "ELF");
    b[4] = 2, b[5] = 1, b[6] = 1;
    Put16(b, 16, 3);  // shared object, as a position-independent program is
#if defined(__aarch64__)
    Put16(b, 18, 183);
#else
    Put16(b, 18, 62);
#endif
    Put32(b, 20, 1);
    Put64(b, 32, 64);  // program headers right after this one
    Put16(b, 52, 64);
    Put16(b, 54, 56);
    Put16(b, 56, 1);
    Put32(b, 64, 1);  // loadable
    Put64(b, 64 + 32, b.size() + body.size());
    return b + body;
}
inline Bytes Launcher(const Bytes& body) { return Program(kLauncherProgramKind, body); }

// A whole bitmap of one bit per pixel; `tail` after the pixels tells copies apart.
inline Bytes Bitmap(std::int32_t width, std::int32_t height, const Bytes& tail = {}) {
    const std::size_t stride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
    const std::size_t rows = static_cast<std::size_t>(height < 0 ? -height : height);
    Bytes b(14 + 40 + 8, '\0');
    b[0] = 'B', b[1] = 'M';
    Put32(b, 2, b.size() + stride * rows);
    Put32(b, 10, b.size());
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<std::uint32_t>(width));
    Put32(b, 22, static_cast<std::uint32_t>(height));
    Put16(b, 26, 1);
    Put16(b, 28, 1);
    Put32(b, 62 - 4, 0x00404040);  // second colour: the key grey
    return b + Bytes(stride * rows, '\x55') + tail;
}
}  // namespace kvn
