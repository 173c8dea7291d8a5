// HTTP GET through libcurl's multi interface, read as a pull stream: the
// transfer is paused when the internal buffer is full, so a large body
// never sits in memory whole. Each request takes the ways GIO's proxy
// resolver names for its URL, in their order, as the web views' requests do.
#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/linux/internal.h"
#include "platform/linux/proxy_lookup.h"
#include "platform/linux/services.h"
#include "platform/text.h"

namespace kvn::linuxp {
namespace {

constexpr std::size_t kBufferLimit = 1 << 20;
constexpr std::size_t kCompactAt = 64 << 10;
using Kind = HttpFailure::Kind;

// Failures that mean a way could not be reached: the next way is tried.
bool CannotReach(CURLcode code) {
    return code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT ||
           code == CURLE_COULDNT_RESOLVE_PROXY || code == CURLE_COULDNT_RESOLVE_HOST ||
           code == CURLE_PROXY;
}

// A proxy as the record may show it: no user name or password.
std::string WithoutCredentials(const std::string& proxy) {
    const auto scheme = proxy.find("://");
    if (scheme == std::string::npos) return proxy;
    const auto at = proxy.find('@', scheme + 3);
    const auto slash = proxy.find('/', scheme + 3);
    if (at == std::string::npos || (slash != std::string::npos && slash < at)) return proxy;
    return proxy.substr(0, scheme + 3) + proxy.substr(at + 1);
}

class CurlRequest : public HttpRequest {
public:
    CurlRequest(const HttpTarget& t, const HttpSessionOptions& o,
                std::shared_ptr<ProxyLookups> lookups)
        : options_(o), lookups_(std::move(lookups)) {
        url_ = std::string(t.secure ? "https://" : "http://") + toUtf8(t.host) + ":" +
               std::to_string(t.port) + toUtf8(t.object);
        receiveTimeout_ = std::chrono::milliseconds(o.receiveTimeoutMs);
        lowSpeedWindow_ = std::chrono::milliseconds(o.lowSpeedWindowMs);
        multi_ = curl_multi_init();
        if (!multi_) throw HttpFailure("cannot create the request");
        headers_ = curl_slist_append(headers_, "User-Agent: KVN");
        headers_ = curl_slist_append(headers_, "Accept:");  // libcurl's "*/*" is not sent
        headers_ = curl_slist_append(headers_, "Pragma: no-cache");
        headers_ = curl_slist_append(headers_, "Cache-Control: no-cache");
    }
    ~CurlRequest() override {
        dropHandle();
        if (multi_) curl_multi_cleanup(multi_);
        curl_slist_free_all(headers_);
    }

