// Special folders and shell links, which are desktop entries here.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gdesktopappinfo.h>
#include <glib.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "tests/linux/linux_test_support.h"

using namespace kvn;
using kvntest::Slurp;
using kvntest::Spit;

namespace {

struct ShellTest : kvntest::ScratchTest {
    Shell& shell() { return svc().shell(); }
};

// The desktop entry's Exec line as the desktop would run it.
std::vector<std::string> ExecArgv(const std::string& desktopFile) {
    std::vector<std::string> out;
    GKeyFile* kf = g_key_file_new();
    if (g_key_file_load_from_file(kf, desktopFile.c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar* exec = g_key_file_get_string(kf, "Desktop Entry", "Exec", nullptr);
        gint argc = 0;
        gchar** argv = nullptr;
        if (exec && g_shell_parse_argv(exec, &argc, &argv, nullptr)) {
            for (gint i = 0; i < argc; ++i) out.emplace_back(argv[i]);
            g_strfreev(argv);
        }
        g_free(exec);
    }
    g_key_file_free(kf);
    return out;
}

std::string EntryValue(const std::string& desktopFile, const char* key) {
    GKeyFile* kf = g_key_file_new();
    std::string out = "<missing>";
    if (g_key_file_load_from_file(kf, desktopFile.c_str(), G_KEY_FILE_NONE, nullptr)) {
        if (gchar* v = g_key_file_get_string(kf, "Desktop Entry", key, nullptr)) {
            out = v;
            g_free(v);
        }
    }
    g_key_file_free(kf);
    return out;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

TEST_F(ShellTest, SpecialFoldersComeFromXdgAndAreMadeOwnerOnlyWhenMissing) {
    // A fresh account: no desktop folder, a data folder not made yet.
    env.set("XDG_DATA_HOME", root + "/fresh/share");
    auto desktop = shell().specialFolderPath(SpecialFolder::Desktop);
    ASSERT_TRUE(desktop);
    EXPECT_EQ(kvn::linuxp::NativePath(*desktop), root + "/home/Desktop");
    auto programs = shell().specialFolderPath(SpecialFolder::Programs);
    ASSERT_TRUE(programs);
    EXPECT_EQ(kvn::linuxp::NativePath(*programs), root + "/fresh/share/applications");
    for (const char* made : {"/home/Desktop", "/fresh", "/fresh/share", "/fresh/share/applications"})
        EXPECT_EQ(ModeOf(root + made), 0700u) << made;
    // Folders that exist keep their mode.
    std::filesystem::create_directories(root + "/data/applications");
    ::chmod((root + "/data/applications").c_str(), 0755);
    env.set("XDG_DATA_HOME", root + "/data");
    programs = shell().specialFolderPath(SpecialFolder::Programs);
    ASSERT_TRUE(programs);
    EXPECT_EQ(kvn::linuxp::NativePath(*programs), root + "/data/applications");
    EXPECT_EQ(ModeOf(root + "/data/applications"), 0755u);

    // The user's own desktop folder, by its local name.
    Spit(root + "/config/user-dirs.dirs",
         "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/文档\"\n"
         "XDG_DESKTOP_DIR=\"$HOME/桌面\"\n");
    desktop = shell().specialFolderPath(SpecialFolder::Desktop);
    ASSERT_TRUE(desktop);
    EXPECT_EQ(kvn::linuxp::NativePath(*desktop), root + "/home/桌面");

    // Inside a drive the folder reads with its letter.
    env.set("XDG_DATA_HOME", d + "/share");
    EXPECT_EQ(shell().specialFolderPath(SpecialFolder::Programs), WString(u"D:\\share\\applications"));
}

TEST_F(ShellTest, ALinkIsSavedAsADesktopEntryAndReadsBack) {
    std::filesystem::create_directories(d + "/Korvanis");
    Spit(d + "/Korvanis/Login.exe", "#!/bin/sh\n");
    ::chmod((d + "/Korvanis/Login.exe").c_str(), 0755);
    auto programs = shell().specialFolderPath(SpecialFolder::Programs);
    ASSERT_TRUE(programs);
    std::filesystem::create_directories(root + "/data/applications/Korvane");
    const WString linkPath = *programs + u"/Korvane/卸载游戏.lnk";

    auto link = shell().createShellLink();
    ASSERT_NE(link, nullptr);
    link->setPath(u"D:\\Korvanis/Login.exe");
    link->setIconLocation(u"D:\\Korvanis/Login.exe", 0);
    link->setWorkingDirectory(u"D:/");
    link->setArguments(u"-Uninstall");
    ASSERT_TRUE(link->save(linkPath));

    const std::string file = root + "/data/applications/Korvane/卸载游戏.desktop";
    ASSERT_TRUE(kvntest::NativeExists(file));
    EXPECT_EQ(EntryValue(file, "Type"), "Application");
    EXPECT_EQ(EntryValue(file, "Name"), "卸载游戏");
    EXPECT_EQ(ExecArgv(file), (std::vector<std::string>{d + "/Korvanis/Login.exe", "-Uninstall"}));
    EXPECT_EQ(EntryValue(file, "Path"), d);
    // The icon is the launcher's own, as a PNG beside the program, never
    // the program file itself.
    EXPECT_EQ(EntryValue(file, "Icon"), d + "/Korvanis/Login.png");
    GdkPixbuf* icon = gdk_pixbuf_new_from_file((d + "/Korvanis/Login.png").c_str(), nullptr);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), 32);
    EXPECT_EQ(gdk_pixbuf_get_height(icon), 32);
    g_object_unref(icon);
    // GIO accepts it as an application entry and finds that icon file.
    GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(file.c_str());
    ASSERT_NE(info, nullptr);
    GIcon* gicon = g_app_info_get_icon(G_APP_INFO(info));
    ASSERT_TRUE(gicon && G_IS_FILE_ICON(gicon));
    gchar* iconFile = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(gicon)));
    EXPECT_EQ(std::string(iconFile ? iconFile : ""), d + "/Korvanis/Login.png");
    g_free(iconFile);
    g_object_unref(info);

    auto back = shell().readShellLink(linkPath);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->target, u"D:\\Korvanis/Login.exe");
    EXPECT_EQ(back->workingDirectory, u"D:/");
    EXPECT_EQ(back->arguments, u"-Uninstall");
    EXPECT_EQ(back->iconPath, u"D:\\Korvanis/Login.exe");
    EXPECT_EQ(back->iconIndex, 0);
}

