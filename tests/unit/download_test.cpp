#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/fake/fake_platform.h"
#include "platform/text.h"
#include "update/download.h"

using namespace kvn;
using kvn::fake::FakeHttpAnswer;
using kvn::fake::FakePlatform;

namespace {

struct Event {
    char kind;  // 'p' progress, 'c' complete
    std::uint32_t done = 0, total = 0;
    WString text, url, path;
    bool operator==(const Event&) const = default;
};

struct Recorder : CUpdateEventCallback {
    std::vector<Event> events;
    void OnDownloadProgress(const WString& text, std::uint32_t done, std::uint32_t total) override {
        events.push_back({'p', done, total, text, {}, {}});
    }
    void OnDownloadComplete(const WString& url, const WString& path) override {
        events.push_back({'c', 0, 0, {}, url, path});
    }
};

struct DownloadTest : ::testing::Test {
    FakePlatform fp;
    Recorder sink;
    InstallWorkerContext context{&sink};
    const WString target = u"D:\\Korvanis/LauncherDlg.bmp";
    void SetUp() override {
        fp.files.mkdirs(u"D:\\Korvanis");
        fp.files.put(target, "old bitmap");
    }
    void Answer(FakeHttpAnswer a) { fp.http.answers[u"/download/LauncherDlg.bmp"] = {a}; }
    bool Get(bool notify = true) {
        return DownloadFile(fp.platform, context, u"http://dl.example:8080/download/LauncherDlg.bmp",
                            target, notify);
    }
    void ExpectOldFileAndNoLeftovers() {
        EXPECT_EQ(fp.files.get(target), Bytes("old bitmap"));
        EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 1u);
    }
};

TEST_F(DownloadTest, EventsFollowEachChunkAndCarryTheFinalCount) {
    const Bytes body(2500, 'x');
    fp.http.serve(u"/download/LauncherDlg.bmp", body);
    ASSERT_TRUE(Get());
    EXPECT_EQ(fp.files.get(target), body);
    const std::vector<Event> expected{{'p', 1024, 2500, u"", {}, {}},
                                      {'p', 2048, 2500, u"", {}, {}},
                                      {'p', 2500, 2500, u"", {}, {}},
                                      {'c', 0, 0, {}, u"http://dl.example:8080/download/LauncherDlg.bmp", target}};
    EXPECT_EQ(sink.events, expected);
    EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 1u);  // no .part left
}

TEST_F(DownloadTest, LargeBodyArrivesWholeWithOneEventPerPiece) {
    Bytes body(150000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7919) >> 5);
    fp.http.serve(u"/download/LauncherDlg.bmp", body);
    ASSERT_TRUE(Get());
    EXPECT_EQ(fp.files.get(target), body);
    ASSERT_EQ(sink.events.size(), 147u + 1u);  // ceil(150000 / 1024) pieces, then completion
    for (std::size_t i = 0; i + 1 < sink.events.size(); ++i) {
        EXPECT_EQ(sink.events[i].done, std::min<std::uint32_t>(1024u * (i + 1), 150000u)) << i;
        EXPECT_EQ(sink.events[i].total, 150000u);
    }
    EXPECT_EQ(sink.events.back().kind, 'c');
}

TEST_F(DownloadTest, RequestGoesToTheParsedTargetWithTheAppNameAsAgent) {
    fp.http.serve(u"/download/LauncherDlg.bmp", "bm");
    ASSERT_TRUE(Get(false));
    EXPECT_TRUE(sink.events.empty());
    ASSERT_EQ(fp.http.requests.size(), 1u);
    EXPECT_EQ(fp.http.requests[0].host, u"dl.example");
    EXPECT_EQ(fp.http.requests[0].port, 8080);
    EXPECT_FALSE(fp.http.requests[0].secure);
    EXPECT_EQ(fp.http.agents, std::vector<WString>{u"Login"});

    fp.http.serve(u"/a/b?x=1", "q");
    ASSERT_TRUE(DownloadFile(fp.platform, context, u"https://h.example/a/b?x=1", target, false));
    EXPECT_EQ(fp.http.requests[1].object, u"/a/b?x=1");
    EXPECT_EQ(fp.http.requests[1].port, 443);
    EXPECT_TRUE(fp.http.requests[1].secure);
    EXPECT_EQ(fp.files.get(target), Bytes("q"));
}

TEST_F(DownloadTest, EmptyBodyWithZeroLengthSucceeds) {
    Answer({200, "0", "", std::nullopt, false});
    ASSERT_TRUE(Get());
    EXPECT_EQ(fp.files.get(target), Bytes());
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].kind, 'c');
}

