// How the operator's tool fetches a download server's files: one GET as the
// launcher makes it, the answer's head read and its Content-Length judged
// by the launcher's own rules (update/http_answer.h), the body held to that
// length. What the launcher refuses is refused here with the same reason.
#pragma once

#include <cstdint>
#include <string>

#include "tools/site_check.h"

namespace kvn::tools {

// GETs `url` (http or https). Needs curl_global_init first.
Fetched FetchUrl(const std::string& url, FetchLimit limit);

// A file of `size` bytes judged as if a server sent it whole with an
// honest Content-Length: the launcher's rule on that length, with the same
// reasons as FetchUrl. The body is left for the caller to fill in.
Fetched JudgeWholeFile(std::uint64_t size, FetchLimit limit, const std::string& name);

}  // namespace kvn::tools
