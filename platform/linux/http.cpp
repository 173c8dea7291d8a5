// HTTP GET through libcurl's multi interface, read as a pull stream: the
// transfer is paused when the internal buffer is full, so a large body
// never sits in memory whole.
#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/linux/internal.h"
#include "platform/linux/services.h"
#include "platform/text.h"

namespace kvn::linuxp {
namespace {

constexpr std::size_t kBufferLimit = 1 << 20;
constexpr std::size_t kCompactAt = 64 << 10;

class CurlRequest : public HttpRequest {
public:
    CurlRequest(const HttpTarget& t, const HttpSessionOptions& o) {
        easy_ = curl_easy_init();
        multi_ = curl_multi_init();
        if (!easy_ || !multi_) throw HttpFailure("cannot create the request");
        url_ = std::string(t.secure ? "https://" : "http://") + toUtf8(t.host) + ":" +
               std::to_string(t.port) + toUtf8(t.object);
        curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(o.connectTimeoutMs));
        // "No data for the receive time-out while waiting" ends the transfer;
        // step() watches it in milliseconds.
        receiveTimeout_ = std::chrono::milliseconds(o.receiveTimeoutMs);
        connectTimeout_ = std::chrono::milliseconds(o.connectTimeoutMs);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, nullptr);
        headers_ = curl_slist_append(headers_, "User-Agent: KVN");
        headers_ = curl_slist_append(headers_, "Pragma: no-cache");
        headers_ = curl_slist_append(headers_, "Cache-Control: no-cache");
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::onData);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::onHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        // Once connected, the receive time-out alone counts.
        curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &CurlRequest::onConnected);
        curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
    }
    ~CurlRequest() override {
        if (added_) curl_multi_remove_handle(multi_, easy_);
        if (easy_) curl_easy_cleanup(easy_);
        if (multi_) curl_multi_cleanup(multi_);
        curl_slist_free_all(headers_);
    }

    void send() override {
        if (added_) return;
        curl_multi_add_handle(multi_, easy_);
        added_ = true;
        // Until the connection stands, the connect time-out counts as well.
        lastData_ = Clock::now() + connectTimeout_;
        // Runs until the response headers are in (or the transfer ends).
        while (!headersDone_ && !finished_) step();
        if (finished_ && result_ != CURLE_OK && !headersDone_)
            throw HttpFailure(curl_easy_strerror(result_));
    }
    std::uint32_t statusCode() override {
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        return static_cast<std::uint32_t>(code);
    }
    std::optional<WString> contentLength() override { return contentLength_; }
    std::size_t read(char* out, std::size_t n) override {
        if (!added_) send();
        lastData_ = Clock::now();  // the time-out counts while this call waits
        // Like InternetReadFile: the buffer is filled while the body lasts, so
        // a short count means its end (or a failure met on the way).
        while (buffer_.size() - offset_ < n && buffer_.size() - offset_ < kBufferLimit &&
               !finished_) {
            if (paused_) {
                paused_ = false;
                curl_easy_pause(easy_, CURLPAUSE_CONT);
            }
            step();
        }
        std::size_t have = buffer_.size() - offset_;
        if (have == 0) {
            if (result_ != CURLE_OK) throw HttpFailure(curl_easy_strerror(result_));
            return 0;
        }
        std::size_t take = have < n ? have : n;
        std::memcpy(out, buffer_.data() + offset_, take);
        offset_ += take;
        // Drops what has been read once it is sizeable, so the buffer holds at
        // most about kBufferLimit unread bytes plus one such piece.
        if (offset_ == buffer_.size()) {
            buffer_.clear();
            offset_ = 0;
        } else if (offset_ >= kCompactAt) {
            buffer_.erase(0, offset_);
            offset_ = 0;
        }
        return take;
    }

private:
    void step() {
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi_, &running);
        if (mc != CURLM_OK) throw HttpFailure(curl_multi_strerror(mc));
        int queued = 0;
        while (CURLMsg* m = curl_multi_info_read(multi_, &queued)) {
            if (m->msg == CURLMSG_DONE) {
                finished_ = true;
                result_ = m->data.result;
            }
        }
        if (!finished_ && Clock::now() - lastData_ > receiveTimeout_) {
            finished_ = true;
            result_ = CURLE_OPERATION_TIMEDOUT;
            return;
        }
        // Called only when more is needed: wait for the socket (or curl's own
        // timer), so that a body that stops coming sleeps here until the
        // time-out rather than spinning on bytes already in the buffer.
        if (!finished_ && !paused_) curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
    }
    static int onConnected(void* self, char*, char*, int, int) {
        static_cast<CurlRequest*>(self)->lastData_ = Clock::now();
        return CURL_PREREQFUNC_OK;
    }
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* r = static_cast<CurlRequest*>(self);
        r->lastData_ = Clock::now();
        const HeaderLine line = ParseHeaderLine(std::string_view(data, size * count));
        if (line.kind == HeaderLine::Status) r->contentLength_.reset();  // a new response begins
        else if (line.kind == HeaderLine::End) r->headersDone_ = true;
        else if (line.kind == HeaderLine::ContentLength) r->contentLength_ = fromUtf8(line.value);
        return size * count;
    }
    static std::size_t onData(char* data, std::size_t size, std::size_t count, void* self) {
        auto* r = static_cast<CurlRequest*>(self);
        std::size_t n = size * count;
        r->headersDone_ = true;
        r->lastData_ = Clock::now();
        if (r->buffer_.size() - r->offset_ >= kBufferLimit) {
            r->paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        r->buffer_.append(data, n);
        return n;
    }

    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string url_;
    std::string buffer_;
    std::size_t offset_ = 0;
    bool added_ = false, headersDone_ = false, finished_ = false, paused_ = false;
    CURLcode result_ = CURLE_OK;
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastData_ = Clock::now();
    Clock::duration receiveTimeout_{}, connectTimeout_{};
    std::optional<WString> contentLength_;
};

class CurlSession : public HttpSession {
public:
    explicit CurlSession(const HttpSessionOptions& o) : options_(o) {}
    std::unique_ptr<HttpRequest> openRequest(const HttpTarget& target) override {
        return std::make_unique<CurlRequest>(target, options_);
    }

private:
    HttpSessionOptions options_;
};

class CurlHttp : public Http {
public:
    CurlHttp() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    std::unique_ptr<HttpSession> openSession(const WString&, const HttpSessionOptions& o) override {
        return std::make_unique<CurlSession>(o);
    }
};

}  // namespace

HeaderLine ParseHeaderLine(std::string_view line) {
    if (line.substr(0, 5) == "HTTP/") return {HeaderLine::Status, {}};
    if (line == "\r\n" || line == "\n") return {HeaderLine::End, {}};
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !equalsNoCase(std::string(line.substr(0, colon)), "Content-Length"))
        return {HeaderLine::Other, {}};
    std::string_view v = line.substr(colon + 1);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == '\r' || v.back() == '\n' || v.back() == ' ' || v.back() == '\t'))
        v.remove_suffix(1);
    return {HeaderLine::ContentLength, std::string(v)};
}

std::unique_ptr<Http> makeHttp() { return std::make_unique<CurlHttp>(); }

}  // namespace kvn::linuxp
