// Command line, environment, folders, the named mutex and ANSI conversions.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <vector>

#include "platform/win32/internal.h"
#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

class Win32Mutex : public NamedMutex {
public:
    explicit Win32Mutex(HANDLE h) : h_(h) {}
    ~Win32Mutex() override {
        ReleaseMutex(h_);
        CloseHandle(h_);
    }

private:
    HANDLE h_;
};

class Win32System : public System {
public:
    std::vector<WString> arguments() override {
        std::vector<WString> out;
        // The C runtime's parse of the command line, as the program saw it.
        if (__wargv) {
            for (int i = 0; i < __argc; ++i) out.push_back(U(__wargv[i]));
            return out;
        }
        int count = 0;
        LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
        if (!args) return out;
        for (int i = 0; i < count; ++i) out.push_back(U(args[i]));
        LocalFree(args);
        return out;
    }
    void sleep(unsigned milliseconds) override { Sleep(milliseconds); }
    std::uint64_t monotonicMs() override { return GetTickCount64(); }
    std::optional<WString> environment(const WString& name) override {
        DWORD needed = GetEnvironmentVariableW(W(name), nullptr, 0);
        if (needed == 0) return std::nullopt;
        std::vector<wchar_t> buffer(needed);
        DWORD n = GetEnvironmentVariableW(W(name), buffer.data(), needed);
        if (n >= needed) return std::nullopt;
        return U(buffer.data(), n);
    }
    WString currentDirectory() override {
        DWORD needed = GetCurrentDirectoryW(0, nullptr);
        std::vector<wchar_t> buffer(needed + 1);
        DWORD n = GetCurrentDirectoryW(needed + 1, buffer.data());
        return n > needed ? WString() : U(buffer.data(), n);
    }
    WString moduleFileName() override {
        std::vector<wchar_t> buffer(MAX_PATH);
        for (;;) {
            DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0) return {};
            if (n < buffer.size()) return U(buffer.data(), n);
            if (buffer.size() >= 32768) return {};
            buffer.resize(buffer.size() * 2);
        }
    }
    std::unique_ptr<NamedMutex> createNamedMutex(const WString& name,
                                                 bool& alreadyExisted) override {
        HANDLE h = CreateMutexW(nullptr, TRUE, W(name));
        alreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
        if (!h) return nullptr;
        return std::make_unique<Win32Mutex>(h);
    }
    std::optional<Bytes> toAnsi(const WString& text) override {
        if (text.empty()) return Bytes();
        int n = WideCharToMultiByte(CP_ACP, 0, W(text), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
        if (n <= 0) return std::nullopt;
        Bytes out(static_cast<std::size_t>(n), '\0');
        WideCharToMultiByte(CP_ACP, 0, W(text), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
        return out;
    }
    WString fromAnsi(const Bytes& text) override {
        if (text.empty()) return {};
        int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0);
        if (n <= 0) return {};
        std::vector<wchar_t> out(static_cast<std::size_t>(n));
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
        return U(out.data(), out.size());
    }
    std::int64_t utcSeconds() override {
        // 100 ns steps since 1601-01-01 UTC.
        FILETIME ft{};
        GetSystemTimeAsFileTime(&ft);
        const std::int64_t ticks =
            static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                      ft.dwLowDateTime);
        constexpr std::int64_t kUnixEpoch = 116444736000000000;
        return (ticks - kUnixEpoch) / 10000000;
    }
};

}  // namespace

std::unique_ptr<System> makeSystem() { return std::make_unique<Win32System>(); }

}  // namespace kvn::win32
