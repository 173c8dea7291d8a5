// One line of a response head as the Linux backend reads it from libcurl.
// Properties:
// - any bytes: a status line is exactly one that starts with "HTTP/"; a
//   Content-Length value comes only from a field of that name (any case),
//   is part of what follows the colon and has no blank or line end at
//   either side;
// - a field written as servers write it, with any case, blanks and line
//   end, gives back exactly its value;
// - a head with several Content-Length lines (each a number, a signed one,
//   a list, one with a blank inside) gives one length exactly when every
//   member of every line is the same run of digits, as RFC 9110 reads the
//   field (a reference reading written apart), and that length.
#include <cctype>

#include "fuzz/fuzz_support.h"
#include "platform/linux/internal.h"
#include "update/http_answer.h"

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

// Content-Length lines of the forms servers and attackers send: the same
// number, another one, "+N", "N, N", "N N", "0N".
std::string LinesOfLengths(FuzzedDataProvider& in) {
    const std::uint64_t n = in.ConsumeIntegral<std::uint64_t>() >> in.ConsumeIntegralInRange(0, 63);
    std::string lines;
    const int count = in.ConsumeIntegralInRange(1, 3);
    for (int i = 0; i < count; ++i) {
        const std::string digits = std::to_string(in.ConsumeProbability<double>() < 0.1 ? n + 1 : n);
        static const char* const kForms[] = {"%", "%", "+%", "%, %", "%,%", "% %", "0%", "-%", "%,"};
        std::string value;
        for (const char* f = kForms[in.ConsumeIntegralInRange<std::size_t>(0, 8)]; *f; ++f)
            value += *f == '%' ? digits : std::string(1, *f);
        lines += (in.ConsumeBool() ? "content-length:" : "Content-Length: ") + value + "\r\n";
    }
    return lines;
}

// The lines read one by one and joined as the Linux backend joins them.
void CheckLengthLines(const std::string& head) {
    std::optional<std::string> field, sent;
    std::size_t at = 0;
    while (at < head.size()) {
        const std::size_t end = head.find('\n', at) + 1;
        const auto line = kvn::linuxp::ParseHeaderLine(std::string_view(head).substr(at, end - at));
        KVN_PROPERTY(line.kind == kvn::linuxp::HeaderLine::ContentLength);
        kvn::JoinFieldLine(field, line.value);
        const std::string raw = head.substr(head.find(':', at) + 1, end - head.find(':', at) - 3);
        sent = sent ? *sent + "," + raw : raw;  // the lines as one list, from the bytes sent
        at = end;
    }
    KVN_PROPERTY(kvn::ParseContentLength(*field) == kvnfuzz::ReferenceContentLength(*sent));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::uint16_t caseBits = in.ConsumeIntegral<std::uint16_t>();
    const std::string before = std::string(in.ConsumeIntegralInRange(0, 3), in.ConsumeBool() ? ' ' : '\t');
    const std::string after = std::string(in.ConsumeIntegralInRange(0, 3), in.ConsumeBool() ? ' ' : '\t');
    const char* end = in.ConsumeBool() ? "\r\n" : "\n";
    const std::string value = in.ConsumeRandomLengthString(40);
    const std::string head = LinesOfLengths(in);
    const std::string rest = in.ConsumeRemainingBytesAsString();

    CheckLengthLines(head);

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
