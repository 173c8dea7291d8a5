#include "uninstall/uninstall_list.h"

#include <limits>

namespace kvn {

std::vector<Bytes> ParseUninstallList(const Bytes& text) {
    std::vector<Bytes> entries;
    const std::size_t end = std::min(text.find('\x1A'), text.size());
    std::size_t start = 0;
    while (start < end) {
        std::size_t lineEnd = text.find('\n', start);
        if (lineEnd == Bytes::npos || lineEnd > end) {
            entries.push_back(text.substr(start, end - start));  // no final line feed
            break;
        }
        std::size_t cut = lineEnd;
        if (cut > start && text[cut - 1] == '\r') --cut;
        entries.push_back(text.substr(start, cut - start));
        start = lineEnd + 1;
    }
    return entries;
}

void ReadUninstallList(Platform& platform, const WString& launcherFolder, std::vector<Bytes>& list) {
    const auto text = platform.files.readFile(launcherFolder + u"\\Uninstall.list",
                                              std::numeric_limits<std::size_t>::max());
    if (!text) return;
    for (Bytes& entry : ParseUninstallList(*text)) list.push_back(std::move(entry));
}

bool IsEntryInsideFolder(const WString& entry) {
    std::size_t start = 0;
    while (start <= entry.size()) {
        std::size_t end = entry.find_first_of(u"\\/", start);
        if (end == WString::npos) end = entry.size();
        const std::u16string_view step(entry.data() + start, end - start);
        // Windows drops trailing dots and blanks of a step, so "...", ". ."
        // and ".. " all climb like "..".
        const auto kept = step.find_last_not_of(u". ");
        std::size_t dots = 0;
        for (char16_t c : step) dots += c == u'.';
        if (kept == std::u16string_view::npos && dots >= 2) return false;
        start = end + 1;
    }
    return true;
}

}  // namespace kvn