TEST_F(ShellTest, ADesktopLinkWithoutIconOrArgumentsAndAnAwkwardFolder) {
    std::filesystem::create_directories(root + "/home/Desktop");
    auto link = shell().createShellLink();
    ASSERT_NE(link, nullptr);
    // A folder name with a line break and a trailing blank (possible on
    // Linux) must neither end the entry's lines nor lose its blank.
    const WString installDir = u"D:\\My $Games \"x\"\n2 ";
    link->setPath(installDir + u"/Login.exe");
    link->setWorkingDirectory(installDir);
    auto desktop = shell().specialFolderPath(SpecialFolder::Desktop);
    ASSERT_TRUE(desktop);
    const WString linkPath = *desktop + u"/Korvane.lnk";
    ASSERT_TRUE(link->save(linkPath));

    const std::string file = root + "/home/Desktop/Korvane.desktop";
    EXPECT_EQ(ExecArgv(file), std::vector<std::string>{d + "/My $Games \"x\"\n2 /Login.exe"});
    EXPECT_EQ(EntryValue(file, "Path"), d + "/My $Games \"x\"\n2 ");
    // No icon set: the target's, which needs the target's folder to exist.
    EXPECT_EQ(EntryValue(file, "Icon"), "<missing>");
    std::filesystem::create_directories(d + "/My $Games \"x\"\n2 ");
    ASSERT_TRUE(link->save(linkPath));
    EXPECT_EQ(EntryValue(file, "Icon"), d + "/My $Games \"x\"\n2 /Login.png");
    EXPECT_TRUE(kvntest::NativeExists(d + "/My $Games \"x\"\n2 /Login.png"));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);  // desktops launch only executable entries

    auto back = shell().readShellLink(linkPath);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->target, installDir + u"/Login.exe");
    EXPECT_EQ(back->workingDirectory, installDir);
    EXPECT_EQ(back->arguments, u"");
    EXPECT_EQ(back->iconPath, u"");
}

