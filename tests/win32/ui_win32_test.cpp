// The Win32 windows under Wine (or Windows): dialog message routing, the
// bitmap button's transparency and states, the text progress bar's
// painting, calls from other threads, the log box, the skin and the web view.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/win32/ui_win32.h"
#include "update/complete_files.h"

#include <exdispid.h>
#include <mshtmhst.h>
#include <shobjidl.h>

#include <optional>

#include "platform/text.h"
#include "platform/win32/services.h"
#include "tests/fake/fake_platform.h"
#include "webview/web_browser.h"

namespace kvn::win32 {
namespace {

constexpr int kButton = 10, kCheck = 11, kProgress = 12, kEdit = 13;

// A dialog template in memory: a pop-up with a push button, an automatic
// check box, a progress bar and a multi-line read-only edit.
class TemplateBuilder {
public:
    TemplateBuilder() {
        dword(WS_POPUP | WS_VISIBLE);
        dword(0);
        word(4);  // items
        word(0); word(0); word(200); word(100);
        word(0); word(0); text(L"");  // no menu, default class, no title
        item(BS_PUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 20, 10, kButton, 0x0080);
        item(BS_AUTOCHECKBOX | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 30, 0, 20, 10, kCheck, 0x0080);
        item(WS_CHILD | WS_VISIBLE, 0, 20, 100, 8, kProgress, 0, L"msctls_progress32");
        item(ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_CHILD | WS_VISIBLE, 0, 40, 100,
             40, kEdit, 0x0081);
    }
    const DLGTEMPLATE* get() {
        storage_.assign((words_.size() + 1) / 2, 0);
        std::memcpy(storage_.data(), words_.data(), words_.size() * sizeof(WORD));
        return reinterpret_cast<const DLGTEMPLATE*>(storage_.data());
    }

private:
    void word(WORD w) { words_.push_back(w); }
    void dword(DWORD d) {
        word(LOWORD(d));
        word(HIWORD(d));
    }
    void text(const wchar_t* s) {
        for (; *s; ++s) word(static_cast<WORD>(*s));
        word(0);
    }
    void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
              const wchar_t* className = nullptr) {
        if (words_.size() % 2) word(0);  // items start on a DWORD boundary
        dword(style);
        dword(0);
        word(x); word(y); word(cx); word(cy);
        word(id);
        if (className) {
            text(className);
        } else {
            word(0xFFFF);
            word(atom);
        }
        text(L"");
        word(0);  // no creation data
    }
    std::vector<WORD> words_;
    std::vector<DWORD> storage_;
};

// A handler whose reactions each test writes.
struct Handler : DialogHandler {
    std::function<void(Dialog&)> init;
    std::function<void(int)> command, timer;
    int oks = 0, cancels = 0, destroys = 0;
    Dialog* dialog = nullptr;
    bool onInitDialog(Dialog& d) override {
        dialog = &d;
        if (init) init(d);
        return true;
    }
    void onCommand(int id) override {
        if (command) command(id);
    }
    void onTimer(int id) override {
        if (timer) timer(id);
    }
    void onOK() override { ++oks; }
    void onCancel() override { ++cancels; }
    void onDestroy() override { ++destroys; }
};

Win32Ui& TheUi() {
    static Win32Ui ui;  // its dialogs live as long as the process
    static bool ready = (ui.initialise(), true);
    (void)ready;
    return ui;
}

int RunDialog(Handler& handler) {
    TemplateBuilder tpl;
    return TheUi().runModalIndirect(tpl.get(), handler, nullptr);
}

BOOL CALLBACK FindBox(HWND hwnd, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(hwnd, name, 16);
    if (std::wstring_view(name) == L"#32770") *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

// A 32-bit top-down DIB of w x h pixels, selected into a memory DC.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    std::uint32_t* bits = nullptr;
    int w, h;
    Canvas(int width, int height, COLORREF fill) : w(width), h(height) {
        bitmap = MakeBitmap(width, height, &bits);
        dc = CreateCompatibleDC(nullptr);
        old = SelectObject(dc, bitmap);
        for (int i = 0; i < w * h; ++i) bits[i] = ToPixel(fill);
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    COLORREF at(int x, int y) const {
        GdiFlush();
        const std::uint32_t p = bits[y * w + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    static std::uint32_t ToPixel(COLORREF c) {
        return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
    static HBITMAP MakeBitmap(int width, int height, std::uint32_t** bits) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* p = nullptr;
        HBITMAP b = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
        *bits = static_cast<std::uint32_t*>(p);
        return b;
    }
};

// A bitmap of one row of the given colours.
HBITMAP Row(std::initializer_list<COLORREF> colours) {
    std::uint32_t* bits = nullptr;
    HBITMAP b = Canvas::MakeBitmap(static_cast<int>(colours.size()), 1, &bits);
    int i = 0;
    for (COLORREF c : colours) bits[i++] = Canvas::ToPixel(c);
    return b;
}

constexpr COLORREF kGrey = RGB(128, 128, 128), kGreen = RGB(0, 255, 0), kNearGreen = RGB(0, 254, 0),
                   kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255);

void Draw(ImageButton* button, Canvas& canvas, UINT state) {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.hDC = canvas.dc;
    item.rcItem = {0, 0, canvas.w, canvas.h};
    item.itemState = state;
    dynamic_cast<Win32ImageButton*>(button)->draw(item);
}

}  // namespace

TEST(Win32Dialog, EnterEscAndCloseGoToTheHandlerAndLeaveTheDialogOpen) {
    Handler h;
    std::vector<int> commands;
    bool existedAtCommand = false;
    h.init = [&](Dialog& d) {
        const HWND hwnd = DialogWindow(&d);
        PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
        PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kEdit, EN_CHANGE), 0);  // not a click
        PostMessageW(GetDlgItem(hwnd, kButton), BM_CLICK, 0, 0);
    };
    h.command = [&](int id) {
        commands.push_back(id);
        existedAtCommand = h.dialog->exists();
        h.dialog->endDialog(42);
    };
    EXPECT_EQ(RunDialog(h), 42);
    EXPECT_EQ(h.oks, 1);
    EXPECT_EQ(h.cancels, 2);  // IDCANCEL and WM_CLOSE
    EXPECT_EQ(commands, std::vector<int>{kButton});
    EXPECT_TRUE(existedAtCommand);
    EXPECT_EQ(h.destroys, 1);
    EXPECT_FALSE(h.dialog->exists());
}

