// HTTP GET through libcurl's multi interface, read as a pull stream: the
// transfer is paused when the internal buffer is full, so a large body
// never sits in memory whole. Each request goes the way GIO's proxy resolver
// names for its URL, as the web views' requests do.
#include <curl/curl.h>
#include <gio/gio.h>

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

// Asks the resolver which way the URL goes (GIO's resolvers are safe to use
// from any thread). A resolver that cannot answer fails the request, as it
// fails the web views' connections.
std::vector<std::string> LookupProxies(GProxyResolver* resolver, const std::string& url) {
    GError* error = nullptr;
    gchar** answer = g_proxy_resolver_lookup(resolver, url.c_str(), nullptr, &error);
    if (!answer) {
        std::string why = "no proxy answer for the address";
        if (error) why += std::string(": ") + error->message;
        g_clear_error(&error);
        throw HttpFailure(why);
    }
    std::vector<std::string> out;
    for (gchar** p = answer; *p; ++p) out.emplace_back(*p);
    g_strfreev(answer);
    return out;
}

class CurlRequest : public HttpRequest {
public:
    CurlRequest(const HttpTarget& t, const HttpSessionOptions& o, GProxyResolver* resolver) {
        url_ = std::string(t.secure ? "https://" : "http://") + toUtf8(t.host) + ":" +
               std::to_string(t.port) + toUtf8(t.object);
        const ProxyChoice proxy = ChooseProxy(LookupProxies(resolver, url_));
        if (proxy.kind == ProxyChoice::Unusable)
            throw HttpFailure("the proxy named for the address cannot be used");
        easy_ = curl_easy_init();
        multi_ = curl_multi_init();
        if (!easy_ || !multi_) {
            if (easy_) curl_easy_cleanup(easy_);
            if (multi_) curl_multi_cleanup(multi_);
            throw HttpFailure("cannot create the request");
        }
        curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
        if (proxy.kind == ProxyChoice::Proxy) {
            // The resolver has already weighed the exceptions.
            proxy_ = proxy.url;
            curl_easy_setopt(easy_, CURLOPT_PROXY, proxy_.c_str());
            curl_easy_setopt(easy_, CURLOPT_NOPROXY, "");
        }
        // A direct answer leaves libcurl's own reading of http_proxy and the
        // like in force, for a desktop whose resolver does not read them.
        curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(o.connectTimeoutMs));
        // "No data for the receive time-out while waiting" ends the transfer;
        // step() watches it in milliseconds.
        receiveTimeout_ = std::chrono::milliseconds(o.receiveTimeoutMs);
        connectTimeout_ = std::chrono::milliseconds(o.connectTimeoutMs);
        lowSpeedBytes_ = o.lowSpeedBytes;
        lowSpeedWindow_ = std::chrono::milliseconds(o.lowSpeedWindowMs);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, nullptr);
        headers_ = curl_slist_append(headers_, "User-Agent: KVN");
        headers_ = curl_slist_append(headers_, "Accept:");  // libcurl's "*/*" is not sent
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
        windowStart_ = lastData_;
        // Runs until the response headers are in (or the transfer ends).
        while (!headersDone_ && !finished_) step();
        left_ = Clock::now();
        if (finished_ && result_ != CURLE_OK && !headersDone_) throw HttpFailure(why());
    }
    std::uint32_t statusCode() override {
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        return static_cast<std::uint32_t>(code);
    }
    std::optional<WString> contentLength() override { return contentLength_; }
    std::size_t read(char* out, std::size_t n) override {
        if (!added_) send();
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
            if (result_ != CURLE_OK) throw HttpFailure(why());
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
        const auto now = Clock::now();
        if (!finished_ && now - lastData_ > receiveTimeout_) {
            finished_ = true;
            result_ = CURLE_OPERATION_TIMEDOUT;
            return;
        }
        if (!finished_ && lowSpeedBytes_ > 0 && now - windowStart_ > lowSpeedWindow_) {
            finished_ = true;
            result_ = CURLE_OPERATION_TIMEDOUT;
            tooSlow_ = true;
            return;
        }
        // Called only when more is needed: wait for the socket (or curl's own
        // timer), so that a body that stops coming sleeps here until the
        // time-out rather than spinning on bytes already in the buffer.
        if (!finished_ && !paused_) curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
    }
    static int onConnected(void* self, char*, char*, int, int) {
        auto* r = static_cast<CurlRequest*>(self);
        r->lastData_ = r->windowStart_ = Clock::now();
        r->windowBytes_ = 0;
        return CURL_PREREQFUNC_OK;
    }
    // Counts bytes toward the low-speed rule: each time enough have come, a
    // new window begins.
    void arrived(std::size_t n) {
        lastData_ = Clock::now();
        windowBytes_ += n;
        if (windowBytes_ >= lowSpeedBytes_) {
            windowBytes_ = 0;
            windowStart_ = lastData_;
        }
    }
    std::string why() const {
        return tooSlow_ ? "fewer than " + std::to_string(lowSpeedBytes_) + " bytes arrived in " +
                              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             lowSpeedWindow_).count()) +
                              " ms"
                        : curl_easy_strerror(result_);
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

    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string url_, proxy_;
    std::string buffer_;
    std::size_t offset_ = 0;
    bool added_ = false, headersDone_ = false, finished_ = false, paused_ = false, tooSlow_ = false;
    CURLcode result_ = CURLE_OK;
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastData_ = Clock::now();
    Clock::duration receiveTimeout_{}, connectTimeout_{}, lowSpeedWindow_{};
    // The low-speed rule: the window's start, the bytes counted in it, and
    // when the last call returned to the caller.
    Clock::time_point windowStart_ = Clock::now(), left_ = Clock::now();
    std::size_t windowBytes_ = 0, lowSpeedBytes_ = 0;
    std::optional<WString> contentLength_;
};

