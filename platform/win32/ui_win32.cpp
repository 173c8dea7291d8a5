#include "platform/win32/ui_win32.h"

#include <commctrl.h>
#include <GL/gl.h>

#include <string_view>

#include "platform/win32/ie_document_mode.h"
#include "platform/win32/wide.h"
#include "skin/skin.h"

namespace kvn::win32 {
namespace {

struct ModalStart {
    DialogHandler* handler;
    Win32Dialog* dialog = nullptr;
};

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* start = reinterpret_cast<ModalStart*>(lp);
        start->dialog = new Win32Dialog(hwnd, *start->handler);
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(start->dialog));
        INT_PTR result = FALSE;
        start->dialog->handleMessage(msg, wp, lp, result);
        return result;
    }
    auto* dialog = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!dialog) return FALSE;
    INT_PTR result = FALSE;
    if (!dialog->handleMessage(msg, wp, lp, result)) return FALSE;
    // Messages whose answer is not the dialog procedure's own result.
    switch (msg) {
        case WM_CTLCOLORBTN: case WM_CTLCOLORSTATIC: case WM_CTLCOLOREDIT:
        case WM_CTLCOLORDLG: case WM_QUERYDRAGICON:
            return result;
        default:
            SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
            return TRUE;
    }
}

HWND OwnerWindow(Dialog* owner) { return DialogWindow(owner); }

// The dialog manager (IsDialogMessage, run by the modal loop on every
// message) calls the thread's message filter first. The player's clicks and
// keys aimed into one of our dialogs' web views are noted there (a page
// opens the default browser only just after one), and keyboard messages are
// offered to the view's control; those it takes go no further. Messages a
// page's script makes never pass through the queue.
LRESULT CALLBACK KeyFilter(int code, WPARAM wp, LPARAM lp) {
    auto* msg = reinterpret_cast<MSG*>(lp);
    const bool key = msg && msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST;
    const bool mouse = msg && msg->message >= WM_LBUTTONDOWN && msg->message <= WM_MBUTTONDBLCLK;
    if ((key || mouse) && code == MSGF_DIALOGBOX && msg->hwnd) {
        const HWND root = GetAncestor(msg->hwnd, GA_ROOT);
        if (root && GetWindowLongPtrW(root, DWLP_DLGPROC) == reinterpret_cast<LONG_PTR>(DialogProc)) {
            auto* dialog = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(root, DWLP_USER));
            if (dialog) dialog->notePlayerInput(*msg);
            if (dialog && key && dialog->translateKey(*msg)) return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

// Once per thread that runs dialogs, for the thread's life.
void FilterDialogKeys() {
    thread_local const HHOOK hook =
        SetWindowsHookExW(WH_MSGFILTER, KeyFilter, nullptr, GetCurrentThreadId());
    (void)hook;
}

}  // namespace

HWND DialogWindow(Dialog* dialog) {
    auto* d = dynamic_cast<Win32Dialog*>(dialog);
    return d ? d->hwnd() : nullptr;
}

// ------------------------------------------------------------- Win32Ui

Win32Ui::~Win32Ui() = default;  // retired dialogs live until the process ends

void Win32Ui::initialise() {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = 8;
    icc.dwICC = 0xFF;  // ICC_WIN95_CLASSES
    InitCommonControlsEx(&icc);
}

int Win32Ui::runModal(int templateId, DialogHandler& handler, Dialog* owner) {
    startModal();
    ModalStart start{&handler};
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId),
                                           OwnerWindow(owner), DialogProc,
                                           reinterpret_cast<LPARAM>(&start));
    return finishModal(result, start.dialog);
}

int Win32Ui::runModalIndirect(const DLGTEMPLATE* dialogTemplate, DialogHandler& handler,
                              Dialog* owner) {
    startModal();
    ModalStart start{&handler};
    const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate,
                                                   OwnerWindow(owner), DialogProc,
                                                   reinterpret_cast<LPARAM>(&start));
    return finishModal(result, start.dialog);
}

int Win32Ui::startModal() {
    uiThread_.store(GetCurrentThreadId());
    FilterDialogKeys();
    if (depth_.fetch_add(1) == 0) {
        std::lock_guard<std::mutex> lock(boxesMutex_);
        closing_ = false;
    }
    return 0;
}