TEST(Win32ImageButton, CheckBoxModeChecksOnEveryClickBeforeTheCommandAndNeverUnchecks) {
    Handler h;
    std::vector<int> statesAtCommand;
    ImageButton *box = nullptr, *push = nullptr;
    int clicks = 0;
    h.init = [&](Dialog& d) {
        box = d.imageButton(kCheck);
        push = d.imageButton(kButton);
        ASSERT_TRUE(box && push);
        EXPECT_TRUE(box->isCheckBox());
        EXPECT_FALSE(push->isCheckBox());
        const HWND boxWindow = GetDlgItem(DialogWindow(&d), kCheck);
        EXPECT_EQ(GetWindowLongW(boxWindow, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
        PostMessageW(boxWindow, BM_CLICK, 0, 0);
        PostMessageW(boxWindow, BM_CLICK, 0, 0);
    };
    h.command = [&](int id) {
        if (id != kCheck) return;
        statesAtCommand.push_back(box->checkState());
        if (++clicks < 2) return;
        box->setCheck(0);
        EXPECT_EQ(box->checkState(), 0);
        SendMessageW(GetDlgItem(DialogWindow(h.dialog), kCheck), BM_SETCHECK, BST_INDETERMINATE, 0);
        EXPECT_EQ(box->checkState(), 1);
        EXPECT_EQ(SendMessageW(GetDlgItem(DialogWindow(h.dialog), kCheck), BM_GETCHECK, 0, 0), 1);
        push->setCheck(1);  // a push button has no check
        EXPECT_EQ(push->checkState(), 0);
        h.dialog->endDialog(0);
    };
    RunDialog(h);
    EXPECT_EQ(statesAtCommand, (std::vector<int>{1, 1}));
}

TEST(Win32ImageButton, KeysOnTheFocusedControl) {
    // Focus moves as the dialog manager moves it (Tab does the same), then
    // the player's keys go to the focused window.
    enum Focus { FocusPush, FocusCheck, FocusBar };
    const struct Case {
        const char* name;
        Focus focus;
        std::vector<UINT> keys;  // key-down and key-up of each
        std::vector<int> commands;
        int oks, cancels, check;
    } cases[] = {
        {"Enter clicks a focused push button", FocusPush, {VK_RETURN}, {kButton}, 0, 0, 0},
        {"Enter clicks a focused check box", FocusCheck, {VK_RETURN}, {kCheck}, 0, 0, 1},
        {"Space clicks a focused push button", FocusPush, {VK_SPACE}, {kButton}, 0, 0, 0},
        {"Space clicks a focused check box", FocusCheck, {VK_SPACE}, {kCheck}, 0, 0, 1},
        {"Tab from the check box, then Enter", FocusCheck, {VK_TAB, VK_RETURN}, {kButton}, 0, 0, 0},
        {"Esc on a focused button is the dialog's cancel", FocusPush, {VK_ESCAPE}, {}, 0, 1, 0},
        {"Enter elsewhere is the dialog's OK, once the button lost the focus", FocusBar, {VK_RETURN}, {}, 1, 0, 0},
    };
    Handler h;
    std::vector<int> commands;
    std::size_t row = 0;
    int phase = 0;  // each row: focus, then keys, then what they did
    h.init = [&](Dialog& d) {
        ASSERT_TRUE(d.imageButton(kButton) && d.imageButton(kCheck));
        d.setTimer(1, 20);
    };
    h.command = [&](int id) { commands.push_back(id); };
    h.timer = [&](int) {
        const HWND dlg = DialogWindow(h.dialog);
        ImageButton* box = h.dialog->imageButton(kCheck);
        const Case& c = cases[row];
        auto focus = [&](int id) {
            SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dlg, id)), TRUE);
        };
        switch (phase++) {
            case 0:
                commands.clear();
                h.oks = h.cancels = 0;
                box->setCheck(0);
                // Every row starts on the push button, so that the FocusBar
                // row moves the focus away from it.
                focus(kButton);
                if (c.focus == FocusCheck) focus(kCheck);
                if (c.focus == FocusBar) focus(kProgress);
                break;
            case 1:
                for (UINT key : c.keys) {
                    PostMessageW(GetFocus(), WM_KEYDOWN, key, 1);
                    PostMessageW(GetFocus(), WM_KEYUP, key, 0xC0000001);
                }
                break;
            default: {
                SCOPED_TRACE(c.name);
                EXPECT_EQ(commands, c.commands);
                EXPECT_EQ(h.oks, c.oks);
                EXPECT_EQ(h.cancels, c.cancels);
                EXPECT_EQ(box->checkState(), c.check);
                phase = 0;
                if (++row == std::size(cases)) h.dialog->endDialog(0);
            }
        }
    };
    RunDialog(h);
    EXPECT_EQ(row, std::size(cases));
}

