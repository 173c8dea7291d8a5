#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "install/install_dir.h"
#include "platform/text.h"
#include "tests/fake/fake_platform.h"
#include "update/install_worker.h"

using namespace kvn;
using kvn::fake::FakePlatform;

namespace {

struct Sink : CUpdateEventCallback {
    std::atomic<int> starts{0};
    std::atomic<std::size_t> processesAtStart{99};
    kvn::fake::FakeProcesses* processes = nullptr;
    void OnInstallStart() override {
        std::lock_guard lock(processes->mutex);
        processesAtStart = processes->started.size();
        ++starts;
    }
};

// Runs the real worker thread on the fake; stops and joins it on exit.
struct WorkerTest : ::testing::Test {
    FakePlatform fp;
    Sink sink;
    InstallWorkerContext context{&sink};
    std::thread worker;

    void SetUp() override {
        fake::FakeSystem::heldMutexes().clear();
        fp.files.addDrive(u'D');
        fp.files.mkdirs(u"D:\\Korvanis");
        fp.system.realSleep = true;
        sink.processes = &fp.processes;
        worker = std::thread([this] { InstallWorker(fp.platform, &context); });
    }
    void TearDown() override {
        context.m_bStopWorker.store(true);
        worker.join();
    }
    void Request(const WString& dir) {
        ASSERT_TRUE(context.m_szExtractDir.assign(dir));
        context.RequestExtraction();
    }
    // Waits (bounded) for a condition; false on time-out.
    template <class F>
    bool WaitFor(F condition) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return condition();
    }
    std::vector<kvn::fake::StartedProcess> Started() {
        std::lock_guard lock(fp.processes.mutex);
        return fp.processes.started;
    }
    std::size_t Boxes() {
        std::lock_guard lock(fp.ui.mutex);
        return fp.ui.boxes.size();
    }
    bool Unfinished() { return IsInstallUnfinished(fp.platform, u"D:\\Korvanis"); }
    void Forget() {
        std::scoped_lock lock(fp.processes.mutex, fp.ui.mutex);
        fp.processes.started.clear();
        fp.ui.boxes.clear();
    }
};

TEST_F(WorkerTest, ExtractsThenRegistersHiddenInTheInstallFolder) {
    MarkInstallUnfinished(fp.platform, u"D:\\Korvanis");
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
    EXPECT_FALSE(Unfinished());  // both steps done: the installation is complete
    EXPECT_EQ(sink.starts.load(), 1);
    EXPECT_EQ(sink.processesAtStart.load(), 0u);  // the event comes before the extractor
    const auto started = Started();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].request.commandLine,
              u"D:\\Korvanis/7zr.exe x -r D:\\Korvanis/KVNClient.7z -y");
    EXPECT_EQ(started[1].request.commandLine, u"regsvr32 /s D:\\Korvanis/bin/npKVNWebPlayer.dll");
    for (const auto& s : started) {
        EXPECT_TRUE(s.request.application.empty());
        EXPECT_EQ(s.request.workingDirectory, u"D:\\Korvanis");
        EXPECT_TRUE(s.request.hidden);
    }
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(WorkerTest, ExtractorThatCannotStartOrFailsStopsBeforeRegistration) {
    fp.processes.behaviour = [](const ProcessStart&) { return std::optional<std::uint32_t>{}; };
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
    EXPECT_EQ(Started().size(), 1u);
    {
        std::lock_guard lock(fp.ui.mutex);
        ASSERT_EQ(fp.ui.boxes.size(), 1u);
        EXPECT_EQ(fp.ui.boxes[0].text, u"解压失败");
        EXPECT_EQ(fp.ui.boxes[0].caption, u"Login");
        EXPECT_EQ(fp.ui.boxes[0].icon, MsgIcon::Warning);
    }
}

