// The GTK windows: the hand-over onto the GTK thread, what the controls
// show, and the background styles. Needs a display (Xvfb).
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/embedded_resources.h"
#include "platform/linux/paths.h"
#include "platform/linux/ui_gtk.h"
#include "platform/text.h"
#include "res/resource.h"
#include "update/complete_files.h"

using namespace kvn;
using kvn::linuxp::UiDialog;
using kvn::linuxp::UiImageButton;

namespace {

// A dialog handler made of functions; the dialog ends at once unless the
// init function keeps it open.
struct Handler : DialogHandler {
    std::function<void(Dialog&)> init, destroy;
    std::function<void(Dialog&, int)> timer;
    Dialog* dialog = nullptr;
    std::vector<int> commands;
    int oks = 0, cancels = 0;
    bool onInitDialog(Dialog& d) override {
        dialog = &d;
        if (init) init(d);
        return true;
    }
    void onCommand(int id) override { commands.push_back(id); }
    void onOK() override { ++oks; }
    void onCancel() override { ++cancels; }
    void onTimer(int id) override {
        if (timer) timer(*dialog, id);
    }
    void onDestroy() override {
        if (destroy) destroy(*dialog);
    }
};

class GtkWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
    void SetUp() override {
        ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    }
    linuxp::GtkUi ui;
};

// ---------------------------------------------------------------- hand-over

TEST_F(GtkWindows, AWorkersCallWaitsForTheLoopAndRunsOnTheGtkThread) {
    const auto gtkThread = std::this_thread::get_id();
    std::atomic<bool> initReturned{false}, calling{false};
    std::thread::id ranOn;
    bool ranAfterInit = false;
    std::thread worker;
    Handler h;
    h.init = [&](Dialog& d) {
        worker = std::thread([&, &d = d] {
            calling = true;
            d.runOnDialogThread([&] {
                ranOn = std::this_thread::get_id();
                ranAfterInit = initReturned.load();
                d.endDialog(7);
            });
        });
        // The worker asks while the window is still being set up.
        while (!calling) std::this_thread::yield();
        initReturned = true;
    };
    EXPECT_EQ(ui.runModal(IDD_UNINSTALL_DIALOG, h, nullptr), 7);
    worker.join();
    EXPECT_EQ(ranOn, gtkThread);
    EXPECT_TRUE(ranAfterInit);
}

TEST_F(GtkWindows, AWorkersBoxRunsOnTheGtkThreadWhileAWindowIsOpen) {
    std::thread worker;
    std::atomic<int> answer{-1};
    std::string seenTitle;
    Handler h;
    h.init = [&](Dialog& d) {
        d.setTimer(1, 20);
        worker = std::thread([&] {
            answer = int(ui.messageBox(nullptr, u"解压失败", u"Login", MsgButtons::OkCancel,
                                       MsgIcon::Warning));
        });
    };
    // The box's own loop keeps the window's timer going: it answers the box.
    h.timer = [&](Dialog& d, int) {
        if (answer.load() != -1) {
            d.endDialog(0);
            return;
        }
        GList* all = gtk_window_list_toplevels();
        for (GList* it = all; it; it = it->next)
            if (GTK_IS_MESSAGE_DIALOG(it->data) && gtk_widget_get_visible(GTK_WIDGET(it->data))) {
                seenTitle = gtk_window_get_title(GTK_WINDOW(it->data));
                gtk_dialog_response(GTK_DIALOG(it->data), GTK_RESPONSE_OK);
            }
        g_list_free(all);
    };
    ui.runModal(IDD_UNINSTALL_DIALOG, h, nullptr);
    worker.join();
    EXPECT_EQ(seenTitle, "Login");
    EXPECT_EQ(answer.load(), int(MsgResult::Ok));
}