TEST(Win32ImageButton, PureGreenIsTransparentAndTheStateChoosesTheImage) {
    Handler h;
    h.init = [&](Dialog& d) {
        ImageButton* push = d.imageButton(kButton);
        ImageButton* box = d.imageButton(kCheck);
        auto* pushImpl = dynamic_cast<Win32ImageButton*>(push);
        auto* boxImpl = dynamic_cast<Win32ImageButton*>(box);
        ASSERT_EQ(pushImpl->setImageBitmaps(Row({kGreen, kNearGreen, kRed, kRed}),
                                            Row({kGreen, kBlue, kBlue, kBlue})), 0);
        ASSERT_EQ(boxImpl->setImageBitmaps(Row({kGreen, kNearGreen, kRed, kRed}),
                                           Row({kGreen, kBlue, kBlue, kBlue})), 0);
        push->sizeToImage();
        box->sizeToImage();
        EXPECT_EQ(push->windowRect().width(), 4);
        EXPECT_EQ(push->windowRect().height(), 1);

        {  // resting push button: out image, green shows the background
            Canvas c(6, 3, kGrey);
            Draw(push, c, 0);
            EXPECT_EQ(c.at(0, 0), kGrey);
            EXPECT_EQ(c.at(1, 0), kBlue);
            EXPECT_EQ(c.at(3, 0), kBlue);
            EXPECT_EQ(c.at(4, 0), kGrey);
        }
        {  // pressed push button: in image moved by (1, 1)
            Canvas c(6, 3, kGrey);
            Draw(push, c, ODS_SELECTED);
            EXPECT_EQ(c.at(1, 0), kGrey);
            EXPECT_EQ(c.at(1, 1), kGrey);       // pure green: transparent
            EXPECT_EQ(c.at(2, 1), kNearGreen);  // almost green: drawn
            EXPECT_EQ(c.at(3, 1), kRed);
        }
        {  // unchecked box: out image, whatever the selection
            Canvas c(6, 3, kGrey);
            Draw(box, c, 0);
            EXPECT_EQ(c.at(1, 0), kBlue);
        }
        {  // checked box: in image, not moved
            box->setCheck(1);
            Canvas c(6, 3, kGrey);
            Draw(box, c, 0);
            EXPECT_EQ(c.at(0, 0), kGrey);
            EXPECT_EQ(c.at(1, 0), kNearGreen);
            EXPECT_EQ(c.at(2, 0), kRed);
        }
        {  // a push button without an out image always shows the in image
            ASSERT_EQ(pushImpl->setImageBitmaps(Row({kRed}), nullptr), 0);
            Canvas c(2, 2, kGrey);
            Draw(push, c, 0);
            EXPECT_EQ(c.at(0, 0), kRed);
        }
        {  // a second bitmap that cannot be described: no images at all
            EXPECT_EQ(pushImpl->setImageBitmaps(Row({kRed}), reinterpret_cast<HBITMAP>(0x1234)), 1);
            Canvas c(2, 2, kGrey);
            Draw(push, c, 0);
            EXPECT_EQ(c.at(0, 0), kGrey);
        }
        EXPECT_EQ(push->setImages(9999, 0), 1);  // no such resource
        d.endDialog(0);
    };
    RunDialog(h);
}

TEST(Win32ProgressBar, PaintsTheSplitAndTheTextCentred) {
    Handler h;
    h.init = [&](Dialog& d) {
        ProgressBar* bar = d.progressBar(kProgress);
        ASSERT_TRUE(bar);
        bar->move(0, 0, 893, 13);
        bar->setRange(0, 100);
        const HWND hwnd = GetDlgItem(DialogWindow(&d), kProgress);
        auto paint = [&](Canvas& c) { SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(c.dc), PRF_CLIENT); };
        const COLORREF bar0 = Win32ProgressBar::kBar, back = Win32ProgressBar::kBackground;

        bar->setPos(50);
        EXPECT_EQ(bar->pos(), 50);
        {
            Canvas c(893, 13, kGrey);
            paint(c);
            EXPECT_EQ(c.at(0, 0), bar0);
            EXPECT_EQ(c.at(445, 6), bar0);
            EXPECT_EQ(c.at(446, 6), back);
            EXPECT_EQ(c.at(892, 12), back);
        }
        bar->setPos(0);
        {
            Canvas c(893, 13, kGrey);
            paint(c);
            EXPECT_EQ(c.at(0, 0), back);
        }
        bar->setPos(100);
        {
            Canvas c(893, 13, kGrey);
            paint(c);
            EXPECT_EQ(c.at(892, 12), bar0);
        }
        // Text over both colours, in black, around the middle only.
        bar->setPos(50);
        bar->setBarText(u"MMMMMMMMMMMM");
        EXPECT_EQ(bar->barText(), u"MMMMMMMMMMMM");
        {
            Canvas c(893, 13, kGrey);
            paint(c);
            int left = 893, right = -1;
            for (int y = 0; y < 13; ++y)
                for (int x = 0; x < 893; ++x)
                    if (c.at(x, y) == RGB(0, 0, 0)) {
                        left = std::min(left, x);
                        right = std::max(right, x);
                    }
            ASSERT_GE(right, 0) << "no text drawn";
            EXPECT_LT(left, 446);
            EXPECT_GE(right, 446);
            EXPECT_LE(std::abs((893 - 1 - right) - left), 4);  // centred
        }
        d.endDialog(0);
    };
    RunDialog(h);
}