// A reference to a resolver, released with its holder.
class ResolverRef {
public:
    explicit ResolverRef(GProxyResolver* r) : r_(r ? G_PROXY_RESOLVER(g_object_ref(r)) : nullptr) {}
    ResolverRef(const ResolverRef& o) : ResolverRef(o.r_) {}
    ResolverRef& operator=(const ResolverRef&) = delete;
    ~ResolverRef() {
        if (r_) g_object_unref(r_);
    }
    GProxyResolver* get() const { return r_ ? r_ : g_proxy_resolver_get_default(); }

private:
    GProxyResolver* r_;
};

class CurlSession : public HttpSession {
public:
    CurlSession(const HttpSessionOptions& o, const ResolverRef& r) : options_(o), resolver_(r) {}
    std::unique_ptr<HttpRequest> openRequest(const HttpTarget& target) override {
        return std::make_unique<CurlRequest>(target, options_, resolver_.get());
    }

private:
    HttpSessionOptions options_;
    ResolverRef resolver_;
};

class CurlHttp : public Http {
public:
    explicit CurlHttp(GProxyResolver* resolver) : resolver_(resolver) {
        curl_global_init(CURL_GLOBAL_DEFAULT);
    }
    std::unique_ptr<HttpSession> openSession(const WString&, const HttpSessionOptions& o) override {
        return std::make_unique<CurlSession>(o, resolver_);
    }

private:
    ResolverRef resolver_;  // none: the default resolver
};

}  // namespace

ProxyChoice ChooseProxy(const std::vector<std::string>& answer) {
    for (const std::string& entry : answer) {
        const auto colon = entry.find("://");
        if (colon == std::string::npos) continue;
        std::string scheme = entry.substr(0, colon);
        for (char& c : scheme)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const std::string rest = entry.substr(colon);
        if (scheme == "direct") return {ProxyChoice::Direct, {}};
        // GIO's socks5 proxy hands the host name to the proxy; so does
        // libcurl's socks5h.
        if (scheme == "socks5") return {ProxyChoice::Proxy, "socks5h" + rest};
        if (scheme == "http" || scheme == "https" || scheme == "socks4" || scheme == "socks4a")
            return {ProxyChoice::Proxy, scheme + rest};
    }
    return {ProxyChoice::Unusable, {}};
}

std::unique_ptr<Http> makeHttp() { return std::make_unique<CurlHttp>(nullptr); }
std::unique_ptr<Http> makeHttp(GProxyResolver* resolver) {
    return std::make_unique<CurlHttp>(resolver);
}

}  // namespace kvn::linuxp
