#include "update/download.h"

#include <vector>

#include "app/config.h"
#include "platform/text.h"
#include "update/http_answer.h"

namespace kvn {

namespace {

// Splits "http[s]://host[:port][/path?query]". False when the scheme or the
// host is missing or the port is not a number in range.
bool ParseUrl(const WString& url, HttpTarget& target) {
    std::u16string_view rest = url;
    const auto schemeEnd = rest.find(u"://");
    if (schemeEnd == std::u16string_view::npos) return false;
    WString scheme(rest.substr(0, schemeEnd));
    for (auto& c : scheme)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (scheme == u"http") {
        target.secure = false;
        target.port = 80;
    } else if (scheme == u"https") {
        target.secure = true;
        target.port = 443;
    } else {
        return false;
    }
    rest.remove_prefix(schemeEnd + 3);
    const auto pathStart = rest.find_first_of(u"/?#");
    std::u16string_view authority = rest.substr(0, pathStart);
    std::u16string_view object =
        pathStart == std::u16string_view::npos ? std::u16string_view{} : rest.substr(pathStart);
    if (const auto atSign = authority.rfind(u'@'); atSign != std::u16string_view::npos)
        authority.remove_prefix(atSign + 1);
    // The host, then an optional ":port"; an IPv6 literal keeps its brackets.
    std::u16string_view host = authority;
    std::size_t colon = std::u16string_view::npos;
    if (!authority.empty() && authority.front() == u'[') {
        const auto close = authority.find(u']');
        if (close == std::u16string_view::npos || close == 1) return false;
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != u':') return false;
            colon = close + 1;
        }
    } else {
        colon = authority.rfind(u':');
        if (colon != std::u16string_view::npos) host = authority.substr(0, colon);
    }
    if (colon != std::u16string_view::npos) {
        const std::u16string_view port = authority.substr(colon + 1);
        if (!port.empty()) {
            unsigned long value = 0;
            for (char16_t c : port) {
                if (c < u'0' || c > u'9') return false;
                value = value * 10 + (c - u'0');
                if (value > 65535) return false;
            }
            if (value == 0) return false;
            target.port = static_cast<std::uint16_t>(value);
        }
    }
    if (host.empty()) return false;
    target.host = WString(host);
    if (const auto hash = object.find(u'#'); hash != std::u16string_view::npos)
        object = object.substr(0, hash);
    target.object = object.empty() ? WString(u"/") : WString(object);
    if (target.object.front() != u'/') target.object.insert(target.object.begin(), u'/');
    return true;
}

}  // namespace

// Fetches one URL into one local file. The body goes to a temporary file
// beside the target, which replaces the target only when the answer was
// 200 and the bytes on disk match Content-Length; otherwise the target stays
// as it was and the temporary file is removed. Every failure of the HTTP
// stack, including a session that cannot be opened, reports false. No more
// than the ceiling, nor more than Content-Length announced, is ever read.
// The context's stop flag (set when the window goes away) ends a download
// under way within a moment, as a failure.
bool DownloadFile(Platform& platform, InstallWorkerContext& context, WString url,
                  WString localPath, bool notify, DownloadCeiling ceiling) {
    const WString partPath = localPath + u".part";
    bool partCreated = false;
    if (context.m_bStopWorker.load()) return false;
    try {
        HttpSessionOptions options;
        options.stop = &context.m_bStopWorker;
        auto session = platform.http.openSession(AppName(platform.system), options);
        if (!session) return false;

        HttpTarget target;
        if (!ParseUrl(url, target)) return false;
        auto request = session->openRequest(target);
        if (!request) return false;
        request->send();
        if (request->statusCode() != 200) return false;

        // The length is known before the body: one that is not a length, or
        // one above the ceiling, fails here, before anything is read or
        // created.
        const auto lengthHeader = request->contentLength();
        const LengthVerdict length =
            JudgeContentLength(lengthHeader ? std::optional<std::string>(toUtf8(*lengthHeader)) : std::nullopt,
                               ceiling.maxBytes, ceiling.exact);
        if (length.fault != LengthFault::None) return false;
        const std::uint32_t total = length.total;

        auto file = platform.files.createFile(partPath);
        if (!file) return false;
        partCreated = true;

        // The body is read in pieces of at most 1024 bytes, one progress
        // event after each, into one buffer that goes to the file whenever it
        // is nearly full and at the end: one write per 64 pieces rather than
        // one per piece. Bytes done is what the file took plus what waits in
        // the buffer; the last event, after the end of the body, carries only
        // what the file took.
        constexpr std::size_t kPiece = 1024;
        constexpr std::size_t kBuffer = 64 * kPiece;
        std::vector<char> buffer(kBuffer);
        std::size_t waiting = 0;
        std::uint32_t written = 0;
        auto flush = [&] {
            if (waiting > 0)
                written += static_cast<std::uint32_t>(file->write(buffer.data(), waiting));
            waiting = 0;
        };
        // A body longer than announced cannot succeed: it is cut off as
        // soon as it passes the length, which the ceiling bounds.
        std::uint64_t received = 0;
        bool overrun = false;
        std::size_t got = request->read(buffer.data(), kPiece);
        while (got > 0) {
            received += got;
            if (received > total) {
                overrun = true;
                break;
            }
            waiting += got;
            if (kBuffer - waiting < kPiece) flush();
            got = request->read(buffer.data() + waiting, kPiece);
            if (got == 0) flush();
            if (notify && context.m_pEventSink)
                context.m_pEventSink->OnDownloadProgress(
                    WString(), written + static_cast<std::uint32_t>(waiting), total);
        }
        flush();
        const std::uint32_t done = written;

        const std::uint64_t size = file->size();
        file->close();
        file.reset();
        // A stop that came with the last bytes still leaves the target alone.
        if (overrun || size != total || done != total || context.m_bStopWorker.load()) {
            platform.files.deleteFile(partPath);
            return false;
        }
        if (!platform.files.replaceFile(partPath, localPath)) {
            platform.files.deleteFile(partPath);
            return false;
        }
        partCreated = false;
        if (notify && context.m_pEventSink) context.m_pEventSink->OnDownloadComplete(url, localPath);
        return true;
    } catch (const HttpFailure&) {
        if (partCreated) platform.files.deleteFile(partPath);
        return false;
    }
}

}  // namespace kvn