TEST(Win32Dialog, OtherThreadsCallsRunOnTheDialogThreadAndStopWhenTheWindowIsGone) {
    Handler h;
    std::thread worker;
    ProgressBar* bar = nullptr;
    std::atomic<int> onDialogThread{0}, calls{0};
    h.init = [&](Dialog& d) {
        bar = d.progressBar(kProgress);
        bar->setRange(0, 100);
        const DWORD dialogThread = GetCurrentThreadId();
        worker = std::thread([&, dialogThread] {
            for (int i = 0; i < 50; ++i) {
                bar->setPos(i);
                bar->setBarText(u"正在安装....");
                h.dialog->runOnDialogThread([&] {
                    ++calls;
                    if (GetCurrentThreadId() == dialogThread) ++onDialogThread;
                });
            }
            EXPECT_EQ(bar->pos(), 49);
            EXPECT_EQ(bar->barText(), u"正在安装....");
            h.dialog->endDialog(5);
        });
    };
    EXPECT_EQ(RunDialog(h), 5);
    worker.join();
    EXPECT_EQ(calls.load(), 50);
    EXPECT_EQ(onDialogThread.load(), 50);
    // The window is gone: calls from any thread return without running.
    std::thread late([&] {
        bar->setPos(3);
        EXPECT_EQ(bar->pos(), 0);
        EXPECT_FALSE(bar->isVisible());
        bool ran = false;
        h.dialog->runOnDialogThread([&] { ran = true; });
        EXPECT_FALSE(ran);
    });
    late.join();
    EXPECT_EQ(bar->barText(), u"");
}

TEST(Win32EditBox, AppendsAtTheEnd) {
    Handler h;
    h.init = [&](Dialog& d) {
        EditBox* log = d.editBox(kEdit);
        ASSERT_TRUE(log);
        log->setLimitToMax();
        EXPECT_GE(static_cast<UINT>(SendMessageW(GetDlgItem(DialogWindow(&d), kEdit), EM_GETLIMITTEXT, 0, 0)),
                  0x7FFFFFFEu);
        // The log's CR LF line ends reach the control as they are (Windows
        // breaks edit text only at CR LF) and are read back whole.
        log->setText(u"正在卸载以下文件：\r\n");
        log->append(u"C:\\Korvanis/Launcher.exe\r\n");
        log->append(u"卸载成功！\r\n");
        EXPECT_EQ(log->text(), u"正在卸载以下文件：\r\nC:\\Korvanis/Launcher.exe\r\n卸载成功！\r\n");
        d.endDialog(0);
    };
    RunDialog(h);
}

TEST(Win32Dialog, WindowCallsAndControlPlaces) {
    Handler h;
    h.init = [&](Dialog& d) {
        d.setSize(300, 200);
        Rect r = d.windowRect();
        EXPECT_EQ(r.width(), 300);
        EXPECT_EQ(r.height(), 200);
        d.setTitle(u"Korvane安装程序");
        EXPECT_EQ(d.title(), u"Korvane安装程序");
        Control* edit = d.control(kEdit);
        ASSERT_TRUE(edit);
        edit->move(5, 6, 20, 10);
        const Rect c = edit->windowRect();
        EXPECT_EQ(c.left, 5);
        EXPECT_EQ(c.top, 6);
        EXPECT_EQ(c.right, 25);
        EXPECT_EQ(c.bottom, 16);
        edit->show(false);
        EXPECT_FALSE(edit->isVisible());
        EXPECT_EQ(d.control(999), nullptr);
        ImageButton* typed = d.imageButton(kButton);
        EXPECT_EQ(static_cast<Control*>(typed), d.control(kButton));  // one wrapper per control
        d.setColorKey(0x404040);
        EXPECT_TRUE(GetWindowLongW(DialogWindow(&d), GWL_EXSTYLE) & WS_EX_LAYERED);
        d.minimize();
        EXPECT_TRUE(d.isIconic());
        d.endDialog(0);
    };
    RunDialog(h);
}

TEST(Win32Dialog, BackgroundStyleFourSizesTheWindowToTheBitmap) {
    // A 30 x 20 24-bit bitmap file.
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"kvn_ui_background.bmp";
    {
        const int w = 30, h = 20;
        const int row = (w * 3 + 3) / 4 * 4;  // rows padded to 4 bytes
        BITMAPFILEHEADER fh{};
        BITMAPINFOHEADER ih{};
        ih.biSize = sizeof ih;
        ih.biWidth = w;
        ih.biHeight = h;
        ih.biPlanes = 1;
        ih.biBitCount = 24;
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof ih;
        fh.bfSize = fh.bfOffBits + row * h;
        FILE* f = _wfopen(path.c_str(), L"wb");
        ASSERT_TRUE(f);
        fwrite(&fh, sizeof fh, 1, f);
        fwrite(&ih, sizeof ih, 1, f);
        std::vector<unsigned char> pixels(static_cast<std::size_t>(row * h), 0x40);
        fwrite(pixels.data(), 1, pixels.size(), f);
        fclose(f);
    }
    Handler h;
    h.init = [&](Dialog& d) {
        d.setSize(100, 80);
        EXPECT_FALSE(d.setBackgroundFile(u"Z:\\no\\such\\LauncherDlg.bmp"));
        d.setBackgroundStyle(4);  // no picture: the size stays
        EXPECT_EQ(d.windowRect().width(), 100);
        EXPECT_TRUE(d.setBackgroundFile(WString(path.begin(), path.end())));
        d.setBackgroundStyle(4);
        EXPECT_EQ(d.windowRect().width(), 30);
        EXPECT_EQ(d.windowRect().height(), 20);
        // A failed load removes the picture held before.
        EXPECT_FALSE(d.setBackgroundFile(u"Z:\\no\\such\\LauncherDlg.bmp"));
        d.setSize(100, 80);
        d.setBackgroundStyle(4);
        EXPECT_EQ(d.windowRect().width(), 100);
        d.endDialog(0);
    };
    RunDialog(h);
    DeleteFileW(path.c_str());
}

