#include <gtest/gtest.h>

#include <thread>

#include "install/install_dir.h"
#include "launcher/launcher_dlg.h"
#include "platform/text.h"
#include "res/resource.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/image_files.h"
#include "tests/unit/launcher_window_fixture.h"

namespace kvn {
namespace {

using fake::FakeDialog;
using fake::FakeImageButton;
using fake::FakeProgressBar;

// Runs the launcher window with the fake; `inspect` sees it while open.
class LauncherWindow : public LauncherWindowTest {
protected:
    void Open(const std::function<void(FakeDialog&, CLauncherDlg&)>& inspect) { RunWindow(inspect); }
    static Rect RectOf(FakeDialog& d, int id) { return d.control(id)->windowRect(); }
    // C: short of space and D: with plenty, so a fresh choice takes D:.
    void CShortDRoomy() {
        p.files.addDrive(u'D');
        p.drives.drives = {{u'C', 3, DiskSpace{1ull << 30, 100ull << 30, 1ull << 30}},
                           {u'D', 3, DiskSpace{500ull << 30, 900ull << 30, 500ull << 30}}};
    }
};

TEST_F(LauncherWindow, InitialisationGivesTheFixedGeometry) {
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        EXPECT_EQ(d.windowRect().width(), 1035);
        EXPECT_EQ(d.windowRect().height(), 590);
        EXPECT_EQ(d.icon, IDR_MAINFRAME);
        EXPECT_EQ(d.title(), u"Korvane安装程序");
        EXPECT_EQ(d.background, std::nullopt);  // no LauncherDlg.bmp here
        EXPECT_EQ(d.backgroundStyle, 4);
        EXPECT_TRUE(d.dragAnywhere);
        EXPECT_EQ(d.colorKey, 0x404040u);
        EXPECT_TRUE(d.clientEdgeRemoved);

        struct Expect { int id, in, out, x, y, w, h; bool shown; };
        const Expect table[] = {
            {1002, 132, 133, 981, 80, 25, 26, true},    {1001, 134, 135, 951, 80, 25, 26, true},
            {1004, 140, 139, 829, 81, 103, 23, true},   {1012, 141, 142, 101, 313, 172, 172, false},
            {1014, 141, 142, 269, 313, 172, 172, false}, {1015, 141, 142, 437, 313, 172, 172, false},
            {1016, 141, 142, 605, 313, 172, 172, false}, {1017, 141, 142, 773, 313, 172, 172, false},
            {1010, 144, 143, 370, 500, 106, 27, false},  {1011, 138, 137, 568, 500, 106, 27, false},
        };
        for (const Expect& e : table) {
            SCOPED_TRACE(e.id);
            auto* button = dynamic_cast<FakeImageButton*>(d.control(e.id));
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->inBitmap, e.in);
            EXPECT_EQ(button->outBitmap, e.out);
            const Rect r = RectOf(d, e.id);
            EXPECT_EQ(r.left, e.x);
            EXPECT_EQ(r.top, e.y);
            EXPECT_EQ(r.width(), e.w);
            EXPECT_EQ(r.height(), e.h);
            EXPECT_EQ(button->isVisible(), e.shown);
        }

        ASSERT_EQ(d.webViews.size(), 2u);
        for (auto& view : d.webViews) {
            const Rect r = view->windowRect();
            EXPECT_EQ(r.left, 38);
            EXPECT_EQ(r.top, 120);
            EXPECT_EQ(r.right, 968);
            EXPECT_EQ(r.bottom, 515);
        }
        auto* bar = dynamic_cast<FakeProgressBar*>(d.control(IDC_PROGRESS));
        EXPECT_EQ(RectOf(d, IDC_PROGRESS).left, 72);
        EXPECT_EQ(RectOf(d, IDC_PROGRESS).top, 552);
        EXPECT_EQ(RectOf(d, IDC_PROGRESS).width(), 893);
        EXPECT_EQ(RectOf(d, IDC_PROGRESS).height(), 13);
        EXPECT_EQ(bar->upper_, 100);
        EXPECT_FALSE(bar->isVisible());
        EXPECT_EQ(d.timers.at(1), 100u);
        EXPECT_NE(dlg.m_installTask.m_pWorkerThread, nullptr);
    });
}

