// What the self-update takes from the download server: how many bytes of
// each file it reads at most, what the version record must say, and which
// keys a signature may come from. Pure functions of their inputs (no
// platform), so that the operator's tool that checks a deployed server
// applies exactly the launcher's rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "update/complete_files.h"

namespace kvn {

// ---------------------------------------------------------------- ceilings

// The most bytes read of each file, known before its body arrives. A
// Content-Length above it fails the attempt before the body is read; a body
// that runs past it is cut off and fails.
constexpr std::uint32_t kMaxRecordBytes = 64u * 1024;
// A signature is exactly this long.
constexpr std::uint32_t kSignatureBytes = static_cast<std::uint32_t>(kEd25519SignatureSize);
// The largest bitmap the complete-file check admits.
constexpr std::uint32_t kMaxBackgroundBytes = static_cast<std::uint32_t>(kMaxBitmapFileBytes);
// A launcher whose size the record does not name.
constexpr std::uint32_t kMaxLauncherBytes = 256u << 20;
// Byte counts are 32-bit: no file may be named larger than this.
constexpr std::uint32_t kLargestByteCount = 0x7fffffff;

// ---------------------------------------------------------------- the record

// Section and keys of the version record LoginExeVersionInfo.ini.
inline constexpr char kRecordSection[] = "VersionInfo";
inline constexpr char kLauncherNumberKey[] = "LoginExeVersionNumber";
inline constexpr char kBackgroundNumberKey[] = "DlgBackVersionNumber";
inline constexpr char kRequiredNumberKey[] = "VersionNumber";
inline constexpr char kLauncherDigestKey[] = "LoginExeSha256";
inline constexpr char kLauncherSizeKey[] = "LoginExeSize";
inline constexpr char kBackgroundDigestKey[] = "DlgBackSha256";
inline constexpr char kBackgroundSizeKey[] = "DlgBackSize";
inline constexpr char kExpiresKey[] = "Expires";

// An optional key: absent, present with a value of its form, or present
// with something else (which vouches for nothing).
enum class FieldState { Absent, Valid, Malformed };
template <class T>
struct Field {
    FieldState state = FieldState::Absent;
    T value{};
    bool valid() const { return state == FieldState::Valid; }
};

struct VersionRecord {
    std::int32_t launcher = 0;    // LoginExeVersionNumber
    std::int32_t background = 0;  // DlgBackVersionNumber
    std::int32_t required = 0;    // VersionNumber: the oldest client still usable
    Field<Sha256Digest> launcherSha256;
    Field<std::uint32_t> launcherSize;
    Field<Sha256Digest> backgroundSha256;
    Field<std::uint32_t> backgroundSize;
    Field<std::int64_t> expires;  // seconds since 1970-01-01 00:00:00 UTC
};

// Reads a record from its file's bytes as the profile functions read it:
// the first "key=value" line of each key in a section named VersionInfo,
// names compared without regard to ASCII case, blanks around names and
// values removed. Numbers read as C's strtol reads them (clamped to the int
// range), 0 when absent.
VersionRecord ParseVersionRecord(std::string_view file);

// Exactly 64 hexadecimal digits, either case.
std::optional<Sha256Digest> ParseSha256Hex(std::string_view text);
std::string Sha256Hex(const Sha256Digest& digest);  // lower case
// 1 to 10 decimal digits and nothing else, at most kLargestByteCount.
std::optional<std::uint32_t> ParseByteCount(std::string_view text);
// "YYYY-MM-DDTHH:MM:SSZ", a real date and time of day in UTC (years 1970 to
// 9999); seconds since 1970-01-01 00:00:00 UTC.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
std::string FormatUtcTime(std::int64_t seconds);

// Why a freshly fetched record (signature already checked) is not taken.
enum class RecordFault {
    None,
    Expired,          // its Expires has passed by the player's clock
    BadExpiry,        // Expires is not of its form
    LowerLauncher,    // a file's number below the stored record's
    LowerBackground,
};
// With a build key: the launcher's and the background's numbers never go
// down and an expired record is not taken. VersionNumber may go down: it
// says which clients are still compatible, it vouches for no file, and a
// rise made by mistake must be withdrawable, or every player would be sent
// through the uninstall at every start. Without a key every record is
// taken, as it always was.
RecordFault CheckRecord(const VersionRecord& fresh, const VersionRecord& stored, bool signedBuild,
                        std::int64_t nowUtc);
const char* Describe(RecordFault fault);

// ---------------------------------------------------------------- files

enum class FileFault {
    None,
    NoDigest,         // the record raises the number but names no digest
    BadDigestField,   // the record's digest is not 64 hexadecimal digits
    BadSizeField,     // the record's size is not a byte count
    TooLarge,         // more bytes than the ceiling
    WrongSize,        // not the size the record names
    WrongDigest,      // not the digest the record names
    Incomplete,       // not a whole file of its kind
};
const char* Describe(FileFault fault);

// ---------------------------------------------------------------- reasons

// One word for why a file is refused, the same in the launcher's own
// account and in the operator's check of a deployed server.
inline constexpr char kReasonFetch[] = "fetch";          // no answer, not 200, a bad or broken length
inline constexpr char kReasonCeiling[] = "ceiling";      // more bytes than the file may have
inline constexpr char kReasonSize[] = "size";            // not the size the record names
inline constexpr char kReasonSignature[] = "signature";  // no valid signature by a trusted key
inline constexpr char kReasonDigest[] = "digest";        // no digest named, or another one
inline constexpr char kReasonWhole[] = "whole";          // not a whole program or bitmap of the window's size
inline constexpr char kReasonExpiry[] = "expiry";        // the record's Expires passed or is malformed
inline constexpr char kReasonRollback[] = "rollback";    // a file's number below the stored one
const char* ReasonWord(RecordFault fault);  // "" for None
const char* ReasonWord(FileFault fault);    // "" for None

// What a download of the launcher or of the background must be. `fault` set:
// the record cannot vouch for any file, nothing is fetched.
struct FileDemand {
    FileFault fault = FileFault::None;
    std::uint32_t ceiling = 0;
    bool exactSize = false;  // the file is exactly `ceiling` bytes
    std::optional<Sha256Digest> digest;
};

// The launcher the record announces. With a build key it must name the
// launcher's digest; a digest or size it names is always checked.
FileDemand LauncherDemand(const VersionRecord& fresh, bool signedBuild);
// The background; `numberRises` when the record's number is above the
// stored one (a digest is then required with a build key; otherwise the
// bitmap is only being fetched again because the local one is missing).
FileDemand BackgroundDemand(const VersionRecord& fresh, bool signedBuild, bool numberRises);

// Whether downloaded bytes meet the demand and are a whole program of this
// launcher's kind, or a whole bitmap at least the window's size.
FileFault CheckLauncherFile(std::string_view data, const FileDemand& demand);
FileFault CheckBackgroundFile(std::string_view data, const FileDemand& demand);

// ---------------------------------------------------------------- keys

// The keys a build trusts, written as one or more standard base64 Ed25519
// public keys separated by commas (blanks around each allowed). nullopt
// when any of them is not a 32-byte key; an empty text is an empty list.
std::optional<std::vector<std::string>> ParseKeyList(std::string_view text);
// A file verifies when any of the keys verifies its signature.
bool VerifyWithAnyKey(const std::vector<std::string>& keys, std::string_view file,
                      std::string_view signature);

}  // namespace kvn
