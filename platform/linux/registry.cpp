// HKEY_CURRENT_USER as a per-user store file:
// $XDG_CONFIG_HOME/korvane/registry.ini, sections "[HKCU\<key>]", lines
// "<value>=<data>" with "\\" and "\n" escapes; names case-insensitive.
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "platform/linux/internal.h"
#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"

namespace kvn::linuxp {
namespace {

std::string escape(const std::string& s) {
    std::string o;
    for (char c : s) {
        if (c == '\\') o += "\\\\";
        else if (c == '\n') o += "\\n";
        else if (c == '\r') o += "\\r";
        else o += c;
    }
    return o;
}

std::string unescape(const std::string& s) {
    std::string o;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char n = s[++i];
            o += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            o += s[i];
        }
    }
    return o;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '\n') { out.push_back(cur); cur.clear(); }
        else if (c != '\r') cur += c;
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::string sectionOf(const std::string& key) {
    std::string k = key;
    while (!k.empty() && k.back() == '\\') k.pop_back();
    return "HKCU\\" + k;
}

bool isSection(const std::string& line, std::string* name) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
    *name = line.substr(1, line.size() - 2);
    return true;
}

class LinuxRegistry : public Registry {
public:
    std::string file() { return XdgConfigHome() + "/korvane/registry.ini"; }

    std::optional<std::string> get(const std::string& key, const std::string& value) {
        auto text = readNative(file(), 16 << 20, false);
        if (!text) return std::nullopt;
        std::string want = sectionOf(key), name;
        bool in = false;
        for (auto& line : splitLines(*text)) {
            if (isSection(line, &name)) { in = equalsNoCase(name, want); continue; }
            if (!in) continue;
            auto eq = line.find('=');
            if (eq != std::string::npos && equalsNoCase(line.substr(0, eq), value))
                return unescape(line.substr(eq + 1));
        }
        return std::nullopt;
    }

    // Rewrites the store with the value set (data) or removed (nullopt).
    bool put(const std::string& key, const std::string& value, const std::optional<std::string>& data) {
        std::string path = file();
        std::string dir = XdgConfigHome();
        ::mkdir(dir.c_str(), 0700);
        ::mkdir((dir + "/korvane").c_str(), 0700);
        // One writer at a time (the launcher and its worker threads, regsvr32).
        int lock = ::open((dir + "/korvane/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock >= 0) ::flock(lock, LOCK_EX);
        // A store that is there but cannot be read is left alone rather than
        // rewritten with this one value.
        std::string text;
        struct stat existing {};
        if (::stat(path.c_str(), &existing) == 0) {
            auto old = readNative(path, 16 << 20, false);
            if (!old) {
                if (lock >= 0) ::close(lock);
                return false;
            }
            text = std::move(*old);
        }
        std::string want = sectionOf(key), name;
        std::vector<std::string> out;
        bool in = false, done = false, found = false;
        for (auto& line : splitLines(text)) {
            if (isSection(line, &name)) {
                if (in && !done && data) { out.push_back(escape(value) + "=" + escape(*data)); done = true; }
                in = equalsNoCase(name, want);
                out.push_back(line);
                continue;
            }
            // A removal drops every line of the value, so that a store
            // edited by hand with the value twice has none left after it.
            if (in && (!done || !data)) {
                auto eq = line.find('=');
                if (eq != std::string::npos && equalsNoCase(line.substr(0, eq), value)) {
                    found = true;
                    if (data) out.push_back(line.substr(0, eq) + "=" + escape(*data));
                    done = true;
                    continue;
                }
            }
            out.push_back(line);
        }
        if (data && !done) {
            // The key's section is the last one, or there is none yet.
            if (!in) out.push_back("[" + want + "]");
            out.push_back(escape(value) + "=" + escape(*data));
        }
        bool ok = true;
        if (data || found) {
            std::string joined;
            for (auto& l : out) joined += l + "\n";
            ok = replaceWhole(path, joined, 0600);
        } else {
            ok = false;  // nothing to delete
        }
        if (lock >= 0) ::close(lock);
        return ok;
    }

    std::optional<WString> readUserString(const WString& key, const WString& value,
                                          std::size_t bufferBytes) override {
        auto data = get(toUtf8(key), toUtf8(value));
        if (!data) return std::nullopt;
        WString w = fromUtf8(*data);
        if ((w.size() + 1) * 2 > bufferBytes) return std::nullopt;
        return untilZero(w);
    }
    bool writeUserString(const WString& key, const WString& value, const WString& data) override {
        return put(toUtf8(key), toUtf8(value), toUtf8(data));
    }
    bool deleteUserValue(const WString& key, const WString& value) override {
        return put(toUtf8(key), toUtf8(value), std::nullopt);
    }
};

}  // namespace

std::unique_ptr<Registry> makeRegistry() { return std::make_unique<LinuxRegistry>(); }

}  // namespace kvn::linuxp
