// The Windows windows of the launcher in plain Win32: modal dialogs from the
// resource templates, the bitmap button, the text progress bar, the log box,
// the hosted web browser control and message boxes.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace kvn::win32 {

class Win32Dialog;

class Win32Ui : public Ui {
public:
    Win32Ui() = default;
    ~Win32Ui() override;
    void initialise() override;
    int runModal(int templateId, DialogHandler& handler, Dialog* owner) override;
    MsgResult messageBox(Dialog* owner, const WString& text, const WString& caption,
                         MsgButtons buttons, MsgIcon icon) override;
    void desktopMessageBoxGbk(const Bytes& text, const Bytes& caption) override;
    // Runs a dialog from a template in memory (for checks and tests).
    int runModalIndirect(const DLGTEMPLATE* dialogTemplate, DialogHandler& handler, Dialog* owner);

private:
    int startModal();
    int finishModal(INT_PTR result, Win32Dialog* dialog);
    void dismissWorkerBoxes();

    std::atomic<int> depth_{0};  // modal dialogs running (UI thread)
    std::atomic<DWORD> uiThread_{0};
    // Threads other than the UI thread with a message box open, and whether
    // the program's last dialog has ended (no new box from them then).
    std::mutex boxesMutex_;
    std::map<DWORD, int> boxThreads_;
    bool closing_ = false;

    std::mutex mutex_;
    // Dialogs whose windows are gone. Their objects are kept for the rest of
    // the process: worker threads may still hold pointers to their controls,
    // whose calls then return at once.
    std::vector<Win32Dialog*> retired_;
};

// The window handle of a dialog handed out by Win32Ui (null when gone).
HWND DialogWindow(Dialog* dialog);
// The child window that holds a web view.
HWND CreateWebViewHost(HWND parent, int id, const Rect& rect);

// ------------------------------------------------------------- controls

class Win32Control : public virtual Control {
public:
    Win32Control(Win32Dialog& dialog, HWND hwnd) : dialog_(dialog), hwnd_(hwnd) {}
    void move(int x, int y, int width, int height) override;
    void show(bool visible) override;
    bool isVisible() override;
    Rect windowRect() override;
    void setText(const WString& text) override;
    WString text() override;
    HWND hwnd() const { return hwnd_; }
    // Called on the window's thread while the dialog is being destroyed.
    virtual void release() {}

protected:
    Win32Dialog& dialog_;
    HWND hwnd_;
};

struct MaskedImage {
    HBITMAP bitmap = nullptr;
    HBITMAP mask = nullptr;
    int width = 0, height = 0;
};

class Win32ImageButton : public Win32Control, public ImageButton {
public:
    Win32ImageButton(Win32Dialog& dialog, HWND hwnd);
    int setImages(int inBitmapId, int outBitmapId) override;
    void sizeToImage() override;
    void setCheck(int state) override;
    int checkState() override;
    bool isCheckBox() override { return checkBoxMode_; }
    void release() override;
    // Takes both bitmaps (out may be null) and builds their masks; the
    // result codes of setImages.
    int setImageBitmaps(HBITMAP in, HBITMAP out);

    // From the dialog: WM_DRAWITEM and a click (BN_CLICKED) of this button.
    void draw(const DRAWITEMSTRUCT& item);
    void clicked();

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp, bool& handled);
    void freeImages();
    void repaint();
    void setMouseOver(bool over);

    bool checkBoxMode_ = false;
    bool defaultButton_ = false;
    bool mouseOver_ = false;
    int marginX_ = 3, marginY_ = 3;
    int pressedShiftX_ = 1, pressedShiftY_ = 1;
    int checkState_ = 0;
    MaskedImage in_, out_;
};

class Win32ProgressBar : public Win32Control, public ProgressBar {
public:
    Win32ProgressBar(Win32Dialog& dialog, HWND hwnd);
    void setRange(int lower, int upper) override;
    void setPos(int position) override;
    int pos() override;
    void setBarText(const WString& text) override;
    WString barText() override;
    void release() override;

    // Colours of the text, the filled part and the rest (0x00BBGGRR).
    static constexpr COLORREF kText = RGB(0, 0, 0);
    static constexpr COLORREF kBar = RGB(69, 181, 170);
    static constexpr COLORREF kBackground = RGB(255, 255, 255);

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void paint(HDC dc);
    WString text_;  // touched on the window's thread only
};

class Win32EditBox : public Win32Control, public EditBox {
public:
    using Win32Control::Win32Control;
    void setLimitToMax() override;
    void append(const WString& text) override;
};

