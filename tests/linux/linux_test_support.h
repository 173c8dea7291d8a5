// Shared fixture of the Linux backend tests: every test runs in its own
// scratch folder with its own HOME, XDG folders and drive table, and the
// services are built after that environment is in place.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"

namespace kvntest {

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard() { restore(); }

    void set(const char* name, const std::string& value) {
        remember(name);
        ::setenv(name, value.c_str(), 1);
    }
    void unset(const char* name) {
        remember(name);
        ::unsetenv(name);
    }
    void restore() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else ::unsetenv(it->first.c_str());
        }
        saved_.clear();
    }

private:
    void remember(const char* name) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

inline std::string Slurp(const std::string& native) {
    std::ifstream in(native, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void Spit(const std::string& native, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(native).parent_path());
    std::ofstream out(native, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline bool NativeExists(const std::string& native) {
    std::error_code ec;
    return std::filesystem::exists(native, ec);
}

// A scratch folder holding home/, data/, config/, cache/, run/ and the
// drives c/ (C:) and d/ (D:). The current folder is the C drive.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kvn-linux-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root = tmpl;
        c = root + "/c";
        d = root + "/d";
        for (const char* sub : {"home", "data", "config", "cache", "run", "c", "d"})
            std::filesystem::create_directories(root + "/" + sub);
        ::chmod((root + "/run").c_str(), 0700);
        env.set("HOME", root + "/home");
        env.set("XDG_DATA_HOME", root + "/data");
        env.set("XDG_CONFIG_HOME", root + "/config");
        env.set("XDG_CACHE_HOME", root + "/cache");
        env.set("XDG_RUNTIME_DIR", root + "/run");
        env.set("KORVANE_DRIVES", "C=" + c + ";D=" + d);
        char cwd[4096];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        oldCwd_ = cwd;
        ASSERT_EQ(::chdir(c.c_str()), 0);
    }
    void TearDown() override {
        services_.reset();
        if (!oldCwd_.empty()) (void)::chdir(oldCwd_.c_str());
        env.restore();
        std::error_code ec;
        if (!root.empty()) std::filesystem::remove_all(root, ec);
    }

    // The backend, built on first use (after the test's environment).
    kvn::linuxp::LinuxServices& svc() {
        if (!services_) services_ = NewServices();
        return *services_;
    }
    static std::unique_ptr<kvn::linuxp::LinuxServices> NewServices() {
        static char name[] = "kvn_linux_tests";
        static char* argv[] = {name, nullptr};
        return std::make_unique<kvn::linuxp::LinuxServices>(1, argv);
    }

    std::string root, c, d;
    EnvGuard env;

private:
    std::unique_ptr<kvn::linuxp::LinuxServices> services_;
    std::string oldCwd_;
};

}  // namespace kvntest