TEST_F(LauncherWindow, LoginIniIsTheWholeAddressAsStored) {
    p.files.put(u"C:\\Games\\Launcher.exe", "client");  // login path
    auto startUrl = [&] {
        WString url;
        Open([&](FakeDialog&, CLauncherDlg& dlg) { url = dlg.m_strStartUrl; });
        return url;
    };
    EXPECT_EQ(startUrl(), u"http://site.test/micro/");
    p.files.put(u"C:\\Games\\login.ini", "");
    EXPECT_EQ(startUrl(), u"http://site.test/micro/");
    p.files.put(u"C:\\Games\\login.ini", "http://other.test/游戏/?a=1\r\n");
    EXPECT_EQ(startUrl(), u"http://other.test/游戏/?a=1\r\n");
    p.files.put(u"C:\\Games\\login.ini", std::string("http://x.test/\0junk", 19));
    EXPECT_EQ(startUrl(), u"http://x.test/");
    p.files.put(u"C:\\Games\\login.ini", std::string(70 * 1024, 'h'));  // not an address
    EXPECT_EQ(startUrl(), u"http://site.test/micro/");
}

TEST_F(LauncherWindow, OnlyAWholeBackgroundOfTheWindowsSizeIsApplied) {
    p.files.put(u"C:\\Games\\Launcher.exe", "client");
    p.ui.beforeInit = [](FakeDialog& d) { d.backgroundLoads = [](const WString&) { return true; }; };
    struct Case { const char* name; Bytes file; bool applied; };
    const Bytes whole = Bitmap(1035, 590);
    const Case cases[] = {
        {"window size", whole, true},
        {"larger", Bitmap(1100, 600), true},
        {"16 x 16", Bitmap(16, 16), false},
        {"one row short", Bitmap(1035, 589), false},
        {"cut", whole.substr(0, whole.size() - 10), false},
        {"not a bitmap", "bmp", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.files.put(u"C:\\Games\\LauncherDlg.bmp", c.file);
        Open([&](FakeDialog& d, CLauncherDlg&) {
            EXPECT_EQ(d.background.has_value(), c.applied);
            EXPECT_EQ(d.backgroundStyle, 4);
            // Unapplied, the window keeps its fixed size.
            if (!c.applied) {
                EXPECT_EQ(d.windowRect().width(), 1035);
                EXPECT_EQ(d.windowRect().height(), 590);
            }
        });
    }
}

TEST_F(LauncherWindow, InstalledClientGoesStraightToTheLoginPage) {
    p.files.put(u"C:\\Games\\Launcher.exe", "client");
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        auto& login = *d.webViews[0];
        auto& waiting = *d.webViews[1];
        EXPECT_EQ(login.navigations, std::vector<WString>{u"http://site.test/micro/"});
        EXPECT_TRUE(login.isVisible());
        EXPECT_FALSE(waiting.isVisible());
        EXPECT_TRUE(waiting.navigations.empty());
        EXPECT_EQ(std::count(waiting.visibilityChanges.begin(), waiting.visibilityChanges.end(), true), 0);
        EXPECT_EQ(dlg.m_bWaitingPage, 0);
        EXPECT_EQ(dlg.m_wndLoginPage.m_strClientDir, u"C:\\Games");
        EXPECT_TRUE(dlg.m_wndWaitingPage.m_strClientDir.empty());
        EXPECT_EQ(dlg.m_installTask.m_szExtractDir.str(), u"");
        // The two views share one limit on starts of the default browser.
        dlg.m_wndLoginPage.onTranslateUrl({u"http://example.org/a", WebNavigation::Frame::Top, true});
        dlg.m_wndWaitingPage.onTranslateUrl({u"http://example.org/b", WebNavigation::Frame::Top, true});
        EXPECT_EQ(p.shell.opened, std::vector<WString>{u"http://example.org/a"});
    });
    EXPECT_TRUE(p.files.copies.empty());
}