// Polls for a file with a bounded deadline.
bool WaitForFile(const std::string& native) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        if (kvntest::NativeExists(native)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST_F(ShellTest, TheDesktopStartsTheTargetWithItsArgumentsInItsFolder) {
    // GIO may report launches on the session bus; there is none here.
    env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root + "/no-bus");
    std::filesystem::create_directories(root + "/data/applications/Korvane");
    const WString linkPath = *shell().specialFolderPath(SpecialFolder::Programs) + u"/Korvane/卸载游戏.lnk";
    const std::string file = root + "/data/applications/Korvane/卸载游戏.desktop";
    // Install folders as a drive may hold them. The entry must be taken by
    // GIO and start exactly that program, with the arguments split as
    // Windows splits them, or not be written at all.
    const struct Case {
        std::string folder;
        const char* arguments;
        std::vector<std::string> argv;
        bool written;
    } cases[] = {
        {"100 sure", "-Uninstall \"two words\" 50%$HOME", {"-Uninstall", "two words", "50%$HOME"}, true},
        {"100%", "-Uninstall", {"-Uninstall"}, true},
        {"%f %u %%", "", {}, true},
        {"a=b%c", "", {}, true},
        {"say \"hi\" 'there'", "-Uninstall", {"-Uninstall"}, true},
        {"back\\slash\\", "", {}, true},
        {"$HOME `id` $(id)", "", {}, true},
        {"~ & | ; < > * ? # ( ) [x]", "", {}, true},
        {" 游戏 tab\there ", "", {}, true},
        {"line\nbreak", "", {}, true},
        {"latin1 \xe9t\xe9", "-Uninstall", {}, false},  // not UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string folder = d + "/" + c.folder;
        std::filesystem::create_directories(folder);
        Spit(folder + "/Login.exe",
             "#!/bin/sh\nprintf '%s|' \"$0\" \"$(pwd)\" \"$@\" > \"" + root + "/ran.tmp\"\n"
             "mv \"" + root + "/ran.tmp\" \"" + root + "/ran.txt\"\n");
        ::chmod((folder + "/Login.exe").c_str(), 0755);
        std::filesystem::remove(file);
        std::filesystem::remove(root + "/ran.txt");

        const WString target = u"D:\\" + kvn::linuxp::EncodeName(c.folder) + u"/Login.exe";
        auto link = shell().createShellLink();
        link->setPath(target);
        link->setIconLocation(target, 0);
        link->setWorkingDirectory(u"D:/");
        link->setArguments(fromUtf8(c.arguments));
        EXPECT_EQ(link->save(linkPath), c.written);
        if (!c.written) {  // no dead entry, and nothing made for one
            EXPECT_FALSE(kvntest::NativeExists(file));
            EXPECT_FALSE(kvntest::NativeExists(folder + "/Login.png"));
            continue;
        }

        GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(file.c_str());
        EXPECT_NE(info, nullptr) << "GIO refused:\n" << Slurp(file);
        if (!info) continue;
        GError* error = nullptr;
        const gboolean launched = g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &error);
        EXPECT_TRUE(launched) << (error ? error->message : "");
        if (error) g_error_free(error);
        g_object_unref(info);
        if (!launched) continue;
        ASSERT_TRUE(WaitForFile(root + "/ran.txt"));
        std::string expected = folder + "/Login.exe|" + d + "|";
        for (const auto& arg : c.argv) expected += arg + "|";
        EXPECT_EQ(Slurp(root + "/ran.txt"), expected);
        auto back = shell().readShellLink(linkPath);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->target, target);
        EXPECT_EQ(back->arguments, fromUtf8(c.arguments));
    }
}

TEST_F(ShellTest, SavingAgainReplacesTheOldLink) {
    std::filesystem::create_directories(root + "/home/Desktop");
    const WString linkPath = u"Z:" + fromUtf8(root) + u"/home/Desktop/Korvane.lnk";
    for (const WString target : {u"C:\\Korvanis/Login.exe", u"D:\\Korvanis/Login.exe"}) {
        auto link = shell().createShellLink();
        link->setPath(target);
        ASSERT_TRUE(link->save(linkPath));
    }
    auto back = shell().readShellLink(linkPath);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->target, u"D:\\Korvanis/Login.exe");
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(root + "/home/Desktop")) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(ShellTest, NoLinkIsWrittenIntoAMissingFolderAndOthersDoNotRead) {
    auto link = shell().createShellLink();
    link->setPath(u"D:\\Korvanis/Login.exe");
    EXPECT_FALSE(link->save(u"D:\\no\\such\\Korvane.lnk"));
    EXPECT_FALSE(kvntest::NativeExists(d + "/no"));
    EXPECT_FALSE(shell().readShellLink(u"D:\\no\\such\\Korvane.lnk").has_value());
    // A desktop entry that this program did not write is no link of ours.
    Spit(d + "/foreign.desktop", "[Desktop Entry]\nType=Application\nExec=/bin/true\n");
    EXPECT_FALSE(shell().readShellLink(u"D:\\foreign.lnk").has_value());
}

}  // namespace
