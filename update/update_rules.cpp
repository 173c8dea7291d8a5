#include "update/update_rules.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace kvn {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string_view Trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// C's strtol on a value, clamped to the int range; 0 without a digit.
std::int32_t Number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// The value of a key in the record's section; nullopt when absent.
std::optional<std::string_view> Lookup(std::string_view file, std::string_view key) {
    bool inSection = false;
    while (!file.empty()) {
        const auto end = file.find('\n');
        std::string_view line = file.substr(0, end);
        file = end == std::string_view::npos ? std::string_view{} : file.substr(end + 1);
        const std::string_view trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[') {
            const auto close = trimmed.find(']');
            if (close != std::string_view::npos) {
                inSection = EqualNoCase(Trim(trimmed.substr(1, close - 1)), kRecordSection);
                continue;
            }
        }
        if (!inSection) continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        if (EqualNoCase(Trim(line.substr(0, eq)), key)) return Trim(line.substr(eq + 1));
    }
    return std::nullopt;
}

template <class T, class Parse>
Field<T> ReadField(std::string_view file, std::string_view key, Parse parse) {
    Field<T> field;
    const auto text = Lookup(file, key);
    if (!text) return field;
    const auto value = parse(*text);
    field.state = value ? FieldState::Valid : FieldState::Malformed;
    if (value) field.value = *value;
    return field;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

unsigned DaysInMonth(std::int64_t y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

// The file demanded by a digest and a size field, under a ceiling.
FileDemand Demand(const Field<Sha256Digest>& digest, const Field<std::uint32_t>& size,
                  std::uint32_t ceiling, bool digestRequired) {
    FileDemand demand;
    demand.ceiling = ceiling;
    if (digest.state == FieldState::Malformed) demand.fault = FileFault::BadDigestField;
    else if (size.state == FieldState::Malformed) demand.fault = FileFault::BadSizeField;
    else if (digestRequired && !digest.valid()) demand.fault = FileFault::NoDigest;
    if (digest.valid()) demand.digest = digest.value;
    if (size.valid()) {
        demand.ceiling = size.value;
        demand.exactSize = true;
    }
    return demand;
}

FileFault CheckAgainst(std::string_view data, const FileDemand& demand) {
    if (demand.fault != FileFault::None) return demand.fault;
    if (data.size() > demand.ceiling) return FileFault::TooLarge;
    if (demand.exactSize && data.size() != demand.ceiling) return FileFault::WrongSize;
    if (demand.digest && Sha256(data) != *demand.digest) return FileFault::WrongDigest;
    return FileFault::None;
}

}  // namespace

std::optional<Sha256Digest> ParseSha256Hex(std::string_view text) {
    Sha256Digest digest{};
    if (text.size() != 2 * digest.size()) return std::nullopt;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

std::string Sha256Hex(const Sha256Digest& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (auto b : digest) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

std::optional<std::uint32_t> ParseByteCount(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > kLargestByteCount) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
    // 0123456789012345678 9
    // YYYY-MM-DDTHH:MM:SS Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    auto field = [&](std::size_t at, std::size_t n) -> std::optional<unsigned> {
        unsigned v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
        }
        return v;
    };
    const auto y = field(0, 4), mo = field(5, 2), d = field(8, 2), h = field(11, 2),
               mi = field(14, 2), s = field(17, 2);
    if (!y || !mo || !d || !h || !mi || !s) return std::nullopt;
    if (*y < 1970 || *mo < 1 || *mo > 12 || *d < 1 || *d > DaysInMonth(*y, *mo) || *h > 23 ||
        *mi > 59 || *s > 59)
        return std::nullopt;
    return DaysFromCivil(*y, *mo, *d) * 86400 + *h * 3600 + *mi * 60 + *s;
}

