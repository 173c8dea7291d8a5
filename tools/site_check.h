// Whether launchers would take a download server's three files, judged by
// the launcher's own rules (update/update_rules.h): each file and its
// signature, fetched up to the launcher's ceiling for it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvn::tools {

// One file as it arrived: its body, or why there is none.
struct Fetched {
    bool ok = false;
    std::string body;
    // Without ok: what went wrong, and whether it was the ceiling (a
    // Content-Length above it, or a body that ran past it).
    std::string problem;
    bool overCeiling = false;
};
// Fetches the download area's file NAME (e.g. "Login.exe.sig") reading at
// most `ceiling` bytes of its body.
using FetchFile = std::function<Fetched(const std::string& name, std::uint32_t ceiling)>;

struct Verdict {
    std::string file;
    bool taken = false;
    std::string reason;  // signature, digest, size, expiry, ceiling, whole, fetch (when not taken)
    std::string detail;  // what was found, for the operator
};

// The three verdicts, record first, for launchers that trust `keys` (raw
// 32-byte Ed25519 keys) at the time `nowUtc` (seconds since 1970).
std::vector<Verdict> CheckSite(const FetchFile& fetch, const std::vector<std::string>& keys,
                               std::int64_t nowUtc);

// One line per verdict: "NAME: taken (...)" or "NAME: REFUSED (reason): ...".
std::string Report(const std::vector<Verdict>& verdicts);

}  // namespace kvn::tools
