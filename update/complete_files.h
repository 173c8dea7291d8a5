// Whether downloaded bytes are a whole file of the kind the self-update
// expects. Pure functions of the bytes, so that any input is safe to give.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kvn {

enum class ProgramKind {
    WindowsGuiX64,  // PE32+ image for x86-64, GUI subsystem
    Elf,            // ELF image of this machine
};

// The kind of program this launcher is.
#ifdef _WIN32
constexpr ProgramKind kLauncherProgramKind = ProgramKind::WindowsGuiX64;
#else
constexpr ProgramKind kLauncherProgramKind = ProgramKind::Elf;
#endif

// A program of that kind whose headers, and the sections and segments they
// describe, all lie inside the bytes.
bool IsCompleteProgram(std::string_view file, ProgramKind kind);

struct BitmapSize {
    std::int32_t width = 0;
    std::int32_t height = 0;  // always positive, whichever way the rows run
};
// The longest side of a bitmap that is taken at all (256 MiB of pixels
// once loaded at four bytes each).
constexpr int kMaxBitmapSide = 8192;
// The most bytes read of a local bitmap: the largest complete one (both
// sides at the limit, four bytes a pixel, with its headers) fits.
constexpr std::size_t kMaxBitmapFileBytes = 257u << 20;

// The size of a bitmap file whose headers are valid, whose colour table
// and pixel data lie inside the bytes and whose sides are at most
// kMaxBitmapSide; nullopt otherwise.
std::optional<BitmapSize> CompleteBitmapSize(std::string_view file);

// The launcher window's fixed size, which its background may not undercut.
constexpr int kWindowWidth = 1035;
constexpr int kWindowHeight = 590;

// A complete bitmap at least as large as the window.
bool IsUsableBackground(std::string_view file);

}  // namespace kvn
