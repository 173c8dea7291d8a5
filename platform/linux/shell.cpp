// Special folders (XDG), the default browser and links as desktop entries.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/linux/embedded_resources.h"
#include "platform/linux/internal.h"
#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"
#include "res/resource.h"

namespace kvn::linuxp {

std::vector<WString> SplitCommandLine(const WString& line);  // processes.cpp

namespace {

std::string home() {
    const char* h = std::getenv("HOME");
    return h && *h ? h : "/";
}

// XDG_DESKTOP_DIR from user-dirs.dirs, as xdg-user-dir reads it.
std::string desktopFolder() {
    auto text = readNative(XdgConfigHome() + "/user-dirs.dirs", 1 << 20, false);
    if (text) {
        std::size_t pos = 0;
        while (pos < text->size()) {
            std::size_t end = text->find('\n', pos);
            if (end == std::string::npos) end = text->size();
            std::string line = trim(text->substr(pos, end - pos));
            pos = end + 1;
            const std::string key = "XDG_DESKTOP_DIR=";
            if (line.compare(0, key.size(), key) != 0) continue;
            std::string v = line.substr(key.size());
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            std::string out;
            for (std::size_t i = 0; i < v.size(); ++i) {
                if (v[i] == '\\' && i + 1 < v.size()) { out += v[++i]; continue; }
                out += v[i];
            }
            if (out.compare(0, 5, "$HOME") == 0) out = home() + out.substr(5);
            if (!out.empty() && out[0] == '/') return out;
        }
    }
    return home() + "/Desktop";
}

// Quotes an Exec argument as the desktop-entry rules ask; a literal "%"
// is written "%%", or the desktop would take it for a field code.
std::string quoteExec(const std::string& s) {
    std::string o = "\"";
    for (char c : s) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') o += '\\';
        if (c == '%') o += '%';
        o += c;
    }
    o += "\"";
    // In a desktop file the line is a string value: its backslashes are
    // escaped once more, and line breaks and tabs are written as escapes,
    // or the entry's line would end inside the command.
    std::string e;
    for (char c : o) {
        if (c == '\\') e += "\\\\";
        else if (c == '\n') e += "\\n";
        else if (c == '\r') e += "\\r";
        else if (c == '\t') e += "\\t";
        else e += c;
    }
    return e;
}

// Escapes for a string value of a desktop entry. Blanks at either end are
// written "\s", as readers drop the blanks around a value.
std::string escapeValue(const std::string& s) {
    const std::size_t first = s.find_first_not_of(' ');
    const std::size_t last = s.find_last_not_of(' ');
    std::string o;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\') o += "\\\\";
        else if (c == '\n') o += "\\n";
        else if (c == '\t') o += "\\t";
        else if (c == '\r') o += "\\r";
        else if (c == ' ' && (first == std::string::npos || i < first || i > last)) o += "\\s";
        else o += c;
    }
    return o;
}

std::string unescapeValue(const std::string& s) {
    std::string o;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char n = s[++i];
            o += n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n == 's' ? ' ' : n;
        } else {
            o += s[i];
        }
    }
    return o;
}

// Desktop entries need an image file where a Windows link takes the icon
// out of the program: the icon compiled into this program is written as a
// PNG beside the program the link names ("Login.png" beside "Login.exe"),
// where it stays with the program. Empty when it cannot be written.
std::string iconPathBeside(const std::string& program) {
    const auto slash = program.rfind('/');
    const auto dot = program.rfind('.');
    return (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)
                ? program.substr(0, dot)
                : program) +
           ".png";
}

std::string iconBeside(const std::string& program) {
    const std::string png = iconPathBeside(program);
    GdkPixbuf* icon = LoadIconResource(IDR_MAINFRAME);
    if (!icon) return {};
    gchar* buffer = nullptr;
    gsize size = 0;
    const bool encoded = gdk_pixbuf_save_to_buffer(icon, &buffer, &size, "png", nullptr, nullptr);
    g_object_unref(icon);
    if (!encoded) return {};
    const bool written = replaceWhole(png, std::string(buffer, size), 0644);
    g_free(buffer);
    return written ? png : std::string();
}

bool isUtf8(const std::string& s) { return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr); }

