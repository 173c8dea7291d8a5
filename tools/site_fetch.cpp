#include "tools/site_fetch.h"

#include <curl/curl.h>

#include <optional>

#include "update/http_answer.h"
#include "update/update_rules.h"

namespace kvn::tools {
namespace {

struct Transfer {
    CURL* curl = nullptr;
    FetchLimit limit;
    std::optional<std::string> lengthField;  // every Content-Length line, joined
    long status = 0;
    bool headDone = false;
    LengthVerdict length;
    bool overrun = false;  // the body ran past its length
    std::string body;
};

// What a limit is called in a message.
std::string LimitText(FetchLimit limit) {
    return limit.exact ? "exactly " + std::to_string(limit.maxBytes) + " bytes required"
                       : "the ceiling of " + std::to_string(limit.maxBytes) + " bytes";
}

std::size_t OnHeader(char* data, std::size_t, std::size_t n, void* p) {
    auto* t = static_cast<Transfer*>(p);
    const HeaderLine line = ParseHeaderLine(std::string_view(data, n));
    if (line.kind == HeaderLine::Status) {  // a new response begins
        t->lengthField.reset();
        t->headDone = false;
    } else if (line.kind == HeaderLine::ContentLength) {
        JoinFieldLine(t->lengthField, line.value);
    } else if (line.kind == HeaderLine::End) {
        curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &t->status);
        if (t->status >= 100 && t->status < 200) return n;  // an interim answer; the real one follows
        t->headDone = true;
        // As the launcher: not 200, or a length it refuses, and nothing of
        // the body is read.
        if (t->status != 200) return 0;
        t->length = JudgeContentLength(t->lengthField, t->limit.maxBytes, t->limit.exact);
        if (t->length.fault != LengthFault::None) return 0;
    }
    return n;
}

std::size_t OnBody(char* data, std::size_t, std::size_t n, void* p) {
    auto* t = static_cast<Transfer*>(p);
    if (n > t->length.total - t->body.size()) {
        t->overrun = true;
        return 0;  // ends the transfer, as the launcher stops just past the length
    }
    t->body.append(data, n);
    return n;
}

}  // namespace

Fetched JudgeWholeFile(std::uint64_t size, FetchLimit limit, const std::string& name) {
    Fetched f;
    const LengthVerdict length = JudgeContentLength(std::to_string(size), limit.maxBytes, limit.exact);
    if (length.fault == LengthFault::None) {
        f.ok = true;
        return f;
    }
    f.reason = ReasonWord(length.fault);
    f.problem = name + " has " + std::to_string(size) + " bytes, not within " + LimitText(limit);
    return f;
}

Fetched FetchUrl(const std::string& url, FetchLimit limit) {
    Fetched f;
    f.reason = kReasonFetch;
    Transfer t;
    t.limit = limit;
    CURL* curl = curl_easy_init();
    if (!curl) {
        f.problem = "no HTTP session";
        return f;
    }
    t.curl = curl;
    curl_slist* headers = curl_slist_append(nullptr, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "KVN");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 7L);
    // Less than 1 KiB in 7 s is a stall, as for the launcher.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 147L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 7L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    const CURLcode result = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    const std::string field = t.lengthField ? "Content-Length \"" + *t.lengthField + "\"" : "no Content-Length";
    if (t.headDone && t.status != 200) {
        f.problem = "status " + std::to_string(t.status);
    } else if (t.headDone && t.length.fault != LengthFault::None) {
        f.reason = ReasonWord(t.length.fault);
        f.problem = std::string(Describe(t.length.fault)) +
                    (t.length.fault == LengthFault::Malformed ? ": " + field : ": " + field + ", " + LimitText(limit));
    } else if (t.overrun) {
        // Past a length at the limit, the body runs past the limit itself.
        const bool atLimit = t.lengthField && t.length.total == limit.maxBytes;
        f.reason = !atLimit ? kReasonFetch : limit.exact ? kReasonSize : kReasonCeiling;
        f.problem = !t.lengthField ? "no Content-Length, and a body (launchers take only a body of the length announced)"
                                   : "the body runs past its " + field + (atLimit ? ", " + LimitText(limit) : "");
    } else if (result == CURLE_PARTIAL_FILE || (result == CURLE_OK && t.body.size() != t.length.total)) {
        f.problem = "the body ended after " + std::to_string(t.body.size()) + " of its " +
                    std::to_string(t.length.total) + " bytes";
    } else if (result != CURLE_OK) {
        f.problem = std::string("fetch failed: ") + curl_easy_strerror(result);
    } else {
        f.ok = true;
        f.reason.clear();
        f.body = std::move(t.body);
    }
    return f;
}

}  // namespace kvn::tools