// Every bitmap of the fuzz corpus that the complete-file check admits is
// loaded by the window, which then takes the size the check read; among
// them compressed streams that end early or run past the picture.
TEST(Win32Dialog, WhatTheBitmapCheckAdmitsTheWindowLoads) {
    // The source tree as Wine shows it: drive Z: is the root.
    const std::string folder = "Z:" KVN_SOURCE_DIR "/fuzz/corpus/bitmap/";
    const std::wstring corpus(folder.begin(), folder.end());
    struct Admitted {
        std::wstring name;
        BitmapSize size;
    };
    std::vector<Admitted> admitted;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((corpus + L"*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        FILE* f = _wfopen((corpus + found.cFileName).c_str(), L"rb");
        ASSERT_TRUE(f);
        std::string bytes;
        char piece[4096];
        for (std::size_t n; (n = fread(piece, 1, sizeof piece, f)) > 0;) bytes.append(piece, n);
        fclose(f);
        if (const auto size = CompleteBitmapSize(bytes)) admitted.push_back({found.cFileName, *size});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_GE(admitted.size(), 10u);
    Handler h;
    h.init = [&](Dialog& d) {
        for (const Admitted& a : admitted) {
            SCOPED_TRACE(std::string(a.name.begin(), a.name.end()));
            const std::wstring path = corpus + a.name;
            d.setSize(5, 5);
            EXPECT_TRUE(d.setBackgroundFile(WString(path.begin(), path.end())));
            d.setBackgroundStyle(4);
            EXPECT_EQ(d.windowRect().width(), a.size.width);
            EXPECT_EQ(d.windowRect().height(), a.size.height);
        }
        d.endDialog(0);
    };
    RunDialog(h);
}

namespace {
struct RecordingEvents : WebViewEvents {
    std::vector<WebNavigation> before;
    std::vector<WString> translated;
    bool onBeforeNavigate2(const WebNavigation& navigation) override {
        before.push_back(navigation);
        return true;
    }
    void onTranslateUrl(const WebNavigation& navigation) override { translated.push_back(navigation.url); }
};
}  // namespace

TEST(Win32WebView, NavigateReachesBeforeNavigate2) {
    OleInitialize(nullptr);
    Handler h;
    RecordingEvents events;
    WebView* view = nullptr;
    bool hasBrowser = false;
    int ticks = 0;
    const WString url = u"http://127.0.0.1:9/micro/?user=abc";
    h.init = [&](Dialog& d) {
        view = d.createWebView(1201, Rect{10, 10, 190, 90}, events);
        ASSERT_TRUE(view);
        hasBrowser = dynamic_cast<Win32WebView*>(view)->hasBrowser();
        // A visible child (the dialog itself shows after its initialisation).
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(DialogWindow(&d), 1201), GWL_STYLE) & WS_VISIBLE);
        view->navigate(url);
        EXPECT_EQ(view->location(), url);
        d.setTimer(1, 50);
    };
    h.timer = [&](int) {
        // Wait for the event, for at most about 10 s.
        if (events.before.empty() && hasBrowser && ++ticks < 200) return;
        h.dialog->endDialog(0);
    };
    RunDialog(h);
    if (!hasBrowser) GTEST_SKIP() << "no web browser control on this system";
    ASSERT_FALSE(events.before.empty());
    EXPECT_EQ(events.before.front().url, url);
    // The control names its own browser object for its top frame.
    EXPECT_EQ(events.before.front().frame, WebNavigation::Frame::Top);
    EXPECT_TRUE(events.translated.empty()) << "the owner's own navigation is not a page's link";
    EXPECT_TRUE(view->location().empty());  // the window is gone
    OleUninitialize();
}

namespace {
// The system's shell behind a record of every address the core hands it.
struct RecordingShell : Shell {
    Shell& real;
    std::vector<WString> opened;
    explicit RecordingShell(Shell& r) : real(r) {}
    std::optional<WString> specialFolderPath(SpecialFolder f) override { return real.specialFolderPath(f); }
    bool openInDefaultBrowser(const WString& url) override {
        opened.push_back(url);
        return real.openInDefaultBrowser(url);
    }
    std::unique_ptr<ShellLink> createShellLink() override { return real.createShellLink(); }
    std::optional<ShellLinkInfo> readShellLink(const WString& p) override { return real.readShellLink(p); }
};

// Makes a command the handler of a scheme (HKCR\<scheme>\shell\open\command)
// while the object lives; the old handler comes back afterwards.
struct SchemeHandler {
    std::wstring key;
    std::optional<std::wstring> old;
    SchemeHandler(const wchar_t* scheme, const std::wstring& command)
        : key(std::wstring(scheme) + L"\\shell\\open\\command") {
        wchar_t buffer[1024];
        DWORD size = sizeof buffer;
        if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) ==
            ERROR_SUCCESS)
            old = buffer;
        set(command);
        HKEY k;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, scheme, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExW(k, L"URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
            RegCloseKey(k);
        }
    }
    ~SchemeHandler() {
        if (old) set(*old);
    }
    void set(const std::wstring& command) {
        HKEY k;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                            nullptr) != ERROR_SUCCESS)
            return;
        RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(k);
    }
};

std::size_t LinesIn(const std::wstring& path) {
    std::size_t n = 0;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) n += c == '\n';
        std::fclose(f);
    }
    return n;
}

