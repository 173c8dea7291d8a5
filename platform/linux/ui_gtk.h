// The GTK 3 / WebKitGTK windows of the launcher: dialogs built from the
// templates, the bitmap button, the text progress bar, the log box, the web
// view and message boxes.
//
// GTK is only ever called on its own thread, the one that made the GtkUi.
// Other threads reach it through one hand-over (CallOnGtkThread): a call
// waits until the GTK thread's loop has run it, is dropped when what it is
// aimed at has gone, and never runs GTK on the caller's thread.
#pragma once

#include <gtk/gtk.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "res/templates.h"

namespace kvn::linuxp {

// ------------------------------------------------------------- hand-over

// True on the thread that runs GTK.
bool OnGtkThread();

// What calls from other threads are aimed at: one dialog, or the program's
// windows as a whole (message boxes). Once it has ended, calls aimed at it
// are dropped and callers still waiting for one are released.
class CallTarget {
public:
    bool open() const { return open_.load(); }
    // On the GTK thread only.
    void end();

private:
    std::atomic<bool> open_{true};
};

// Runs fn on the GTK thread while the target is open and waits until it has
// run or been dropped; true when it ran. From the GTK thread itself fn runs
// at once (when the target is open).
bool CallOnGtkThread(const std::shared_ptr<CallTarget>& target, const std::function<void()>& fn);
// The same without waiting; fn owns what it uses.
void PostToGtkThread(const std::shared_ptr<CallTarget>& target, std::function<void()> fn);

// ------------------------------------------------------------- the Ui

class UiDialog;

class GtkUi : public Ui {
public:
    GtkUi();
    ~GtkUi() override;
    void initialise() override;
    int runModal(int templateId, DialogHandler& handler, Dialog* owner) override;
    MsgResult messageBox(Dialog* owner, const WString& text, const WString& caption,
                         MsgButtons buttons, MsgIcon icon) override;
    void desktopMessageBoxGbk(const Bytes& text, const Bytes& caption) override;

private:
    int depth_ = 0;  // modal dialogs running (GTK thread)
    std::mutex mutex_;
    // Open while the program has a window: worker threads' message boxes
    // wait for it; once the last dialog has ended they get their default
    // answer at once. A new first dialog opens a new one.
    std::shared_ptr<CallTarget> windows_;
    // Dialogs whose windows are gone. Their objects live as long as the Ui:
    // worker threads may still hold pointers to them and their controls,
    // whose calls are then dropped.
    std::vector<std::unique_ptr<UiDialog>> dialogs_;
};

// ------------------------------------------------------------- controls

class UiControl : public virtual Control {
public:
    UiControl(UiDialog& dialog, GtkWidget* widget) : dialog_(dialog), widget_(widget) {}
    void move(int x, int y, int width, int height) override;
    void show(bool visible) override;
    bool isVisible() override { return visible_.load(); }
    Rect windowRect() override;
    void setText(const WString& text) override;
    WString text() override;
    GtkWidget* widget() const { return widget_; }
    // Puts the widget at a place of the dialog (GTK thread).
    void place(int x, int y, int width, int height);
    // The window is deactivated or the control loses its state (GTK thread).
    virtual void deactivated() {}

protected:
    // Repaints from any thread, without waiting.
    void redraw();
    UiDialog& dialog_;
    GtkWidget* widget_;
    std::mutex mutex_;
    Rect rect_;
    WString text_;
    std::atomic<bool> visible_{true};
};

// A push button with a caption (the uninstall window's button).
class UiPushButton : public UiControl {
public:
    UiPushButton(UiDialog& dialog, int id, const WString& caption);
    void setText(const WString& text) override;
    WString text() override;
};

class UiImageButton : public UiControl, public ImageButton {
public:
    UiImageButton(UiDialog& dialog, int id, bool checkBox);
    ~UiImageButton() override;
    int setImages(int inBitmapId, int outBitmapId) override;
    void sizeToImage() override;
    void setCheck(int state) override;
    int checkState() override { return check_.load(); }
    bool isCheckBox() override { return checkBox_; }
    void deactivated() override;

    // What the button shows now (GTK thread): the in image, and whether it
    // is drawn moved by the pressed shift.
    bool showsInImage() const;
    bool showsPressed() const;

    // Whether a widget is a bitmap button (it takes Enter for itself), and
    // whether a key is one of the Enter keys.
    static bool IsImageButton(GtkWidget* widget);
    static bool IsEnterKey(guint keyval);

private:
    static gboolean Draw(GtkWidget*, cairo_t* cr, gpointer self);
    void setOver(bool over);
    bool inside(double x, double y) const;
    void click();

