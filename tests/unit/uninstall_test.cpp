#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "install/install_dir.h"
#include "platform/text.h"
#include "res/resource.h"
#include "tests/fake/fake_platform.h"
#include "uninstall/uninstall_dlg.h"

namespace kvn {
namespace {

using fake::FakeDialog;
using fake::FakePlatform;

constexpr char16_t kQuestion[] = u"是否要卸载Korvane?";
constexpr char16_t kGameRunning[] = u"Korvane程序正在运行，请先关闭程序后再试！";
constexpr char16_t kPathError[] = u"卸载路径错误，请手动删除！";
constexpr char16_t kNoFolder[] = u"无法找到目录，请确认输入路径正确";
constexpr char16_t kMenu[] = u"C:\\Users\\player\\Programs\\Korvane";
constexpr char16_t kDesktop[] = u"C:\\Users\\player\\Desktop";

// Waits (bounded) until a condition set by the worker holds.
template <class F>
bool Eventually(F condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class Uninstaller : public ::testing::Test {
protected:
    FakePlatform fp;
    std::vector<WString> deleted;  // in the order asked for (written by the worker)
    std::function<void(const WString&)> onDelete;

    void SetUp() override {
        fp.files.addDrive(u'D');
        fp.system.moduleFile = u"D:\\Korvanis\\Login.exe";
        fp.registry.writeUserString(kPluginKey, u"Path", u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll");
        fp.files.put(u"D:\\Korvanis\\Login.exe", "launcher");
        fp.files.put(u"D:\\Korvanis\\Uninstall.list",
                     "\\bin\r\n\\Launcher.exe\r\n\\missing.txt\r\n\\kvnversion.ini\r\n");
        fp.files.put(u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll", "plug-in");
        fp.files.put(u"D:\\Korvanis\\bin\\sub\\a.dat", "a");
        fp.files.put(u"D:\\Korvanis\\Launcher.exe", "client");
        fp.files.put(u"D:\\Korvanis\\kvnversion.ini", "version:120");
        fp.files.put(WString(kMenu) + u"\\Korvane.lnk", "link");
        fp.files.put(WString(kMenu) + u"\\卸载游戏.lnk", "link");
        fp.files.put(WString(kDesktop) + u"\\Korvane.lnk", "link");
        fp.files.put(WString(kDesktop) + u"\\KorvaneWeb.lnk", "link");
        fp.files.put(WString(kDesktop) + u"\\Other.lnk", "link");
        // The running launcher cannot be deleted; every deletion is recorded.
        fp.files.refuseDelete = [this](const WString& path) {
            deleted.push_back(path);
            if (onDelete) onDelete(path);
            return fp.files.canonical(path) == u"D:\\Korvanis\\Login.exe";
        };
    }

    // Runs the dialog; `whileOpen` drives it like the window's thread would.
    int Run(const std::function<void(FakeDialog&, CUninstallDlg&)>& whileOpen) {
        CUninstallDlg dlg(fp.platform);
        fp.ui.whileOpen[IDD_UNINSTALL_DIALOG] = [&](FakeDialog& d, DialogHandler&) { whileOpen(d, dlg); };
        return dlg.DoModal();
    }
    // The timer tick, then the whole worker run.
    static void StartAndFinish(FakeDialog& d, CUninstallDlg& dlg) {
        ASSERT_EQ(d.timers.count(kUninstallStartTimer), 1u);
        EXPECT_EQ(d.timers.at(kUninstallStartTimer), 1000u);
        dlg.onTimer(kUninstallStartTimer);
        EXPECT_EQ(d.timers.count(kUninstallStartTimer), 0u);  // fires once
        ASSERT_TRUE(Eventually([&] { return dlg.WorkerFinished(); }));
    }
    static WString Log(FakeDialog& d) { return d.control(IDC_UNINSTALL_LOG)->text(); }
    std::vector<WString> BoxTexts() {
        std::vector<WString> out;
        for (auto& b : fp.ui.boxes) out.push_back(b.text);
        return out;
    }
    bool Has(const WString& path) { return fp.files.exists(path); }
    void ExpectGameUntouched() {
        for (const char16_t* path : {u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll", u"D:\\Korvanis\\bin\\sub\\a.dat",
                                     u"D:\\Korvanis\\Launcher.exe", u"D:\\Korvanis\\kvnversion.ini",
                                     u"C:\\Users\\player\\Desktop\\Korvane.lnk",
                                     u"C:\\Users\\player\\Programs\\Korvane\\Korvane.lnk"})
            EXPECT_TRUE(Has(path)) << toUtf8(path);
        EXPECT_TRUE(deleted.empty());
    }
};

// ---------------------------------------------------------------- the full road

TEST_F(Uninstaller, FullRunUnregistersRemovesInOrderAndLogs) {
    std::size_t deletionsWhenRegsvr32Ran = 99;
    fp.processes.behaviour = [&](const ProcessStart&) -> std::optional<std::uint32_t> {
        deletionsWhenRegsvr32Ran = deleted.size();
        return 0;
    };
    // The link icon a platform keeps beside the launcher goes with the links.
    fp.files.put(u"D:\\Korvanis\\Login.png", "icon");
    fp.shell.madeForLinks = [](const WString& target) {
        return target == u"D:\\Korvanis\\Login.exe" ? std::vector<WString>{u"D:\\Korvanis\\Login.png"}
                                                      : std::vector<WString>{};
    };
    bool closedByWorker = true;
    const int result = Run([&](FakeDialog& d, CUninstallDlg& dlg) {
        EXPECT_EQ(d.icon, IDR_MAINFRAME);
        EXPECT_TRUE(dynamic_cast<fake::FakeEditBox*>(d.editBox(IDC_UNINSTALL_LOG))->unlimited);
        EXPECT_EQ(Log(d), u"正在卸载以下文件：\r\n");
        StartAndFinish(d, dlg);
        EXPECT_EQ(Log(d), u"正在卸载以下文件：\r\n"
                          u"npKVNWebPlayer.dll\r\n"
                          u"a.dat\r\n"
                          u"D:\\Korvanis\\Launcher.exe\r\n"
                          u"D:\\Korvanis\\kvnversion.ini\r\n"
                          u"D:\\Korvanis\\Login.png\r\n"
                          u"Korvane.lnk\r\n"
                          u"卸载游戏.lnk\r\n"
                          u"卸载成功！\r\n");
        EXPECT_EQ(d.control(IDCANCEL)->text(), u"确定");
        closedByWorker = d.ended;  // the window waits for the player
        d.click(dlg, IDCANCEL);
        EXPECT_TRUE(d.ended);
    });
    EXPECT_FALSE(closedByWorker);
    EXPECT_EQ(result, IDCANCEL);

    ASSERT_EQ(fp.processes.started.size(), 1u);
    const ProcessStart& regsvr32 = fp.processes.started[0].request;
    EXPECT_EQ(regsvr32.commandLine, u"regsvr32 /s /u D:\\Korvanis\\/bin/npKVNWebPlayer.dll");
    EXPECT_EQ(regsvr32.workingDirectory, u"D:\\Korvanis\\");
    EXPECT_TRUE(regsvr32.hidden);
    EXPECT_EQ(deletionsWhenRegsvr32Ran, 0u);

    EXPECT_EQ(deleted, (std::vector<WString>{
                           u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll", u"D:\\Korvanis\\bin\\sub\\a.dat",
                           u"D:\\Korvanis\\Launcher.exe", u"D:\\Korvanis\\kvnversion.ini",
                           u"C:\\Users\\player\\Desktop/KorvaneWeb.lnk",
                           u"C:\\Users\\player\\Desktop/Korvane.lnk",
                           u"D:\\Korvanis\\Login.png",
                           u"C:\\Users\\player\\Programs/Korvane\\Korvane.lnk",
                           u"C:\\Users\\player\\Programs/Korvane\\卸载游戏.lnk"}));
    EXPECT_FALSE(Has(u"D:\\Korvanis\\bin"));
    EXPECT_FALSE(Has(kMenu));
    EXPECT_TRUE(Has(WString(kDesktop) + u"\\Other.lnk"));
    EXPECT_TRUE(Has(u"D:\\Korvanis\\Login.exe"));  // not listed
    EXPECT_TRUE(Has(u"D:\\Korvanis\\Uninstall.list"));
    EXPECT_EQ(BoxTexts(), std::vector<WString>{kQuestion});
}

TEST_F(Uninstaller, TheQuestionIsTheApplicationsOwnBox) {
    Run([&](FakeDialog&, CUninstallDlg&) {});
    ASSERT_EQ(fp.ui.boxes.size(), 1u);
    EXPECT_EQ(fp.ui.boxes[0].text, kQuestion);
    EXPECT_EQ(fp.ui.boxes[0].caption, u"Login");
    EXPECT_EQ(fp.ui.boxes[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(fp.ui.boxes[0].icon, MsgIcon::Warning);
}

// ---------------------------------------------------------------- nothing touched

TEST_F(Uninstaller, DecliningOrARunningGameTouchesNothing) {
    fp.ui.answers = {MsgResult::Cancel};
    bool opened = false;
    EXPECT_EQ(Run([&](FakeDialog&, CUninstallDlg&) { opened = true; }), IDCANCEL);
    EXPECT_FALSE(opened);
    EXPECT_EQ(BoxTexts(), std::vector<WString>{kQuestion});
    EXPECT_TRUE(fp.processes.started.empty());
    ExpectGameUntouched();

    // The game in any letter case, or no process list at all.
    const std::optional<std::vector<WString>> lists[] = {
        std::vector<WString>{u"explorer.exe", u"kORVANIS.exe"}, std::nullopt};
    for (const auto& running : lists) {
        fp.ui.boxes.clear();
        fp.processes.running = running;
        Run([&](FakeDialog& d, CUninstallDlg& dlg) {
            dlg.onTimer(kUninstallStartTimer);
            EXPECT_TRUE(d.ended);
            EXPECT_FALSE(dlg.m_hWorkerThread.joinable());
        });
        ASSERT_EQ(BoxTexts(), (std::vector<WString>{kQuestion, kGameRunning}));
        EXPECT_EQ(fp.ui.boxes[1].caption, u"提示");
        EXPECT_EQ(fp.ui.boxes[1].icon, MsgIcon::Error);
        EXPECT_TRUE(fp.ui.boxes[1].owned);
        EXPECT_TRUE(fp.processes.started.empty());
        ExpectGameUntouched();
    }
}

TEST_F(Uninstaller, NoMarkerInTheFolderOrNoListLeavesEverythingAndClaimsNoSuccess) {
    struct Case { WString module; bool listPresent; };
    const Case cases[] = {{u"D:\\Games\\Login.exe", true}, {u"D:\\Korvanis\\Login.exe", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.module));
        fp.ui.boxes.clear();
        fp.processes.started.clear();
        fp.system.moduleFile = c.module;
        fp.files.put(u"D:\\Games\\Uninstall.list", "\\bin\r\n");
        fp.files.put(u"D:\\Games\\bin\\x.dll", "x");
        if (!c.listPresent) fp.files.deleteFile(u"D:\\Korvanis\\Uninstall.list");
        deleted.clear();
        Run([&](FakeDialog& d, CUninstallDlg& dlg) {
            StartAndFinish(d, dlg);
            EXPECT_EQ(Log(d), u"正在卸载以下文件：\r\n");
            EXPECT_EQ(d.control(IDCANCEL)->text(), u"确定");
        });
        ASSERT_EQ(BoxTexts(), (std::vector<WString>{kQuestion, kPathError}));
        EXPECT_EQ(fp.ui.boxes[1].caption, u"提示");
        EXPECT_EQ(fp.ui.boxes[1].icon, MsgIcon::Error);
        EXPECT_EQ(fp.processes.started.size(), 1u);  // regsvr32 comes first all the same
        ExpectGameUntouched();
        EXPECT_TRUE(Has(u"D:\\Games\\bin\\x.dll"));
    }
}

TEST_F(Uninstaller, NothingOutsideTheInstallFolderIsTouched) {
    // Hostile lists and links: every file outside the folder must stay.
    fp.files.put(u"D:\\Korvanis\\Uninstall.list",
                 "\\..\\Windows\r\n\\..\\Other\\keep.txt\r\n/../Other\r\n\\bin\\..\\..\\Other\r\n"
                 "2\r\nBackup\r\n\\...\\Other\r\n\\.. \\Other\r\n\\\\?\\D:\\Other\r\n\\D:\\Other\r\n"
                 "\\toOther\\keep.txt\r\n\\toOther\r\n\\keep.lnk\r\n\\bin\r\n\\Launcher.exe\r\n");
    fp.files.put(u"D:\\Windows\\system.dll", "s");
    fp.files.put(u"D:\\Other\\keep.txt", "k");
    fp.files.put(u"D:\\Other\\sub\\deep.txt", "d");
    fp.files.put(u"D:\\Korvanis2\\save.dat", "2");
    fp.files.put(u"D:\\KorvanisBackup\\save.dat", "b");
    fp.files.put(u"D:\\Music\\song.mp3", "m");
    // A listed link, links inside a listed folder, and a start-menu folder
    // that is itself a link.
    fp.files.link(u"D:\\Korvanis\\toOther", u"D:\\Other", true);
    fp.files.link(u"D:\\Korvanis\\keep.lnk", u"D:\\Other\\keep.txt", false);
    fp.files.link(u"D:\\Korvanis\\bin\\music", u"D:\\Music", true);
    fp.files.link(u"D:\\Korvanis\\bin\\Korvanis2", u"D:\\Korvanis2", true);
    fp.files.link(u"D:\\Korvanis\\bin\\save.dat", u"D:\\KorvanisBackup\\save.dat", false);
    const auto outside = [&] {
        std::size_t n = fp.files.filesUnder(u"D:\\Korvanis2").size();
        for (const char16_t* folder : {u"D:\\Windows", u"D:\\Other", u"D:\\KorvanisBackup", u"D:\\Music"})
            n += fp.files.filesUnder(folder).size();
        return n;
    };
    const std::size_t before = outside();
    Run([&](FakeDialog& d, CUninstallDlg& dlg) {
        StartAndFinish(d, dlg);
        // Links are logged and removed like the files they stand in for.
        EXPECT_TRUE(contains(Log(d), u"\r\nD:\\Korvanis\\toOther\r\n"));
        EXPECT_TRUE(contains(Log(d), u"\r\nmusic\r\n"));
    });
    EXPECT_EQ(outside(), before);
    EXPECT_EQ(before, 6u);
    for (const char16_t* link : {u"D:\\Korvanis\\toOther", u"D:\\Korvanis\\keep.lnk", u"D:\\Korvanis\\bin\\music",
                                 u"D:\\Korvanis\\bin\\Korvanis2", u"D:\\Korvanis\\bin\\save.dat"})
        EXPECT_FALSE(Has(link)) << toUtf8(link);
    EXPECT_FALSE(Has(u"D:\\Korvanis\\bin"));
    EXPECT_FALSE(Has(u"D:\\Korvanis\\Launcher.exe"));
}

TEST_F(Uninstaller, AStartMenuFolderThatIsALinkGoesAsALink) {
    fp.files.deleteFile(WString(kMenu) + u"\\Korvane.lnk");
    fp.files.deleteFile(WString(kMenu) + u"\\卸载游戏.lnk");
    fp.files.removeDirectory(kMenu);
    fp.files.put(u"C:\\Users\\player\\Documents\\Korvane\\notes.txt", "mine");
    fp.files.link(kMenu, u"C:\\Users\\player\\Documents\\Korvane", true);
    Run([&](FakeDialog& d, CUninstallDlg& dlg) { StartAndFinish(d, dlg); });
    EXPECT_FALSE(Has(kMenu));
    EXPECT_TRUE(Has(u"C:\\Users\\player\\Documents\\Korvane\\notes.txt"));
}

// ---------------------------------------------------------------- folder walks

TEST_F(Uninstaller, SkinBitmapsKeepTheirFolderAndTheRunningLauncherStays) {
    // An empty line names the launcher folder itself; the launcher is also
    // listed in two spellings. Where the platform would let it be deleted
    // (Linux), it stays all the same.
    for (const bool platformRefuses : {true, false}) {
        SCOPED_TRACE(platformRefuses ? "deletion refused" : "deletion allowed");
        deleted.clear();
        fp.files.refuseDelete = [&](const WString& path) {
            deleted.push_back(path);
            return platformRefuses && fp.files.canonical(path) == u"D:\\Korvanis\\Login.exe";
        };
        fp.files.put(u"D:\\Korvanis\\Uninstall.list", "\\bin\r\n\\Login.exe\r\n\\.\\LOGIN.EXE\r\n\r\n");
        fp.files.put(u"D:\\Korvanis\\bin\\LauncherDlg.bmp", "1");
        fp.files.put(u"D:\\Korvanis\\bin\\x\\Launcherdlg.bmp", "2");
        fp.files.put(u"D:\\Korvanis\\bin\\y\\old_launcherdlg.bmp", "3");
        fp.files.put(u"D:\\Korvanis\\bin\\z\\LAUNCHERDLG.BMP", "4");  // not one of the three spellings
        fp.files.put(u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll", "plug-in");
        fp.files.put(u"D:\\Korvanis\\Launcher.exe", "client");
        fp.files.put(u"D:\\Korvanis\\LauncherDlg.bmp", "5");
        Run([&](FakeDialog& d, CUninstallDlg& dlg) {
            StartAndFinish(d, dlg);
            // Logged, yet it stays: by its full path where listed, by its
            // name in the walk of its folder.
            EXPECT_NE(Log(d).find(u"\r\nD:\\Korvanis\\Login.exe\r\n"), WString::npos);
            EXPECT_NE(Log(d).find(u"\r\nD:\\Korvanis\\.\\LOGIN.EXE\r\n"), WString::npos);
            EXPECT_NE(Log(d).find(u"\r\nLogin.exe\r\n"), WString::npos);
            EXPECT_EQ(Log(d).find(u"LauncherDlg.bmp"), WString::npos);
        });
        for (const WString& path : deleted)
            EXPECT_NE(fp.files.canonical(path), u"D:\\Korvanis\\Login.exe") << "deletion asked for";
        for (const char16_t* kept : {u"D:\\Korvanis\\bin\\LauncherDlg.bmp", u"D:\\Korvanis\\bin\\x\\Launcherdlg.bmp",
                                     u"D:\\Korvanis\\bin\\y\\old_launcherdlg.bmp", u"D:\\Korvanis\\LauncherDlg.bmp",
                                     u"D:\\Korvanis\\Login.exe"})
            EXPECT_TRUE(Has(kept)) << toUtf8(kept);
        for (const char16_t* gone : {u"D:\\Korvanis\\bin\\z", u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll",
                                     u"D:\\Korvanis\\bin\\sub", u"D:\\Korvanis\\Launcher.exe",
                                     u"D:\\Korvanis\\Uninstall.list"})
            EXPECT_FALSE(Has(gone)) << toUtf8(gone);
    }
}

TEST_F(Uninstaller, AMissingStartMenuFolderIsReportedNearTheEnd) {
    fp.files.deleteFile(WString(kMenu) + u"\\Korvane.lnk");
    fp.files.deleteFile(WString(kMenu) + u"\\卸载游戏.lnk");
    fp.files.removeDirectory(kMenu);
    Run([&](FakeDialog& d, CUninstallDlg& dlg) {
        StartAndFinish(d, dlg);
        EXPECT_EQ(Log(d).substr(Log(d).size() - 9), u"\r\n卸载成功！\r\n");
    });
    ASSERT_EQ(BoxTexts(), (std::vector<WString>{kQuestion, kNoFolder}));
    EXPECT_EQ(fp.ui.boxes[1].caption, u"Login");
    EXPECT_EQ(fp.ui.boxes[1].icon, MsgIcon::None);
}

TEST_F(Uninstaller, NoProgramsFolderMeansNoWalkAtTheDriveRoot) {
    fp.shell.folders.erase(SpecialFolder::Programs);
    fp.files.put(u"C:\\Korvane\\keep.txt", "k");
    Run([&](FakeDialog& d, CUninstallDlg& dlg) { StartAndFinish(d, dlg); });
    EXPECT_TRUE(Has(u"C:\\Korvane\\keep.txt"));
    EXPECT_FALSE(Has(u"D:\\Korvanis\\Launcher.exe"));
}

// ---------------------------------------------------------------- cancelling a run

TEST_F(Uninstaller, CancelDuringAWalkStopsDeletingAndTheWindowWaitsForTheWorker) {
    fp.files.put(u"D:\\Korvanis\\Uninstall.list", "\\bin\r\n\\Launcher.exe\r\n");
    fp.files.put(u"D:\\Korvanis\\bin\\b.dll", "b");
    std::atomic<bool> reached{false}, pressed{false};
    onDelete = [&](const WString&) {
        if (reached.exchange(true)) return;
        Eventually([&] { return pressed.load(); });  // the player presses 取消 now
    };
    Run([&](FakeDialog& d, CUninstallDlg& dlg) {
        dlg.onTimer(kUninstallStartTimer);
        ASSERT_TRUE(Eventually([&] { return reached.load(); }));
        d.click(dlg, IDCANCEL);
        EXPECT_EQ(dlg.m_bRunning.load(), 0);
        EXPECT_FALSE(d.ended);  // not while the worker runs
        pressed = true;
        ASSERT_TRUE(Eventually([&] {
            dlg.onTimer(kUninstallCloseTimer);
            return d.ended;
        }));
        EXPECT_TRUE(dlg.WorkerFinished());
        EXPECT_EQ(Log(d).find(u"卸载成功！"), WString::npos);
    });
    EXPECT_EQ(deleted.size(), 1u);  // the file in hand
    EXPECT_TRUE(Has(u"D:\\Korvanis\\bin\\sub\\a.dat"));
    EXPECT_TRUE(Has(u"D:\\Korvanis\\Launcher.exe"));
    EXPECT_TRUE(Has(WString(kMenu) + u"\\Korvane.lnk"));
    EXPECT_TRUE(Has(WString(kDesktop) + u"\\Korvane.lnk"));
}

TEST_F(Uninstaller, AWindowClosedUnderARunningWorkerWaitsForIt) {
    std::atomic<bool> reached{false};
    std::atomic<CUninstallDlg*> open{nullptr};
    // The worker stands at its first deletion until the window goes away.
    onDelete = [&](const WString&) {
        if (reached.exchange(true)) return;
        Eventually([&] { return open.load()->m_bRunning.load() == 0; });
    };
    Run([&](FakeDialog&, CUninstallDlg& dlg) {
        open = &dlg;
        dlg.onTimer(kUninstallStartTimer);
        ASSERT_TRUE(Eventually([&] { return reached.load(); }));
    });  // the window goes away here: the worker is stopped and waited for
    EXPECT_EQ(deleted.size(), 1u);
    EXPECT_TRUE(Has(u"D:\\Korvanis\\Launcher.exe"));
    EXPECT_TRUE(Has(WString(kMenu) + u"\\Korvane.lnk"));
}

// ---------------------------------------------------------------- plug-in folder

TEST_F(Uninstaller, PluginFolderIsCutBeforeBinAndValuesTooLongForTheBufferCountAsMissing) {
    struct Case { std::optional<WString> value; WString dir; };
    const Case cases[] = {
        {u"D:\\Korvanis\\bin\\npKVNWebPlayer.dll", u"D:\\Korvanis\\"},
        {u"D:\\Korvanis\\Bin\\x\\bin\\np.dll", u"D:\\Korvanis\\"},
        {u"D:\\Korvanis\\np.dll", u"D:\\Korvanis\\np.dll"},
        // Longer than the 62 characters a 127-byte read would take.
        {u"D:\\" + WString(70, u'x') + u"\\bin\\npKVNWebPlayer.dll", u"D:\\" + WString(70, u'x') + u"\\"},
        {WString(254, u'x'), WString(254, u'x')},  // with its terminator: fills 255 units
        {WString(255, u'x'), u""},
        {std::nullopt, u""},
    };
    for (const Case& c : cases) {
        FakePlatform p;
        if (c.value) p.registry.writeUserString(kPluginKey, u"Path", *c.value);
        CUninstallDlg dlg(p.platform);
        EXPECT_EQ(dlg.ReadPluginDir(), c.dir != u"" || (c.value && c.value->empty()));
        EXPECT_EQ(dlg.m_szPluginDir.str(), c.dir);
    }
}

TEST_F(Uninstaller, GameCheckAndLauncherFolderRules) {
    fp.processes.running = std::vector<WString>{u"Korvanis.exe.bak", u"xKorvanis.exe"};
    EXPECT_FALSE(IsGameRunning(fp.platform));
    fp.processes.running = std::vector<WString>{u"KORVANIS.EXE"};
    EXPECT_TRUE(IsGameRunning(fp.platform));

    EXPECT_EQ(GetLauncherFolder(fp.platform), u"D:\\Korvanis");
    fp.system.moduleFile = u"Login.exe";
    EXPECT_EQ(GetLauncherFolder(fp.platform), u"");
    fp.system.moduleFile = u"D:\\" + WString(260, u'K') + u"\\Login.exe";
    EXPECT_EQ(GetLauncherFolder(fp.platform), u"");
}

}  // namespace
}  // namespace kvn