TEST_F(LauncherWindow, MissingClientIsPreparedBeforeAnyInput) {
    CShortDRoomy();
    p.files.put(u"C:\\Games\\Login.exe", "launcher");
    p.files.put(u"C:\\Games\\KVNClient.7z", "archive");
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        auto& login = *d.webViews[0];
        auto& waiting = *d.webViews[1];
        EXPECT_TRUE(waiting.isVisible());
        EXPECT_FALSE(login.isVisible());
        EXPECT_EQ(waiting.navigations, std::vector<WString>{u"http://site.test/micro/waiting.php"});
        EXPECT_EQ(dlg.m_bWaitingPage, 1);
        EXPECT_EQ(dlg.m_szInstallDir.str(), u"D:\\Korvanis");
        EXPECT_EQ(dlg.m_installTask.m_szExtractDir.str(), u"D:\\Korvanis");
        EXPECT_EQ(dlg.m_wndLoginPage.m_strClientDir, u"D:\\Korvanis");
        EXPECT_EQ(p.files.find(u"D:\\Korvanis"), FileSystem::Kind::Directory);
        EXPECT_EQ(p.files.get(u"D:\\Korvanis\\Login.exe"), "launcher");
        EXPECT_EQ(p.files.get(u"D:\\Korvanis\\KVNClient.7z"), "archive");
        // The waiting page's view hands no login off, even to the site's
        // own address; the login page's view knows the page it will show.
        EXPECT_FALSE(waiting.events.onBeforeNavigate2({u"http://site.test/micro/?user=w"}));
        EXPECT_FALSE(p.files.exists(u"D:\\Korvanis\\kvnlogin.dat"));
        EXPECT_EQ(dlg.m_wndLoginPage.m_strLoginPage, u"http://site.test/micro/");
    });
}