// DWebBrowserEvents2 as the control raises it: arguments last first, the
// cancel flag a Boolean by reference. True when the handler cancelled.
// `browser` is the browser object BeforeNavigate2 names, `flags` the
// NWMF flags of NewWindow3.
bool RaiseEvent(IDispatch* sink, DISPID id, const WString& url, IDispatch* browser = nullptr, LONG flags = 0) {
    BSTR address = SysAllocStringLen(reinterpret_cast<const wchar_t*>(url.c_str()), static_cast<UINT>(url.size()));
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT addressRef;
    VariantInit(&addressRef);
    V_VT(&addressRef) = VT_BSTR;
    V_BSTR(&addressRef) = address;
    std::vector<VARIANT> args(id == DISPID_BEFORENAVIGATE2 ? 7 : id == DISPID_NEWWINDOW3 ? 5 : 2);
    for (VARIANT& v : args) VariantInit(&v);
    auto cancelAt = [&](std::size_t i) {
        V_VT(&args[i]) = VT_BYREF | VT_BOOL;
        V_BOOLREF(&args[i]) = &cancel;
    };
    if (id == DISPID_BEFORENAVIGATE2) {
        cancelAt(0);
        V_VT(&args[5]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&args[5]) = &addressRef;
        if (browser) {
            V_VT(&args[6]) = VT_DISPATCH;
            V_DISPATCH(&args[6]) = browser;
        }
    } else if (id == DISPID_NEWWINDOW3) {
        V_VT(&args[0]) = VT_BSTR;
        V_BSTR(&args[0]) = address;
        V_VT(&args[2]) = VT_I4;
        V_I4(&args[2]) = flags;
        cancelAt(3);
    } else {
        cancelAt(0);
    }
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    SysFreeString(address);
    return cancel == VARIANT_TRUE;
}
}  // namespace

// A page's link clicks (TranslateUrl) and requests for a new window
// (NewWindow3, NewWindow2) reach the system's shell only for web addresses,
// and at most once a second; the control's own navigations to any other
// scheme are cancelled, so it never hands one to an external handler.
TEST(Win32WebView, OnlyWebAddressesReachTheShellAtMostOnceASecond) {
    OleInitialize(nullptr);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"kvn-browser-" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteFileW(log.c_str());
    // The stand-in default browser writes one line per start.
    const std::wstring command = L"\"C:\\windows\\system32\\cmd.exe\" /c echo started>>\"" + log + L"\"";
    SchemeHandler http(L"http", command), https(L"https", command);

    Win32Services services;
    fake::FakePlatform fp;  // the clock the test moves
    RecordingShell shell(services.shell());
    Platform platform{fp.files, fp.profiles, fp.registry, fp.processes, fp.drives, shell, fp.http, fp.ui, fp.system};
    CWebBrowser page(platform);

    // What a page may try; the view itself refuses all but the page's scripts
    // and malformed web addresses (which lead nowhere outside it).
    const std::vector<std::pair<WString, bool>> hostile = {
        {u"file:///C:/windows/system32/calc.exe#http", true}, {u"file://host/share/x.exe#http", true},
        {u"\\\\host\\share\\x.exe", true}, {u"ms-msdt:-id PCWDiagnostic /param http", true},
        {u"search-ms:query=http&crumb=location:\\\\host\\s", true}, {u"data:text/html,http", true},
        {u"smb://host/http", true}, {u"ftp://host/http", true}, {u"kvnx-made-up:http", true},
        {u"javascript:open('http://x/')", false}, {u"http:///no-host", false}, {u"http://a b/", false}};
    bool hasBrowser = false;
    std::vector<WString> translatedOut, notCancelled;
    Handler h;
    h.init = [&](Dialog& d) {
        page.Create(d, 1201, Rect{10, 10, 190, 90});
        auto* view = dynamic_cast<Win32WebView*>(page.view());
        ASSERT_TRUE(view);
        hasBrowser = view->hasBrowser();
        if (hasBrowser) {
            IDocHostUIHandler* host = nullptr;
            ASSERT_EQ(view->containerSite()->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(&host)),
                      S_OK);
            IDispatch* sink = view->eventSink();
            auto translate = [&](const WString& url) {
                std::wstring text(reinterpret_cast<const wchar_t*>(url.c_str()), url.size());
                LPWSTR out = nullptr;
                host->TranslateUrl(0, text.data(), &out);
                if (out) translatedOut.push_back(url);
            };
            for (const auto& [url, viewRefuses] : hostile) {
                fp.system.clockMs += 1000;
                translate(url);
                if (!RaiseEvent(sink, DISPID_NEWWINDOW3, url)) notCancelled.push_back(u"NewWindow3 " + url);
                if (viewRefuses && !RaiseEvent(sink, DISPID_BEFORENAVIGATE2, url)) notCancelled.push_back(url);
            }
            EXPECT_TRUE(RaiseEvent(sink, DISPID_NEWWINDOW2, u"")) << "an unnamed new window opened";
            // Web addresses, each just after a click of the player's in the
            // view: a link, a page's window, and one click asking 200 times.
            // The linked page is not also loaded in the view. Each start is
            // let finish its line before the next, as two could not append
            // to the record at once.
            const auto started = [&](std::size_t n) {
                for (int i = 0; i < 200 && LinesIn(log) < n; ++i) Sleep(50);
            };
            MSG click{GetDlgItem(DialogWindow(&d), 1201), WM_LBUTTONUP, 0, 0, 0, {}};
            fp.system.clockMs += 1000;
            view->notePlayerInput(click);
            translate(u"http://127.0.0.1:9/news");
            EXPECT_TRUE(RaiseEvent(sink, DISPID_BEFORENAVIGATE2, u"http://127.0.0.1:9/news"));
            started(1);
            fp.system.clockMs += 1000;
            view->notePlayerInput(click);
            EXPECT_TRUE(RaiseEvent(sink, DISPID_NEWWINDOW3, u"HTTPS://127.0.0.1:9/window", nullptr, NWMF_USERINITED));
            started(2);
            fp.system.clockMs += 1000;
            view->notePlayerInput(click);
            for (int i = 0; i < 200; ++i)
                RaiseEvent(sink, DISPID_NEWWINDOW3, u"http://127.0.0.1:9/storm", nullptr, NWMF_USERINITED);
            started(3);
            host->Release();
        }
        d.endDialog(0);
    };
    RunDialog(h);
    if (!hasBrowser) GTEST_SKIP() << "no web browser control on this system";
    EXPECT_TRUE(translatedOut.empty()) << "TranslateUrl gave a replacement address";
    EXPECT_TRUE(notCancelled.empty()) << toUtf8(notCancelled.front());
    EXPECT_EQ(shell.opened, (std::vector<WString>{u"http://127.0.0.1:9/news", u"HTTPS://127.0.0.1:9/window",
                                                   u"http://127.0.0.1:9/storm"}));
    // The system's shell started the stand-in once for each of them.
    Sleep(500);  // a late start would show here
    EXPECT_EQ(LinesIn(log), 3u);
    DeleteFileW(log.c_str());
    OleUninitialize();
}

