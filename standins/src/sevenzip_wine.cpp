// Windows-side "7zr.exe" for Wine: runs the system's 7-Zip (/usr/bin/7zz) on
// the Unix side with the archive and working folder translated to Unix paths.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

using UnixName = char* (CDECL*)(LPCWSTR);

std::wstring widen(const char* s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
    return out;
}

// A Unix path as one single-quoted shell word.
std::wstring quoted(const std::wstring& path) {
    std::wstring out = L"'";
    for (wchar_t c : path) out += c == L'\'' ? std::wstring(L"'\\''") : std::wstring(1, c);
    return out + L"'";
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
    // Wine does not always hand a Unix program's exit code back (nor wait for
    // its end), so the shell writes the code into a status file that this
    // side waits for.
    wchar_t temp[MAX_PATH] = {}, status[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    if (!GetTempFileNameW(temp, L"7zr", 0, status)) return 9;
    DeleteFileW(status);
    char* unixStatus = toUnix(status);
    if (!unixStatus) return 8;
    std::wstring script = L"/usr/bin/7zz x -r " + quoted(widen(unixArchive)) +
                          L" -y >/dev/null 2>&1; echo $? > " + quoted(widen(unixStatus));
    HeapFree(GetProcessHeap(), 0, unixArchive);
    HeapFree(GetProcessHeap(), 0, unixStatus);
    std::wstring cmd = L"/bin/sh -c \"" + script + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    // Wine starts a Unix program given by its Unix path; it inherits the
    // current folder, which Wine maps to the Unix one.
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 9;
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // Up to an hour for the extraction to report.
    for (int i = 0; i < 72000; ++i) {
        HANDLE f = CreateFileW(status, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            char text[16] = {};
            DWORD got = 0;
            ReadFile(f, text, sizeof text - 1, &got, nullptr);
            CloseHandle(f);
            if (got > 0 && text[got - 1] == '\n') {
                DeleteFileW(status);
                return atoi(text);
            }
        }
        Sleep(50);
    }
    return 10;
}
