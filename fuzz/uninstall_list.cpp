// Uninstall.list and the entry rule. Properties:
// - the entries are the file's lines as text-mode reading gives them
//   (checked against an independent split);
// - an entry the rule admits, joined to the launcher folder, never
//   resolves outside that folder: neither by the Windows reading of the
//   path (".." and the steps Windows trims to "..") nor by the Linux
//   mapping onto the drive table.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "uninstall/uninstall_list.h"

namespace {

using kvn::Bytes;
using kvn::WString;

std::vector<Bytes> Lines(Bytes text) {
    text = text.substr(0, text.find('\x1A'));
    std::vector<Bytes> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == Bytes::npos) {
            out.push_back(text.substr(start));
            break;
        }
        Bytes line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
        start = end + 1;
    }
    return out;
}

// Depth below the folder after the Windows reading of the path's steps,
// or -1 when a step climbs above it. Steps of dots and blanks only are
// what Windows trims them to: "." or "..".
int WindowsDepth(const WString& entry) {
    int depth = 0;
    std::size_t start = 0;
    while (start <= entry.size()) {
        std::size_t end = entry.find_first_of(u"\\/", start);
        if (end == WString::npos) end = entry.size();
        const std::u16string_view step(entry.data() + start, end - start);
        std::size_t dots = 0;
        bool onlyDotsAndBlanks = true;
        for (char16_t c : step) {
            dots += c == u'.';
            onlyDotsAndBlanks = onlyDotsAndBlanks && (c == u'.' || c == u' ');
        }
        if (onlyDotsAndBlanks && dots >= 2) {
            if (--depth < 0) return -1;
        } else if (!step.empty() && !(onlyDotsAndBlanks && dots == 1)) {
            ++depth;
        }
        start = end + 1;
    }
    return depth;
}

bool Inside(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& scratch = kvnfuzz::ScratchFolder();
    ::setenv("KORVANE_DRIVES", ("C=" + scratch + "/c;D=" + scratch + "/d").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto system = kvn::linuxp::makeSystem(0, nullptr);
    const Bytes text(reinterpret_cast<const char*>(data), size);
    const auto entries = kvn::ParseUninstallList(text);
    KVN_PROPERTY(entries == Lines(text));

    const WString folder = u"C:\\Korvanis";
    const std::string nativeFolder = kvn::linuxp::NativePath(folder);
    for (const Bytes& raw : entries) {
        const WString entry = system->fromAnsi(raw);
        if (!kvn::IsUsableEntry(entry)) continue;
        const WString path = folder + entry;
        KVN_PROPERTY(entry.empty() || entry[0] == u'\\' || entry[0] == u'/');
        KVN_PROPERTY(entry.find(u'\0') == WString::npos && entry.find(u'\r') == WString::npos);
        KVN_PROPERTY(WindowsDepth(entry) >= 0);
        KVN_PROPERTY(Inside(kvn::linuxp::NativePath(path), nativeFolder));
    }
    return 0;
}