TEST_F(GtkWindows, OnceTheWindowsAreGoneWorkersGetDefaultsAndTheirCallsAreDropped) {
    // The handler waits for its worker when the window goes, while the
    // worker keeps calling the window: neither may wait for the other.
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread worker;
    Handler h;
    h.init = [&](Dialog& d) {
        worker = std::thread([&, &d = d] {
            while (!stop) {
                d.runOnDialogThread([&] { ++calls; });
                d.control(IDC_UNINSTALL_LOG)->setText(u"x");
            }
        });
        d.setTimer(1, 10);
    };
    h.timer = [&](Dialog& d, int) {
        if (calls.load() > 3) d.endDialog(1);
    };
    h.destroy = [&](Dialog&) {
        stop = true;
        worker.join();
    };
    EXPECT_EQ(ui.runModal(IDD_UNINSTALL_DIALOG, h, nullptr), 1);

    // The dialog object outlives its window; calls aimed at it are dropped.
    Dialog* gone = h.dialog;
    ASSERT_NE(gone, nullptr);
    EXPECT_FALSE(gone->exists());
    std::atomic<bool> ran{false};
    std::atomic<int> ok{-1}, okCancel{-1};
    std::thread late([&] {
        gone->runOnDialogThread([&] { ran = true; });
        gone->control(IDCANCEL)->setText(u"确定");
        gone->setTimer(2, 10);
        ok = int(ui.messageBox(gone, u"解压失败", u"Login", MsgButtons::Ok, MsgIcon::Warning));
        okCancel = int(ui.messageBox(nullptr, u"?", u"Login", MsgButtons::OkCancel, MsgIcon::None));
    });
    late.join();
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(ok.load(), int(MsgResult::Ok));
    EXPECT_EQ(okCancel.load(), int(MsgResult::Cancel));

    // A new window opens the way for workers' calls again.
    std::thread::id ranOn;
    Handler again;
    again.init = [&](Dialog& d) {
        worker = std::thread([&, &d = d] {
            d.runOnDialogThread([&] {
                ranOn = std::this_thread::get_id();
                d.endDialog(2);
            });
        });
    };
    EXPECT_EQ(ui.runModal(IDD_UNINSTALL_DIALOG, again, nullptr), 2);
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

// ---------------------------------------------------------------- controls

TEST_F(GtkWindows, AButtonsTextChangeFromAWorkerIsWhatItsLabelReads) {
    std::string label;
    WString readBack;
    std::thread worker;
    Handler h;
    h.init = [&](Dialog& d) {
        worker = std::thread([&, &d = d] {
            d.control(IDCANCEL)->setText(u"确定");
            readBack = d.control(IDCANCEL)->text();
            d.runOnDialogThread([&] {
                auto* button = dynamic_cast<linuxp::UiControl*>(d.control(IDCANCEL));
                label = gtk_button_get_label(GTK_BUTTON(button->widget()));
                d.endDialog(0);
            });
        });
    };
    ui.runModal(IDD_UNINSTALL_DIALOG, h, nullptr);
    worker.join();
    EXPECT_EQ(label, "确定");
    EXPECT_EQ(readBack, u"确定");
}

// The uninstall log's CR LF line ends show as one line end each, as on
// Windows: no empty line between entries, no visible CR.
TEST_F(GtkWindows, TheLogShowsOneLinePerCrLfEntry) {
    std::vector<std::string> lines;
    Handler h;
    h.init = [&](Dialog& d) {
        EditBox* log = d.editBox(IDC_UNINSTALL_LOG);
        ASSERT_TRUE(log);
        log->setText(u"正在卸载以下文件：\r\n");
        log->append(u"C:\\Korvanis/Launcher.exe\r\n");
        log->append(u"卸载成功！\r\n");
        EXPECT_EQ(log->text(), u"正在卸载以下文件：\r\nC:\\Korvanis/Launcher.exe\r\n卸载成功！\r\n");
        auto* box = dynamic_cast<linuxp::UiControl*>(log);
        GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(box->widget()))));
        for (int i = 0; i < gtk_text_buffer_get_line_count(buf); ++i) {
            GtkTextIter a, b;
            gtk_text_buffer_get_iter_at_line(buf, &a, i);
            b = a;
            if (!gtk_text_iter_ends_line(&b)) gtk_text_iter_forward_to_line_end(&b);
            gchar* t = gtk_text_buffer_get_text(buf, &a, &b, FALSE);
            lines.push_back(t);
            g_free(t);
        }
        d.endDialog(0);
    };
    ui.runModal(IDD_UNINSTALL_DIALOG, h, nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"正在卸载以下文件：", "C:\\Korvanis/Launcher.exe", "卸载成功！", ""}));
}

