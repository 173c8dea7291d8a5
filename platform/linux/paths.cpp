#include "platform/linux/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "platform/text.h"

namespace kvn::linuxp {
namespace {

std::string restoreStep(const std::string& step);

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

enum class Form { Windows, Native };

// Splits into components, resolving "." and ".." lexically; ".." never
// climbs above the first `floor` components (a drive root is its own parent).
// A Windows-form text (already in UTF-8) splits at both separators and gets
// the bytes of its placeholders back; a native path splits at '/' alone, as
// a backslash is an ordinary character of a native name.
std::vector<std::string> components(const std::string& s, std::vector<std::string> base,
                                    std::size_t floor = 0, Form form = Form::Windows) {
    std::string part;
    auto flush = [&] {
        if (part.empty() || part == ".") {
        } else if (part == "..") {
            if (base.size() > floor) base.pop_back();
        } else {
            base.push_back(form == Form::Windows ? restoreStep(part) : part);
        }
        part.clear();
    };
    for (char c : s) {
        if (c == '/' || (c == '\\' && form == Form::Windows)) flush();
        else part += c;
    }
    flush();
    return base;
}

std::vector<std::string> splitNative(const std::string& p, std::vector<std::string> base = {}) {
    return components(p, std::move(base), 0, Form::Native);
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

namespace {

constexpr char16_t kEscapeBase = 0xF000;
bool isEscape(char16_t c) { return c >= kEscapeBase && c <= kEscapeBase + 0xFF; }

// UTF-8 of a path text. An escape unit made by EncodeName turns back into its
// byte: bytes of 0x80 and above as they are, a backslash or a dot as a
// two-byte placeholder ("\0B", "\0D") that the step splitting below keeps
// inside its step. Other units of the escape range are plain characters.
std::string nativeText(std::u16string_view text) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isEscape(text[i]) && text[i] != 0) continue;
        out += toUtf8(text.substr(from, i - from));
        from = i + 1;
        if (i == text.size()) break;
        const unsigned byte = text[i] == 0 ? 0x100 : text[i] - kEscapeBase;
        if (byte == '\\') out += std::string("\0B", 2);
        else if (byte == '.') out += std::string("\0D", 2);
        else if (byte >= 0x80 && byte <= 0xFF) out += static_cast<char>(byte);
        else if (text[i] == 0) out += "\xEF\xBF\xBD";  // a zero unit would cut the path short
        else out += toUtf8(text.substr(i, 1));
    }
    return out;
}

// A step with placeholders gets its bytes back; a step that would then read
// as "." or ".." names no real file and keeps the escape characters instead.
std::string restoreStep(const std::string& step) {
    if (step.find('\0') == std::string::npos) return step;
    std::string bytes, literal;
    for (std::size_t i = 0; i < step.size(); ++i) {
        if (step[i] == '\0' && i + 1 < step.size()) {
            const bool dot = step[++i] == 'D';
            bytes += dot ? '.' : '\\';
            literal += dot ? "\xEF\x80\xAE" : "\xEF\x81\x9C";
        } else {
            bytes += step[i];
            literal += step[i];
        }
    }
    return bytes == "." || bytes == ".." ? literal : bytes;
}

// The links the launcher makes are desktop entries here. Only these names
// are mapped: any other ".lnk" file is just a file of that name.
bool isOwnLinkName(std::u16string_view name) {
    for (std::u16string_view own : {u"Korvane.lnk", u"KorvaneWeb.lnk", u"卸载游戏.lnk"}) {
        if (name.size() != own.size()) continue;
        bool same = true;
        for (std::size_t i = 0; same && i < name.size(); ++i) {
            char16_t a = name[i], b = own[i];
            if (a < 0x80) a = static_cast<char16_t>(std::tolower(a));
            if (b < 0x80) b = static_cast<char16_t>(std::tolower(b));
            same = a == b;
        }
        if (same) return true;
    }
    return false;
}

}  // namespace

WString EncodeName(const std::string& name) {
    WString out;
    std::size_t i = 0;
    while (i < name.size()) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const std::size_t len = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                : (lead & 0xF8) == 0xF0 ? 4 : 1;
        const std::string bytes = name.substr(i, len);
        const WString decoded = fromUtf8(bytes);
        // Valid, shortest UTF-8 of one character that has no meaning in a
        // Windows path and is no escape itself: taken as it is.
        if (toUtf8(decoded) == bytes && decoded != u"\\" && !isEscape(decoded[0])) {
            out += decoded;
            i += bytes.size();
            continue;
        }
        const std::size_t take = toUtf8(decoded) == bytes ? bytes.size() : 1;
        for (std::size_t k = 0; k < take; ++k)
            out += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(name[i + k]));
        i += take;
    }
    // A real "x.lnk" stays itself: its dot is escaped so that it is never
    // taken for a launcher link.
    if (out.size() >= 4 && isOwnLinkName(out.substr(out.rfind(u'\\') + 1)))
        out[out.size() - 4] = static_cast<char16_t>(kEscapeBase + '.');
    return out;
}

std::string NativePath(const WString& windowsPath) {
    WString w = windowsPath;
    const auto lastSep = w.find_last_of(u"\\/");
    const std::u16string_view last = lastSep == WString::npos ? std::u16string_view(w)
                                                              : std::u16string_view(w).substr(lastSep + 1);
    if (isOwnLinkName(last)) w = w.substr(0, w.size() - 4) + u".desktop";
    std::string p = nativeText(w);
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
                                         ? splitNative(nativePath, splitNative(currentDir()))
                                         : splitNative(nativePath);
    std::size_t len = 0;
    char d = driveOf(parts, &len);
    WString out = {static_cast<char16_t>(d ? d : 'Z'), u':'};
    // Each name as a folder listing gives it, so that any real name (a
    // backslash, bytes that are not UTF-8, a character of the escape range)
    // maps back to the same bytes.
    for (std::size_t i = d ? len : 0; i < parts.size(); ++i) out += u"\\" + EncodeName(parts[i]);
    if (out.size() == 2) out += u"\\";
    return out;
}

}  // namespace kvn::linuxp
