// HTTP GET through WinINet: one Internet session per download, a connection
// and a request under it, the body read in pulls. A watchdog beside each
// request gives every blocking call an end.
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "platform/win32/http_watchdog.h"
#include "platform/win32/internal.h"
#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

[[noreturn]] void fail(const char* what) {
    throw HttpFailure(std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")");
}

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
    ~InternetHandle() {
        if (h_) InternetCloseHandle(h_);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return h_; }

private:
    HINTERNET h_;
};

void setOption(HINTERNET h, DWORD option, DWORD value) {
    InternetSetOptionW(h, option, &value, sizeof(value));
}

// The time-outs and retries, on a handle. Windows hands a session's options
// down to its connections and requests; Wine does not, so each handle gets
// them.
void setOptions(HINTERNET h, const HttpSessionOptions& options) {
    setOption(h, INTERNET_OPTION_CONNECT_TIMEOUT, options.connectTimeoutMs);
    setOption(h, INTERNET_OPTION_CONNECT_RETRIES, options.connectRetries);
    setOption(h, INTERNET_OPTION_RECEIVE_TIMEOUT, options.receiveTimeoutMs);
    setOption(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, options.dataReceiveTimeoutMs);
    setOption(h, INTERNET_OPTION_CONNECT_BACKOFF, options.connectBackoffMs);
}

std::string fewerThan(const HttpSessionOptions& o) {
    return "fewer than " + std::to_string(o.lowSpeedBytes) + " bytes arrived in " +
           std::to_string(o.lowSpeedWindowMs) + " ms";
}

