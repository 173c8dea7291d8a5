// The libcurl HTTP backend and the download operation against the local
// stand-in server, started per test on an ephemeral loopback port.
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/linux/linux_test_support.h"
#include "update/download.h"

using namespace kvn;
using kvntest::Slurp;
using kvntest::Spit;

namespace {

class ServerTest : public kvntest::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        if (HasFatalFailure()) return;
        // Loopback only, never through a proxy of the machine's.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY"})
            env.unset(name);
        site = root + "/site";
        std::filesystem::create_directories(site + "/download");
        rules = root + "/rules.json";
        log = root + "/server.log";
        const std::string portFile = root + "/port";
        Spit(rules, "{}");
        const std::string script = std::string(KVN_SOURCE_DIR) + "/standins/server/kvn_server.py";
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives a killed test
            // The system's interpreter when there is one (no wrapper scripts).
            const char* python = ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
            if (tlsPem.empty())
                ::execlp(python, "python3", script.c_str(), "--root", site.c_str(), "--port", "0",
                         "--port-file", portFile.c_str(), "--log", log.c_str(), "--rules",
                         rules.c_str(), static_cast<char*>(nullptr));
            else
                ::execlp(python, "python3", script.c_str(), "--root", site.c_str(), "--port", "0",
                         "--port-file", portFile.c_str(), "--log", log.c_str(), "--rules",
                         rules.c_str(), "--tls", tlsPem.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            const std::string text = Slurp(portFile);
            if (!text.empty() && text.back() == '\n') {
                port = static_cast<std::uint16_t>(std::stoi(text));
                break;
            }
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(port, 0) << "the stand-in server did not start";
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            bool gone = false;
            while (!gone && std::chrono::steady_clock::now() < end) {
                gone = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
                if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!gone) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        ScratchTest::TearDown();
    }

    HttpTarget Target(const std::string& object) {
        HttpTarget t;
        t.host = u"127.0.0.1";
        t.port = port;
        t.object = fromUtf8(object);
        return t;
    }
    std::vector<std::string> LogLines() {
        std::vector<std::string> out;
        std::istringstream in(Slurp(log));
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    static HttpSessionOptions Quick() {
        HttpSessionOptions o;
        o.connectTimeoutMs = 300;
        o.receiveTimeoutMs = 300;
        o.dataReceiveTimeoutMs = 300;
        o.connectBackoffMs = 50;
        return o;
    }

    struct Answer {
        std::uint32_t status = 0;
        std::optional<WString> length;
        std::string body;
        bool failedInRead = false;
    };
    // One GET read to its end in 1024-byte reads.
    Answer Fetch(const std::string& object, const HttpSessionOptions& options = {}) {
        auto session = svc().http().openSession(u"Login", options);
        auto request = session->openRequest(Target(object));
        request->send();
        Answer a;
        a.status = request->statusCode();
        a.length = request->contentLength();
        char buf[1024];
        try {
            while (std::size_t n = request->read(buf, sizeof buf)) a.body.append(buf, n);
        } catch (const HttpFailure&) {
            a.failedInRead = true;
        }
        return a;
    }

    std::string site, rules, log;
    std::string tlsPem;  // set before SetUp: the server speaks https
    std::uint16_t port = 0;

private:
    pid_t pid_ = -1;
};

// A loopback port that was free a moment ago and has no listener now.
std::uint16_t ClosedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    std::uint16_t port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(s);
    return port;
}

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + i / 253) & 0xff);
    return s;
}

// ---------------------------------------------------------------- backend

using HttpTest = ServerTest;

TEST_F(HttpTest, TheRequestIsAPlainHttp10GetWithTheFixedHeaders) {
    Spit(site + "/download/LoginExeVersionInfo.ini", "[VersionInfo]\n");
    auto a = Fetch("/download/LoginExeVersionInfo.ini?x=1&y=%E6%B8%B8");
    EXPECT_EQ(a.status, 200u);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string& line = lines[0];
    auto has = [&](const std::string& part) {
        EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
    };
    has("\"method\": \"GET\"");
    has("\"target\": \"/download/LoginExeVersionInfo.ini?x=1&y=%E6%B8%B8\"");
    has("\"version\": \"HTTP/1.0\"");
    has("\"User-Agent\": \"KVN\"");
    has("\"Host\": \"127.0.0.1:" + std::to_string(port) + "\"");
    // A forced reload: caches are told not to answer.
    has("\"Pragma\": \"no-cache\"");
    has("\"Cache-Control\": \"no-cache\"");
    EXPECT_EQ(line.find("Range"), std::string::npos);
    EXPECT_EQ(line.find("If-"), std::string::npos);
}

