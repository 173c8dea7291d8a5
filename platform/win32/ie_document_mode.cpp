#include "platform/win32/ie_document_mode.h"

#include <mutex>
#include <vector>

namespace kvn::win32 {
namespace {

constexpr wchar_t kEmulationKey[] =
    L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";

std::optional<DWORD> ReadMode(const std::wstring& programName) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kEmulationKey, programName.c_str(), RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

// The running program's file name, whatever the length of its path.
std::wstring ProgramName() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            const std::wstring full(path.data(), n);
            const std::size_t slash = full.find_last_of(L"\\/");
            return slash == std::wstring::npos ? full : full.substr(slash + 1);
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::optional<DWORD> BuildIeDocumentMode() {
#ifdef KVN_IE_DOCUMENT_MODE
    return static_cast<DWORD>(KVN_IE_DOCUMENT_MODE);
#else
    return std::nullopt;
#endif
}

bool SetIeDocumentMode(const std::wstring& programName, DWORD mode) {
    if (programName.empty()) return false;
    // Unchanged values are not written again: the key is the user's, and
    // other programs' values in it are theirs.
    if (ReadMode(programName) == mode) return true;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kEmulationKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LSTATUS set = RegSetValueExW(key, programName.c_str(), 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&mode), sizeof mode);
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

void ApplyBuildIeDocumentMode() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The control reads the value when the process creates its first
        // browser; a failed write leaves the control's default.
        if (const auto mode = BuildIeDocumentMode()) SetIeDocumentMode(ProgramName(), *mode);
    });
}

}  // namespace kvn::win32
