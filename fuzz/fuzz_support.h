// Shared pieces of the fuzz targets: property checks that stop the run with
// a message the campaign script counts, a scratch folder per process, and
// C's own decimal conversion as the reference for record numbers.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/text.h"

namespace kvnfuzz {

// A broken property is reported as such and ends the run like a crash, so
// that libFuzzer keeps the input.
[[noreturn]] inline void PropertyFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "PROPERTY FAILED: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

#define KVN_PROPERTY(cond) \
    ((cond) ? (void)0 : ::kvnfuzz::PropertyFailed(#cond, __FILE__, __LINE__))

// A folder of this process's own (on /dev/shm when there is one, as the
// targets write files on every run), removed when it ends.
inline const std::string& ScratchFolder() {
    static const std::string* folder = [] {
        const char* base = std::getenv("KVN_FUZZ_SCRATCH");
        std::string root = base && *base ? base : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        auto* made = new std::string(root + "/kvnfuzz.XXXXXX");  // lives to the very end
        if (!::mkdtemp(made->data())) std::abort();
        std::atexit([] { std::error_code ec; std::filesystem::remove_all(ScratchFolder(), ec); });
        return made;
    }();
    return *folder;
}

inline void WriteNative(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
}

// What C's strtol gives for the text up to its first zero byte, clamped to
// int as the launcher's conversion is documented to do.
inline int CDecimal(const std::string& text) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// RFC 9110's Content-Length, written apart from the launcher's reading as
// the reference: the field split at every comma, blanks (SP, HTAB) removed
// at each member's ends; every member the same run of digits. Beyond 64
// bits it reads as the largest value.
inline std::optional<unsigned long long> ReferenceContentLength(const std::string& field) {
    std::vector<std::string> members(1);
    for (char c : field) {
        if (c == ',') members.emplace_back();
        else members.back() += c;
    }
    for (std::string& m : members) {
        m.erase(0, m.find_first_not_of(" \t") == std::string::npos ? m.size() : m.find_first_not_of(" \t"));
        while (!m.empty() && (m.back() == ' ' || m.back() == '\t')) m.pop_back();
        if (m.empty() || m.find_first_not_of("0123456789") != std::string::npos || m != members[0])
            return std::nullopt;
    }
    const std::string digits = members[0].substr(std::min(members[0].find_first_not_of('0'), members[0].size()));
    if (digits.empty()) return 0ull;
    if (digits.size() > 20) return ULLONG_MAX;
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
    return errno == ERANGE ? ULLONG_MAX : value;
}

// A UTF-16 text with no lone surrogate.
inline bool WellFormed(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// Any UTF-16 text, lone surrogates included, from the fuzzer's bytes.
inline kvn::WString ConsumeWide(FuzzedDataProvider& in, std::size_t maxUnits) {
    const std::size_t units = in.ConsumeIntegralInRange<std::size_t>(0, maxUnits);
    kvn::WString out;
    for (std::size_t i = 0; i < units && in.remaining_bytes() > 0; ++i)
        out += static_cast<char16_t>(in.ConsumeIntegral<std::uint16_t>());
    return out;
}

}  // namespace kvnfuzz