int Win32Ui::finishModal(INT_PTR result, Win32Dialog* dialog) {
    if (dialog) {
        std::lock_guard<std::mutex> lock(mutex_);
        retired_.push_back(dialog);
    }
    if (depth_.fetch_sub(1) == 1) dismissWorkerBoxes();
    return static_cast<int>(result);
}

namespace {
BOOL CALLBACK CloseMessageBox(HWND hwnd, LPARAM) {
    wchar_t name[16] = {};
    GetClassNameW(hwnd, name, 16);
    if (std::wstring_view(name) == L"#32770") PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}
}  // namespace

// The program's last window has closed: message boxes that worker threads
// still show are dismissed (and new ones refused), so that a worker waiting
// on one can finish and be joined instead of keeping the process alive.
void Win32Ui::dismissWorkerBoxes() {
    {
        std::lock_guard<std::mutex> lock(boxesMutex_);
        closing_ = true;
    }
    for (int round = 0; round < 500; ++round) {  // at most about 5 s
        std::vector<DWORD> threads;
        {
            std::lock_guard<std::mutex> lock(boxesMutex_);
            for (const auto& [thread, count] : boxThreads_) threads.push_back(thread);
        }
        if (threads.empty()) return;
        for (DWORD thread : threads) EnumThreadWindows(thread, CloseMessageBox, 0);
        Sleep(10);
    }
}

MsgResult Win32Ui::messageBox(Dialog* owner, const WString& text, const WString& caption,
                              MsgButtons buttons, MsgIcon icon) {
    UINT type = buttons == MsgButtons::OkCancel ? MB_OKCANCEL : MB_OK;
    if (icon == MsgIcon::Warning) type |= MB_ICONWARNING;
    if (icon == MsgIcon::Error) type |= MB_ICONERROR;
    const DWORD thread = GetCurrentThreadId();
    const bool worker = thread != uiThread_.load();
    if (worker) {
        std::lock_guard<std::mutex> lock(boxesMutex_);
        if (closing_) return MsgResult::Cancel;  // the program's window is gone
        ++boxThreads_[thread];
    }
    const int answer = MessageBoxW(OwnerWindow(owner), W(text), W(caption), type);
    if (worker) {
        std::lock_guard<std::mutex> lock(boxesMutex_);
        if (--boxThreads_[thread] == 0) boxThreads_.erase(thread);
    }
    return answer == IDOK ? MsgResult::Ok : MsgResult::Cancel;
}

void Win32Ui::desktopMessageBoxGbk(const Bytes& text, const Bytes& caption) {
    MessageBoxA(GetDesktopWindow(), text.c_str(), caption.c_str(), MB_OK);
}

// ------------------------------------------------------------- Win32Dialog

Win32Dialog::Task::Task() : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
Win32Dialog::Task::~Task() {
    if (done) CloseHandle(done);
}

Win32Dialog::Win32Dialog(HWND hwnd, DialogHandler& handler)
    : hwnd_(hwnd),
      threadId_(GetCurrentThreadId()),
      handler_(handler),
      goneEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Win32Dialog::~Win32Dialog() {
    if (background_) DeleteObject(background_);
    if (goneEvent_) CloseHandle(goneEvent_);
}

void Win32Dialog::runOnDialogThread(const std::function<void()>& fn) {
    const HWND hwnd = hwnd_.load();
    if (!hwnd) return;
    if (GetCurrentThreadId() == threadId_) {
        fn();
        return;
    }
    // Queue the call for the window's thread and wait until it has run or
    // the window is gone; a window destroyed meanwhile never runs it.
    auto task = std::make_shared<Task>();
    task->fn = fn;
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        if (!hwnd_.load()) return;
        tasks_.push_back(task);
    }
    if (!PostMessageW(hwnd, kRunMessage, 0, 0)) {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        for (auto it = tasks_.begin(); it != tasks_.end(); ++it)
            if (*it == task) {
                tasks_.erase(it);
                return;
            }
    }
    HANDLE handles[2] = {task->done, goneEvent_};
    WaitForMultipleObjects(2, handles, FALSE, INFINITE);
}

void Win32Dialog::runQueuedTasks() {
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::lock_guard<std::mutex> lock(tasksMutex_);
            if (tasks_.empty() || !hwnd_.load()) return;
            task = tasks_.front();
            tasks_.pop_front();
        }
        task->fn();
        SetEvent(task->done);
    }
}