TEST_F(HttpTest, A200AnswerGivesItsStatusLengthAndWholeBody) {
    const std::string body = Pattern(2500);
    Spit(site + "/download/LauncherDlg.bmp", body);
    auto session = svc().http().openSession(u"Login", HttpSessionOptions{});
    auto request = session->openRequest(Target("/download/LauncherDlg.bmp"));
    request->send();
    EXPECT_EQ(request->statusCode(), 200u);
    EXPECT_EQ(request->contentLength(), WString(u"2500"));
    // Each read fills the buffer while the body lasts.
    std::vector<std::size_t> counts;
    std::string got;
    char buf[1024];
    while (std::size_t n = request->read(buf, sizeof buf)) {
        counts.push_back(n);
        got.append(buf, n);
    }
    EXPECT_EQ(counts, (std::vector<std::size_t>{1024, 1024, 452}));
    EXPECT_EQ(got, body);
    EXPECT_EQ(request->read(buf, sizeof buf), 0u);  // stays at the end
}

TEST_F(HttpTest, ABodyLargerThanTheInternalBufferArrivesWhole) {
    const std::string body = Pattern(3 * 1024 * 1024 + 77);
    Spit(site + "/download/Login.exe", body);
    auto a = Fetch("/download/Login.exe");
    EXPECT_EQ(a.status, 200u);
    EXPECT_FALSE(a.failedInRead);
    EXPECT_EQ(a.body.size(), body.size());
    EXPECT_TRUE(a.body == body);
}

TEST_F(HttpTest, ARedirectIsNotFollowed) {
    Spit(site + "/download/other.ini", "elsewhere");
    Spit(rules, R"({"/download/Login.exe": {"status": 302, "body": "moved",
                  "headers": {"Location": "/download/other.ini"}}})");
    auto a = Fetch("/download/Login.exe");
    EXPECT_EQ(a.status, 302u);
    EXPECT_EQ(a.body, "moved");
    EXPECT_EQ(LogLines().size(), 1u);

    Spit(rules, R"({"/x": {"status": 404, "body": "gone"}})");
    EXPECT_EQ(Fetch("/x").status, 404u);
}

TEST_F(HttpTest, AMissingLengthHeaderReadsAsAbsent) {
    Spit(rules, R"({"/download/LoginExeVersionInfo.ini": {"body": "abcdef", "content_length": "missing"}})");
    auto a = Fetch("/download/LoginExeVersionInfo.ini");
    EXPECT_EQ(a.status, 200u);
    EXPECT_EQ(a.length, std::nullopt);
    EXPECT_EQ(a.body, "abcdef");  // read until the server closes
    EXPECT_FALSE(a.failedInRead);

    // The header's raw text is handed over as it came.
    Spit(rules, R"({"/n": {"body": "", "content_length": "zero"}})");
    EXPECT_EQ(Fetch("/n").length, WString(u"0"));
}

TEST_F(HttpTest, ABodyCutShortFailsInsteadOfEndingQuietly) {
    Spit(rules, R"({"/download/Login.exe": {"body": "0123456789abcdefghij", "truncate": 10}})");
    auto a = Fetch("/download/Login.exe");
    EXPECT_EQ(a.status, 200u);
    EXPECT_EQ(a.length, WString(u"20"));
    EXPECT_EQ(a.body, "0123456789");
    EXPECT_TRUE(a.failedInRead);
}

TEST_F(HttpTest, AServerThatNeverAnswersEndsInAFailure) {
    Spit(rules, R"({"/download/LoginExeVersionInfo.ini": {"hang": true}})");
    auto session = svc().http().openSession(u"Login", Quick());
    auto request = session->openRequest(Target("/download/LoginExeVersionInfo.ini"));
    EXPECT_THROW(
        {
            request->send();
            char buf[16];
            request->read(buf, sizeof buf);
        },
        HttpFailure);
}

TEST_F(HttpTest, ABodyThatStopsComingEndsInAFailure) {
    Spit(rules, R"({"/download/Login.exe": {"body": "0123456789abcdefghij", "truncate": 10,
                  "stall": true}})");
    auto a = Fetch("/download/Login.exe", Quick());
    EXPECT_EQ(a.status, 200u);
    EXPECT_EQ(a.body, "0123456789");
    EXPECT_TRUE(a.failedInRead);
}

TEST_F(HttpTest, TheReceiveTimeOutCountsSilenceNotTheWholeTransfer) {
    // 40 pieces 10 ms apart: longer in all than the time-out, never silent
    // for that long.
    const std::string body = Pattern(8000);
    Spit(site + "/download/Login.exe", body);
    Spit(rules, R"({"/download/Login.exe": {"drip": 200}})");
    auto a = Fetch("/download/Login.exe", Quick());
    EXPECT_FALSE(a.failedInRead);
    EXPECT_TRUE(a.body == body);
}