// Sends a made-up pointer event to a widget.
void Send(GtkWidget* w, GdkEventType type, double x, double y, guint state = 0) {
    GdkEvent* e = gdk_event_new(type);
    e->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(w)));
    e->any.send_event = TRUE;
    switch (type) {
        case GDK_ENTER_NOTIFY: case GDK_LEAVE_NOTIFY:
            e->crossing.x = x, e->crossing.y = y, e->crossing.state = state;
            break;
        case GDK_MOTION_NOTIFY:
            e->motion.x = x, e->motion.y = y, e->motion.state = state;
            break;
        default:
            e->button.x = x, e->button.y = y, e->button.button = 1, e->button.state = state;
    }
    gtk_widget_event(w, e);
    gdk_event_free(e);
}

void SendFocus(GtkWidget* window, bool in) {
    GdkEvent* e = gdk_event_new(GDK_FOCUS_CHANGE);
    e->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    e->focus_change.send_event = TRUE;
    e->focus_change.in = in;
    gtk_widget_event(window, e);
    gdk_event_free(e);
}

// Sends a made-up key event to the window, which hands it to its focus.
void SendKey(GtkWidget* window, GdkEventType type, guint keyval) {
    GdkEvent* e = gdk_event_new(type);
    e->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    e->key.send_event = TRUE;
    e->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval,
                                          &keys, &n) && n > 0)
        e->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    g_free(keys);
    gdk_event_set_device(e, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(window, e);
    gdk_event_free(e);
}