std::string FormatUtcTime(std::int64_t seconds) {
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    // Civil date from days since 1970-01-01.
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    char out[64];  // room for any year an int64 can hold
    const auto secondOfDay = static_cast<unsigned>(rest);  // 0 to 86399
    std::snprintf(out, sizeof out, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(y), m,
                  d, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    return out;
}

VersionRecord ParseVersionRecord(std::string_view file) {
    VersionRecord r;
    auto number = [&](std::string_view key) {
        const auto text = Lookup(file, key);
        return text ? Number(*text) : 0;
    };
    r.launcher = number(kLauncherNumberKey);
    r.background = number(kBackgroundNumberKey);
    r.required = number(kRequiredNumberKey);
    r.launcherSha256 = ReadField<Sha256Digest>(file, kLauncherDigestKey, ParseSha256Hex);
    r.launcherSize = ReadField<std::uint32_t>(file, kLauncherSizeKey, ParseByteCount);
    r.backgroundSha256 = ReadField<Sha256Digest>(file, kBackgroundDigestKey, ParseSha256Hex);
    r.backgroundSize = ReadField<std::uint32_t>(file, kBackgroundSizeKey, ParseByteCount);
    r.expires = ReadField<std::int64_t>(file, kExpiresKey, ParseUtcTime);
    return r;
}

RecordFault CheckRecord(const VersionRecord& fresh, const VersionRecord& stored, bool signedBuild,
                        std::int64_t nowUtc) {
    if (!signedBuild) return RecordFault::None;
    if (fresh.expires.state == FieldState::Malformed) return RecordFault::BadExpiry;
    if (fresh.expires.valid() && nowUtc >= fresh.expires.value) return RecordFault::Expired;
    if (fresh.launcher < stored.launcher) return RecordFault::LowerLauncher;
    if (fresh.background < stored.background) return RecordFault::LowerBackground;
    return RecordFault::None;
}

const char* Describe(RecordFault fault) {
    switch (fault) {
        case RecordFault::None: return "taken";
        case RecordFault::Expired: return "expired: its Expires time has passed";
        case RecordFault::BadExpiry: return "Expires is not of the form YYYY-MM-DDTHH:MM:SSZ";
        case RecordFault::LowerLauncher: return "LoginExeVersionNumber is lower than the stored record's";
        case RecordFault::LowerBackground: return "DlgBackVersionNumber is lower than the stored record's";
    }
    return "?";
}

const char* Describe(FileFault fault) {
    switch (fault) {
        case FileFault::None: return "taken";
        case FileFault::NoDigest: return "the record raises its number but names no digest";
        case FileFault::BadDigestField: return "the record's digest is not 64 hexadecimal digits";
        case FileFault::BadSizeField: return "the record's size is not a byte count";
        case FileFault::TooLarge: return "larger than its ceiling";
        case FileFault::WrongSize: return "not the size the record names";
        case FileFault::WrongDigest: return "not the digest the record names";
        case FileFault::Incomplete: return "not a whole file of its kind";
    }
    return "?";
}

const char* ReasonWord(RecordFault fault) {
    switch (fault) {
        case RecordFault::None: return "";
        case RecordFault::Expired:
        case RecordFault::BadExpiry: return kReasonExpiry;
        case RecordFault::LowerLauncher:
        case RecordFault::LowerBackground: return kReasonRollback;
    }
    return "";
}

const char* ReasonWord(FileFault fault) {
    switch (fault) {
        case FileFault::None: return "";
        case FileFault::NoDigest:
        case FileFault::BadDigestField:
        case FileFault::WrongDigest: return kReasonDigest;
        case FileFault::BadSizeField:
        case FileFault::WrongSize: return kReasonSize;
        case FileFault::TooLarge: return kReasonCeiling;
        case FileFault::Incomplete: return kReasonWhole;
    }
    return "";
}

FileDemand LauncherDemand(const VersionRecord& fresh, bool signedBuild) {
    return Demand(fresh.launcherSha256, fresh.launcherSize, kMaxLauncherBytes, signedBuild);
}

FileDemand BackgroundDemand(const VersionRecord& fresh, bool signedBuild, bool numberRises) {
    FileDemand demand = Demand(fresh.backgroundSha256, fresh.backgroundSize, kMaxBackgroundBytes,
                               signedBuild && numberRises);
    // A named size never lifts the bitmap's own ceiling.
    if (demand.ceiling > kMaxBackgroundBytes && demand.fault == FileFault::None)
        demand.fault = FileFault::TooLarge;
    return demand;
}

FileFault CheckLauncherFile(std::string_view data, const FileDemand& demand) {
    const FileFault fault = CheckAgainst(data, demand);
    if (fault != FileFault::None) return fault;
    return IsCompleteProgram(data, kLauncherProgramKind) ? FileFault::None : FileFault::Incomplete;
}

FileFault CheckBackgroundFile(std::string_view data, const FileDemand& demand) {
    const FileFault fault = CheckAgainst(data, demand);
    if (fault != FileFault::None) return fault;
    return IsUsableBackground(data) ? FileFault::None : FileFault::Incomplete;
}

std::optional<std::vector<std::string>> ParseKeyList(std::string_view text) {
    std::vector<std::string> keys;
    if (Trim(text).empty()) return keys;
    while (true) {
        const auto comma = text.find(',');
        const auto key = DecodeBase64(Trim(text.substr(0, comma)));
        if (!key || key->size() != kEd25519KeySize) return std::nullopt;
        keys.push_back(*key);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return keys;
}

bool VerifyWithAnyKey(const std::vector<std::string>& keys, std::string_view file,
                      std::string_view signature) {
    if (keys.empty() || signature.size() != kEd25519SignatureSize) return false;
    // The file's digest once, then each key against it.
    const Sha512Digest digest = Sha512(file);
    const std::string_view message(reinterpret_cast<const char*>(digest.data()), digest.size());
    for (const std::string& key : keys)
        if (VerifyEd25519(key, message, signature)) return true;
    return false;
}

}  // namespace kvn