    // Looks up the ways to the URL (once per address and backend), then
    // tries them in their order until one connects; all of them again, up to
    // connectRetries times with connectBackoffMs between the rounds. The
    // lookup, every try and the pauses count within the receive time-out:
    // a start waits no longer for a way than for a silent server. Then
    // waits for the response head under the receive and low-speed rules.
    void send() override {
        if (sent_) return;
        sent_ = true;
        const auto deadline = Clock::now() + receiveTimeout_;
        const std::vector<ProxyChoice> roads =
            ProxyRoads(lookups_->answer(url_, deadline, options_.stop));
        if (roads.empty())
            throw HttpFailure("the proxy named for the address cannot be used", Kind::Lookup);
        std::string failures;
        for (unsigned round = 0;; ++round) {
            failures.clear();  // the last round's reasons are reported
            for (const ProxyChoice& road : roads) {
                if (tryRoad(road, deadline)) {
                    // Runs until the response headers are in (or the transfer ends).
                    while (!headersDone_ && !finished_) step();
                    left_ = Clock::now();
                    if (finished_ && result_ != CURLE_OK && !headersDone_) throw failure();
                    return;
                }
                if (!failures.empty()) failures += "; ";
                failures += route_ + ": " + why();
                if (!CannotReach(result_)) throw HttpFailure(failures, Kind::Other);
            }
            if (round >= options_.connectRetries) break;
            if (!pause(std::chrono::milliseconds(options_.connectBackoffMs), deadline)) break;
        }
        throw HttpFailure("cannot connect (" + failures + ")", Kind::Connect);
    }
    std::uint32_t statusCode() override {
        long code = 0;
        if (easy_) curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        return static_cast<std::uint32_t>(code);
    }
    std::optional<WString> contentLength() override { return contentLength_; }
    std::string route() const override { return route_; }
    std::size_t read(char* out, std::size_t n) override {
        if (!sent_) send();
        const auto now = Clock::now();
        lastData_ = now;  // the time-out counts while this call waits
        // Nothing moves between calls: the caller's own time is no part of
        // the window in which the low-speed rule counts bytes.
        windowStart_ += now - left_;
        Leaving leaving{*this};
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
            if (result_ != CURLE_OK) throw failure();
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
    using Clock = std::chrono::steady_clock;

    // One try at one way, until it connects (true) or fails (false, the
    // reason in result_); throws when stopped.
    bool tryRoad(const ProxyChoice& road, Clock::time_point deadline) {
        dropHandle();
        finished_ = connected_ = headersDone_ = tooSlow_ = false;
        result_ = CURLE_OK;
        contentLength_.reset();
        route_ = road.kind == ProxyChoice::Proxy ? WithoutCredentials(road.url) : "direct";
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result_ = CURLE_OPERATION_TIMEDOUT;
            finished_ = true;
            return false;
        }
        easy_ = curl_easy_init();
        if (!easy_) throw HttpFailure("cannot create the request");
        curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
        if (road.kind == ProxyChoice::Proxy) {
            // The resolver has already weighed the exceptions.
            curl_easy_setopt(easy_, CURLOPT_PROXY, road.url.c_str());
            curl_easy_setopt(easy_, CURLOPT_NOPROXY, "");
        }
        // A direct way leaves libcurl's own reading of http_proxy and the
        // like in force, for a desktop whose resolver does not read them.
        curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
        const long connectMs = std::min<long>(options_.connectTimeoutMs, static_cast<long>(left.count()));
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, connectMs > 0 ? connectMs : 1L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, nullptr);
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::onData);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::onHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        // Once connected, the receive time-out and the low-speed rule count.
        curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &CurlRequest::onConnected);
        curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
        curl_multi_add_handle(multi_, easy_);
        while (!connected_ && !finished_) {
            step();
            if (!connected_ && !finished_ && Clock::now() >= deadline) {
                finished_ = true;
                result_ = CURLE_OPERATION_TIMEDOUT;
            }
        }
        return connected_;
    }
    // Waits between two rounds of tries; false when the wait would pass
    // the deadline. Throws when stopped.
    bool pause(Clock::duration wait, Clock::time_point deadline) {
        const auto until = Clock::now() + wait;
        if (until >= deadline) return false;
        while (Clock::now() < until) {
            throwIfStopped();
            std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(),
                                                                  std::chrono::milliseconds(50)));
        }
        return true;
    }
    void throwIfStopped() const {
        if (options_.stop && options_.stop->load()) throw HttpFailure("stopped", Kind::Stopped);
    }
    void dropHandle() {
        if (!easy_) return;
        curl_multi_remove_handle(multi_, easy_);
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
    }
    void step() {
        throwIfStopped();
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
        const auto now = Clock::now();
        if (!finished_ && connected_ && now - lastData_ > receiveTimeout_) {
            finished_ = true;
            result_ = CURLE_OPERATION_TIMEDOUT;
            return;
        }
        if (!finished_ && connected_ && options_.lowSpeedBytes > 0 &&
            now - windowStart_ > lowSpeedWindow_) {
            finished_ = true;
            result_ = CURLE_OPERATION_TIMEDOUT;
            tooSlow_ = true;
            return;
        }
        // Called only when more is needed: wait for the socket (or curl's own
        // timer), so that a body that stops coming sleeps here until the
        // time-out rather than spinning on bytes already in the buffer. At
        // most 100 ms, so that the clocks and the stop flag are read often.
        if (!finished_ && !paused_) curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
    }
    static int onConnected(void* self, char*, char*, int, int) {
        auto* r = static_cast<CurlRequest*>(self);
        r->connected_ = true;
        r->lastData_ = r->windowStart_ = Clock::now();
        r->windowBytes_ = 0;
        return CURL_PREREQFUNC_OK;
    }
    // Counts bytes toward the low-speed rule: each time enough have come, a
    // new window begins.
    void arrived(std::size_t n) {
        lastData_ = Clock::now();
        windowBytes_ += n;
        if (windowBytes_ >= options_.lowSpeedBytes) {
            windowBytes_ = 0;
            windowStart_ = lastData_;
        }
    }
    std::string why() const {
        return tooSlow_ ? "fewer than " + std::to_string(options_.lowSpeedBytes) + " bytes arrived in " +
                              std::to_string(options_.lowSpeedWindowMs) + " ms"
                        : curl_easy_strerror(result_);
    }
    HttpFailure failure() const {
        const Kind kind = tooSlow_ ? Kind::TooSlow
                          : result_ == CURLE_OPERATION_TIMEDOUT ? Kind::Silence
                                                                : Kind::Other;
        return HttpFailure(why(), kind);
    }
    struct Leaving {
        CurlRequest& r;
        ~Leaving() { r.left_ = Clock::now(); }
    };
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* r = static_cast<CurlRequest*>(self);
        r->arrived(size * count);
        const HeaderLine line = ParseHeaderLine(std::string_view(data, size * count));
        if (line.kind == HeaderLine::Status) r->contentLength_.reset();  // a new response begins
        else if (line.kind == HeaderLine::End) r->headersDone_ = true;
        else if (line.kind == HeaderLine::ContentLength)  // repeated lines make one list
            r->contentLength_ = (r->contentLength_ ? *r->contentLength_ + u", " : WString()) + fromUtf8(line.value);
        return size * count;
    }
    static std::size_t onData(char* data, std::size_t size, std::size_t count, void* self) {
        auto* r = static_cast<CurlRequest*>(self);
        std::size_t n = size * count;
        r->headersDone_ = true;
        if (r->buffer_.size() - r->offset_ >= kBufferLimit) {
            r->paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        r->arrived(n);
        r->buffer_.append(data, n);
        return n;
    }

    const HttpSessionOptions options_;
    std::shared_ptr<ProxyLookups> lookups_;  // the backend's, shared
    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string url_, route_;
    std::string buffer_;
    std::size_t offset_ = 0;
    bool sent_ = false, connected_ = false, headersDone_ = false, finished_ = false,
         paused_ = false, tooSlow_ = false;
    CURLcode result_ = CURLE_OK;
    Clock::time_point lastData_ = Clock::now();
    Clock::duration receiveTimeout_{}, lowSpeedWindow_{};
    // The low-speed rule: the window's start, the bytes counted in it, and
    // when the last call returned to the caller.
    Clock::time_point windowStart_ = Clock::now(), left_ = Clock::now();
    std::size_t windowBytes_ = 0;
    std::optional<WString> contentLength_;
};