TEST_F(DownloadTest, NonOkStatusLeavesTheOldFile) {
    Answer({302, "5", "moved", std::nullopt, false});
    EXPECT_FALSE(Get());
    ExpectOldFileAndNoLeftovers();
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(DownloadTest, MissingOrWrongLengthFailsAndKeepsTheOldFile) {
    Answer({200, std::nullopt, "body", std::nullopt, false});
    EXPECT_FALSE(Get());
    ExpectOldFileAndNoLeftovers();
    // A body past the announced length (0 when there is none) is cut off
    // there: nothing reaches the file, no event, no completion.
    EXPECT_TRUE(sink.events.empty());

    Answer({200, "5", "body", std::nullopt, false});
    EXPECT_FALSE(Get());
    ExpectOldFileAndNoLeftovers();
    Answer({200, "abc", "body", std::nullopt, false});
    EXPECT_FALSE(Get());
    ExpectOldFileAndNoLeftovers();
}

TEST_F(DownloadTest, NoMoreThanTheCeilingNorTheAnnouncedLengthIsRead) {
    const WString object = u"/download/LauncherDlg.bmp";
    const Bytes body(10000, 'b');
    struct Case {
        const char* name;
        std::optional<std::string> length;
        DownloadCeiling ceiling;
        bool ok;
        std::uint64_t mostBytesRead;
    };
    const Case cases[] = {
        {"at the ceiling", "10000", {10000, false}, true, 10000},
        {"exactly the size asked for", "10000", {10000, true}, true, 10000},
        {"one byte above the ceiling: refused before the body", "10000", {9999, false}, false, 0},
        {"not the exact size: refused before the body", "10000", {10001, true}, false, 0},
        {"a length of gigabytes: refused before the body", "4294967296", {1u << 20, false}, false, 0},
        {"a negative length", "-1", {1u << 20, false}, false, 0},
        {"a length of no form: refused before the body", "+10000", {1u << 20, false}, false, 0},
        {"lengths that differ: refused before the body", "10000, 9999", {1u << 20, false}, false, 0},
        {"a short length: cut off just past it", "100", {1u << 20, false}, false, 1024},
        {"no length: cut off at the first piece", std::nullopt, {1u << 20, false}, false, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fp.http.bodyBytesSent.clear();
        fp.files.put(target, "old bitmap");
        Answer({200, c.length, body, std::nullopt, false});
        EXPECT_EQ(DownloadFile(fp.platform, context, u"http://dl.example/download/LauncherDlg.bmp",
                               target, false, c.ceiling),
                  c.ok);
        EXPECT_LE(fp.http.bodyBytesSent[object], c.mostBytesRead);
        EXPECT_EQ(fp.files.get(target), c.ok ? body : Bytes("old bitmap"));
        EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 1u);  // no partial file
    }
}

TEST_F(DownloadTest, ContentLengthIsDigitsOrAListOfTheSameDigits) {
    // As HTTP has it: digits only; repeated lines of the field, or a list,
    // stand for one length when every member is the same.
    const Bytes body(1234, 'b');
    struct Case {
        const char* length;
        bool ok;
    };
    const Case cases[] = {
        {"1234", true},
        {"  1234\t", true},  // blanks around the value are the field's, not the value's
        {"01234", true},
        {"1234, 1234", true},
        {"1234,1234", true},
        {"1234 ,\t1234 , 1234", true},
        {"+1234", false},
        {"-1234", false},
        {" +1234", false},
        {"1 234", false},
        {"1234 1234", false},
        {"1234, 1235", false},
        {"1234, 01234", false},  // the same number, not the same text
        {"1234,", false},
        {",1234", false},
        {"1234, , 1234", false},
        {"1234;", false},
        {"0x4d2", false},
        {"1234.0", false},
        {"", false},
        {"\xef\xbc\x91234", false},  // a full-width digit one
        {"99999999999999999999999999", false},  // beyond 64 bits: above every ceiling
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        fp.files.put(target, "old bitmap");
        Answer({200, c.length, body, std::nullopt, false});
        EXPECT_EQ(Get(false), c.ok);
        EXPECT_EQ(fp.files.get(target), c.ok ? body : Bytes("old bitmap"));
        EXPECT_EQ(fp.files.filesUnder(u"D:\\Korvanis").size(), 1u);
    }
    // An empty body with a length of no form is refused too, where one
    // without any length is taken.
    Answer({200, "+0", "", std::nullopt, false});
    EXPECT_FALSE(Get(false));
    Answer({200, std::nullopt, "", std::nullopt, false});
    EXPECT_TRUE(Get(false));
}

TEST_F(DownloadTest, BrokenTransferKeepsTheOldFile) {
    Answer({200, "3000", Bytes(3000, 'y'), 1500, false});
    EXPECT_FALSE(Get());
    ExpectOldFileAndNoLeftovers();
    ASSERT_FALSE(sink.events.empty());
    EXPECT_EQ(sink.events.back().kind, 'p');
}

TEST_F(DownloadTest, UnreachableServerAndNoSessionReportFalse) {
    Answer({200, "1", "z", std::nullopt, true});
    EXPECT_FALSE(Get());
    ExpectOldFileAndNoLeftovers();
    fp.http.answers.clear();
    EXPECT_FALSE(Get());  // no answer at all: unreachable
    fp.http.sessionFails = true;
    fp.http.serve(u"/download/LauncherDlg.bmp", "new");
    EXPECT_FALSE(Get());
    ExpectOldFileAndNoLeftovers();
}

TEST_F(DownloadTest, UrlWithoutSchemeOrHostFails) {
    fp.http.serve(u"/download/LauncherDlg.bmp", "new");
    for (const WString& url : {WString(u"dl.example/download/LauncherDlg.bmp"), WString(u"http:///download/LauncherDlg.bmp"),
                              WString(u"ftp://dl.example/download/LauncherDlg.bmp"), WString(u""),
                              WString(u"http://dl.example:99999/download/LauncherDlg.bmp")})
        EXPECT_FALSE(DownloadFile(fp.platform, context, url, target, true)) << toUtf8(url);
    EXPECT_TRUE(fp.http.requests.empty());
    ExpectOldFileAndNoLeftovers();
}

TEST_F(DownloadTest, UrlFormsOfBothSchemesReachTheirTarget) {
    struct Case { WString url; bool secure; WString host; std::uint16_t port; WString object; };
    const Case cases[] = {
        {u"HTTPS://H.example:8443/x", true, u"H.example", 8443, u"/x"},
        {u"Http://h.example", false, u"h.example", 80, u"/"},
        {u"https://h.example:/x", true, u"h.example", 443, u"/x"},
        {u"http://[::1]:8080/x#part", false, u"[::1]", 8080, u"/x"},
        {u"https://[::1]/x", true, u"[::1]", 443, u"/x"},
        {u"http://user@h.example?x", false, u"h.example", 80, u"/?x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.url));
        fp.http.requests.clear();
        fp.http.serve(c.object, "ok");
        ASSERT_TRUE(DownloadFile(fp.platform, context, c.url, target, false));
        ASSERT_EQ(fp.http.requests.size(), 1u);
        EXPECT_EQ(fp.http.requests[0].secure, c.secure);
        EXPECT_EQ(fp.http.requests[0].host, c.host);
        EXPECT_EQ(fp.http.requests[0].port, c.port);
        EXPECT_EQ(fp.http.requests[0].object, c.object);
    }
    fp.http.requests.clear();
    for (const WString& url : {WString(u"https://"), WString(u"https://:443/x"), WString(u"http://[::1/x"),
                               WString(u"http://[]:80/x"), WString(u"http://[::1]x/y"),
                               WString(u"https://h.example:4a3/x")})
        EXPECT_FALSE(DownloadFile(fp.platform, context, url, target, false)) << toUtf8(url);
    EXPECT_TRUE(fp.http.requests.empty());
}

// The window's stop flag reaches the session, and a stop at any point of a
// download leaves the target as it was, with no partial file.
TEST_F(DownloadTest, AStopEndsTheDownloadAndLeavesTheFileAsItWas) {
    fp.http.serve(u"/download/LauncherDlg.bmp", Bytes(5000, 'n'));
    ASSERT_TRUE(Get(false));
    ASSERT_EQ(fp.http.sessionOptions.size(), 1u);
    EXPECT_EQ(fp.http.sessionOptions[0].stop, &context.m_bStopWorker);
    fp.files.put(target, "old bitmap");

    // In the middle of the body: the next read fails.
    struct Stopper : Recorder {
        InstallWorkerContext* context = nullptr;
        void OnDownloadProgress(const WString& text, std::uint32_t done, std::uint32_t total) override {
            Recorder::OnDownloadProgress(text, done, total);
            if (done >= 2048) context->m_bStopWorker.store(true);
        }
    } stopper;
    InstallWorkerContext stopping{&stopper};
    stopper.context = &stopping;
    EXPECT_FALSE(DownloadFile(fp.platform, stopping, u"http://dl.example/download/LauncherDlg.bmp",
                              target, true));
    ExpectOldFileAndNoLeftovers();
    // No read after the one during which the stop came.
    EXPECT_EQ(fp.http.bodyBytesSent[u"/download/LauncherDlg.bmp"], 5000u + 3072u);
    for (const Event& e : stopper.events) EXPECT_NE(e.kind, 'c');

    // Already set: no request at all.
    const std::size_t requests = fp.http.requests.size();
    EXPECT_FALSE(DownloadFile(fp.platform, stopping, u"http://dl.example/download/LauncherDlg.bmp",
                              target, true));
    EXPECT_EQ(fp.http.requests.size(), requests);
    ExpectOldFileAndNoLeftovers();
}

TEST_F(DownloadTest, AServerThatNeverAnswersIsLeftWhenTheWindowGoes) {
    FakeHttpAnswer silent;
    silent.hang = true;
    Answer(silent);
    std::thread closer([&] {
        // Once the request has reached the server (the list is written
        // under the fake's lock).
        for (;;) {
            {
                std::lock_guard lock(fp.http.mutex);
                if (!fp.http.requests.empty()) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        context.m_bStopWorker.store(true);
    });
    EXPECT_FALSE(Get());
    closer.join();
    ExpectOldFileAndNoLeftovers();
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(DownloadTest, UncreatableLocalFileFails) {
    fp.files.setReadOnlyFolder(u"D:\\Korvanis");
    fp.http.serve(u"/download/LauncherDlg.bmp", "new");
    EXPECT_FALSE(Get());
    EXPECT_EQ(fp.files.get(target), Bytes("old bitmap"));
}

}  // namespace
