// String values under HKEY_CURRENT_USER.
#include <windows.h>

#include <vector>

#include "platform/win32/internal.h"
#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

class Win32Registry : public Registry {
public:
    std::optional<WString> readUserString(const WString& key, const WString& value,
                                          std::size_t bufferBytes) override {
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, W(key), 0, KEY_READ, &h) != ERROR_SUCCESS)
            return std::nullopt;
        std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t) + 1, 0);
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(bufferBytes);
        LONG rc = RegQueryValueExW(h, W(value), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &size);
        RegCloseKey(h);
        if (rc != ERROR_SUCCESS) return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        // The text ends at its first zero unit, or at the data's end.
        std::size_t units = size / sizeof(wchar_t);
        std::size_t n = 0;
        while (n < units && buffer[n] != 0) ++n;
        return U(buffer.data(), n);
    }
    bool writeUserString(const WString& key, const WString& value, const WString& data) override {
        HKEY h = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, W(key), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h,
                            nullptr) != ERROR_SUCCESS)
            return false;
        LONG rc = RegSetValueExW(h, W(value), 0, REG_SZ, reinterpret_cast<const BYTE*>(W(data)),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(h);
        return rc == ERROR_SUCCESS;
    }
    bool deleteUserValue(const WString& key, const WString& value) override {
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, W(key), 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS)
            return false;
        LONG rc = RegDeleteValueW(h, W(value));
        RegCloseKey(h);
        return rc == ERROR_SUCCESS;
    }
};

}  // namespace

std::unique_ptr<Registry> makeRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace kvn::win32
