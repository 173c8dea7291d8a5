// Command lines: the Linux backend's splitting with the rules of
// CommandLineToArgvW, and the quoting of a link's command in a desktop
// entry. Properties:
// - arguments quoted by the Windows rules split back into the same list,
//   and splitting is stable (split, quote, split gives the first split);
// - a link saved with any target and arguments holds an Exec line that
//   the desktop reads (GLib's key file and shell parser, "%%" as "%") as
//   the target followed by the split arguments, and the link reads back
//   the properties it was given; a path that is not UTF-8 gives no entry.
#include <gio/gio.h>
#include <unistd.h>

#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/linux/paths.h"
#include "platform/linux/services.h"

namespace kvn::linuxp {
std::vector<WString> SplitCommandLine(const WString& line);  // processes.cpp
}

namespace {

using kvn::WString;

// One argument quoted so that CommandLineToArgvW gives it back.
WString QuoteWindows(const WString& arg) {
    if (!arg.empty() && arg.find_first_of(u" \t\"") == WString::npos) return arg;
    WString out = u"\"";
    std::size_t backslashes = 0;
    for (char16_t c : arg) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') out.append(2 * backslashes + 1, u'\\');
        else out.append(backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, u'\\');
    return out + u"\"";
}

WString Join(const std::vector<WString>& args) {
    WString line;
    for (std::size_t i = 0; i < args.size(); ++i) line += (i ? u" " : u"") + QuoteWindows(args[i]);
    return line;
}

// The Exec line of a desktop entry as the desktop runs it.
std::optional<std::vector<std::string>> DesktopCommand(const std::string& file) {
    GKeyFile* keys = g_key_file_new();
    std::optional<std::vector<std::string>> out;
    if (g_key_file_load_from_file(keys, file.c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar* exec = g_key_file_get_string(keys, "Desktop Entry", "Exec", nullptr);
        gint argc = 0;
        gchar** argv = nullptr;
        if (exec && g_shell_parse_argv(exec, &argc, &argv, nullptr)) {
            out.emplace();
            // A program started through the shell: it runs the word after
            // its script with the rest as arguments.
            gint first = 0;
            if (argc > 3 && std::string(argv[0]) == "sh" && std::string(argv[1]) == "-c" &&
                std::string(argv[2]) == "exec \"$0\" \"$@\"")
                first = 3;
            for (gint i = first; i < argc; ++i) {
                std::string arg, raw = argv[i];
                for (std::size_t k = 0; k < raw.size(); ++k) {
                    if (raw[k] == '%' && k + 1 < raw.size() && raw[k + 1] == '%') ++k;
                    arg += raw[k];
                }
                out->push_back(arg);
            }
            g_strfreev(argv);
        }
        g_free(exec);
    }
    g_key_file_free(keys);
    return out;
}

// What survives UTF-8: a lone surrogate becomes U+FFFD.
WString Stored(const WString& text) { return kvn::fromUtf8(kvn::toUtf8(text)); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("KORVANE_DRIVES", ("C=" + kvnfuzz::ScratchFolder()).c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kvn::linuxp::SplitCommandLine;
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange(0, 2);

    if (mode == 0) {  // any line: splitting is stable under quoting
        const WString line = kvnfuzz::ConsumeWide(in, 200);
        const auto args = SplitCommandLine(line);
        KVN_PROPERTY(SplitCommandLine(Join(args)) == args);
    } else if (mode == 1) {  // any arguments: quoting round-trips
        std::vector<WString> args;
        while (in.remaining_bytes() > 0 && args.size() < 8) args.push_back(kvnfuzz::ConsumeWide(in, 24));
        KVN_PROPERTY(SplitCommandLine(Join(args)) == args);
    } else {  // a link's command in a desktop entry
        static const auto shell = kvn::linuxp::makeShell();
        // Zero-terminated texts on Windows: no zero unit inside.
        auto text = [&](std::size_t units) {
            WString t = kvnfuzz::ConsumeWide(in, units);
            std::erase(t, u'\0');
            return t;
        };
        const WString target = u"C:\\Korvanis\\" + text(20);
        const WString folder = text(20);
        const WString arguments = text(60);
        auto link = shell->createShellLink();
        link->setPath(target);
        link->setWorkingDirectory(folder);
        link->setArguments(arguments);
        const WString linkPath = u"C:\\Korvane.lnk";  // one of the launcher's own link names
        const std::string file = kvnfuzz::ScratchFolder() + "/Korvane.desktop";
        ::unlink(file.c_str());
        // U+F000..U+F0FF in a path may stand for native bytes that are not
        // UTF-8; a desktop entry is UTF-8 only and cannot carry them: no
        // entry is written for such a path.
        auto utf8 = [](const std::string& s) { return g_utf8_validate(s.data(), s.size(), nullptr) == TRUE; };
        const bool writable = utf8(kvn::linuxp::NativePath(target)) &&
                              (folder.empty() || utf8(kvn::linuxp::NativePath(folder)));
        const bool saved = link->save(linkPath);
        KVN_PROPERTY(saved == writable);
        if (!saved) {
            KVN_PROPERTY(::access(file.c_str(), F_OK) != 0);
            return 0;
        }

        const auto command = DesktopCommand(file);
        KVN_PROPERTY(command.has_value());
        std::vector<std::string> expected{kvn::linuxp::NativePath(target)};
        for (auto& arg : SplitCommandLine(arguments)) expected.push_back(kvn::toUtf8(arg));
        KVN_PROPERTY(*command == expected);

        const auto info = shell->readShellLink(linkPath);
        KVN_PROPERTY(info.has_value());
        KVN_PROPERTY(info->target == Stored(target));
        KVN_PROPERTY(info->workingDirectory == Stored(folder));
        KVN_PROPERTY(info->arguments == Stored(arguments));
    }
    return 0;
}