class WinInetRequest : public HttpRequest {
public:
    // Takes the request handle the watchdog was attached to.
    WinInetRequest(HINTERNET connection, std::unique_ptr<HttpWatchdog> dog,
                   const HttpSessionOptions& options)
        : options_(options),
          dog_(std::move(dog)),
          connection_(connection),
          lowSpeedWindow_(std::chrono::milliseconds(options.lowSpeedWindowMs)) {}
    ~WinInetRequest() override {
        dog_.reset();  // the request's handle before its connection's
    }
    // Connecting (with WinINet's own retries) may take the receive
    // time-out; from the connection on, the head is under the low-speed
    // rule as the body is. The watchdog holds both on a clock, so a head
    // that trickles ends the attempt as one that never comes does.
    void send() override {
        static const wchar_t kAgent[] = L"User-Agent: KVN\r\n";
        HttpAddRequestHeadersW(dog_->handle(), kAgent, static_cast<DWORD>(-1),
                               HTTP_ADDREQ_FLAG_ADD_IF_NEW);
        const auto r = dog_->run(
            [](HINTERNET h, HttpWatchdog::Scratch&) { return HttpSendRequestW(h, nullptr, 0, nullptr, 0); },
            Clock::now() + std::chrono::milliseconds(options_.receiveTimeoutMs),
            HttpFailure::Kind::Connect,
            "no connection and head within " + std::to_string(options_.receiveTimeoutMs) + " ms",
            true);
        if (!r.ok) failWith("HttpSendRequest", r.error);
        windowStart_ = left_ = Clock::now();
    }
    std::uint32_t statusCode() override {
        DWORD code = 0, size = sizeof(code);
        if (!HttpQueryInfoW(dog_->handle(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                            &size, nullptr))
            return 0;
        return code;
    }
    // Every Content-Length line of the answer, joined as one list ("a, b"),
    // so that lines that disagree are refused as the Linux build refuses
    // them. A value too long for the buffer is kept as one that is no
    // length, never dropped as if there were none.
    std::optional<WString> contentLength() override {
        std::optional<WString> joined;
        for (DWORD index = 0; index < 16;) {
            wchar_t buffer[64] = {};
            DWORD size = sizeof(buffer);
            const DWORD asked = index;
            const bool got = HttpQueryInfoW(dog_->handle(), HTTP_QUERY_CONTENT_LENGTH, buffer, &size, &index);
            const WString value = got ? U(buffer, size / sizeof(wchar_t))
                                      : GetLastError() == ERROR_INSUFFICIENT_BUFFER ? WString(u"?") : WString();
            if (!got && value.empty()) break;
            joined = (joined ? *joined + u", " : WString()) + value;
            if (!got || index == asked) break;  // the index moves on with each line found
        }
        return joined;
    }
    // Fills the buffer while the body lasts, taking what has arrived each
    // time: a single InternetReadFile for the whole buffer would wait on a
    // trickle for as long as it keeps coming. Each wait for the next piece
    // ends at the receive time-out, and at the end of the low-speed window,
    // whichever comes first (the watchdog's clock).
    std::size_t read(char* buffer, std::size_t n) override {
        // The caller's time between reads is no part of the window.
        windowStart_ += Clock::now() - left_;
        std::size_t got = 0;
        const std::string slow = fewerThan(options_);
        auto& scratch = dog_->scratch();
        while (got < n) {
            auto r = dog_->run(
                [](HINTERNET h, HttpWatchdog::Scratch& s) {
                    return InternetQueryDataAvailable(h, &s.count, 0, 0);
                },
                windowStart_ + lowSpeedWindow_, HttpFailure::Kind::TooSlow, slow);
            if (!r.ok) failWith("InternetQueryDataAvailable", r.error);
            const DWORD available = scratch.count;
            if (available == 0) break;  // the end of the body
            const std::size_t room = n - got;
            const DWORD want = static_cast<DWORD>(available < room ? available : room);
            if (scratch.buffer.size() < want) scratch.buffer.resize(want);
            r = dog_->run(
                [want](HINTERNET h, HttpWatchdog::Scratch& s) {
                    return InternetReadFile(h, s.buffer.data(), want, &s.count);
                },
                windowStart_ + lowSpeedWindow_, HttpFailure::Kind::TooSlow, slow);
            if (!r.ok) failWith("InternetReadFile", r.error);
            const DWORD piece = scratch.count;
            if (piece == 0) break;
            std::memcpy(buffer + got, scratch.buffer.data(), piece);
            got += piece;
            const auto now = Clock::now();
            windowBytes_ += piece;
            if (windowBytes_ >= options_.lowSpeedBytes) {
                windowBytes_ = 0;
                windowStart_ = now;
            } else if (options_.lowSpeedBytes > 0 && now - windowStart_ > lowSpeedWindow_) {
                throw HttpFailure(slow, HttpFailure::Kind::TooSlow);
            }
        }
        left_ = Clock::now();
        return got;
    }

private:
    using Clock = std::chrono::steady_clock;
    [[noreturn]] static void failWith(const char* what, DWORD error) {
        SetLastError(error);
        fail(what);
    }
    HttpSessionOptions options_;
    std::unique_ptr<HttpWatchdog> dog_;  // owns the request's handle
    InternetHandle connection_;
    // The low-speed rule: bytes counted since the window began, and when the
    // last call returned to the caller.
    Clock::duration lowSpeedWindow_;
    std::size_t windowBytes_ = 0;
    Clock::time_point windowStart_ = Clock::now(), left_ = Clock::now();
};

class WinInetSession : public HttpSession {
public:
    WinInetSession(HINTERNET session, const HttpSessionOptions& options)
        : session_(session), options_(options) {}
    std::unique_ptr<HttpRequest> openRequest(const HttpTarget& target) override {
        if (options_.stop && options_.stop->load())
            throw HttpFailure("stopped", HttpFailure::Kind::Stopped);
        HINTERNET connection = InternetConnectW(session_.get(), W(target.host), target.port,
                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        if (!connection) fail("InternetConnect");
        setOptions(connection, options_);
        DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
        if (target.secure) flags |= INTERNET_FLAG_SECURE;
        auto dog = std::make_unique<HttpWatchdog>(options_.stop, options_.lowSpeedBytes,
                                                  options_.lowSpeedWindowMs);
        HINTERNET request = HttpOpenRequestW(connection, L"GET", W(target.object), L"HTTP/1.0",
                                             nullptr, nullptr, flags, dog->context());
        if (!request) {
            InternetCloseHandle(connection);
            fail("HttpOpenRequest");
        }
        setOptions(request, options_);
        dog->attach(request);
        return std::make_unique<WinInetRequest>(connection, std::move(dog), options_);
    }

private:
    InternetHandle session_;
    HttpSessionOptions options_;
};

class WinInetHttp : public Http {
public:
    std::unique_ptr<HttpSession> openSession(const WString& agent,
                                             const HttpSessionOptions& options) override {
        HINTERNET session =
            InternetOpenW(W(agent), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!session) fail("InternetOpen");
        setOptions(session, options);
        return std::make_unique<WinInetSession>(session, options);
    }
};

}  // namespace

std::unique_ptr<Http> makeHttp() { return std::make_unique<WinInetHttp>(); }

}  // namespace kvn::win32