TEST_F(WorkerTest, TheMarkGoesOnceRegistrationHasRunAndSaysWhenTheClientIsUnpacked) {
    using Code = std::optional<std::uint32_t>;
    const Code none;  // the program cannot be started
    struct Case {
        const char* name;
        const char* mark;    // the mark before the request; nullptr: none
        bool client;         // Launcher.exe already in the folder
        Code extractor, registration;
        const char* ran;     // "xr": 7zr.exe then regsvr32; "r": regsvr32 only
        const char* box;     // the one message shown, or nullptr
        const char* after;   // the mark afterwards; nullptr: gone
    };
    const Case cases[] = {
        {"extracted and registered", "", false, 0, 0, "xr", nullptr, nullptr},
        // 7-Zip's exit code 1 is a warning; 2 and above a failed extraction,
        // which the next start does again.
        {"7-Zip warning", "", false, 1, 0, "xr", nullptr, nullptr},
        {"7-Zip fatal error", "", false, 2, 0, "x", "解压失败", ""},
        {"7-Zip bad command line", "", false, 7, 0, "x", "解压失败", ""},
        {"7-Zip out of memory", "", false, 8, 0, "x", "解压失败", ""},
        {"7-Zip stopped by the user", "", false, 255, 0, "x", "解压失败", ""},
        {"7zr.exe cannot start", "", false, none, 0, "x", "解压失败", ""},
        // A registration that ran counts as done, whatever its exit code;
        // one that cannot start is reported and counts as done too.
        {"registration fails", "", false, 1, 3, "xr", nullptr, nullptr},
        {"regsvr32 cannot start", "", false, 0, none, "xr", "regsvr32", nullptr},
        // Cut after the unpacking: only the registration is done again.
        {"unpacked, registered", "unpacked", true, 0, 0, "r", nullptr, nullptr},
        {"unpacked, extractor would fail", "unpacked", true, 2, 0, "r", nullptr, nullptr},
        {"unpacked, registration fails", "unpacked", true, 0, 5, "r", nullptr, nullptr},
        {"unpacked, regsvr32 cannot start", "unpacked", true, 0, none, "r", "regsvr32", nullptr},
        // Not trusted: the client has gone since, or the mark was cut.
        {"unpacked, client gone", "unpacked", false, 0, 0, "xr", nullptr, nullptr},
        {"cut mark", "unpack", true, 0, 0, "xr", nullptr, nullptr},
        {"longer mark", "unpacked!", true, 0, 0, "xr", nullptr, nullptr},
        // No installation in progress: no mark is made.
        {"no mark", nullptr, false, 0, 0, "xr", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Forget();
        context.m_nInstallDone.store(0);
        fp.files.deleteFile(u"D:\\Korvanis\\Launcher.exe");
        fp.files.deleteFile(u"D:\\Korvanis\\install.unfinished");
        if (c.client) fp.files.put(u"D:\\Korvanis\\Launcher.exe", "client");
        if (c.mark) fp.files.put(u"D:\\Korvanis\\install.unfinished", c.mark);
        std::optional<Bytes> markAtRegistration;
        fp.processes.behaviour = [&](const ProcessStart& r) {
            if (!r.commandLine.starts_with(u"regsvr32")) return c.extractor;
            markAtRegistration = fp.files.get(u"D:\\Korvanis\\install.unfinished");
            return c.registration;
        };
        Request(u"D:\\Korvanis");
        ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
        const auto started = Started();
        std::string ran;
        for (const auto& s : started) ran += s.request.commandLine.starts_with(u"regsvr32") ? "r" : "x";
        EXPECT_EQ(ran, c.ran);
        {
            std::lock_guard lock(fp.ui.mutex);
            ASSERT_EQ(fp.ui.boxes.size(), c.box ? 1u : 0u);
            if (c.box) EXPECT_EQ(toUtf8(fp.ui.boxes[0].text), c.box);
        }
        // While regsvr32 runs, a cut would leave a client marked unpacked.
        if (c.mark && ran.find('r') != std::string::npos)
            EXPECT_EQ(markAtRegistration, Bytes("unpacked"));
        const auto after = fp.files.get(u"D:\\Korvanis\\install.unfinished");
        EXPECT_EQ(after.has_value(), c.after != nullptr);
        if (c.after && after) EXPECT_EQ(*after, c.after);
    }
}

TEST_F(WorkerTest, OneLauncherInstallsAtATime) {
    // Another launcher, closed during its installation, is still finishing
    // it: this one waits, and finds the work done.
    MarkInstallUnfinished(fp.platform, u"D:\\Korvanis");
    bool held = true;
    auto other = fp.system.createNamedMutex(kInstallLockName, held);
    ASSERT_FALSE(held);
    Request(u"D:\\Korvanis");
    const unsigned sleeps = fp.system.sleeps.load();
    ASSERT_TRUE(WaitFor([&] { return fp.system.sleeps.load() >= sleeps + 5; }));
    EXPECT_TRUE(Started().empty());
    EXPECT_EQ(sink.starts.load(), 0);
    MarkInstallFinished(fp.platform, u"D:\\Korvanis");
    other.reset();
    ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
    EXPECT_TRUE(Started().empty());
    EXPECT_EQ(sink.starts.load(), 0);

    // The other one failed or was killed: this one does the work itself.
    MarkInstallUnfinished(fp.platform, u"D:\\Korvanis");
    other = fp.system.createNamedMutex(kInstallLockName, held);
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return fp.system.sleeps.load() >= sleeps + 10; }));
    EXPECT_TRUE(Started().empty());
    other.reset();
    ASSERT_TRUE(WaitFor([&] { return Started().size() == 2 && !Unfinished(); }));
    EXPECT_EQ(sink.starts.load(), 1);
}

TEST_F(WorkerTest, RegistrationThatCannotStartIsReported) {
    MarkInstallUnfinished(fp.platform, u"D:\\Korvanis");
    fp.processes.behaviour = [](const ProcessStart& r) {
        return r.commandLine.starts_with(u"regsvr32") ? std::optional<std::uint32_t>{}
                                                       : std::optional<std::uint32_t>{0};
    };
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
    EXPECT_FALSE(Unfinished());  // reported; the next start could do no better
    std::lock_guard lock(fp.ui.mutex);
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].text, u"regsvr32");
}

TEST_F(WorkerTest, FolderTooLongForTheCommandLineCountsAsNotStarted) {
    // Fits the 256-unit folder buffer, but not twice into the command line.
    Request(u"D:\\" + WString(120, u'k'));
    ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
    EXPECT_TRUE(Started().empty());
    std::lock_guard lock(fp.ui.mutex);
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].text, u"解压失败");
}

TEST_F(WorkerTest, SecondRequestRunsTheWholeStepAgain) {
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return Started().size() == 2; }));
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return Started().size() == 4 && sink.starts.load() == 2; }));
    EXPECT_EQ(context.m_nInstallDone.load(), 1);
}

TEST_F(WorkerTest, WithoutRequestTheWorkerOnlyPolls) {
    ASSERT_TRUE(WaitFor([&] { return fp.system.sleeps.load() >= 5; }));
    EXPECT_EQ(fp.system.sleptMs.load() % 64, 0u);
    EXPECT_EQ(context.m_nInstallDone.load(), 0);
    EXPECT_EQ(sink.starts.load(), 0);
    EXPECT_TRUE(Started().empty());
}

TEST(InstallWorkerNoContext, ReturnsAtOnce) {
    FakePlatform fp;
    EXPECT_EQ(InstallWorker(fp.platform, nullptr), 0u);
    EXPECT_EQ(fp.system.sleeps.load(), 0u);
}

}  // namespace
