#include "platform/linux/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/text.h"

namespace kvn::linuxp {
namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string home() {
    std::string h = env("HOME");
    return h.empty() ? std::string("/") : h;
}

std::string stripTrailing(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// Splits into components, resolving "." and ".." lexically; ".." never
// climbs above the first `floor` components (a drive root is its own parent).
std::vector<std::string> components(const std::string& s, std::vector<std::string> base,
                                    std::size_t floor = 0) {
    std::string part;
    auto flush = [&] {
        if (part.empty() || part == ".") {
        } else if (part == "..") {
            if (base.size() > floor) base.pop_back();
        } else {
            base.push_back(part);
        }
        part.clear();
    };
    for (char c : s) {
        if (c == '/' || c == '\\') flush();
        else part += c;
    }
    flush();
    return base;
}

std::vector<std::string> splitNative(const std::string& p) {
    return components(p, {});
}

std::string joinNative(const std::vector<std::string>& parts) {
    std::string out;
    for (auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

bool isPrefix(const std::vector<std::string>& prefix, const std::vector<std::string>& path) {
    return prefix.size() <= path.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

std::string driveFolder(char letter) {
    for (auto& [l, f] : DriveTable())
        if (l == letter) return f;
    return {};
}

std::string currentDir() {
    char buf[4096];
    if (!::getcwd(buf, sizeof buf)) return "/";
    return buf;
}

// The drive holding a native path (the longest matching folder), '\0' if none.
char driveOf(const std::vector<std::string>& parts, std::size_t* prefixLen) {
    char best = 0;
    std::size_t bestLen = 0;
    bool found = false;
    for (auto& [l, f] : DriveTable()) {
        auto fp = splitNative(f);
        if (isPrefix(fp, parts) && (!found || fp.size() > bestLen)) {
            best = l;
            bestLen = fp.size();
            found = true;
        }
    }
    if (prefixLen) *prefixLen = bestLen;
    return best;
}

}  // namespace

void MakePrivateFolders(const std::string& path) {
    std::string cur;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if ((i == path.size() || path[i] == '/') && !cur.empty()) ::mkdir(cur.c_str(), 0700);
        if (i < path.size()) cur += path[i];
    }
}

std::string XdgDataHome() {
    std::string v = env("XDG_DATA_HOME");
    return v.empty() || v[0] != '/' ? home() + "/.local/share" : v;
}
std::string XdgConfigHome() {
    std::string v = env("XDG_CONFIG_HOME");
    return v.empty() || v[0] != '/' ? home() + "/.config" : v;
}
std::string XdgCacheHome() {
    std::string v = env("XDG_CACHE_HOME");
    return v.empty() || v[0] != '/' ? home() + "/.cache" : v;
}

std::vector<std::pair<char, std::string>> DriveTable() {
    std::vector<std::pair<char, std::string>> table;
    const std::string pairs = env("KORVANE_DRIVES");
    std::size_t start = 0;
    while (start <= pairs.size() && !pairs.empty()) {
        std::size_t end = pairs.find(';', start);
        if (end == std::string::npos) end = pairs.size();
        std::string item = pairs.substr(start, end - start);
        if (item.size() >= 3 && item[1] == '=' && std::isalpha(static_cast<unsigned char>(item[0]))) {
            char l = static_cast<char>(std::toupper(static_cast<unsigned char>(item[0])));
            // Z: is the native root, the Windows form of every path outside
            // the drives; a folder of its own would send those elsewhere.
            if (l == 'Z') {
                start = end + 1;
                continue;
            }
            std::string folder = stripTrailing(item.substr(2));
            if (!folder.empty() && folder[0] == '/' &&
                std::none_of(table.begin(), table.end(), [&](auto& e) { return e.first == l; }))
                table.emplace_back(l, folder);
        }
        start = end + 1;
    }
    if (table.empty()) {
        std::string c = XdgDataHome() + "/korvane/drives/C";
        MakePrivateFolders(c);
        table.emplace_back('C', c);
    }
    std::sort(table.begin(), table.end());
    return table;
}

std::string NativePath(const WString& windowsPath) {
    std::string p = toUtf8(windowsPath);
    std::string ext;
    // A link file is a desktop entry here.
    if (p.size() >= 4) {
        std::string tail = p.substr(p.size() - 4);
        std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
        if (tail == ".lnk") p = p.substr(0, p.size() - 4) + ".desktop";
    }
    auto sep = [](char c) { return c == '/' || c == '\\'; };
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
        char l = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
        std::string folder = driveFolder(l);
        if (folder.empty()) folder = l == 'Z' ? "/" : "/nonexistent-drive-" + std::string(1, l);
        auto base = splitNative(folder);
        std::string rest = p.substr(2);
        // "X:rest" without a separator is taken as relative to the drive root.
        auto parts = components(rest, base, base.size());
        return joinNative(parts);
    }
    if (!p.empty() && sep(p[0])) {
        auto cwd = splitNative(currentDir());
        std::size_t len = 0;
        char d = driveOf(cwd, &len);
        std::string folder = d ? driveFolder(d) : driveFolder('C');
        if (folder.empty()) folder = "/";
        auto base = splitNative(folder);
        auto parts = components(p, base, base.size());
        return joinNative(parts);
    }
    return joinNative(components(p, splitNative(currentDir())));
}

WString WindowsPath(const std::string& nativePath) {
    std::vector<std::string> parts = nativePath.empty() || nativePath[0] != '/'
                                         ? components(nativePath, splitNative(currentDir()))
                                         : splitNative(nativePath);
    std::size_t len = 0;
    char d = driveOf(parts, &len);
    std::string out;
    std::size_t from = 0;
    if (d) {
        out = std::string(1, d) + ":";
        from = len;
    } else {
        out = "Z:";
    }
    for (std::size_t i = from; i < parts.size(); ++i) out += "\\" + parts[i];
    if (out.size() == 2) out += "\\";
    return fromUtf8(out);
}

}  // namespace kvn::linuxp
