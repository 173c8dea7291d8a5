// Small portable helpers for UTF-16 texts, shared by the core and the backends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kvn {

// UTF-8 <-> UTF-16. Invalid input becomes U+FFFD: each byte that does not
// start a well-formed character, and each lone surrogate.
std::string toUtf8(std::u16string_view text);
WString fromUtf8(std::string_view text);

// ASCII-only widening, for fixed protocol texts and numbers.
WString widen(std::string_view ascii);

// Case-sensitive search anywhere in the text.
inline bool contains(std::u16string_view text, std::u16string_view part) {
    return text.find(part) != std::u16string_view::npos;
}

// A text as it reads from a zero-terminated buffer: up to the first zero unit.
WString untilZero(std::u16string_view text);

// C-style decimal conversion (strtol/_wtoi): leading blanks and one sign
// accepted, stops at the first non-digit, 0 when there is no digit. Values
// beyond the int range are clamped to it.
int parseDecimal(std::u16string_view text);
int parseDecimal(std::string_view text);

// Replaces each "%s" in order with the given texts (printf's "%s" for
// UTF-16 texts).
WString formatS(std::u16string_view pattern, std::initializer_list<std::u16string_view> args);

// "%d" of an int.
WString decimal(long long value);

}  // namespace kvn
