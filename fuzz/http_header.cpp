// One line of a response head as the Linux backend reads it from libcurl.
// Properties:
// - any bytes: a status line is exactly one that starts with "HTTP/"; a
//   Content-Length value comes only from a field of that name (any case),
//   is part of what follows the colon and has no blank or line end at
//   either side;
// - a field written as servers write it, with any case, blanks and line
//   end, gives back exactly its value.
#include <cctype>

#include "fuzz/fuzz_support.h"
#include "platform/linux/internal.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

void CheckAnyLine(std::string_view line) {
    using kvn::linuxp::HeaderLine;
    const HeaderLine got = kvn::linuxp::ParseHeaderLine(line);
    KVN_PROPERTY((got.kind == HeaderLine::Status) == (line.substr(0, 5) == "HTTP/"));
    if (got.kind != HeaderLine::ContentLength) {
        KVN_PROPERTY(got.value.empty());
        return;
    }
    const auto colon = line.find(':');
    KVN_PROPERTY(colon == 14);
    for (std::size_t i = 0; i < 14; ++i)
        KVN_PROPERTY(std::tolower(static_cast<unsigned char>(line[i])) == "content-length"[i]);
    KVN_PROPERTY(line.substr(colon + 1).find(got.value) != std::string_view::npos);
    if (!got.value.empty()) {
        KVN_PROPERTY(!Blank(got.value.front()));
        const char last = got.value.back();
        KVN_PROPERTY(!Blank(last) && last != '\r' && last != '\n');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::uint16_t caseBits = in.ConsumeIntegral<std::uint16_t>();
    const std::string before = std::string(in.ConsumeIntegralInRange(0, 3), in.ConsumeBool() ? ' ' : '\t');
    const std::string after = std::string(in.ConsumeIntegralInRange(0, 3), in.ConsumeBool() ? ' ' : '\t');
    const char* end = in.ConsumeBool() ? "\r\n" : "\n";
    const std::string value = in.ConsumeRandomLengthString(40);
    const std::string rest = in.ConsumeRemainingBytesAsString();

    CheckAnyLine(rest);

    // The value of a field as sent: one line, no blanks at its ends.
    if (value.find_first_of("\r\n") != std::string::npos) return 0;
    if (!value.empty() && (Blank(value.front()) || Blank(value.back()))) return 0;
    std::string name = "Content-Length";
    for (std::size_t i = 0; i < name.size(); ++i)
        if (caseBits >> i & 1) name[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    const std::string line = name + ":" + before + value + after + end;
    CheckAnyLine(line);
    const auto got = kvn::linuxp::ParseHeaderLine(line);
    KVN_PROPERTY(got.kind == kvn::linuxp::HeaderLine::ContentLength && got.value == value);
    return 0;
}