// Only the player's click or Enter opens the default browser: the dialog's
// message loop notes it when it reaches the view, and a link or window
// request a page makes without one opens nothing. Only the login page's own
// top frame hands a login off: not a frame inside it (BeforeNavigate2 names
// that frame's browser), nor another site.
TEST(Win32WebView, OnlyThePlayersInputOpensAndOnlyTheTopFrameHandsOff) {
    OleInitialize(nullptr);
    fake::FakePlatform fp;
    fp.files.mkdirs(u"C:\\Client");
    CWebBrowser page(fp.platform);
    page.m_strClientDir = u"C:\\Client";
    page.m_strLoginPage = u"http://127.0.0.1:9/micro/";
    bool hasBrowser = false, handedOff = false;
    std::vector<WString> notCancelled;
    Win32WebView* view = nullptr;
    HWND host = nullptr;
    IDispatch* sink = nullptr;
    int tick = 0;
    const auto navigate = [&](const WString& url, IDispatch* browser) {
        try {
            if (!RaiseEvent(sink, DISPID_BEFORENAVIGATE2, url, browser)) notCancelled.push_back(url);
        } catch (const fake::ProcessExit&) {
            handedOff = true;
        }
    };
    const auto translate = [&](const WString& url) {
        IDocHostUIHandler* ui = nullptr;
        view->containerSite()->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(&ui));
        std::wstring text(reinterpret_cast<const wchar_t*>(url.c_str()), url.size());
        LPWSTR out = nullptr;
        ui->TranslateUrl(0, text.data(), &out);
        ui->Release();
    };
    Handler h;
    h.init = [&](Dialog& d) {
        page.Create(d, 1201, Rect{10, 10, 190, 90});
        view = dynamic_cast<Win32WebView*>(page.view());
        hasBrowser = view && view->hasBrowser();
        host = GetDlgItem(DialogWindow(&d), 1201);
        if (hasBrowser) sink = view->eventSink();
        d.setTimer(1, 30);
    };
    h.timer = [&](int) {
        if (!hasBrowser) return h.dialog->endDialog(0);
        fp.system.clockMs += 1000;  // the once-a-second rule is not what is checked here
        switch (++tick) {
            case 1:
                // A frame in the page, a frame named by no browser, another
                // site: cancelled, nothing handed off.
                navigate(u"http://127.0.0.1:9/micro/?user=EVILFRAME", sink);
                navigate(u"http://127.0.0.1:9/micro/?user=NOBROWSER", nullptr);
                navigate(u"http://127.0.0.2:9/micro/?user=EVILSITE", view->topBrowser());
                // A page's script or timer: no input has reached the view.
                translate(u"http://127.0.0.1:9/script");
                RaiseEvent(sink, DISPID_NEWWINDOW3, u"http://127.0.0.1:9/script-window", nullptr,
                           NWMF_USERINITED | NWMF_FIRST);
                // Typing is not a click; a click reaches the view.
                PostMessageW(host, WM_KEYDOWN, 'A', 0);
                PostMessageW(host, WM_LBUTTONDOWN, MK_LBUTTON, 0);
                PostMessageW(host, WM_LBUTTONUP, 0, 0);
                break;
            case 2:
                translate(u"http://127.0.0.1:9/clicked");
                translate(u"http://127.0.0.1:9/after-the-click");  // the click is used
                PostMessageW(host, WM_KEYDOWN, VK_RETURN, 0);
                break;
            case 3:
                // The control must also say the player asked for the window.
                RaiseEvent(sink, DISPID_NEWWINDOW3, u"http://127.0.0.1:9/unasked-window");
                RaiseEvent(sink, DISPID_NEWWINDOW3, u"http://127.0.0.1:9/window", nullptr, NWMF_USERINITED);
                break;
            default:
                navigate(u"http://127.0.0.1:9/micro/?user=abc", view->topBrowser());
                h.dialog->endDialog(0);
        }
    };
    RunDialog(h);
    if (!hasBrowser) GTEST_SKIP() << "no web browser control on this system";
    EXPECT_EQ(fp.shell.opened, (std::vector<WString>{u"http://127.0.0.1:9/clicked", u"http://127.0.0.1:9/window"}));
    EXPECT_EQ(notCancelled, std::vector<WString>{}) << "a ?user= navigation that hands nothing off went on";
    EXPECT_TRUE(handedOff);
    EXPECT_EQ(fp.files.get(u"C:\\Client\\kvnlogin.dat"), Bytes("abc"));
    EXPECT_EQ(fp.processes.started.size(), 1u);
    OleUninitialize();
}

