// Stand-in browser plug-in: registering it writes its own path as the
// "Path" value of its MozillaPlugins key; unregistering deletes the key.
// With KORVANE_REGSVR32_FAIL set, registering fails and changes nothing.
#include <windows.h>

namespace {
const wchar_t kKey[] = L"SOFTWARE\\MozillaPlugins\\korvane.net/KVNWebPlayer";
HMODULE g_self = nullptr;
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = inst;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
    if (GetEnvironmentVariableW(L"KORVANE_REGSVR32_FAIL", nullptr, 0) != 0) return E_FAIL;
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(g_self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return E_FAIL;
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr))
        return E_FAIL;
    LONG r = RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                            (n + 1) * sizeof(wchar_t));
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
    LONG r = RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    return (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) ? S_OK : E_FAIL;
}