    int id_;
    bool checkBox_;
    std::atomic<int> check_{0};
    // GTK thread: the pointer is over the button, the left button went down
    // on it and is still held.
    bool over_ = false, pressed_ = false;
    // GTK thread: Space went down while the button had the focus.
    bool spaceHeld_ = false;
    GdkPixbuf* in_ = nullptr;
    GdkPixbuf* out_ = nullptr;
};

class UiProgressBar : public UiControl, public ProgressBar {
public:
    explicit UiProgressBar(UiDialog& dialog);
    void setRange(int lower, int upper) override;
    void setPos(int position) override;
    int pos() override { return pos_.load(); }
    void setBarText(const WString& text) override { UiControl::setText(text); }
    WString barText() override { return UiControl::text(); }

private:
    static gboolean Draw(GtkWidget* w, cairo_t* cr, gpointer self);
    std::atomic<int> lower_{0}, upper_{100}, pos_{0};
};

class UiEditBox : public UiControl, public EditBox {
public:
    explicit UiEditBox(UiDialog& dialog);
    void setLimitToMax() override {}
    void append(const WString& text) override;
    void setText(const WString& text) override;
    WString text() override;

private:
    GtkWidget* view_;
};

// The web view (webview_gtk.cpp).
class UiWebView : public UiControl, public WebView {
public:
    UiWebView(UiDialog& dialog, WebViewEvents& events);
    void navigate(const WString& url) override;
    WString location() override;
    // From the view's signals (GTK thread).
    WebViewEvents& events() { return events_; }
    void setLocation(const WString& url);

private:
    WebViewEvents& events_;
    WString location_;
};

// ------------------------------------------------------------- dialog

class UiDialog : public Dialog {
public:
    UiDialog(const res::DialogTemplate& t, DialogHandler& handler, GtkWindow* owner);
    ~UiDialog() override;

    Control* control(int id) override;
    ImageButton* imageButton(int id) override { return dynamic_cast<ImageButton*>(control(id)); }
    ProgressBar* progressBar(int id) override { return dynamic_cast<ProgressBar*>(control(id)); }
    EditBox* editBox(int id) override { return dynamic_cast<EditBox*>(control(id)); }
    WebView* createWebView(int id, const Rect& rect, WebViewEvents& events) override;

    void setSize(int width, int height) override;
    Rect windowRect() override;
    void setIcon(int iconId) override;
    void setTitle(const WString& title) override;
    WString title() override;
    void removeClientEdge() override {}
    void minimize() override;
    bool isIconic() override;
    void endDialog(int result) override;
    bool exists() override { return target_->open(); }
    void setTimer(int id, unsigned periodMs) override;
    void killTimer(int id) override;
    bool setBackgroundFile(const WString& path) override;
    void setBackgroundStyle(int style) override;
    void enableDragAnywhere(bool enable) override { drag_ = enable; }
    void setColorKey(std::uint32_t colorRef) override;
    Bytes openGlRenderer() override;
    void runOnDialogThread(const std::function<void()>& fn) override { call(fn); }

    // Runs the window until endDialog; the result given to it.
    int run();
    // Runs fn on the GTK thread while the window is there (waits for it).
    void call(const std::function<void()>& fn);
    // The same without waiting; fn owns what it uses.
    void post(std::function<void()> fn);
    // GTK thread: the window has not been destroyed yet.
    bool hasWindow() const { return window_ != nullptr; }
    GtkWidget* window() const { return window_; }
    GtkWidget* fixed() const { return fixed_; }
    DialogHandler& handler() { return handler_; }

private:
    static gboolean DrawBackground(GtkWidget* w, cairo_t* cr, gpointer self);
    void applyShape();
    void addControl(const res::TemplateControl& c, double sx, double sy);
    void destroyWindow();

    DialogHandler& handler_;
    std::shared_ptr<CallTarget> target_ = std::make_shared<CallTarget>();
    GtkWidget* window_ = nullptr;
    GtkWidget* fixed_ = nullptr;
    GMainLoop* loop_ = nullptr;
    // Filled while the window is made, read-only afterwards.
    std::map<int, std::unique_ptr<UiControl>> controls_;
    // GTK thread only.
    std::vector<std::unique_ptr<UiControl>> webViews_;
    std::map<int, guint> timers_;
    GdkPixbuf* background_ = nullptr;
    int style_ = 0;
    std::atomic<bool> drag_{false};
    bool hasKey_ = false;
    std::uint32_t colorKey_ = 0;
    int width_ = 0, height_ = 0;
    int result_ = 0;
    bool ended_ = false;
};

// A bitmap file decoded by GdkPixbuf's BMP loader, named outright: left to
// guess the format from the first bytes, GdkPixbuf takes some whole bitmaps
// for other kinds of file (a file size field of 0x..1100 reads as a TeX
// font metric) and refuses them. Null when the file is missing or not a
// bitmap that loader decodes.
GdkPixbuf* LoadBmpFile(const std::string& path);

}  // namespace kvn::linuxp