class CurlSession : public HttpSession {
public:
    CurlSession(const HttpSessionOptions& o, std::shared_ptr<ProxyLookups> lookups)
        : options_(o), lookups_(std::move(lookups)) {}
    std::unique_ptr<HttpRequest> openRequest(const HttpTarget& target) override {
        if (options_.stop && options_.stop->load()) throw HttpFailure("stopped", Kind::Stopped);
        return std::make_unique<CurlRequest>(target, options_, lookups_);
    }

private:
    HttpSessionOptions options_;
    std::shared_ptr<ProxyLookups> lookups_;
};

class CurlHttp : public Http {
public:
    explicit CurlHttp(GProxyResolver* resolver)
        : lookups_(std::make_shared<ProxyLookups>(resolver)) {
        curl_global_init(CURL_GLOBAL_DEFAULT);
    }
    std::unique_ptr<HttpSession> openSession(const WString&, const HttpSessionOptions& o) override {
        return std::make_unique<CurlSession>(o, lookups_);
    }

private:
    // The resolver's answers, shared by every session: one lookup per
    // address for the life of the backend.
    std::shared_ptr<ProxyLookups> lookups_;
};

}  // namespace

std::vector<ProxyChoice> ProxyRoads(const std::vector<std::string>& answer) {
    std::vector<ProxyChoice> roads;
    for (const std::string& entry : answer) {
        const auto colon = entry.find("://");
        if (colon == std::string::npos) continue;
        std::string scheme = entry.substr(0, colon);
        for (char& c : scheme)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const std::string rest = entry.substr(colon);
        ProxyChoice road{ProxyChoice::Direct, {}};
        // GIO's socks5 proxy hands the host name to the proxy; so does
        // libcurl's socks5h.
        if (scheme == "socks5") road = {ProxyChoice::Proxy, "socks5h" + rest};
        else if (scheme == "http" || scheme == "https" || scheme == "socks4" || scheme == "socks4a")
            road = {ProxyChoice::Proxy, scheme + rest};
        else if (scheme != "direct") continue;
        // The same way twice is tried once.
        bool seen = false;
        for (const ProxyChoice& r : roads) seen = seen || r == road;
        if (!seen) roads.push_back(road);
    }
    return roads;
}

std::unique_ptr<Http> makeHttp() { return std::make_unique<CurlHttp>(nullptr); }
std::unique_ptr<Http> makeHttp(GProxyResolver* resolver) {
    return std::make_unique<CurlHttp>(resolver);
}

}  // namespace kvn::linuxp