void Win32Dialog::destroyed() {
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        hwnd_.store(nullptr);
        tasks_.clear();
    }
    SetEvent(goneEvent_);  // waiting callers return without their call run
}

template <class T>
T* Win32Dialog::typedControl(int id) {
    if (auto it = controls_.find(id); it != controls_.end()) return dynamic_cast<T*>(it->second.get());
    const HWND hwnd = hwnd_.load();
    HWND child = hwnd ? GetDlgItem(hwnd, id) : nullptr;
    if (!child) return nullptr;
    auto made = std::make_unique<T>(*this, child);
    T* raw = made.get();
    controls_[id] = std::move(made);
    return raw;
}

Control* Win32Dialog::control(int id) {
    Control* found = nullptr;
    runOnDialogThread([&] {
        if (auto it = controls_.find(id); it != controls_.end()) {
            found = it->second.get();
            return;
        }
        if (auto it = plain_.find(id); it != plain_.end()) {
            found = it->second.get();
            return;
        }
        if (HWND child = GetDlgItem(hwnd_.load(), id)) {
            auto made = std::make_unique<Win32Control>(*this, child);
            found = made.get();
            plain_[id] = std::move(made);
        }
    });
    return found;
}

ImageButton* Win32Dialog::imageButton(int id) {
    ImageButton* found = nullptr;
    runOnDialogThread([&] { found = typedControl<Win32ImageButton>(id); });
    return found;
}

ProgressBar* Win32Dialog::progressBar(int id) {
    ProgressBar* found = nullptr;
    runOnDialogThread([&] { found = typedControl<Win32ProgressBar>(id); });
    return found;
}

EditBox* Win32Dialog::editBox(int id) {
    EditBox* found = nullptr;
    runOnDialogThread([&] { found = typedControl<Win32EditBox>(id); });
    return found;
}

WebView* Win32Dialog::createWebView(int id, const Rect& rect, WebViewEvents& events) {
    WebView* made = nullptr;
    runOnDialogThread([&] {
        ApplyBuildIeDocumentMode();  // before the first browser is made
        HWND host = CreateWebViewHost(hwnd_.load(), id, rect);
        if (!host) return;
        auto view = std::make_unique<Win32WebView>(*this, host, events);
        view->createBrowser();  // without it the view stays a plain child window
        made = view.get();
        webViews_.push_back(std::move(view));
    });
    return made;
}

void Win32Dialog::setSize(int width, int height) {
    runOnDialogThread([&] {
        SetWindowPos(hwnd_.load(), nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    });
}

Rect Win32Dialog::windowRect() {
    Rect r;
    runOnDialogThread([&] {
        RECT wr{};
        GetWindowRect(hwnd_.load(), &wr);
        r = {wr.left, wr.top, wr.right, wr.bottom};
    });
    return r;
}

void Win32Dialog::setIcon(int iconId) {
    runOnDialogThread([&] {
        const HWND hwnd = hwnd_.load();
        bigIcon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId));
        smallIcon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId));
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    });
}

void Win32Dialog::setTitle(const WString& title) {
    runOnDialogThread([&] { SetWindowTextW(hwnd_.load(), W(title)); });
}

