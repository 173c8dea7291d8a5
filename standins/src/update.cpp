// Stand-in "update.exe": waits for the launcher to end, puts TmpLogin.exe in
// place of Login.exe in its working folder and starts the new launcher.
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
bool launcherRunning() {
    HANDLE m = OpenMutexW(SYNCHRONIZE, FALSE, L"KVNLancher");
    if (!m) return false;
    CloseHandle(m);
    return true;
}
void waitAWhile() { Sleep(100); }
#else
std::string lockPath() {
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    if (run && *run) return std::string(run) + "/korvane/KVNLancher.lock";
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache) return std::string(cache) + "/korvane/KVNLancher.lock";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.cache/korvane/KVNLancher.lock";
}
bool launcherRunning() {
    int fd = open(lockPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);  // also drops our lock, if we got it
    return held;
}
void waitAWhile() { usleep(100 * 1000); }
#endif

}  // namespace

int main() {
    // Bounded wait: two minutes, then give up without touching anything.
    int tries = 0;
    while (launcherRunning()) {
        if (++tries > 1200) return 2;
        waitAWhile();
    }
#ifdef _WIN32
    if (!MoveFileExW(L"TmpLogin.exe", L"Login.exe", MOVEFILE_REPLACE_EXISTING)) return 1;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    wchar_t cmd[] = L"Login.exe";
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    std::wstring app = std::wstring(dir) + L"\\Login.exe";
    if (!CreateProcessW(app.c_str(), cmd, nullptr, nullptr, FALSE, 0, nullptr, dir, &si, &pi)) return 1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
#else
    if (std::rename("TmpLogin.exe", "Login.exe") != 0) return 1;
    chmod("Login.exe", 0755);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        execl("./Login.exe", "Login.exe", (char*)nullptr);
        _exit(127);
    }
    return pid > 0 ? 0 : 1;
#endif
}
