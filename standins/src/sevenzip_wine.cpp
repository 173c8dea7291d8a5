// Windows-side "7zr.exe" for Wine: runs the system's 7-Zip (/usr/bin/7zz) on
// the Unix side with the archive and working folder translated to Unix paths.
#include <windows.h>

#include <string>

namespace {

using UnixName = char* (CDECL*)(LPCWSTR);

std::wstring widen(const char* s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Expected: x -r <archive> -y
    std::wstring archive;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a.size() && a[0] != L'-' && a != L"x") archive = a;
    }
    if (archive.empty()) return 7;
    auto toUnix = reinterpret_cast<UnixName>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!toUnix) return 8;  // not under Wine
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(archive.c_str(), MAX_PATH, full, nullptr);
    char* unixArchive = toUnix(full);
    if (!unixArchive) return 8;
    std::wstring cmd = L"/usr/bin/7zz x -r \"" + widen(unixArchive) + L"\" -y";
    HeapFree(GetProcessHeap(), 0, unixArchive);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    // Wine starts a Unix program given by its Unix path; it inherits the
    // current folder, which Wine maps to the Unix one.
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 9;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}
