// Programs started with CreateProcessW; the process list from a tool-help
// snapshot.
#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include "platform/win32/internal.h"
#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

class Win32Process : public Process {
public:
    Win32Process(HANDLE process, HANDLE thread) : process_(process), thread_(thread) {}
    ~Win32Process() override {
        CloseHandle(thread_);
        CloseHandle(process_);
    }
    std::optional<std::uint32_t> wait() override {
        if (WaitForSingleObject(process_, INFINITE) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        if (!GetExitCodeProcess(process_, &code)) return std::nullopt;
        return code;
    }

private:
    HANDLE process_;
    HANDLE thread_;
};

class Win32Processes : public Processes {
public:
    std::unique_ptr<Process> start(const ProcessStart& request) override {
        // CreateProcessW may write into the command line, so it gets a copy.
        std::vector<wchar_t> commandLine(request.commandLine.size() + 1, 0);
        for (std::size_t i = 0; i < request.commandLine.size(); ++i)
            commandLine[i] = static_cast<wchar_t>(request.commandLine[i]);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        if (request.hidden) {
            si.dwFlags = STARTF_USESHOWWINDOW;
            si.wShowWindow = SW_HIDE;
        }
        PROCESS_INFORMATION pi{};
        BOOL ok = CreateProcessW(
            request.application.empty() ? nullptr : W(request.application),
            request.commandLine.empty() ? nullptr : commandLine.data(), nullptr, nullptr, FALSE,
            0, nullptr, request.workingDirectory.empty() ? nullptr : W(request.workingDirectory),
            &si, &pi);
        if (!ok) return nullptr;
        return std::make_unique<Win32Process>(pi.hProcess, pi.hThread);
    }
    std::optional<std::vector<WString>> runningProcessNames() override {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
        std::vector<WString> names;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        if (Process32FirstW(snapshot, &entry)) {
            do {
                names.push_back(U(entry.szExeFile));
            } while (Process32NextW(snapshot, &entry));
        }
        CloseHandle(snapshot);
        return names;
    }
    [[noreturn]] void exitProcess(std::uint32_t code) override { ExitProcess(code); }
};

}  // namespace

std::unique_ptr<Processes> makeProcesses() { return std::make_unique<Win32Processes>(); }

}  // namespace kvn::win32
