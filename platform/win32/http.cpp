// HTTP GET through WinINet: one Internet session per download, a connection
// and a request under it, the body read in pulls.
#include <windows.h>
#include <wininet.h>

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
    WinInetRequest(HINTERNET connection, HINTERNET request)
        : connection_(connection), request_(request) {}
    void send() override {
        static const wchar_t kAgent[] = L"User-Agent: KVN\r\n";
        HttpAddRequestHeadersW(request_.get(), kAgent, static_cast<DWORD>(-1),
                               HTTP_ADDREQ_FLAG_ADD_IF_NEW);
        if (!HttpSendRequestW(request_.get(), nullptr, 0, nullptr, 0)) fail("HttpSendRequest");
    }
    std::uint32_t statusCode() override {
        DWORD code = 0, size = sizeof(code);
        if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                            &size, nullptr))
            return 0;
        return code;
    }
    std::optional<WString> contentLength() override {
        wchar_t buffer[64] = {};
        DWORD size = sizeof(buffer);
        if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_CONTENT_LENGTH, buffer, &size, nullptr))
            return std::nullopt;
        return U(buffer, size / sizeof(wchar_t));
    }
    std::size_t read(char* buffer, std::size_t n) override {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(n > 0x7FFFFFFF ? 0x7FFFFFFF : n);
        if (!InternetReadFile(request_.get(), buffer, want, &got)) fail("InternetReadFile");
        return got;
    }

private:
    InternetHandle connection_;  // closed after the request
    InternetHandle request_;
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
        return std::make_unique<WinInetRequest>(connection, request);
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
