#include "uninstall/uninstall_list.h"

#include <algorithm>

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
    auto read = platform.files.readFileUntilError(launcherFolder + u"\\Uninstall.list");
    if (!read) return;
    Bytes& text = read->bytes;
    // A read error ends the list: the lines before it are kept, the line it
    // cut is not (a cut "\binaries" would name "\bin"). An end-of-file
    // byte before the error ends the text there anyway.
    if (!read->complete && text.find('\x1A') == Bytes::npos) {
        const auto lastLineEnd = text.rfind('\n');
        text.resize(lastLineEnd == Bytes::npos ? 0 : lastLineEnd + 1);
    }
    for (Bytes& entry : ParseUninstallList(text)) list.push_back(std::move(entry));
}

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in every folder, also
// with an extension or trailing dots and blanks.
bool IsDeviceName(std::u16string_view step) {
    const auto stem = step.substr(0, std::min(step.find(u'.'), step.size()));
    const auto trimmed = stem.substr(0, stem.find_last_not_of(u' ') + 1);
    WString upper;
    for (char16_t c : trimmed) upper += UpperAscii(c);
    if (upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL") return true;
    return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
           upper[3] >= u'1' && upper[3] <= u'9';
}

// A step of dots and blanks only, with two dots or more, is read as "..".
bool ClimbsOut(std::u16string_view step) {
    std::size_t dots = 0;
    for (char16_t c : step) {
        if (c != u'.' && c != u' ') return false;
        dots += c == u'.';
    }
    return dots >= 2;
}

}  // namespace

bool IsUsableEntry(std::u16string_view entry) {
    if (entry.empty()) return true;  // the launcher folder itself
    if (!IsSeparator(entry[0])) return false;  // would be glued to the folder's name
    if (entry.size() > 1 && IsSeparator(entry[1])) return false;  // UNC or device prefix
    for (char16_t c : entry)
        if (c < 0x20 || c == u':' || c == u'*' || c == u'?' || c == u'<' || c == u'>' ||
            c == u'"' || c == u'|')
            return false;
    std::size_t start = 1;
    while (start <= entry.size()) {
        std::size_t end = start;
        while (end < entry.size() && !IsSeparator(entry[end])) ++end;
        const auto step = entry.substr(start, end - start);
        if (ClimbsOut(step) || IsDeviceName(step)) return false;
        start = end + 1;
    }
    return true;
}

}  // namespace kvn