TEST_F(HttpTest, ARefusedConnectionIsAFailure) {
    const std::uint16_t closed = ClosedPort();
    auto session = svc().http().openSession(u"Login", Quick());
    HttpTarget t = Target("/download/LoginExeVersionInfo.ini");
    t.port = closed;
    EXPECT_THROW(
        {
            auto request = session->openRequest(t);
            request->send();
        },
        HttpFailure);
}

// ---------------------------------------------------------------- DownloadFile

// Downloads make no use of windows.
struct NoUi : Ui {
    void initialise() override {}
    int runModal(int, DialogHandler&, Dialog*) override {
        ADD_FAILURE() << "no dialog expected";
        return 0;
    }
    MsgResult messageBox(Dialog*, const WString&, const WString&, MsgButtons, MsgIcon) override {
        ADD_FAILURE() << "no message box expected";
        return MsgResult::Ok;
    }
    void desktopMessageBoxGbk(const Bytes&, const Bytes&) override { ADD_FAILURE(); }
};

struct Event {
    char kind;
    std::uint32_t done, total;
    WString url, path;
    bool operator==(const Event&) const = default;
};

struct Recorder : CUpdateEventCallback {
    std::vector<Event> events;
    void OnDownloadProgress(const WString&, std::uint32_t done, std::uint32_t total) override {
        events.push_back({'p', done, total, {}, {}});
    }
    void OnDownloadComplete(const WString& url, const WString& path) override {
        events.push_back({'c', 0, 0, url, path});
    }
};

struct DownloadTest : ServerTest {
    NoUi ui;
    Recorder sink;
    InstallWorkerContext context{&sink};
    const WString target = u"D:\\Korvanis/LauncherDlg.bmp";
    std::string native() { return d + "/Korvanis/LauncherDlg.bmp"; }

    void SetUp() override {
        ServerTest::SetUp();
        Spit(native(), "old bitmap");
    }
    WString Url(const std::string& path) {
        return fromUtf8("http://127.0.0.1:" + std::to_string(port) + path);
    }
    bool Get(const std::string& path, bool notify = true) {
        Platform platform = svc().platform(ui);
        return DownloadFile(platform, context, Url(path), target, notify);
    }
    void ExpectOldFileOnly() {
        EXPECT_EQ(Slurp(native()), "old bitmap");
        std::size_t entries = 0;
        for (auto& e : std::filesystem::directory_iterator(d + "/Korvanis")) {
            (void)e;
            ++entries;
        }
        EXPECT_EQ(entries, 1u) << "a partial file was left";
    }
};

TEST_F(DownloadTest, ExactLengthGivesTrueAndTheFile) {
    const std::string body = Pattern(70000);
    Spit(site + "/download/LauncherDlg.bmp", body);
    ASSERT_TRUE(Get("/download/LauncherDlg.bmp", false));
    EXPECT_TRUE(Slurp(native()) == body);
    EXPECT_TRUE(sink.events.empty());
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_NE(LogLines()[0].find("\"version\": \"HTTP/1.0\""), std::string::npos);
}

TEST_F(DownloadTest, ProgressFollowsEachChunkThenOneCompletion) {
    Spit(site + "/download/LauncherDlg.bmp", Pattern(2500));
    ASSERT_TRUE(Get("/download/LauncherDlg.bmp"));
    const WString url = Url("/download/LauncherDlg.bmp");
    const std::vector<Event> expected{{'p', 1024, 2500, {}, {}},
                                      {'p', 2048, 2500, {}, {}},
                                      {'p', 2500, 2500, {}, {}},
                                      {'c', 0, 0, url, target}};
    EXPECT_EQ(sink.events, expected);
    EXPECT_EQ(Slurp(native()), Pattern(2500));
}

TEST_F(DownloadTest, ABodyArrivingInSmallPiecesStillGivesFullChunks) {
    Spit(site + "/download/LauncherDlg.bmp", Pattern(2500));
    Spit(rules, R"({"/download/LauncherDlg.bmp": {"drip": 100}})");
    ASSERT_TRUE(Get("/download/LauncherDlg.bmp"));
    std::vector<std::uint32_t> done;
    for (auto& e : sink.events)
        if (e.kind == 'p') done.push_back(e.done);
    EXPECT_EQ(done, (std::vector<std::uint32_t>{1024, 2048, 2500}));
    ASSERT_FALSE(sink.events.empty());
    EXPECT_EQ(sink.events.back().kind, 'c');
    EXPECT_EQ(Slurp(native()), Pattern(2500));
}

