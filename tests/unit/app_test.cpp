#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/config.h"
#include "app/launcher_app.h"
#include "install/install_dir.h"
#include "res/resource.h"
#include "tests/fake/fake_platform.h"

namespace kvn {
namespace {

using fake::FakePlatform;

class AppMode : public ::testing::Test {
protected:
    void SetUp() override { fake::FakeSystem::heldMutexes().clear(); }
    std::vector<int> ModesOf(std::vector<WString> args) {
        FakePlatform p;
        p.system.args = std::move(args);
        CLauncherApp app(p);
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(p.ui.initialised, 1);
        return p.ui.templatesRun;
    }
};

TEST_F(AppMode, ArgumentCountChoosesTheDialog) {
    EXPECT_EQ(ModesOf({u"Login.exe"}), std::vector<int>{IDD_LAUNCHER_DIALOG});
    EXPECT_EQ(ModesOf({u"Login.exe", u"-Uninstall"}), std::vector<int>{IDD_UNINSTALL_DIALOG});
    EXPECT_EQ(ModesOf({u"Login.exe", u"foo"}), std::vector<int>{IDD_UNINSTALL_DIALOG});
    EXPECT_EQ(ModesOf({u"Login.exe", u"a b c"}), std::vector<int>{IDD_UNINSTALL_DIALOG});
    EXPECT_EQ(ModesOf({u"Login.exe", u"-Uninstall", u"x"}), std::vector<int>{IDD_LAUNCHER_DIALOG});
}

TEST_F(AppMode, ASecondCopyShowsTheGbkBoxAndRunsNoDialog) {
    FakePlatform first;
    bool existed = true;
    auto held = first.system.createNamedMutex(kMutexName, existed);
    ASSERT_FALSE(existed);

    FakePlatform second;
    CLauncherApp app(second);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(second.ui.templatesRun.empty());
    ASSERT_EQ(second.ui.gbkBoxes.size(), 1u);
    // "程序已经在运行中，不能重复启动！" in code page 936, caption "Korvane".
    EXPECT_EQ(second.ui.gbkBoxes[0].first.substr(0, 4), "\xB3\xCC\xD0\xF2");
    EXPECT_EQ(second.ui.gbkBoxes[0].first.size(), 32u);
    EXPECT_EQ(second.ui.gbkBoxes[0].second, "Korvane");

    held.reset();  // the first copy ended: starting again works
    FakePlatform third;
    CLauncherApp again(third);
    again.InitInstance();
    EXPECT_EQ(third.ui.templatesRun, std::vector<int>{IDD_LAUNCHER_DIALOG});
    EXPECT_TRUE(third.ui.gbkBoxes.empty());
}

TEST_F(AppMode, ClosedDuringInstallationTheWindowGoesTheInstallationEndsAndANewStartIsLetIn) {
    FakePlatform first;
    first.system.realSleep = true;
    std::atomic<bool> extracting{false}, release{false};
    first.processes.behaviour = [&](const ProcessStart& r) -> std::optional<std::uint32_t> {
        if (r.commandLine.find(u"7zr.exe") != WString::npos) {
            extracting = true;
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return 0;
    };
    std::atomic<bool> windowGone{false};
    first.ui.whileOpen[IDD_LAUNCHER_DIALOG] = [&](fake::FakeDialog& d, DialogHandler& h) {
        while (!extracting) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        d.click(h, IDC_BTN_CLOSE);
        EXPECT_TRUE(d.ended);
    };
    first.ui.onDestroyed = [&] { windowGone = true; };
    std::thread run([&] {
        CLauncherApp app(first);
        app.InitInstance();
    });
    while (!windowGone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The window is gone while 7zr.exe still runs: a new start is not refused.
    bool existed = true;
    auto second = first.system.createNamedMutex(kMutexName, existed);
    EXPECT_FALSE(existed);
    second.reset();
    EXPECT_TRUE(IsInstallUnfinished(first, u"C:\\Korvanis"));
    release = true;
    run.join();
    // The installation in hand was finished before the process ended.
    std::lock_guard lock(first.processes.mutex);
    ASSERT_EQ(first.processes.started.size(), 2u);
    EXPECT_FALSE(IsInstallUnfinished(first, u"C:\\Korvanis"));
}

TEST(Config, EnvironmentOverridesTheBuiltInHosts) {
    FakePlatform p;
    Config defaults = LoadConfig(p.system);
    EXPECT_EQ(defaults.site.rfind(u"http", 0), 0u);
    p.system.env[u"KORVANE_SITE"] = u"http://127.0.0.1:8080/";
    p.system.env[u"KORVANE_DOWNLOAD"] = u"http://127.0.0.1:9090";
    Config c = LoadConfig(p.system);
    EXPECT_EQ(c.site, u"http://127.0.0.1:8080");
    EXPECT_EQ(c.download, u"http://127.0.0.1:9090");
}

TEST(Config, AppNameIsTheExecutableNameWithoutExtension) {
    FakePlatform p;
    p.system.moduleFile = u"D:\\游戏\\Login.exe";
    EXPECT_EQ(AppName(p.system), u"Login");
    p.system.moduleFile = u"/opt/x.y/Login";
    EXPECT_EQ(AppName(p.system), u"Login");
}

}  // namespace
}  // namespace kvn