class DesktopLink : public CollectedShellLink {
public:
    bool save(const WString& linkPath) override {
        std::string native = NativePath(linkPath);
        auto slash = native.rfind('/');
        std::string name = native.substr(slash + 1);
        auto dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
        const std::string program = NativePath(info_.target);
        const std::string folder =
            info_.workingDirectory.empty() ? std::string() : NativePath(info_.workingDirectory);
        const WString& iconProgram = info_.iconPath.empty() ? info_.target : info_.iconPath;
        const std::string iconNative = NativePath(iconProgram);
        // A desktop entry is UTF-8 text: a name whose bytes are not UTF-8
        // cannot be written into it, and the desktop would drop the line
        // that holds it. No entry at all, then, rather than a dead one.
        if (!isUtf8(name) || !isUtf8(program) || !isUtf8(folder) || !isUtf8(iconNative)) return false;

        std::string t = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
        t += "Name=" + escapeValue(name) + "\n";
        // GIO takes an entry only when the first word of its Exec names a
        // program, and it looks that word up as written, "%%" and all: a
        // program whose path holds a "%" is started by the shell instead,
        // which runs its first argument with the rest.
        std::string exec;
        if (program.find('%') != std::string::npos)
            exec = "sh -c " + quoteExec("exec \"$0\" \"$@\"") + " ";
        exec += quoteExec(program);
        // The arguments are a command line: split as Windows splits it,
        // each word quoted on its own.
        for (auto& arg : SplitCommandLine(info_.arguments)) exec += " " + quoteExec(toUtf8(arg));
        t += "Exec=" + exec + "\n";
        if (!folder.empty()) t += "Path=" + escapeValue(folder) + "\n";
        // A link without an icon shows its target's, as the Windows shell does.
        if (const std::string png = iconBeside(iconNative); !png.empty())
            t += "Icon=" + escapeValue(png) + "\n";
        t += "Terminal=false\n";
        t += "X-Korvane-Target=" + escapeValue(toUtf8(info_.target)) + "\n";
        t += "X-Korvane-WorkingDirectory=" + escapeValue(toUtf8(info_.workingDirectory)) + "\n";
        t += "X-Korvane-Arguments=" + escapeValue(toUtf8(info_.arguments)) + "\n";
        t += "X-Korvane-Icon=" + escapeValue(toUtf8(info_.iconPath)) + "\n";
        t += "X-Korvane-IconIndex=" + std::to_string(info_.iconIndex) + "\n";
        return replaceWhole(native, t, 0755);
    }
};

class LinuxShell : public Shell {
public:
    std::optional<WString> specialFolderPath(SpecialFolder folder) override {
        // Windows always has both folders; a fresh account here may have
        // neither, so they are made as the desktop itself would make them.
        std::string native;
        if (folder == SpecialFolder::Desktop) native = desktopFolder();
        else if (folder == SpecialFolder::Programs) native = XdgDataHome() + "/applications";
        else return std::nullopt;
        MakePrivateFolders(native);
        return WindowsPath(native);
    }
    bool openInDefaultBrowser(const WString& url) override {
        GError* error = nullptr;
        std::string u = toUtf8(url);
        gboolean ok = g_app_info_launch_default_for_uri(u.c_str(), nullptr, &error);
        if (error) g_error_free(error);
        return ok == TRUE;
    }
    std::unique_ptr<ShellLink> createShellLink() override { return std::make_unique<DesktopLink>(); }
    std::vector<WString> filesMadeForLinks(const WString& target) override {
        return {WindowsPath(iconPathBeside(NativePath(target)))};
    }
    std::optional<ShellLinkInfo> readShellLink(const WString& linkPath) override {
        auto text = readNative(NativePath(linkPath), 1 << 20, false);
        if (!text) return std::nullopt;
        ShellLinkInfo info;
        bool entry = false, any = false;
        std::size_t pos = 0;
        while (pos < text->size()) {
            std::size_t end = text->find('\n', pos);
            if (end == std::string::npos) end = text->size();
            std::string line = text->substr(pos, end - pos);
            pos = end + 1;
            if (!line.empty() && line[0] == '[') { entry = line == "[Desktop Entry]"; continue; }
            if (!entry) continue;
            auto eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string k = trim(line.substr(0, eq));
            WString v = fromUtf8(unescapeValue(trim(line.substr(eq + 1))));
            if (k == "X-Korvane-Target") { info.target = v; any = true; }
            else if (k == "X-Korvane-WorkingDirectory") info.workingDirectory = v;
            else if (k == "X-Korvane-Arguments") info.arguments = v;
            else if (k == "X-Korvane-Icon") info.iconPath = v;
            else if (k == "X-Korvane-IconIndex") info.iconIndex = parseDecimal(v);
        }
        if (!any) return std::nullopt;
        return info;
    }
};

}  // namespace

std::unique_ptr<Shell> makeShell() { return std::make_unique<LinuxShell>(); }

}  // namespace kvn::linuxp
