// Conversions between the core's UTF-16 texts (char16_t) and the Windows
// API's wchar_t texts; both are UTF-16 on Windows, so no re-encoding.
#pragma once

#include <string>

#include "platform/platform.h"

namespace kvn::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be UTF-16");

inline const wchar_t* W(const WString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline WString U(const wchar_t* s) {
    return s ? WString(reinterpret_cast<const char16_t*>(s)) : WString();
}
inline WString U(const wchar_t* s, std::size_t n) {
    return WString(reinterpret_cast<const char16_t*>(s), n);
}
inline std::wstring ToW(const WString& s) {
    return std::wstring(reinterpret_cast<const wchar_t*>(s.data()), s.size());
}

}  // namespace kvn::win32