TEST_F(GtkWindows, BitmapButtonsFollowThePointerAndTheKeysAndTheCheckState) {
    enum Step { Enter, DragIn, Press, Out, In, Release, Deactivate, Focus, Unfocus, EnterKey, SpaceDown, SpaceUp, Esc };
    struct Case {
        const char* name;
        bool checkBox, checkedBefore;
        std::vector<Step> steps;
        bool inImage, pressed, clicked, focused;
        int check;
        int oks, cancels;  // the dialog's own Enter and Esc
    } cases[] = {
        {"hover shows the in image", false, false, {Enter}, true, false, false, false, 0, 0, 0},
        {"a held press over the button", false, false, {Enter, Press}, true, true, false, false, 0, 0, 0},
        {"a held press moved off the button", false, false, {Enter, Press, Out}, false, false, false, false, 0, 0, 0},
        {"a held press back over the button", false, false, {Enter, Press, Out, In}, true, true, false, false, 0, 0, 0},
        {"released off the button: no click", false, false, {Enter, Press, Out, Release}, false, false, false, false, 0, 0, 0},
        {"a click takes the focus", false, false, {Enter, Press, Release}, true, false, true, true, 0, 0, 0},
        {"a press dragged in from elsewhere", false, false, {DragIn}, false, false, false, false, 0, 0, 0},
        {"the window loses activation", false, false, {Enter, Deactivate}, false, false, false, false, 0, 0, 0},
        {"a press on an unchecked box", true, false, {Enter, Press}, false, false, false, false, 0, 0, 0},
        {"a click checks the box", true, false, {Enter, Press, Release}, true, false, true, true, 1, 0, 0},
        {"a click leaves a checked box checked", true, true, {Enter, Press, Release}, true, false, true, true, 1, 0, 0},
        {"a checked box without the pointer", true, true, {Enter, Out}, true, false, false, false, 1, 0, 0},
        // The keyboard: Enter and Space click a focused button, Enter and
        // Esc elsewhere are the dialog's, Esc is the dialog's everywhere.
        {"Enter clicks a focused button", false, false, {Focus, EnterKey}, false, false, true, true, 0, 0, 0},
        {"Enter checks a focused box", true, false, {Focus, EnterKey}, true, false, true, true, 1, 0, 0},
        {"Space held down", false, false, {Focus, SpaceDown}, true, true, false, true, 0, 0, 0},
        {"Space released clicks", false, false, {Focus, SpaceDown, SpaceUp}, false, false, true, true, 0, 0, 0},
        {"Space checks a focused box", true, false, {Focus, SpaceDown, SpaceUp}, true, false, true, true, 1, 0, 0},
        {"Space held while the focus leaves", false, false, {Focus, SpaceDown, Unfocus, SpaceUp}, false, false, false, false, 0, 0, 0},
        {"Enter with no button focused", false, false, {EnterKey}, false, false, false, false, 0, 1, 0},
        {"Esc on a focused button", false, false, {Focus, Esc}, false, false, false, true, 0, 0, 1},
    };
    Handler h;
    h.init = [&](Dialog& d) {
        for (int id : {IDC_BTN_CLOSE, IDC_CHK_LEVEL0}) {
            ImageButton* b = d.imageButton(id);
            ASSERT_EQ(b->setImages(id == IDC_BTN_CLOSE ? IDB_CLOSE_IN : IDB_LEVEL_IN,
                                   id == IDC_BTN_CLOSE ? IDB_CLOSE_OUT : IDB_LEVEL_OUT), 0);
            b->sizeToImage();
        }
        d.setTimer(1, 10);  // the window is shown by then
    };
    h.timer = [&](Dialog& d, int) {
        auto& dialog = dynamic_cast<UiDialog&>(d);
        GtkWidget* window = dialog.window();
        GtkWidget* close = dynamic_cast<UiImageButton*>(d.imageButton(IDC_BTN_CLOSE))->widget();
        if (!gtk_widget_get_mapped(close) || gtk_widget_get_allocated_width(close) < 20)
            return;  // not laid out yet
        d.killTimer(1);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            auto* b = dynamic_cast<UiImageButton*>(d.imageButton(c.checkBox ? IDC_CHK_LEVEL0 : IDC_BTN_CLOSE));
            GtkWidget* w = b->widget();
            b->deactivated();
            b->setCheck(c.checkedBefore ? 1 : 0);
            gtk_window_set_focus(GTK_WINDOW(window), nullptr);
            SendFocus(window, true);
            h.commands.clear();
            h.oks = h.cancels = 0;
            double x = 3;  // where the pointer is
            for (Step s : c.steps) {
                switch (s) {
                    case Enter: Send(w, GDK_ENTER_NOTIFY, x = 3, 3); break;
                    case DragIn: Send(w, GDK_ENTER_NOTIFY, 3, 3, GDK_BUTTON1_MASK);
                                 Send(w, GDK_MOTION_NOTIFY, 4, 4, GDK_BUTTON1_MASK); break;
                    case Press: Send(w, GDK_BUTTON_PRESS, 3, 3); break;
                    case Out: Send(w, GDK_MOTION_NOTIFY, x = -20, 3, GDK_BUTTON1_MASK);
                              Send(w, GDK_LEAVE_NOTIFY, -20, 3, GDK_BUTTON1_MASK); break;
                    case In: Send(w, GDK_ENTER_NOTIFY, x = 3, 3, GDK_BUTTON1_MASK);
                             Send(w, GDK_MOTION_NOTIFY, 3, 3, GDK_BUTTON1_MASK); break;
                    case Release: Send(w, GDK_BUTTON_RELEASE, x, 3); break;
                    case Deactivate: SendFocus(window, false); break;
                    case Focus: gtk_widget_grab_focus(w); break;
                    case Unfocus: gtk_window_set_focus(GTK_WINDOW(window), nullptr); break;
                    case EnterKey: SendKey(window, GDK_KEY_PRESS, GDK_KEY_Return); break;
                    case SpaceDown: SendKey(window, GDK_KEY_PRESS, GDK_KEY_space); break;
                    case SpaceUp: SendKey(window, GDK_KEY_RELEASE, GDK_KEY_space); break;
                    case Esc: SendKey(window, GDK_KEY_PRESS, GDK_KEY_Escape); break;
                }
            }
            EXPECT_EQ(b->showsInImage(), c.inImage);
            EXPECT_EQ(b->showsPressed(), c.pressed);
            EXPECT_EQ(!h.commands.empty(), c.clicked);
            EXPECT_EQ(gtk_widget_is_focus(w), c.focused);
            EXPECT_EQ(b->checkState(), c.check);
            EXPECT_EQ(h.oks, c.oks);
            EXPECT_EQ(h.cancels, c.cancels);
        }
        d.endDialog(0);
    };
    ui.runModal(IDD_LAUNCHER_DIALOG, h, nullptr);
}

// The colour of one pixel of what a widget draws over a magenta canvas.
std::uint32_t PixelDrawn(GtkWidget* w, int x, int y) {
    const int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 0, 1);
    cairo_paint(cr);
    gtk_widget_draw(w, cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    const auto* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    const std::uint32_t px = reinterpret_cast<const std::uint32_t*>(row)[x] & 0xFFFFFF;
    cairo_surface_destroy(s);
    return px;
}