WString Win32Dialog::title() {
    WString text;
    runOnDialogThread([&] {
        const HWND hwnd = hwnd_.load();
        std::wstring buffer(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
        const int n = GetWindowTextW(hwnd, buffer.data(), static_cast<int>(buffer.size()));
        text = U(buffer.data(), static_cast<std::size_t>(n > 0 ? n : 0));
    });
    return text;
}

void Win32Dialog::removeClientEdge() {
    runOnDialogThread([&] {
        const HWND hwnd = hwnd_.load();
        const LONG_PTR ex = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
        if (ex & WS_EX_CLIENTEDGE) SetWindowLongPtrW(hwnd, GWL_EXSTYLE, ex & ~WS_EX_CLIENTEDGE);
    });
}

void Win32Dialog::minimize() {
    runOnDialogThread([&] { ShowWindow(hwnd_.load(), SW_MINIMIZE); });
}

bool Win32Dialog::isIconic() {
    bool iconic = false;
    runOnDialogThread([&] { iconic = IsIconic(hwnd_.load()) != FALSE; });
    return iconic;
}

void Win32Dialog::endDialog(int result) {
    runOnDialogThread([&] { EndDialog(hwnd_.load(), result); });
}

bool Win32Dialog::exists() {
    const HWND hwnd = hwnd_.load();
    return hwnd && IsWindow(hwnd);
}

void Win32Dialog::setTimer(int id, unsigned periodMs) {
    runOnDialogThread([&] { SetTimer(hwnd_.load(), static_cast<UINT_PTR>(id), periodMs, nullptr); });
}

void Win32Dialog::killTimer(int id) {
    runOnDialogThread([&] { KillTimer(hwnd_.load(), static_cast<UINT_PTR>(id)); });
}

// ------------------------------------------------------------- skin

bool Win32Dialog::setBackgroundFile(const WString& path) {
    bool loaded = false;
    runOnDialogThread([&] {
        // The old picture goes in every case, also when the new one fails.
        if (background_) DeleteObject(background_);
        background_ = nullptr;
        auto* bitmap = static_cast<HBITMAP>(
            LoadImageW(nullptr, W(path), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
        if (bitmap) {
            BITMAP info{};
            if (GetObjectW(bitmap, sizeof info, &info)) {
                background_ = bitmap;
                backgroundWidth_ = info.bmWidth;
                backgroundHeight_ = info.bmHeight;
                loaded = true;
            } else {
                DeleteObject(bitmap);
            }
        }
        InvalidateRect(hwnd_.load(), nullptr, TRUE);
    });
    return loaded;
}

void Win32Dialog::setBackgroundStyle(int style) {
    runOnDialogThread([&] {
        backgroundStyle_ = style;
        if (style == 4 && background_)
            SetWindowPos(hwnd_.load(), nullptr, 0, 0, backgroundWidth_, backgroundHeight_,
                         SWP_NOMOVE | SWP_NOOWNERZORDER);
    });
}

void Win32Dialog::enableDragAnywhere(bool enable) {
    runOnDialogThread([&] { dragAnywhere_ = enable; });
}

void Win32Dialog::setColorKey(std::uint32_t colorRef) {
    runOnDialogThread([&] {
        using SetLayeredFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
        HMODULE user32 = GetModuleHandleW(L"USER32.DLL");
        auto setLayered = user32 ? reinterpret_cast<SetLayeredFn>(reinterpret_cast<void*>(
                                       GetProcAddress(user32, "SetLayeredWindowAttributes")))
                                 : nullptr;
        if (!setLayered) return;  // no layered windows: the window stays opaque
        const HWND hwnd = hwnd_.load();
        SetWindowLongW(hwnd, GWL_EXSTYLE, GetWindowLongW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
        setLayered(hwnd, colorRef, 0, LWA_COLORKEY);
    });
}

bool Win32Dialog::eraseBackground(HDC dc) {
    if (!background_) return false;  // the dialog's default erase
    RECT client{};
    GetClientRect(hwnd_.load(), &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_3DFACE));
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, background_);
    const int cw = client.right - client.left, ch = client.bottom - client.top;
    const int w = backgroundWidth_, h = backgroundHeight_;
    switch (backgroundStyle_) {
        case 0:
        case 4:
            BitBlt(dc, 0, 0, cw, ch, memory, 0, 0, SRCCOPY);
            break;
        case 1:
            if (w > 0 && h > 0)
                for (int y = 0; y < ch; y += h)
                    for (int x = 0; x < cw; x += w) BitBlt(dc, x, y, cw, ch, memory, 0, 0, SRCCOPY);
            break;
        case 2:
            BitBlt(dc, (cw - w) / 2, (ch - h) / 2, cw, ch, memory, 0, 0, SRCCOPY);
            break;
        case 3:
            StretchBlt(dc, 0, 0, cw, ch, memory, 0, 0, w, h, SRCCOPY);
            break;
        default:
            break;
    }
    SelectObject(memory, old);
    DeleteDC(memory);
    return true;
}

void Win32Dialog::paintIconic() {
    const HWND hwnd = hwnd_.load();
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    RECT client{};
    GetClientRect(hwnd, &client);
    DrawIcon(dc, IconOffset(client.right - client.left, cx), IconOffset(client.bottom - client.top, cy),
             bigIcon_);
    EndPaint(hwnd, &ps);
}

// ------------------------------------------------------------- OpenGL

// The renderer is asked on a hidden window of its own: a pixel format can
// never be taken off a window again, and on the launcher window it would
// stay and spoil the colour-key transparency of the skin.
Bytes Win32Dialog::openGlRenderer() {
    Bytes name;
    runOnDialogThread([&] {
        static const wchar_t kClass[] = L"KorvaneGlProbe";
        WNDCLASSW wc{};
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassW(&wc);  // fails harmlessly when already registered
        const HWND probe = CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, 1, 1, hwnd_.load(),
                                           nullptr, wc.hInstance, nullptr);
        if (!probe) return;
        if (HDC dc = GetDC(probe)) {
            PIXELFORMATDESCRIPTOR pfd{};
            pfd.nSize = 40;
            pfd.nVersion = 1;
            pfd.dwFlags = 0x25;  // draw to window, OpenGL, double buffer
            pfd.iPixelType = PFD_TYPE_RGBA;
            pfd.cColorBits = 32;
            pfd.cDepthBits = 24;
            pfd.iLayerType = PFD_MAIN_PLANE;
            const int format = ChoosePixelFormat(dc, &pfd);
            if (format && SetPixelFormat(dc, format, &pfd)) {
                if (HGLRC context = wglCreateContext(dc)) {
                    if (wglMakeCurrent(dc, context)) {
                        if (const GLubyte* renderer = glGetString(GL_RENDERER))
                            name = reinterpret_cast<const char*>(renderer);
                        wglMakeCurrent(nullptr, nullptr);
                    }
                    wglDeleteContext(context);
                }
            }
            ReleaseDC(probe, dc);
        }
        DestroyWindow(probe);
    });
    return name;
}

// ------------------------------------------------------------- messages

void Win32Dialog::notePlayerInput(const MSG& msg) {
    for (auto& view : webViews_) view->notePlayerInput(msg);
}

bool Win32Dialog::translateKey(MSG& msg) {
    for (auto& view : webViews_)
        if (view->translateAccelerator(msg)) return true;
    return false;
}

bool Win32Dialog::handleMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) {
    const HWND hwnd = hwnd_.load();
    switch (msg) {
        case WM_INITDIALOG:
            result = handler_.onInitDialog(*this) ? TRUE : FALSE;
            return true;
        case WM_COMMAND: {
            const int id = LOWORD(wp);
            const int code = HIWORD(wp);
            if (id == IDOK) {
                handler_.onOK();
                return true;
            }
            if (id == IDCANCEL) {
                handler_.onCancel();
                return true;
            }
            if (code != BN_CLICKED) return false;
            if (auto it = controls_.find(id); it != controls_.end())
                if (auto* button = dynamic_cast<Win32ImageButton*>(it->second.get())) button->clicked();
            handler_.onCommand(id);
            return true;
        }
        case WM_CLOSE:
            handler_.onCancel();
            result = 0;
            return true;
        case WM_TIMER:
            handler_.onTimer(static_cast<int>(wp));
            return true;
        case kRunMessage:
            runQueuedTasks();
            return true;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (auto it = controls_.find(static_cast<int>(item->CtlID)); it != controls_.end())
                if (auto* button = dynamic_cast<Win32ImageButton*>(it->second.get())) {
                    button->draw(*item);
                    result = TRUE;
                    return true;
                }
            return false;
        }
        case WM_CTLCOLORBTN:
            // Image buttons paint only their picture over the background.
            if (auto it = controls_.find(GetDlgCtrlID(reinterpret_cast<HWND>(lp)));
                it != controls_.end() && dynamic_cast<Win32ImageButton*>(it->second.get())) {
                result = reinterpret_cast<INT_PTR>(GetStockObject(HOLLOW_BRUSH));
                return true;
            }
            return false;
        case WM_LBUTTONDOWN:
            if (dragAnywhere_) PostMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, lp);
            return false;
        case WM_ERASEBKGND:
            if (!eraseBackground(reinterpret_cast<HDC>(wp))) return false;
            result = TRUE;
            return true;
        case WM_SIZE:
            if (background_) InvalidateRect(hwnd, nullptr, TRUE);
            return false;
        case WM_PAINT:
            if (IsIconic(hwnd) && bigIcon_) {
                paintIconic();
                return true;
            }
            return false;
        case WM_QUERYDRAGICON:
            if (!bigIcon_) return false;
            result = reinterpret_cast<INT_PTR>(bigIcon_);
            return true;
        case WM_DESTROY:
            handler_.onDestroy();
            for (auto& view : webViews_) view->release();
            for (auto& [id, c] : controls_) c->release();
            destroyed();
            return false;
        default:
            return false;
    }
}

}  // namespace kvn::win32
