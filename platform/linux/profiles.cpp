// INI files with the rules of GetPrivateProfileIntW / WritePrivateProfileStringW.
#include <sys/stat.h>

#include <cctype>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/linux/internal.h"
#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"

namespace kvn::linuxp {

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            if (!cur.empty() && cur.back() == '\r') cur.pop_back();
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// "[name]" -> name, else nullopt.
std::optional<std::string> sectionName(const std::string& line) {
    std::string t = trim(line);
    if (t.size() < 2 || t[0] != '[') return std::nullopt;
    auto close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return trim(t.substr(1, close - 1));
}

std::optional<std::string> lookup(const std::string& text, const std::string& section,
                                  const std::string& key) {
    bool in = false;
    for (auto& line : lines(text)) {
        if (auto s = sectionName(line)) {
            in = equalsNoCase(*s, section);
            continue;
        }
        if (!in) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (equalsNoCase(trim(line.substr(0, eq)), key)) return trim(line.substr(eq + 1));
    }
    return std::nullopt;
}

class LinuxProfileFiles : public ProfileFiles {
public:
    int getInt(const WString& section, const WString& key, int defaultValue,
               const WString& path) override {
        auto text = readNative(NativePath(path), 16 << 20, false);
        if (!text) return defaultValue;
        auto v = lookup(*text, toUtf8(section), toUtf8(key));
        // An empty value reads as the default, as GetPrivateProfileIntW has it.
        if (!v || v->empty()) return defaultValue;
        return parseDecimal(*v);
    }
    std::optional<WString> getString(const WString& section, const WString& key,
                                     const WString& path, std::size_t bufferUnits) override {
        auto text = readNative(NativePath(path), 16 << 20, false);
        if (!text) return std::nullopt;
        auto v = lookup(*text, toUtf8(section), toUtf8(key));
        if (!v) return std::nullopt;
        WString w = fromUtf8(*v);
        if (w.size() + 1 > bufferUnits) return std::nullopt;
        return w;
    }
    bool writeString(const WString& section, const WString& key, const WString& value,
                     const WString& path) override {
        std::string native = NativePath(path);
        // A file that is there but cannot be read is never replaced: the
        // rewrite would drop everything else in it.
        std::string text;
        struct stat existing {};
        if (::stat(native.c_str(), &existing) == 0) {
            auto old = readNative(native, 16 << 20, false);
            if (!old) return false;
            text = std::move(*old);
        }
        std::string sec = toUtf8(section), k = toUtf8(key), v = toUtf8(value);
        auto all = lines(text);
        std::vector<std::string> out;
        bool in = false, done = false, sawSection = false;
        std::size_t insertAt = 0;
        for (auto& line : all) {
            if (auto s = sectionName(line)) {
                if (in && !done) {
                    out.insert(out.begin() + static_cast<long>(insertAt), k + "=" + v);
                    done = true;
                }
                in = equalsNoCase(*s, sec);
                if (in) sawSection = true;
                out.push_back(line);
                if (in) insertAt = out.size();
                continue;
            }
            if (in && !done) {
                auto eq = line.find('=');
                if (eq != std::string::npos && equalsNoCase(trim(line.substr(0, eq)), k)) {
                    out.push_back(trim(line.substr(0, eq)) + "=" + v);
                    done = true;
                    continue;
                }
                if (!trim(line).empty()) insertAt = out.size() + 1;
            }
            out.push_back(line);
        }
        if (in && !done) {
            out.insert(out.begin() + static_cast<long>(insertAt), k + "=" + v);
            done = true;
        }
        if (!sawSection) {
            out.push_back("[" + sec + "]");
            out.push_back(k + "=" + v);
        }
        std::string joined;
        for (auto& l : out) joined += l + "\n";
        struct stat st {};
        mode_t mode = ::stat(native.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
        return replaceWhole(native, joined, mode);
    }
};

}  // namespace

std::unique_ptr<ProfileFiles> makeProfileFiles() { return std::make_unique<LinuxProfileFiles>(); }

}  // namespace kvn::linuxp