namespace {
// Stands in for the browser control's in-place active object: records the
// keys it is offered and takes them or not.
struct FakeActiveObject : IOleInPlaceActiveObject {
    std::vector<std::pair<UINT, WPARAM>> offered;
    bool take = true;
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IOleInPlaceActiveObject) {
            *out = static_cast<IOleInPlaceActiveObject*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override {
        offered.emplace_back(msg->message, msg->wParam);
        return take ? S_OK : S_FALSE;
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
};
}  // namespace

TEST(Win32WebView, KeysTypedIntoTheViewReachItsControlBeforeTheDialogManager) {
    Handler h;
    RecordingEvents events;
    FakeActiveObject control;
    HWND host = nullptr, button = nullptr;
    HWND focusWhenTaken = nullptr, focusWhenRefused = nullptr;
    int tick = 0;
    // Tab between fields, Enter, Backspace, the arrows, Ctrl+C and Ctrl+V
    // (their key-downs and the control characters they type).
    const std::vector<std::pair<UINT, WPARAM>> keys = {
        {WM_KEYDOWN, VK_TAB},  {WM_KEYDOWN, VK_RETURN}, {WM_CHAR, '\r'},     {WM_KEYDOWN, VK_BACK},
        {WM_KEYDOWN, VK_LEFT}, {WM_KEYDOWN, VK_RIGHT},  {WM_KEYDOWN, VK_UP},  {WM_KEYDOWN, VK_DOWN},
        {WM_KEYDOWN, 'C'},     {WM_CHAR, 0x03},         {WM_KEYDOWN, 'V'},    {WM_CHAR, 0x16},
        {WM_KEYUP, 'V'},
    };
    h.init = [&](Dialog& d) {
        WebView* view = d.createWebView(1201, Rect{10, 10, 190, 90}, events);
        ASSERT_TRUE(view);
        dynamic_cast<Win32WebView*>(view)->setActiveObject(&control);
        host = GetDlgItem(DialogWindow(&d), 1201);
        button = GetDlgItem(DialogWindow(&d), kButton);
        d.setTimer(1, 30);
    };
    h.timer = [&](int) {
        switch (++tick) {
            case 1:  // the page has the focus; the player types
                SetFocus(host);
                for (auto [message, key] : keys) PostMessageW(host, message, key, 0);
                PostMessageW(button, WM_KEYDOWN, VK_SPACE, 0);  // not into the view
                break;
            case 2:  // the control took them: the dialog moved nothing
                focusWhenTaken = GetFocus();
                control.take = false;
                SetFocus(host);
                PostMessageW(host, WM_KEYDOWN, VK_TAB, 0);
                break;
            default:  // a key the control leaves goes on to the dialog manager
                focusWhenRefused = GetFocus();
                h.dialog->endDialog(0);
        }
    };
    RunDialog(h);
    auto expected = keys;
    expected.emplace_back(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(control.offered, expected);
    EXPECT_EQ(focusWhenTaken, host);
    EXPECT_NE(focusWhenRefused, host) << "Tab left to the dialog manager moves the focus on";
    EXPECT_EQ(control.refs, 1) << "the view lets go of the control with its window";
}

}  // namespace kvn::win32

namespace kvn::win32 {

TEST(Win32Ui, ClosingTheLastDialogDismissesAWorkersMessageBox) {
    Handler h;
    std::thread worker;
    std::atomic<DWORD> workerThread{0};
    std::atomic<int> answer{-1};
    h.init = [&](Dialog& d) {
        worker = std::thread([&] {
            workerThread = GetCurrentThreadId();
            const MsgResult r = TheUi().messageBox(nullptr, u"解压失败", u"Login", MsgButtons::Ok, MsgIcon::Warning);
            answer = r == MsgResult::Ok ? 1 : 0;
        });
        d.setTimer(1, 20);
    };
    h.timer = [&](int) {
        bool shown = false;
        if (workerThread.load()) EnumThreadWindows(workerThread.load(), FindBox, reinterpret_cast<LPARAM>(&shown));
        if (shown) h.dialog->endDialog(0);  // the user closes the window, the box still open
    };
    RunDialog(h);
    worker.join();  // would wait for ever on a box nobody can answer
    EXPECT_EQ(answer.load(), 0);
    // Until a new dialog runs, worker boxes are refused at once.
    std::thread late([&] {
        EXPECT_EQ(TheUi().messageBox(nullptr, u"x", u"Login", MsgButtons::OkCancel, MsgIcon::None), MsgResult::Cancel);
    });
    late.join();
}


// The dialog font of the prefix the tests run in (scripts/wine-prefix.sh)
// draws the windows' Chinese texts: they differ from the same number of
// characters that no font has, which come out as empty boxes.
TEST(Win32Ui, TheDialogFontDrawsChinese) {
    auto draw = [](const wchar_t* text) {
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, 200, 40);
        ReleaseDC(nullptr, screen);
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        LOGFONTW lf{};
        lf.lfHeight = -11;  // 8 points
        lf.lfCharSet = DEFAULT_CHARSET;
        wcscpy(lf.lfFaceName, L"MS Shell Dlg");
        HFONT font = CreateFontIndirectW(&lf);
        HGDIOBJ oldFont = SelectObject(dc, font);
        RECT all{0, 0, 200, 40};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        TextOutW(dc, 2, 2, text, static_cast<int>(wcslen(text)));
        std::vector<COLORREF> pixels;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 200; ++x) pixels.push_back(GetPixel(dc, x, y));
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBitmap);
        DeleteObject(font);
        DeleteObject(bitmap);
        DeleteDC(dc);
        return pixels;
    };
    const auto chinese = draw(L"卸载程序");
    EXPECT_NE(chinese, draw(L"\u0378\u0379\u0380\u0381"))
        << "Chinese texts show as empty boxes: the prefix lacks the Chinese font";
    EXPECT_NE(chinese, draw(L"")) << "nothing drawn";
}

}  // namespace kvn::win32
