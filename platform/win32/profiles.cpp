// INI files through the system's profile functions. A write goes to a copy
// beside the file, which then replaces it in one step, so a failed write
// never leaves the file half-written.
#include <windows.h>

#include <vector>

#include "platform/win32/internal.h"
#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

// Two distinct defaults tell a missing key from a key whose text equals one.
constexpr wchar_t kMissingA[] = L"\x01";
constexpr wchar_t kMissingB[] = L"\x02";

class Win32ProfileFiles : public ProfileFiles {
public:
    int getInt(const WString& section, const WString& key, int defaultValue,
               const WString& path) override {
        return static_cast<int>(GetPrivateProfileIntW(W(section), W(key), defaultValue, W(path)));
    }
    std::optional<WString> getString(const WString& section, const WString& key,
                                     const WString& path, std::size_t bufferUnits) override {
        if (bufferUnits < 2 || bufferUnits > 0x7FFFFFFF) return std::nullopt;
        if (GetFileAttributesW(W(path)) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
        // One unit more than asked: a text that fills even that was cut, and
        // one that fills it exactly does not fit the caller's buffer.
        const std::size_t units = bufferUnits + 1;
        std::vector<wchar_t> a(units), b(units);
        DWORD n = GetPrivateProfileStringW(W(section), W(key), kMissingA, a.data(),
                                           static_cast<DWORD>(units), W(path));
        if (n + 1 > bufferUnits) return std::nullopt;
        WString text = U(a.data(), n);
        if (text == U(kMissingA)) {
            DWORD m = GetPrivateProfileStringW(W(section), W(key), kMissingB, b.data(),
                                               static_cast<DWORD>(units), W(path));
            if (U(b.data(), m) == U(kMissingB)) return std::nullopt;
        }
        return text;
    }
    bool writeString(const WString& section, const WString& key, const WString& value,
                     const WString& path) override {
        const WString temp = path + u".new";
        DeleteFileW(W(temp));
        if (GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES &&
            !CopyFileW(W(path), W(temp), FALSE))
            return false;
        if (!WritePrivateProfileStringW(W(section), W(key), W(value), W(temp))) {
            DeleteFileW(W(temp));
            return false;
        }
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, W(temp));  // flush the cache
        if (!MoveFileExW(W(temp), W(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            DeleteFileW(W(temp));
            return false;
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<ProfileFiles> makeProfileFiles() { return std::make_unique<Win32ProfileFiles>(); }

}  // namespace kvn::win32