TEST_F(LauncherWindow, ExtractionIsRequestedEvenWhenNothingIsCopied) {
    p.system.moduleFile = u"C:\\Korvanis\\Login.exe";
    p.files.mkdirs(u"C:\\Korvanis");
    p.files.put(u"C:\\Korvanis\\Login.exe", "launcher");
    Open([&](FakeDialog&, CLauncherDlg& dlg) {
        EXPECT_EQ(dlg.m_szInstallDir.str(), u"C:\\Korvanis");
        // The worker takes the request and runs the extractor in that folder.
        for (int i = 0; i < 5000 && dlg.m_installTask.m_nInstallDone.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(dlg.m_installTask.m_nInstallDone.load(), 1);
    });
    EXPECT_TRUE(p.files.copies.empty());
    std::lock_guard lock(p.processes.mutex);
    ASSERT_FALSE(p.processes.started.empty());
    EXPECT_EQ(p.processes.started[0].request.commandLine,
              u"C:\\Korvanis/7zr.exe x -r C:\\Korvanis/KVNClient.7z -y");
    EXPECT_EQ(p.processes.started[0].request.workingDirectory, u"C:\\Korvanis");
}

TEST_F(LauncherWindow, AnUnfinishedInstallationIsFinishedInItsOwnFolder) {
    // A first installation on C: was killed after 7zr.exe had unpacked the
    // client: Launcher.exe is there, the plug-in is not registered. A fresh
    // choice would now take D:.
    CShortDRoomy();
    p.files.put(u"C:\\Korvanis\\Login.exe", "launcher");
    p.files.put(u"C:\\Korvanis\\Launcher.exe", "client");
    MarkInstallUnfinished(p, u"C:\\Korvanis");
    bool markedDuringExtraction = false;
    p.processes.behaviour = [&](const ProcessStart& r) -> std::optional<std::uint32_t> {
        if (r.commandLine.find(u"7zr.exe") != WString::npos)
            markedDuringExtraction = IsInstallUnfinished(p, u"C:\\Korvanis");
        return 0;
    };
    // Started from the desktop link (in the install folder), the start-menu
    // link, or the package elsewhere: the same folder each time.
    for (const char16_t* from : {u"C:\\Korvanis", u"C:\\Users\\player\\Desktop", u"C:\\Games"}) {
        p.system.currentDir = from;
        p.system.moduleFile = WString(from) + u"\\Login.exe";
        MarkInstallUnfinished(p, u"C:\\Korvanis");
        markedDuringExtraction = false;
        Open([&](FakeDialog& d, CLauncherDlg& dlg) {
            EXPECT_TRUE(d.webViews[1]->isVisible()) << toUtf8(from);
            EXPECT_EQ(dlg.m_szInstallDir.str(), u"C:\\Korvanis") << toUtf8(from);
            EXPECT_EQ(dlg.m_installTask.m_szExtractDir.str(), u"C:\\Korvanis");
            for (int i = 0; i < 5000 && dlg.m_installTask.m_nInstallDone.load() == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_EQ(dlg.m_installTask.m_nInstallDone.load(), 1);
        });
        EXPECT_TRUE(markedDuringExtraction) << toUtf8(from);
        EXPECT_FALSE(IsInstallUnfinished(p, u"C:\\Korvanis")) << toUtf8(from);
        EXPECT_FALSE(p.files.exists(u"D:\\Korvanis")) << toUtf8(from);
    }

    // Cut between 7zr.exe and regsvr32: the next start, from the package,
    // copies nothing and only registers.
    p.system.currentDir = u"C:\\Games";
    p.system.moduleFile = u"C:\\Games\\Login.exe";
    p.files.put(u"C:\\Korvanis\\install.unfinished", "unpacked");
    p.files.copies.clear();
    std::size_t before = p.processes.started.size();
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        EXPECT_TRUE(d.webViews[1]->isVisible());
        EXPECT_EQ(dlg.m_szInstallDir.str(), u"C:\\Korvanis");
        for (int i = 0; i < 5000 && dlg.m_installTask.m_nInstallDone.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_TRUE(p.files.copies.empty());
    ASSERT_EQ(p.processes.started.size(), before + 1);
    EXPECT_EQ(p.processes.started.back().request.commandLine,
              u"regsvr32 /s C:\\Korvanis/bin/npKVNWebPlayer.dll");
    EXPECT_FALSE(IsInstallUnfinished(p, u"C:\\Korvanis"));
    EXPECT_FALSE(p.files.exists(u"D:\\Korvanis"));

    // Finished: the next start from the install folder goes straight to the login page.
    p.system.currentDir = u"C:\\Korvanis";
    p.system.moduleFile = u"C:\\Korvanis\\Login.exe";
    const std::size_t started = p.processes.started.size();
    Open([&](FakeDialog& d, CLauncherDlg&) {
        EXPECT_TRUE(d.webViews[0]->isVisible());
        EXPECT_FALSE(d.webViews[1]->isVisible());
    });
    EXPECT_EQ(p.processes.started.size(), started);
}

TEST_F(LauncherWindow, AFirstInstallationIsMarkedUnfinishedUntilRegistrationHasRun) {
    // Whatever the registration gives, once it has run (or could not be
    // started and was reported) the next start, from the desktop link in the
    // install folder, takes the login path: nothing is unpacked again.
    using Code = std::optional<std::uint32_t>;
    for (const Code registration : {Code{0}, Code{3}, Code{}}) {
        SCOPED_TRACE(registration ? std::to_string(*registration) : "cannot start");
        p.files.deleteFile(u"C:\\Korvanis\\Launcher.exe");
        p.system.currentDir = u"C:\\Games";
        p.system.moduleFile = u"C:\\Games\\Login.exe";
        p.files.put(u"C:\\Games\\Login.exe", "launcher");
        p.files.copies.clear();
        std::vector<Bytes> marks;  // the mark when 7zr.exe and regsvr32 start
        p.processes.behaviour = [&](const ProcessStart& r) -> Code {
            marks.push_back(p.files.get(u"C:\\Korvanis\\install.unfinished").value_or("none"));
            if (r.commandLine.starts_with(u"regsvr32")) return registration;
            p.files.put(u"C:\\Korvanis\\Launcher.exe", "client");  // 7-Zip unpacks the client
            return 0;
        };
        Open([&](FakeDialog&, CLauncherDlg& dlg) {
            for (int i = 0; i < 5000 && dlg.m_installTask.m_nInstallDone.load() == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        EXPECT_EQ(marks, (std::vector<Bytes>{"", "unpacked"}));
        EXPECT_FALSE(IsInstallUnfinished(p, u"C:\\Korvanis"));
        EXPECT_EQ(p.files.copies.size(), 7u);

        p.system.currentDir = u"C:\\Korvanis";
        p.system.moduleFile = u"C:\\Korvanis\\Login.exe";
        marks.clear();
        Open([&](FakeDialog& d, CLauncherDlg&) {
            EXPECT_TRUE(d.webViews[0]->isVisible());
            EXPECT_FALSE(d.webViews[1]->isVisible());
        });
        EXPECT_TRUE(marks.empty());

        // From the package too, though the plug-in left no registry value
        // where it failed: the finished client is found in its folder.
        p.system.currentDir = u"C:\\Games";
        p.system.moduleFile = u"C:\\Games\\Login.exe";
        p.files.copies.clear();
        Open([&](FakeDialog& d, CLauncherDlg& dlg) {
            EXPECT_TRUE(d.webViews[0]->isVisible());
            EXPECT_FALSE(d.webViews[1]->isVisible());
            EXPECT_EQ(dlg.m_szInstallDir.str(), u"C:\\Korvanis");
            EXPECT_EQ(dlg.m_wndLoginPage.m_strClientDir, u"C:\\Korvanis");
        });
        EXPECT_TRUE(marks.empty());
        EXPECT_TRUE(p.files.copies.empty());
    }
}

TEST_F(LauncherWindow, TimerFollowsTheCountersAndSwitchesWhenInstalled) {
    p.files.put(u"C:\\Games\\Launcher.exe", "client");
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        auto* bar = dynamic_cast<FakeProgressBar*>(d.control(IDC_PROGRESS));
        dlg.OnTimer(1);
        EXPECT_EQ(bar->pos(), 0);  // initial counters 0 of 1
        dlg.OnDownloadProgress(u"", 50, 200);
        dlg.OnTimer(1);
        EXPECT_EQ(bar->pos(), 25);
        dlg.OnDownloadProgress(u"", 1, 3);
        dlg.OnTimer(1);
        EXPECT_EQ(bar->pos(), 33);
        dlg.OnDownloadProgress(u"", 3000000000u, 1000000000u);  // unsigned, above the total
        dlg.OnTimer(1);
        EXPECT_EQ(bar->pos(), 300);
        dlg.OnDownloadProgress(u"", 7, 0);  // a zero total leaves the bar alone
        dlg.OnTimer(1);
        EXPECT_EQ(bar->pos(), 300);
        EXPECT_TRUE(d.timers.count(1));

        dlg.OnInstallStart();
        EXPECT_EQ(bar->pos(), 0);
        EXPECT_EQ(bar->barText(), u"正在安装....");

        dlg.m_bWaitingPage = 1;
        d.webViews[0]->show(false);
        d.webViews[1]->show(true);
        dlg.m_installTask.m_nInstallDone = 1;
        dlg.OnTimer(1);
        EXPECT_EQ(bar->positions.back(), 100);
        EXPECT_TRUE(d.webViews[0]->isVisible());
        EXPECT_EQ(d.webViews[0]->navigations.back(), dlg.m_strStartUrl);
        EXPECT_FALSE(d.webViews[1]->isVisible());
        EXPECT_FALSE(bar->isVisible());
        EXPECT_EQ(dlg.m_bWaitingPage, 0);
        EXPECT_FALSE(d.timers.count(1));
    });
}

TEST_F(LauncherWindow, OnlyTheCloseButtonEndsTheWindow) {
    p.files.put(u"C:\\Games\\Launcher.exe", "client");
    Open([&](FakeDialog& d, CLauncherDlg& dlg) {
        dlg.onOK();
        dlg.onCancel();
        EXPECT_TRUE(d.exists());
        d.click(dlg, IDC_BTN_MINIMIZE);
        EXPECT_TRUE(d.isIconic());
        EXPECT_TRUE(d.exists());
        d.click(dlg, IDC_BTN_CLOSE);
        EXPECT_FALSE(d.exists());
        EXPECT_EQ(d.result, IDCANCEL);
    });
}

}  // namespace
}  // namespace kvn