// The web browser control hosted in a child window (webview_ie.cpp).
class Win32WebView : public Win32Control, public WebView {
public:
    Win32WebView(Win32Dialog& dialog, HWND host, WebViewEvents& events);
    ~Win32WebView() override;
    // Creates the browser control in the host window; false when the
    // platform has none (the view then stays an empty child window).
    bool createBrowser();
    void move(int x, int y, int width, int height) override;
    void navigate(const WString& url) override;
    WString location() override;
    void release() override;
    bool hasBrowser() const;
    // The control's in-place active object, which gets the keys typed into
    // the view first; the control hands it over when it becomes active
    // (null: none). Kept with a reference.
    void setActiveObject(IOleInPlaceActiveObject* object);
    // Gives a keyboard message aimed at the view (or a window inside it) to
    // the active object; true when the control has taken it, so the dialog
    // manager must not see it.
    bool translateAccelerator(MSG& msg);
    // Notes a click (a mouse button let go) or an Enter or Space key aimed
    // at the view or a window inside it: the player's own input.
    void notePlayerInput(const MSG& msg);
    // Whether the player clicked or pressed Enter or Space in the view in the
    // last kGestureMs; the input then counts as used.
    bool takePlayerGesture();
    static constexpr ULONGLONG kGestureMs = 2000;
    // The container as the browser control sees it (its document host is
    // reached through QueryInterface) and its event sink; null without a
    // browser. For checks that make the control's calls themselves.
    IUnknown* containerSite() const;
    IDispatch* eventSink() const;
    // The control's browser object, as its events name it for the top frame.
    IDispatch* topBrowser() const;

    struct Site;  // the OLE container objects

private:
    WebViewEvents& events_;
    WString location_;
    Site* site_ = nullptr;
    IOleInPlaceActiveObject* activeObject_ = nullptr;  // dialog thread only
    ULONGLONG playerInputTick_ = 0;                    // dialog thread only; 0: none
};

// ------------------------------------------------------------- dialog

class Win32Dialog : public Dialog {
public:
    Win32Dialog(HWND hwnd, DialogHandler& handler);
    ~Win32Dialog() override;

    Control* control(int id) override;
    ImageButton* imageButton(int id) override;
    ProgressBar* progressBar(int id) override;
    EditBox* editBox(int id) override;
    WebView* createWebView(int id, const Rect& rect, WebViewEvents& events) override;

    void setSize(int width, int height) override;
    Rect windowRect() override;
    void setIcon(int iconId) override;
    void setTitle(const WString& title) override;
    WString title() override;
    void removeClientEdge() override;
    void minimize() override;
    bool isIconic() override;
    void endDialog(int result) override;
    bool exists() override;
    void setTimer(int id, unsigned periodMs) override;
    void killTimer(int id) override;
    bool setBackgroundFile(const WString& path) override;
    void setBackgroundStyle(int style) override;
    void enableDragAnywhere(bool enable) override;
    void setColorKey(std::uint32_t colorRef) override;
    Bytes openGlRenderer() override;
    void runOnDialogThread(const std::function<void()>& fn) override;

    HWND hwnd() const { return hwnd_.load(); }
    DialogHandler& handler() { return handler_; }
    // The dialog's message handling; returns true when the message is done
    // (result in `result`).
    bool handleMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result);
    // A keyboard message from the dialog's message loop, before the dialog
    // manager: true when a web view's control has taken it.
    bool translateKey(MSG& msg);
    // A mouse or keyboard message from the dialog's message loop.
    void notePlayerInput(const MSG& msg);

    static constexpr UINT kRunMessage = WM_APP + 0x4B;

private:
    struct Task {
        std::function<void()> fn;
        HANDLE done = nullptr;
        Task();
        ~Task();
    };
    void runQueuedTasks();
    void destroyed();
    bool eraseBackground(HDC dc);
    void paintIconic();
    template <class T>
    T* typedControl(int id);

    std::atomic<HWND> hwnd_;
    DWORD threadId_;
    DialogHandler& handler_;
    HANDLE goneEvent_;  // set when the window is destroyed

    std::mutex tasksMutex_;
    std::deque<std::shared_ptr<Task>> tasks_;

    std::map<int, std::unique_ptr<Win32Control>> controls_;  // typed wrappers
    std::map<int, std::unique_ptr<Win32Control>> plain_;     // control() of other ids
    std::vector<std::unique_ptr<Win32WebView>> webViews_;

    HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
    HBITMAP background_ = nullptr;
    int backgroundWidth_ = 0, backgroundHeight_ = 0;
    int backgroundStyle_ = 0;
    bool dragAnywhere_ = true;
};

}  // namespace kvn::win32
