// HTTP GET through WinINet: one Internet session per download, a connection
// and a request under it, the body read in pulls.
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <string>

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

class WinInetRequest : public HttpRequest {
public:
    WinInetRequest(HINTERNET connection, HINTERNET request, const HttpSessionOptions& options)
        : connection_(connection),
          request_(request),
          lowSpeedBytes_(options.lowSpeedBytes),
          lowSpeedWindow_(std::chrono::milliseconds(options.lowSpeedWindowMs)) {}
    void send() override {
        static const wchar_t kAgent[] = L"User-Agent: KVN\r\n";
        HttpAddRequestHeadersW(request_.get(), kAgent, static_cast<DWORD>(-1),
                               HTTP_ADDREQ_FLAG_ADD_IF_NEW);
        if (!HttpSendRequestW(request_.get(), nullptr, 0, nullptr, 0)) fail("HttpSendRequest");
        windowStart_ = left_ = Clock::now();
    }
    std::uint32_t statusCode() override {
        DWORD code = 0, size = sizeof(code);
        if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
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
            const bool got = HttpQueryInfoW(request_.get(), HTTP_QUERY_CONTENT_LENGTH, buffer, &size, &index);
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
    // trickle for as long as it keeps coming, while here the low-speed rule
    // is checked after every piece. Waiting for the next piece ends after
    // the receive time-out.
    std::size_t read(char* buffer, std::size_t n) override {
        // The caller's time between reads is no part of the window.
        windowStart_ += Clock::now() - left_;
        std::size_t got = 0;
        while (got < n) {
            DWORD available = 0;
            if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0))
                fail("InternetQueryDataAvailable");
            if (available == 0) break;  // the end of the body
            const std::size_t room = n - got;
            DWORD want = static_cast<DWORD>(available < room ? available : room);
            DWORD piece = 0;
            if (!InternetReadFile(request_.get(), buffer + got, want, &piece)) fail("InternetReadFile");
            if (piece == 0) break;
            got += piece;
            const auto now = Clock::now();
            windowBytes_ += piece;
            if (windowBytes_ >= lowSpeedBytes_) {
                windowBytes_ = 0;
                windowStart_ = now;
            } else if (lowSpeedBytes_ > 0 && now - windowStart_ > lowSpeedWindow_) {
                throw HttpFailure("fewer than " + std::to_string(lowSpeedBytes_) +
                                  " bytes arrived in the low-speed window");
            }
        }
        left_ = Clock::now();
        return got;
    }

private:
    using Clock = std::chrono::steady_clock;
    InternetHandle connection_;  // closed after the request
    InternetHandle request_;
    // The low-speed rule: bytes counted since the window began, and when the
    // last call returned to the caller.
    std::size_t lowSpeedBytes_;
    Clock::duration lowSpeedWindow_;
    std::size_t windowBytes_ = 0;
    Clock::time_point windowStart_ = Clock::now(), left_ = Clock::now();
};

class WinInetSession : public HttpSession {
public:
    WinInetSession(HINTERNET session, const HttpSessionOptions& options)
        : session_(session), options_(options) {}
    std::unique_ptr<HttpRequest> openRequest(const HttpTarget& target) override {
        HINTERNET connection = InternetConnectW(session_.get(), W(target.host), target.port,
                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        if (!connection) fail("InternetConnect");
        setOptions(connection, options_);
        DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
        if (target.secure) flags |= INTERNET_FLAG_SECURE;
        HINTERNET request = HttpOpenRequestW(connection, L"GET", W(target.object), L"HTTP/1.0",
                                             nullptr, nullptr, flags, 0);
        if (!request) {
            InternetCloseHandle(connection);
            fail("HttpOpenRequest");
        }
        setOptions(request, options_);
        return std::make_unique<WinInetRequest>(connection, request, options_);
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