TEST_F(GtkWindows, OnlyTheKnownBackgroundStylesDraw) {
    constexpr std::uint32_t kCanvas = 0xFF00FF;
    const struct {
        int style;
        bool drawn;
    } cases[] = {{0, true}, {1, true}, {2, true}, {3, true}, {4, true}, {5, false}, {-1, false}, {99, false}};
    Handler h;
    h.init = [&](Dialog& d) {
        ASSERT_TRUE(d.setBackgroundFile(
            linuxp::WindowsPath(KVN_SOURCE_DIR "/standins/site/download/LauncherDlg.bmp")));
        d.setBackgroundStyle(4);
        d.setTimer(1, 10);
    };
    h.timer = [&](Dialog& d, int) {
        GtkWidget* fixed = dynamic_cast<UiDialog&>(d).fixed();
        if (!gtk_widget_get_mapped(fixed) || gtk_widget_get_allocated_width(fixed) < 1035)
            return;  // not shown yet
        d.killTimer(1);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.style);
            d.setBackgroundStyle(c.style);
            EXPECT_EQ(PixelDrawn(fixed, 500, 300) != kCanvas, c.drawn);
        }
        d.endDialog(0);
    };
    ui.runModal(IDD_LAUNCHER_DIALOG, h, nullptr);
}

// Every bitmap of the fuzz corpus that the complete-file check admits loads
// with the size the check read; among them compressed streams that end
// early or run past the picture, and whole bitmaps whose size field makes
// a content guess take them for another kind of file.
TEST(BitmapLoading, WhatTheCheckAdmitsTheBackendLoads) {
    int admitted = 0;
    for (const auto& entry : std::filesystem::directory_iterator(KVN_SOURCE_DIR "/fuzz/corpus/bitmap")) {
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto size = CompleteBitmapSize(bytes);
        if (!size) continue;
        ++admitted;
        GdkPixbuf* picture = linuxp::LoadBmpFile(entry.path().string());
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(gdk_pixbuf_get_width(picture), size->width);
        EXPECT_EQ(gdk_pixbuf_get_height(picture), size->height);
        g_object_unref(picture);
    }
    EXPECT_GE(admitted, 10);
    EXPECT_EQ(linuxp::LoadBmpFile(KVN_SOURCE_DIR "/no/such/LauncherDlg.bmp"), nullptr);
    EXPECT_EQ(linuxp::LoadBmpFile(KVN_SOURCE_DIR "/README.md"), nullptr);
}

// The program carries its pictures: every button bitmap at the size the
// launcher's button table gives it, and the icon; an id it does not carry
// gives nothing. (The program never looks in a folder: this runs from the
// build tree, where a folder could be found, and the e2e check of the
// installed package shows the same from outside it.)
TEST(BitmapLoading, TheProgramCarriesItsBitmapsAndItsIcon) {
    const struct { int in, out, width, height; } buttons[] = {
        {IDB_CLOSE_IN, IDB_CLOSE_OUT, 25, 26},           {IDB_MINIMIZE_IN, IDB_MINIMIZE_OUT, 25, 26},
        {IDB_VIDEO_IN, IDB_VIDEO_OUT, 103, 23},          {IDB_LEVEL_IN, IDB_LEVEL_OUT, 172, 172},
        {IDB_VIDEO_SAVE_IN, IDB_VIDEO_SAVE_OUT, 106, 27}, {IDB_VIDEO_CLOSE_IN, IDB_VIDEO_CLOSE_OUT, 106, 27},
    };
    for (const auto& b : buttons) {
        for (int id : {b.in, b.out}) {
            SCOPED_TRACE(id);
            GdkPixbuf* picture = linuxp::LoadBitmapResource(id);
            ASSERT_NE(picture, nullptr);
            EXPECT_EQ(gdk_pixbuf_get_width(picture), b.width);
            EXPECT_EQ(gdk_pixbuf_get_height(picture), b.height);
            g_object_unref(picture);
        }
    }
    GdkPixbuf* icon = linuxp::LoadIconResource(IDR_MAINFRAME);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), 32);
    EXPECT_EQ(gdk_pixbuf_get_height(icon), 32);
    g_object_unref(icon);
    // 136 is no bitmap of the program's; an icon is not a bitmap.
    EXPECT_EQ(linuxp::LoadBitmapResource(136), nullptr);
    EXPECT_EQ(linuxp::LoadBitmapResource(IDR_MAINFRAME), nullptr);
    EXPECT_EQ(linuxp::LoadIconResource(IDB_CLOSE_IN), nullptr);
}

}  // namespace
