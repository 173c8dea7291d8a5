#include "update/http_answer.h"

#include <limits>

#include "update/update_rules.h"

namespace kvn {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// 1*DIGIT, saturating at the largest 64-bit value.
std::optional<std::uint64_t> Digits(std::string_view s) {
    if (s.empty()) return std::nullopt;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return value;
}

}  // namespace

HeaderLine ParseHeaderLine(std::string_view line) {
    if (line.substr(0, 5) == "HTTP/") return {HeaderLine::Status, {}};
    if (line == "\r\n" || line == "\n") return {HeaderLine::End, {}};
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !EqualNoCase(line.substr(0, colon), "Content-Length"))
        return {HeaderLine::Other, {}};
    std::string_view v = line.substr(colon + 1);
    while (!v.empty() && Blank(v.front())) v.remove_prefix(1);
    while (!v.empty() && (v.back() == '\r' || v.back() == '\n' || Blank(v.back()))) v.remove_suffix(1);
    return {HeaderLine::ContentLength, std::string(v)};
}

void JoinFieldLine(std::optional<std::string>& field, std::string_view value) {
    if (field) *field += ", ";
    else field.emplace();
    *field += value;
}

std::optional<std::uint64_t> ParseContentLength(std::string_view value) {
    // Blanks around a member belong to the list; inside one they do not.
    std::optional<std::string_view> first;
    while (true) {
        const auto comma = value.find(',');
        const std::string_view member = TrimBlanks(value.substr(0, comma));
        if (first && member != *first) return std::nullopt;  // members must be identical
        if (!first) first = member;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return Digits(*first);
}

LengthVerdict JudgeContentLength(const std::optional<std::string>& field, std::uint32_t maxBytes,
                                 bool exact) {
    std::uint64_t length = 0;
    if (field) {
        const auto parsed = ParseContentLength(*field);
        if (!parsed) return {LengthFault::Malformed, 0};
        length = *parsed;
    }
    if (exact && length != maxBytes) return {LengthFault::NotTheSize, 0};
    if (length > maxBytes) return {LengthFault::AboveCeiling, 0};
    return {LengthFault::None, static_cast<std::uint32_t>(length)};
}

const char* Describe(LengthFault fault) {
    switch (fault) {
        case LengthFault::None: return "a length within the ceiling";
        case LengthFault::Malformed: return "Content-Length is not a length (digits only, or a list of identical ones)";
        case LengthFault::AboveCeiling: return "Content-Length above the ceiling";
        case LengthFault::NotTheSize: return "Content-Length is not the exact size required";
    }
    return "?";
}

const char* ReasonWord(LengthFault fault) {
    switch (fault) {
        case LengthFault::None: return "";
        case LengthFault::Malformed: return kReasonFetch;
        case LengthFault::AboveCeiling: return kReasonCeiling;
        case LengthFault::NotTheSize: return kReasonSize;
    }
    return "";
}

}  // namespace kvn
