#include "tools/release_record.h"

namespace kvn::tools {
namespace {

struct Line {
    std::string text;  // without its line end
    std::string end;   // "\r\n", "\n" or "" (the last line of a file without a final end)
};

std::vector<Line> SplitLines(const std::string& s) {
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < s.size()) {
        const std::size_t nl = s.find('\n', at);
        if (nl == std::string::npos) {
            lines.push_back({s.substr(at), ""});
            break;
        }
        const bool cr = nl > at && s[nl - 1] == '\r';
        lines.push_back({s.substr(at, nl - at - (cr ? 1 : 0)), cr ? "\r\n" : "\n"});
        at = nl + 1;
    }
    return lines;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The name of a section header line, or nullopt for any other line.
std::optional<std::string> SectionName(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty() || t[0] != '[') return std::nullopt;
    const auto close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

}  // namespace

std::optional<std::string> FillRecord(const std::string& record,
                                      const std::vector<std::pair<std::string, std::string>>& values,
                                      std::string& error) {
    std::vector<Line> lines = SplitLines(record);
    std::string newline = "\r\n";
    for (const Line& l : lines)
        if (!l.end.empty()) {
            newline = l.end;
            break;
        }
    // The launcher reads every section of that name; keys the record lacks
    // go to the end of the first one.
    int sections = 0;  // sections of that name seen so far
    bool inSection = false;
    std::size_t last = 0;  // after the first such section's last line that is not blank
    std::vector<bool> found(values.size(), false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& text = lines[i].text;
        if (const auto name = SectionName(text)) {
            inSection = SameName(*name, "VersionInfo");
            if (inSection && ++sections == 1) last = i + 1;
            continue;
        }
        if (!inSection) continue;
        if (sections == 1 && !Trim(text).empty()) last = i + 1;
        const auto eq = text.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = Trim(text.substr(0, eq));
        for (std::size_t k = 0; k < values.size(); ++k)
            if (SameName(key, values[k].first)) {
                lines[i].text = text.substr(0, eq + 1) + values[k].second;
                found[k] = true;
            }
    }
    if (sections == 0) {
        error = "the record has no section [VersionInfo]";
        return std::nullopt;
    }
    std::vector<Line> added;
    for (std::size_t k = 0; k < values.size(); ++k)
        if (!found[k]) added.push_back({values[k].first + "=" + values[k].second, newline});
    if (!added.empty()) {
        // The line before the new ones gets an end if the file had none.
        if (lines[last - 1].end.empty()) lines[last - 1].end = newline;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last), added.begin(), added.end());
    }
    std::string out;
    for (const Line& l : lines) out += l.text + l.end;
    return out;
}

}  // namespace kvn::tools
