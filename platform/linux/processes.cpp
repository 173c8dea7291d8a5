// Process starts, waits and the process list.
#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"

extern char** environ;

namespace kvn::linuxp {

// Splits a command line with the rules of CommandLineToArgvW: blanks
// separate, quotes group, 2n backslashes before a quote give n and a
// delimiter, 2n+1 give n and a literal quote; "" inside quotes is a quote.
std::vector<WString> SplitCommandLine(const WString& line) {
    std::vector<WString> out;
    std::size_t i = 0, n = line.size();
    while (true) {
        while (i < n && (line[i] == u' ' || line[i] == u'\t')) ++i;
        if (i >= n) break;
        WString arg;
        bool quoted = false;
        while (i < n) {
            char16_t c = line[i];
            if (!quoted && (c == u' ' || c == u'\t')) break;
            if (c == u'\\') {
                std::size_t b = 0;
                while (i < n && line[i] == u'\\') { ++b; ++i; }
                if (i < n && line[i] == u'"') {
                    arg.append(b / 2, u'\\');
                    if (b % 2) { arg += u'"'; ++i; }
                } else {
                    arg.append(b, u'\\');
                }
                continue;
            }
            if (c == u'"') {
                if (quoted && i + 1 < n && line[i + 1] == u'"') { arg += u'"'; i += 2; continue; }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += c;
            ++i;
        }
        out.push_back(arg);
    }
    return out;
}

namespace {

bool isDrivePath(const WString& s) {
    return s.size() >= 3 && ((s[0] >= u'A' && s[0] <= u'Z') || (s[0] >= u'a' && s[0] <= u'z')) &&
           s[1] == u':' && (s[2] == u'\\' || s[2] == u'/');
}

bool executable(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

// The running program's folder.
std::string OwnFolder() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    const std::string exe(buf, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

}  // namespace

// A program named without a folder is looked for where CreateProcessW looks:
// in the running program's own folder, then in the current folder, then
// along PATH. A name with a folder is taken as it is.
std::string FindProgram(const WString& program, const std::string& ownFolder) {
    bool hasPath = program.find(u'\\') != WString::npos || program.find(u'/') != WString::npos ||
                   (program.size() >= 2 && program[1] == u':');
    if (hasPath) return NativePath(program);
    if (program.empty()) return {};
    const std::string name = toUtf8(program);
    // Relative folders are taken from the current folder now: the child
    // changes into its own working folder before the program is run.
    char cwd[4096];
    const std::string current = ::getcwd(cwd, sizeof cwd) ? cwd : "";
    auto absolute = [&](const std::string& d) {
        if (d.empty() || d == ".") return current;
        return d[0] == '/' ? d : current + "/" + d;
    };
    std::vector<std::string> folders;
    if (!ownFolder.empty()) folders.push_back(ownFolder);
    folders.push_back(current);
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string d = dirs.substr(start, end - start);
        folders.push_back(absolute(d));
        start = end + 1;
    }
    for (const std::string& d : folders)
        if (!d.empty() && executable(d + "/" + name)) return d + "/" + name;
    return {};
}

namespace {

class LinuxProcess : public Process {
public:
    explicit LinuxProcess(pid_t pid) : pid_(pid) {}
    // Never kills; a child not waited for stays until it ends.
    ~LinuxProcess() override {
        if (!waited_) ::waitpid(pid_, nullptr, WNOHANG);
    }
    std::optional<std::uint32_t> wait() override {
        if (waited_) return code_;
        int status = 0;
        pid_t r;
        do r = ::waitpid(pid_, &status, 0);
        while (r < 0 && errno == EINTR);
        if (r != pid_) return std::nullopt;
        waited_ = true;
        // Killed by a signal: 128 + signal, as a shell reports it.
        if (WIFEXITED(status)) code_ = static_cast<std::uint32_t>(WEXITSTATUS(status));
        else if (WIFSIGNALED(status)) code_ = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
        return code_;
    }

private:
    pid_t pid_;
    bool waited_ = false;
    std::optional<std::uint32_t> code_;
};

class LinuxProcesses : public Processes {
public:
    std::unique_ptr<Process> start(const ProcessStart& request) override {
        std::vector<WString> tokens = SplitCommandLine(request.commandLine);
        WString program = request.application;
        if (program.empty()) {
            if (tokens.empty()) return nullptr;
            program = tokens[0];
        }
        std::string exe = FindProgram(program, OwnFolder());
        if (exe.empty()) return nullptr;
        std::vector<std::string> args;
        if (tokens.empty()) args.push_back(exe);
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            if (i == 0) args.push_back(toUtf8(tokens[0]));
            else args.push_back(isDrivePath(tokens[i]) ? NativePath(tokens[i]) : toUtf8(tokens[i]));
        }
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        std::string cwd;
        if (!request.workingDirectory.empty()) {
            cwd = NativePath(request.workingDirectory);
            struct stat st {};
            if (::stat(cwd.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                posix_spawn_file_actions_destroy(&actions);
                return nullptr;
            }
            posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        }
        pid_t pid = 0;
        // glibc's posix_spawn reports a failed exec as its result.
        int rc = ::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return nullptr;
        return std::make_unique<LinuxProcess>(pid);
    }

    std::optional<std::vector<WString>> runningProcessNames() override {
        DIR* d = ::opendir("/proc");
        if (!d) return std::nullopt;
        std::vector<WString> out;
        while (dirent* e = ::readdir(d)) {
            std::string pid = e->d_name;
            if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
            std::string base = "/proc/" + pid;
            char buf[4096];
            std::string name;
            ssize_t n = ::readlink((base + "/exe").c_str(), buf, sizeof buf - 1);
            if (n > 0) {
                name.assign(buf, static_cast<std::size_t>(n));
                const std::string deleted = " (deleted)";
                if (name.size() > deleted.size() &&
                    name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
                    name.resize(name.size() - deleted.size());
            } else {
                // Another user's process: the first word of its command line.
                FILE* f = std::fopen((base + "/cmdline").c_str(), "rb");
                if (!f) continue;
                std::size_t r = std::fread(buf, 1, sizeof buf - 1, f);
                std::fclose(f);
                buf[r] = 0;
                name = buf;
            }
            if (name.empty()) continue;
            auto slash = name.find_last_of('/');
            if (slash != std::string::npos) name = name.substr(slash + 1);
            out.push_back(fromUtf8(name));
        }
        ::closedir(d);
        return out;
    }

    [[noreturn]] void exitProcess(std::uint32_t code) override { ::_exit(static_cast<int>(code)); }
};

}  // namespace

std::unique_ptr<Processes> makeProcesses() { return std::make_unique<LinuxProcesses>(); }

}  // namespace kvn::linuxp
