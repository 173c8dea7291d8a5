// Whether launchers would take a download server's three files, judged by
// the launcher's own rules (update/update_rules.h): each file and its
// signature, fetched as the launcher fetches them, in the launcher's order
// of checks, so that each refusal has the launcher's reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvn::tools {

// The most bytes a fetch may take, as the launcher's download has it:
// `exact`, exactly that many.
struct FetchLimit {
    std::uint32_t maxBytes = 0;
    bool exact = false;
};

// One file as it arrived: its body, or why there is none.
struct Fetched {
    bool ok = false;
    std::string body;
    // Without ok: the reason word (fetch, ceiling or size, as the launcher's
    // rule on the answer gives it) and what went wrong.
    std::string reason;
    std::string problem;
};
// Fetches the download area's file NAME (e.g. "Login.exe.sig") as the
// launcher fetches it under `limit`.
using FetchFile = std::function<Fetched(const std::string& name, FetchLimit limit)>;

struct Verdict {
    std::string file;
    bool taken = false;
    // Not taken: the reason word of update/update_rules.h (signature,
    // digest, size, rollback, expiry, ceiling, whole, fetch).
    std::string reason;
    std::string detail;  // what was found, for the operator
    // False for a file that launchers do not judge at all: the record's
    // files when the record itself is refused.
    bool judged = true;
};

// The three verdicts, record first, for launchers that trust `keys` (raw
// 32-byte Ed25519 keys) at the time `nowUtc` (seconds since 1970).
std::vector<Verdict> CheckSite(const FetchFile& fetch, const std::vector<std::string>& keys,
                               std::int64_t nowUtc);

// One line per verdict: "NAME: taken (...)", "NAME: REFUSED (reason): ..."
// or "NAME: not judged (no record)".
std::string Report(const std::vector<Verdict>& verdicts);

}  // namespace kvn::tools
