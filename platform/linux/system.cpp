// Command line, environment, current folder, named mutex, ANSI texts.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"

namespace kvn::linuxp {
namespace {

// A per-user lock file held with flock; it goes with the process, and the
// descriptor is close-on-exec so that children do not keep it.
class LockMutex : public NamedMutex {
public:
    explicit LockMutex(int fd) : fd_(fd) {}
    ~LockMutex() override {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    int fd_;
};

std::string lockFolder() {
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    std::string base;
    struct stat st {};
    if (run && run[0] == '/' && ::stat(run, &st) == 0 && S_ISDIR(st.st_mode) &&
        ::access(run, W_OK) == 0)
        base = run;
    else
        base = XdgCacheHome();
    ::mkdir(base.c_str(), 0700);
    std::string folder = base + "/korvane";
    ::mkdir(folder.c_str(), 0700);
    return folder;
}

class LinuxSystem : public System {
public:
    LinuxSystem(int argc, char** argv) {
        for (int i = 0; i < argc; ++i) args_.push_back(fromUtf8(argv[i] ? argv[i] : ""));
    }
    std::vector<WString> arguments() override { return args_; }
    void sleep(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    std::uint64_t monotonicMs() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
    std::optional<WString> environment(const WString& name) override {
        const char* v = std::getenv(toUtf8(name).c_str());
        if (!v) return std::nullopt;
        return fromUtf8(v);
    }
    WString currentDirectory() override {
        char buf[4096];
        if (!::getcwd(buf, sizeof buf)) return u"";
        return WindowsPath(buf);
    }
    WString moduleFileName() override {
        char buf[4096];
        ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0) return u"";
        return WindowsPath(std::string(buf, static_cast<std::size_t>(n)));
    }
    // This system has no regsvr32: the port's own comes in the package, and
    // the installed launcher needs it beside itself to unregister the plug-in.
    std::vector<WString> packageFiles() override { return {u"regsvr32"}; }
    std::unique_ptr<NamedMutex> createNamedMutex(const WString& name, bool& alreadyExisted) override {
        alreadyExisted = false;
        std::string safe = toUtf8(name);
        for (auto& c : safe) if (c == '/' || c == '\\') c = '_';
        std::string path = lockFolder() + "/" + safe + ".lock";
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return nullptr;
        int r;
        do r = ::flock(fd, LOCK_EX | LOCK_NB);
        while (r != 0 && errno == EINTR);
        if (r != 0) {
            // Held by another process: like CreateMutex, a handle is still
            // returned and the caller learns it existed.
            alreadyExisted = errno == EWOULDBLOCK;
        }
        return std::make_unique<LockMutex>(fd);
    }
    std::optional<Bytes> toAnsi(const WString& text) override {
        // The ANSI code page of this port is UTF-8; a lone surrogate has no form.
        for (std::size_t i = 0; i < text.size(); ++i) {
            char16_t c = text[i];
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) { ++i; continue; }
                return std::nullopt;
            }
            if (c >= 0xDC00 && c <= 0xDFFF) return std::nullopt;
        }
        return toUtf8(text);
    }
    WString fromAnsi(const Bytes& text) override { return fromUtf8(text); }
    std::int64_t utcSeconds() override {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

private:
    std::vector<WString> args_;
};

}  // namespace

std::unique_ptr<System> makeSystem(int argc, char** argv) {
    return std::make_unique<LinuxSystem>(argc, argv);
}

}  // namespace kvn::linuxp
