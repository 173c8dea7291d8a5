// The Linux mapping of Windows-form paths onto the drive table
// (KORVANE_DRIVES). Properties:
// - a path on a drive of the table never leaves that drive's folder, ".."
//   steps, mixed and doubled separators whatever, and holds no zero byte;
// - a path on a letter outside the table stays under the placeholder that
//   names no real folder (Z: excepted, which is the native root);
// - a native path maps to a Windows form that maps back to the same bytes.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/linux/paths.h"

namespace {

// True when `path` is `folder` or lies below it.
bool Inside(const std::string& path, const std::string& folder) {
    if (folder == "/") return !path.empty() && path[0] == '/';
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              path[folder.size()] == '/');
}

// A native path (a drive folder, a path to map back) in the form the mapping
// uses: split at '/' alone, steps resolved, no trailing separator.
std::string Canonical(const std::string& folder) {
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&] {
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (char c : folder) {
        if (c == '/') flush();
        else part += c;
    }
    flush();
    std::string out;
    for (auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& scratch = kvnfuzz::ScratchFolder();
    ::setenv("XDG_DATA_HOME", scratch.c_str(), 1);  // the default drive C goes here
    if (::chdir(scratch.c_str()) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string table = in.ConsumeRandomLengthString(80);
    const kvn::WString path = kvn::fromUtf8(in.ConsumeRandomLengthString(120));
    const std::string native = in.ConsumeRemainingBytesAsString();
    if (table.find('\0') != std::string::npos) return 0;  // not an environment text
    ::setenv("KORVANE_DRIVES", table.c_str(), 1);

    const auto drives = kvn::linuxp::DriveTable();
    KVN_PROPERTY(!drives.empty());
    // A system call sees the text up to its first zero byte: there is none.
    const std::string mapped = kvn::linuxp::NativePath(path);
    KVN_PROPERTY(!mapped.empty() && mapped[0] == '/');
    KVN_PROPERTY(mapped.find('\0') == std::string::npos);

    if (path.size() >= 2 && path[1] == u':' && path[0] < 0x80 && std::isalpha(path[0])) {
        const char letter = static_cast<char>(std::toupper(path[0]));
        auto drive = std::find_if(drives.begin(), drives.end(),
                                  [&](auto& d) { return d.first == letter; });
        if (drive != drives.end())
            KVN_PROPERTY(Inside(mapped, Canonical(drive->second)));
        else if (letter != 'Z')
            KVN_PROPERTY(Inside(mapped, std::string("/nonexistent-drive-") + letter));
    }

    // Native path -> Windows form -> native path, whatever bytes its names
    // hold: backslashes, bytes that are not UTF-8, characters of the escape
    // range, a name spelled like a launcher link.
    if (!native.empty() && native[0] == '/' && native.find('\0') == std::string::npos) {
        const kvn::WString windows = kvn::linuxp::WindowsPath(native);
        KVN_PROPERTY(windows.size() >= 3 && windows[1] == u':' && windows[2] == u'\\');
        KVN_PROPERTY(kvn::linuxp::NativePath(windows) == Canonical(native));
    }
    return 0;
}