TEST_F(DownloadTest, ARedirectFailsAndLeavesTheFileAlone) {
    Spit(site + "/download/LauncherDlg.bmp", "new bitmap");
    Spit(rules, R"({"/download/LauncherDlg.bmp": {"status": 302,
                  "headers": {"Location": "/download/LauncherDlg.bmp?again"}}})");
    EXPECT_FALSE(Get("/download/LauncherDlg.bmp"));
    ExpectOldFileOnly();
    EXPECT_TRUE(sink.events.empty());
    EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(DownloadTest, NoLengthHeaderFails) {
    Spit(site + "/download/LauncherDlg.bmp", "new bitmap");
    Spit(rules, R"({"/download/LauncherDlg.bmp": {"content_length": "missing"}})");
    EXPECT_FALSE(Get("/download/LauncherDlg.bmp"));
    ExpectOldFileOnly();
    for (auto& e : sink.events) EXPECT_NE(e.kind, 'c');
}

TEST_F(DownloadTest, OnlyTheAnnouncedLengthCounts) {
    Spit(site + "/download/LauncherDlg.bmp", "new bitmap");
    Spit(rules, R"({"/download/LauncherDlg.bmp": {"content_length": "wrong"}})");
    EXPECT_FALSE(Get("/download/LauncherDlg.bmp"));
    ExpectOldFileOnly();
    Spit(rules, R"({"/download/LauncherDlg.bmp": {"truncate": 3}})");
    EXPECT_FALSE(Get("/download/LauncherDlg.bmp"));
    ExpectOldFileOnly();
    // The announced length bounds the body: bytes beyond it are no part of it.
    Spit(rules, R"({"/download/LauncherDlg.bmp": {"content_length": 4}})");
    EXPECT_TRUE(Get("/download/LauncherDlg.bmp"));
    EXPECT_EQ(Slurp(native()), "new ");
}

TEST_F(DownloadTest, ZeroLengthGivesAnEmptyFile) {
    Spit(rules, R"({"/download/LauncherDlg.bmp": {"body": "", "content_length": "zero"}})");
    ASSERT_TRUE(Get("/download/LauncherDlg.bmp"));
    EXPECT_TRUE(kvntest::NativeExists(native()));
    EXPECT_EQ(Slurp(native()), "");
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].kind, 'c');
}

TEST_F(DownloadTest, NoServerOrNoUsableUrlFails) {
    port = ClosedPort();
    ASSERT_NE(port, 0);
    EXPECT_FALSE(Get("/download/LauncherDlg.bmp"));
    ExpectOldFileOnly();
    auto& s = svc();
    Platform platform{s.files(), s.profiles(), s.registry(), s.processes(), s.drives(),
                      s.shell(),  s.http(),     ui,           s.system()};
    EXPECT_FALSE(DownloadFile(platform, context, u"LauncherDlg.bmp", target, true));
    EXPECT_FALSE(DownloadFile(platform, context, u"http:///download/x", target, true));
    ExpectOldFileOnly();
}

// An https server whose certificate nobody vouches for: the request goes
// out over TLS (a plain request would fail otherwise) and the certificate
// check, which stays on, refuses it.
class HttpsTest : public ServerTest {
protected:
    NoUi ui;
    void SetUp() override {
        char tmpl[] = "/tmp/kvn-tls-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        tlsFolder_ = tmpl;
        tlsPem = tlsFolder_ + "/server.pem";
        const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                                 "-keyout " + tlsPem + " -out " + tlsFolder_ + "/cert.pem >/dev/null 2>&1 && "
                                 "cat " + tlsFolder_ + "/cert.pem >> " + tlsPem;
        ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
        ServerTest::SetUp();
    }
    void TearDown() override {
        ServerTest::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(tlsFolder_, ec);
    }

private:
    std::string tlsFolder_;
};

TEST_F(HttpsTest, AnUntrustedCertificateIsRefusedAndNothingIsRequested) {
    Spit(site + "/download/LoginExeVersionInfo.ini", "[VersionInfo]\n");
    // The usual time-outs: a handshake under a sanitizer can take longer
    // than the quick ones, and the refusal must be the certificate's.
    auto session = svc().http().openSession(u"Login", HttpSessionOptions{});
    HttpTarget t = Target("/download/LoginExeVersionInfo.ini");
    t.secure = true;
    std::string why;
    try {
        auto request = session->openRequest(t);
        request->send();
    } catch (const HttpFailure& e) {
        why = e.what();
    }
    EXPECT_NE(why.find("certificate"), std::string::npos) << "failure: '" << why << "'";
    EXPECT_TRUE(LogLines().empty()) << "no request reaches an unverified server";

    InstallWorkerContext context(nullptr);
    const WString target = u"C:\\LoginExeVersionInfo.ini";
    Platform platform = svc().platform(ui);
    EXPECT_FALSE(DownloadFile(platform, context,
                              u"https://127.0.0.1:" + fromUtf8(std::to_string(port)) +
                                  u"/download/LoginExeVersionInfo.ini",
                              target, false));
    EXPECT_FALSE(svc().files().exists(target));
}

}  // namespace
