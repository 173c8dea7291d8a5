#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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
};

TEST_F(WorkerTest, ExtractsThenRegistersHiddenInTheInstallFolder) {
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
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

TEST_F(WorkerTest, ExtractorExitingWithAnErrorIsAFailedExtraction) {
    fp.processes.behaviour = [](const ProcessStart&) { return std::optional<std::uint32_t>{2}; };
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
    EXPECT_EQ(Started().size(), 1u);
    EXPECT_EQ(Boxes(), 1u);
}

TEST_F(WorkerTest, RegistrationThatCannotStartIsReported) {
    fp.processes.behaviour = [](const ProcessStart& r) {
        return r.commandLine.starts_with(u"regsvr32") ? std::optional<std::uint32_t>{}
                                                       : std::optional<std::uint32_t>{0};
    };
    Request(u"D:\\Korvanis");
    ASSERT_TRUE(WaitFor([&] { return context.m_nInstallDone.load() == 1; }));
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
