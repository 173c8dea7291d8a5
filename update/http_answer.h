// What a download takes of an HTTP answer: the lines of its head as the
// server sent them, the Content-Length it holds the body to, and what it
// decides on that length before any of the body is read. Pure functions
// (no platform), shared by the Linux backend, the download and the
// operator's tool, so that all of them take and refuse the same answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvn {

// One line of a response's head as the server sent it (line end included):
// the status line that starts a response, the empty line that ends the head,
// a Content-Length field (its value without surrounding blanks) or any other.
struct HeaderLine {
    enum Kind { Status, End, ContentLength, Other } kind;
    std::string value;
};
HeaderLine ParseHeaderLine(std::string_view line);

// Appends one more line of the Content-Length field to what came before, as
// HTTP combines the lines of one field into a list: "a" then "b" is "a, b".
void JoinFieldLine(std::optional<std::string>& field, std::string_view value);

// A Content-Length value (blanks around it allowed) as RFC 9110 has it:
// digits only; a list of identical values, such as "42, 42", stands for
// one. Signs, blanks or other bytes inside a value, empty members and
// members that differ ("42, 042" too) are refused (nullopt). A value beyond 64 bits reads as the
// largest one, which no ceiling admits.
std::optional<std::uint64_t> ParseContentLength(std::string_view value);

// What the head's Content-Length says of a download that may take at most
// `maxBytes` bytes (`exact`: exactly that many). None, with `total` the
// bytes the body must have: the length given, 0 when there is none (so a
// body without a length fails unless it is empty).
enum class LengthFault {
    None,
    Malformed,   // not a length by the rule above
    AboveCeiling,
    NotTheSize,  // `exact`, and another length
};
struct LengthVerdict {
    LengthFault fault = LengthFault::None;
    std::uint32_t total = 0;
};
LengthVerdict JudgeContentLength(const std::optional<std::string>& field, std::uint32_t maxBytes,
                                 bool exact);
const char* Describe(LengthFault fault);
// fetch, ceiling or size (the reason words of update/update_rules.h).
const char* ReasonWord(LengthFault fault);

}  // namespace kvn
