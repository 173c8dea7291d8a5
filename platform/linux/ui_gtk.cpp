#include "platform/linux/ui_gtk.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <dlfcn.h>
#include <unistd.h>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "platform/linux/paths.h"
#include "platform/text.h"
#include "res/templates.h"
#include "skin/skin.h"

namespace kvn::linuxp {
namespace {

std::thread::id g_mainThread;

bool OnMainThread() { return std::this_thread::get_id() == g_mainThread; }

std::string U8(const WString& s) { return toUtf8(s); }
WString U16(const char* s) { return s ? fromUtf8(s) : WString(); }

// Runs fn on the GTK thread and waits for it. `alive` (may be null) is checked
// on the GTK thread: when the owner has gone, fn is skipped.
void RunOnMain(const std::function<void()>& fn, std::shared_ptr<std::atomic<bool>> alive) {
    if (OnMainThread()) {
        if (!alive || *alive) fn();
        return;
    }
    if (alive && !*alive) return;
    struct Call {
        std::function<void()> fn;
        std::shared_ptr<std::atomic<bool>> alive;
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
    };
    auto call = std::make_shared<Call>();
    call->fn = fn;
    call->alive = alive;
    auto* holder = new std::shared_ptr<Call>(call);
    g_main_context_invoke_full(nullptr, G_PRIORITY_DEFAULT, [](gpointer p) -> gboolean {
        auto& c = **static_cast<std::shared_ptr<Call>*>(p);
        if (!c.alive || *c.alive) c.fn();
        std::lock_guard<std::mutex> lock(c.m);
        c.done = true;
        c.cv.notify_all();
        return G_SOURCE_REMOVE;
    }, holder, [](gpointer p) { delete static_cast<std::shared_ptr<Call>*>(p); });
    std::unique_lock<std::mutex> lock(call->m);
    // Waits in slices so that a dialog going away releases the caller.
    while (!call->done) {
        if (alive && !*alive) return;
        call->cv.wait_for(lock, std::chrono::milliseconds(50));
    }
}

// The renderer name of a temporary OpenGL context. The context is made on a
// small window of its own that is never shown, so the dialog's own window
// keeps painting as before. GTK reaches OpenGL through libepoxy, which is
// already loaded with it; its glGetString entry is looked up at run time.
// Empty on any failure (no GL, no context, no entry).
Bytes QueryGlRenderer(GtkWidget* near) {
    using GetStringFn = const unsigned char* (*)(unsigned int);
    constexpr unsigned int kGlRenderer = 0x1F01;
    auto* entry = reinterpret_cast<GetStringFn*>(dlsym(RTLD_DEFAULT, "epoxy_glGetString"));
    if (!entry || !*entry) return {};

    GdkScreen* screen = near ? gtk_widget_get_screen(near) : gdk_screen_get_default();
    if (!screen) return {};
    GdkWindowAttr attr{};
    attr.window_type = GDK_WINDOW_TEMP;
    attr.wclass = GDK_INPUT_OUTPUT;
    attr.x = -100;
    attr.y = -100;
    attr.width = 1;
    attr.height = 1;
    attr.override_redirect = TRUE;
    GdkWindow* probe = gdk_window_new(gdk_screen_get_root_window(screen), &attr,
                                      GDK_WA_X | GDK_WA_Y | GDK_WA_NOREDIR);
    if (!probe) return {};

    Bytes name;
    GError* error = nullptr;
    if (GdkGLContext* context = gdk_window_create_gl_context(probe, &error)) {
        if (gdk_gl_context_realize(context, &error)) {
            gdk_gl_context_make_current(context);
            if (gdk_gl_context_get_current() == context) {
                if (const unsigned char* text = (*entry)(kGlRenderer))
                    name = reinterpret_cast<const char*>(text);
            }
            gdk_gl_context_clear_current();
        }
        g_object_unref(context);
    }
    if (error) g_error_free(error);
    gdk_window_destroy(probe);
    return name;
}

std::string ResourceFolder() {
    if (const char* env = getenv("KORVANE_RES_DIR")) return env;
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
        buf[n] = 0;
        std::string dir(buf);
        dir = dir.substr(0, dir.rfind('/'));
        std::string candidate = dir + "/res";
        if (g_file_test((candidate + "/bitmaps").c_str(), G_FILE_TEST_IS_DIR)) return candidate;
    }
#ifdef KVN_RES_DIR
    return KVN_RES_DIR;
#else
    return "res";
#endif
}

GdkPixbuf* LoadBitmap(int id) {
    std::string file = ResourceFolder() + "/bitmaps/" + std::to_string(id) + ".bmp";
    GdkPixbuf* pb = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
    if (!pb) return nullptr;
    // Pure green is the buttons' transparent colour.
    GdkPixbuf* keyed = gdk_pixbuf_add_alpha(pb, TRUE, 0, 255, 0);
    g_object_unref(pb);
    return keyed;
}

class GtkDialogImpl;

// ---------------------------------------------------------------- controls

class ControlBase : public virtual Control {
public:
    ControlBase(GtkDialogImpl& d, GtkWidget* w) : dlg_(d), widget_(w) {}
    ~ControlBase() override = default;
    void move(int x, int y, int width, int height) override;
    void show(bool visible) override;
    bool isVisible() override;
    Rect windowRect() override {
        std::lock_guard<std::mutex> lock(m_);
        return rect_;
    }
    void setText(const WString& text) override {
        std::lock_guard<std::mutex> lock(m_);
        text_ = text;
    }
    WString text() override {
        std::lock_guard<std::mutex> lock(m_);
        return text_;
    }
    GtkWidget* widget() const { return widget_; }
    void place(int x, int y, int w, int h);

protected:
    void redraw();
    GtkDialogImpl& dlg_;
    GtkWidget* widget_;
    std::mutex m_;
    Rect rect_;
    WString text_;
    std::atomic<bool> visible_{true};
};

class ImageButtonImpl : public ImageButton, public ControlBase {
public:
    ImageButtonImpl(GtkDialogImpl& d, int id, bool checkBox);
    ~ImageButtonImpl() override {
        if (in_) g_object_unref(in_);
        if (out_) g_object_unref(out_);
    }
    int setImages(int inId, int outId) override;
    void sizeToImage() override;
    void setCheck(int state) override {
        if (!checkBox_) return;
        check_ = (state == 1 || state == 2) ? 1 : 0;
        redraw();
    }
    int checkState() override { return check_; }
    bool isCheckBox() override { return checkBox_; }

private:
    static gboolean Draw(GtkWidget*, cairo_t* cr, gpointer self);
    int id_;
    bool checkBox_;
    std::atomic<int> check_{0};
    bool hover_ = false, pressed_ = false;
    GdkPixbuf* in_ = nullptr;
    GdkPixbuf* out_ = nullptr;
};

class ProgressBarImpl : public ProgressBar, public ControlBase {
public:
    ProgressBarImpl(GtkDialogImpl& d);
    void setRange(int lower, int upper) override {
        lower_ = lower;
        upper_ = upper;
        redraw();
    }
    void setPos(int position) override {
        pos_ = position;
        redraw();
    }
    int pos() override { return pos_; }
    void setBarText(const WString& text) override { setText(text); }
    WString barText() override { return text(); }

private:
    static gboolean Draw(GtkWidget* w, cairo_t* cr, gpointer self);
    std::atomic<int> lower_{0}, upper_{100}, pos_{0};
};

class EditBoxImpl : public EditBox, public ControlBase {
public:
    EditBoxImpl(GtkDialogImpl& d, GtkWidget* scroller, GtkWidget* view)
        : ControlBase(d, scroller), view_(view) {}
    void setLimitToMax() override {}
    void append(const WString& text) override;
    void setText(const WString& text) override;
    WString text() override;

private:
    GtkWidget* view_;
};

class PushButtonImpl : public ControlBase {
public:
    using ControlBase::ControlBase;
};

class WebViewImpl : public WebView, public ControlBase {
public:
    WebViewImpl(GtkDialogImpl& d, GtkWidget* w, WebViewEvents& events)
        : ControlBase(d, w), events_(events) {}
    void navigate(const WString& url) override;
    WString location() override {
        std::lock_guard<std::mutex> lock(m_);
        return location_;
    }
    static gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);

private:
    WebViewEvents& events_;
    WString location_;
};

// ---------------------------------------------------------------- dialog

class GtkDialogImpl : public Dialog {
public:
    GtkDialogImpl(const res::DialogTemplate& t, DialogHandler& h, GtkWindow* owner);
    ~GtkDialogImpl() override;

    Control* control(int id) override {
        auto it = controls_.find(id);
        return it == controls_.end() ? nullptr : it->second.get();
    }
    ImageButton* imageButton(int id) override { return dynamic_cast<ImageButton*>(control(id)); }
    ProgressBar* progressBar(int id) override { return dynamic_cast<ProgressBar*>(control(id)); }
    EditBox* editBox(int id) override { return dynamic_cast<EditBox*>(control(id)); }
    WebView* createWebView(int id, const Rect& rect, WebViewEvents& events) override;

    void setSize(int width, int height) override {
        RunOnMain([&] {
            width_ = width;
            height_ = height;
            gtk_widget_set_size_request(fixed_, width, height);
            gtk_window_resize(GTK_WINDOW(window_), width, height);
            applyShape();
        }, alive_);
    }
    Rect windowRect() override {
        Rect r;
        RunOnMain([&] {
            int x = 0, y = 0;
            gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
            r = {x, y, x + width_, y + height_};
        }, alive_);
        return r;
    }
    void setIcon(int) override {
        RunOnMain([&] {
            std::string ico = ResourceFolder() + "/Login.ico";
            gtk_window_set_icon_from_file(GTK_WINDOW(window_), ico.c_str(), nullptr);
        }, alive_);
    }
    void setTitle(const WString& title) override {
        RunOnMain([&] { gtk_window_set_title(GTK_WINDOW(window_), U8(title).c_str()); }, alive_);
    }
    WString title() override {
        WString t;
        RunOnMain([&] { t = U16(gtk_window_get_title(GTK_WINDOW(window_))); }, alive_);
        return t;
    }
    void removeClientEdge() override {}
    void minimize() override {
        RunOnMain([&] { gtk_window_iconify(GTK_WINDOW(window_)); }, alive_);
    }
    bool isIconic() override {
        bool r = false;
        RunOnMain([&] {
            GdkWindow* w = gtk_widget_get_window(window_);
            r = w && (gdk_window_get_state(w) & GDK_WINDOW_STATE_ICONIFIED);
        }, alive_);
        return r;
    }
    void endDialog(int result) override {
        RunOnMain([&] {
            result_ = result;
            ended_ = true;
            if (loop_) g_main_loop_quit(loop_);
        }, alive_);
    }
    bool exists() override { return *alive_; }
    void setTimer(int id, unsigned periodMs) override;
    void killTimer(int id) override;
    bool setBackgroundFile(const WString& path) override;
    void setBackgroundStyle(int style) override {
        RunOnMain([&] {
            style_ = style;
            if (style == 4 && background_)
                setSize(gdk_pixbuf_get_width(background_), gdk_pixbuf_get_height(background_));
            gtk_widget_queue_draw(window_);
        }, alive_);
    }
    void enableDragAnywhere(bool enable) override { drag_ = enable; }
    void setColorKey(std::uint32_t colorRef) override {
        RunOnMain([&] {
            colorKey_ = colorRef;
            hasKey_ = true;
            applyShape();
        }, alive_);
    }
    Bytes openGlRenderer() override {
        Bytes name;
        RunOnMain([&] { name = QueryGlRenderer(window_); }, alive_);
        return name;
    }
    void runOnDialogThread(const std::function<void()>& fn) override { RunOnMain(fn, alive_); }

    int run();
    GtkWidget* fixed() const { return fixed_; }
    GtkWidget* window() const { return window_; }
    DialogHandler& handler() { return handler_; }
    std::shared_ptr<std::atomic<bool>> alive() const { return alive_; }
    bool drag() const { return drag_; }

private:
    static gboolean DrawBackground(GtkWidget* w, cairo_t* cr, gpointer self);
    void applyShape();
    void addControl(const res::TemplateControl& c, double sx, double sy);

    DialogHandler& handler_;
    GtkWidget* window_ = nullptr;
    GtkWidget* fixed_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::map<int, std::unique_ptr<ControlBase>> controls_;
    std::vector<std::unique_ptr<ControlBase>> webViews_;
    std::map<int, guint> timers_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    GdkPixbuf* background_ = nullptr;
    int style_ = 0;
    std::atomic<bool> drag_{false};
    bool hasKey_ = false;
    std::uint32_t colorKey_ = 0;
    int width_ = 0, height_ = 0;
    int result_ = 0;
    bool ended_ = false;
};

void ControlBase::place(int x, int y, int w, int h) {
    rect_ = {x, y, x + w, y + h};
    gtk_fixed_move(GTK_FIXED(dlg_.fixed()), widget_, x, y);
    gtk_widget_set_size_request(widget_, w, h);
}

void ControlBase::move(int x, int y, int width, int height) {
    RunOnMain([&] {
        std::lock_guard<std::mutex> lock(m_);
        place(x, y, width, height);
    }, dlg_.alive());
}

void ControlBase::show(bool visible) {
    visible_ = visible;
    RunOnMain([&] { gtk_widget_set_visible(widget_, visible); }, dlg_.alive());
}

bool ControlBase::isVisible() { return visible_; }

void ControlBase::redraw() {
    if (OnMainThread()) {
        gtk_widget_queue_draw(widget_);
        return;
    }
    // From a worker: queue a repaint without waiting for it.
    auto* alive = new std::shared_ptr<std::atomic<bool>>(dlg_.alive());
    struct Ctx {
        std::shared_ptr<std::atomic<bool>> alive;
        GtkWidget* w;
    };
    auto* ctx = new Ctx{*alive, widget_};
    delete alive;
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, [](gpointer p) -> gboolean {
        auto* c = static_cast<Ctx*>(p);
        if (*c->alive) gtk_widget_queue_draw(c->w);
        return G_SOURCE_REMOVE;
    }, ctx, [](gpointer p) { delete static_cast<Ctx*>(p); });
}

// ---------------------------------------------------------------- image button

ImageButtonImpl::ImageButtonImpl(GtkDialogImpl& d, int id, bool checkBox)
    : ControlBase(d, gtk_drawing_area_new()), id_(id), checkBox_(checkBox) {
    gtk_widget_add_events(widget_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                       GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK);
    g_signal_connect(widget_, "draw", G_CALLBACK(Draw), this);
    g_signal_connect(widget_, "enter-notify-event", G_CALLBACK(+[](GtkWidget* w, GdkEvent*, gpointer p) -> gboolean {
        static_cast<ImageButtonImpl*>(p)->hover_ = true;
        gtk_widget_queue_draw(w);
        return FALSE;
    }), this);
    g_signal_connect(widget_, "leave-notify-event", G_CALLBACK(+[](GtkWidget* w, GdkEvent*, gpointer p) -> gboolean {
        static_cast<ImageButtonImpl*>(p)->hover_ = false;
        gtk_widget_queue_draw(w);
        return FALSE;
    }), this);
    g_signal_connect(widget_, "button-press-event", G_CALLBACK(+[](GtkWidget* w, GdkEventButton* e, gpointer p) -> gboolean {
        if (e->button != 1 || e->type != GDK_BUTTON_PRESS) return TRUE;
        static_cast<ImageButtonImpl*>(p)->pressed_ = true;
        gtk_widget_queue_draw(w);
        return TRUE;
    }), this);
    g_signal_connect(widget_, "button-release-event", G_CALLBACK(+[](GtkWidget* w, GdkEventButton* e, gpointer p) -> gboolean {
        auto* self = static_cast<ImageButtonImpl*>(p);
        if (e->button != 1 || !self->pressed_) return TRUE;
        self->pressed_ = false;
        gtk_widget_queue_draw(w);
        GtkAllocation a;
        gtk_widget_get_allocation(w, &a);
        if (e->x < 0 || e->y < 0 || e->x >= a.width || e->y >= a.height) return TRUE;
        if (self->checkBox_) self->check_ = 1;  // an auto check box clicked: checked
        self->dlg_.handler().onCommand(self->id_);
        return TRUE;
    }), this);
}

int ImageButtonImpl::setImages(int inId, int outId) {
    int rc = 0;
    RunOnMain([&] {
        if (in_) g_object_unref(in_);
        if (out_) g_object_unref(out_);
        in_ = LoadBitmap(inId);
        out_ = outId ? LoadBitmap(outId) : nullptr;
        if (!in_ || (outId && !out_)) {
            if (in_) g_object_unref(in_);
            if (out_) g_object_unref(out_);
            in_ = out_ = nullptr;
            rc = 1;
        }
        gtk_widget_queue_draw(widget_);
    }, dlg_.alive());
    return rc;
}

void ImageButtonImpl::sizeToImage() {
    RunOnMain([&] {
        if (!in_) return;
        std::lock_guard<std::mutex> lock(m_);
        place(rect_.left, rect_.top, gdk_pixbuf_get_width(in_), gdk_pixbuf_get_height(in_));
    }, dlg_.alive());
}

gboolean ImageButtonImpl::Draw(GtkWidget*, cairo_t* cr, gpointer p) {
    auto* self = static_cast<ImageButtonImpl*>(p);
    bool useIn = self->checkBox_ ? self->check_ == 1 : (self->hover_ || self->pressed_);
    GdkPixbuf* pb = useIn ? self->in_ : self->out_;
    if (!pb) pb = self->in_;
    if (!pb) return FALSE;
    int shift = (!self->checkBox_ && self->pressed_) ? 1 : 0;
    gdk_cairo_set_source_pixbuf(cr, pb, shift, shift);
    cairo_paint(cr);
    return FALSE;
}

// ---------------------------------------------------------------- progress bar

ProgressBarImpl::ProgressBarImpl(GtkDialogImpl& d) : ControlBase(d, gtk_drawing_area_new()) {
    g_signal_connect(widget_, "draw", G_CALLBACK(Draw), this);
}

gboolean ProgressBarImpl::Draw(GtkWidget* w, cairo_t* cr, gpointer p) {
    auto* self = static_cast<ProgressBarImpl*>(p);
    int width = gtk_widget_get_allocated_width(w);
    int height = gtk_widget_get_allocated_height(w);
    int split = ProgressSplit(width, self->lower_, self->upper_, self->pos_);
    if (split > width) split = width;
    if (split < 0) split = 0;
    cairo_set_source_rgb(cr, 69 / 255.0, 181 / 255.0, 170 / 255.0);
    cairo_rectangle(cr, 0, 0, split, height);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, split, 0, width - split, height);
    cairo_fill(cr);
    std::string text = U8(self->text());
    if (!text.empty()) {
        PangoLayout* layout = gtk_widget_create_pango_layout(w, text.c_str());
        int cx = 0, cy = 0;
        pango_layout_get_pixel_size(layout, &cx, &cy);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_move_to(cr, (width - cx) / 2, (height - cy) / 2);
        pango_cairo_show_layout(cr, layout);
        g_object_unref(layout);
    }
    return TRUE;
}

// ---------------------------------------------------------------- edit box

void EditBoxImpl::append(const WString& text) {
    std::string s = U8(text);
    RunOnMain([&] {
        GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_));
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(buf, &end);
        gtk_text_buffer_insert(buf, &end, s.c_str(), -1);
        gtk_text_buffer_get_end_iter(buf, &end);
        GtkTextMark* mark = gtk_text_buffer_get_insert(buf);
        gtk_text_buffer_place_cursor(buf, &end);
        gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(view_), mark);
    }, dlg_.alive());
}

void EditBoxImpl::setText(const WString& text) {
    std::string s = U8(text);
    RunOnMain([&] {
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_)), s.c_str(), -1);
    }, dlg_.alive());
}

WString EditBoxImpl::text() {
    WString r;
    RunOnMain([&] {
        GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_));
        GtkTextIter a, b;
        gtk_text_buffer_get_bounds(buf, &a, &b);
        gchar* t = gtk_text_buffer_get_text(buf, &a, &b, FALSE);
        r = U16(t);
        g_free(t);
    }, dlg_.alive());
    return r;
}

// ---------------------------------------------------------------- web view

void WebViewImpl::navigate(const WString& url) {
    {
        std::lock_guard<std::mutex> lock(m_);
        location_ = url;
    }
    std::string u = U8(url);
    RunOnMain([&] { webkit_web_view_load_uri(WEBKIT_WEB_VIEW(widget_), u.c_str()); }, dlg_.alive());
}

gboolean WebViewImpl::DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer p) {
    auto* self = static_cast<WebViewImpl*>(p);
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    auto* nav = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(nav);
    WebKitURIRequest* req = webkit_navigation_action_get_request(action);
    WString uri = U16(webkit_uri_request_get_uri(req));
    bool link = webkit_navigation_action_get_navigation_type(action) ==
                WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        self->events_.onTranslateUrl(uri);
        self->events_.onBeforeNavigate2(uri);
        webkit_policy_decision_ignore(decision);  // never a window of WebKit's own
        return TRUE;
    }
    if (link) self->events_.onTranslateUrl(uri);
    {
        std::lock_guard<std::mutex> lock(self->m_);
        self->location_ = uri;
    }
    self->events_.onBeforeNavigate2(uri);
    webkit_policy_decision_use(decision);
    return TRUE;
}

WebView* GtkDialogImpl::createWebView(int, const Rect& rect, WebViewEvents& events) {
    WebView* result = nullptr;
    RunOnMain([&] {
        GtkWidget* w = webkit_web_view_new();
        auto view = std::make_unique<WebViewImpl>(*this, w, events);
        g_signal_connect(w, "decide-policy", G_CALLBACK(WebViewImpl::DecidePolicy), view.get());
        gtk_fixed_put(GTK_FIXED(fixed_), w, rect.left, rect.top);
        view->place(rect.left, rect.top, rect.width(), rect.height());
        gtk_widget_show(w);
        result = view.get();
        webViews_.push_back(std::move(view));
    }, alive_);
    return result;
}

// ---------------------------------------------------------------- dialog

GtkDialogImpl::GtkDialogImpl(const res::DialogTemplate& t, DialogHandler& h, GtkWindow* owner)
    : handler_(h) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window_);
    gtk_window_set_title(GTK_WINDOW(window_), U8(WString(t.caption)).c_str());
    if (owner) gtk_window_set_transient_for(GTK_WINDOW(window_), owner);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    if (!t.captionBar) gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    fixed_ = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window_), fixed_);
    const double sx = 1.5, sy = 1.625;
    width_ = int(t.width * sx);
    height_ = int(t.height * sy);
    gtk_widget_set_size_request(fixed_, width_, height_);
    g_signal_connect(fixed_, "draw", G_CALLBACK(DrawBackground), this);
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK);
    g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer p) -> gboolean {
        static_cast<GtkDialogImpl*>(p)->handler_.onCancel();
        return TRUE;  // the handler decides whether the window goes
    }), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* e, gpointer p) -> gboolean {
        auto* self = static_cast<GtkDialogImpl*>(p);
        if (e->keyval == GDK_KEY_Escape) {
            self->handler_.onCancel();
            return TRUE;
        }
        if (e->keyval == GDK_KEY_Return || e->keyval == GDK_KEY_KP_Enter) {
            self->handler_.onOK();
            return FALSE;  // the focused page still gets its Enter
        }
        return FALSE;
    }), this);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(+[](GtkWidget* w, GdkEventButton* e, gpointer p) -> gboolean {
        auto* self = static_cast<GtkDialogImpl*>(p);
        if (!self->drag_ || e->button != 1 || e->type != GDK_BUTTON_PRESS) return FALSE;
        gtk_window_begin_move_drag(GTK_WINDOW(w), e->button, int(e->x_root), int(e->y_root), e->time);
        return TRUE;
    }), this);
    const res::TemplateControl* begin = nullptr;
    std::size_t n = 0;
    if (t.id == IDD_LAUNCHER_DIALOG) {
        begin = res::kLauncherControls.data();
        n = res::kLauncherControls.size();
    } else {
        begin = res::kUninstallControls.data();
        n = res::kUninstallControls.size();
    }
    for (std::size_t i = 0; i < n; ++i) addControl(begin[i], sx, sy);
}

void GtkDialogImpl::addControl(const res::TemplateControl& c, double sx, double sy) {
    std::unique_ptr<ControlBase> ctl;
    switch (c.kind) {
    case res::ControlKind::PushButton:
        if (!c.text.empty()) {
            GtkWidget* b = gtk_button_new_with_label(U8(WString(c.text)).c_str());
            int id = c.id;
            g_object_set_data(G_OBJECT(b), "kvn-id", GINT_TO_POINTER(id));
            g_signal_connect(b, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer p) {
                static_cast<GtkDialogImpl*>(p)->handler_.onCommand(
                    GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "kvn-id")));
            }), this);
            ctl = std::make_unique<PushButtonImpl>(*this, b);
        } else {
            ctl = std::make_unique<ImageButtonImpl>(*this, c.id, false);
        }
        break;
    case res::ControlKind::AutoCheckBox:
        ctl = std::make_unique<ImageButtonImpl>(*this, c.id, true);
        break;
    case res::ControlKind::ProgressBar:
        ctl = std::make_unique<ProgressBarImpl>(*this);
        break;
    case res::ControlKind::Edit: {
        GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
        GtkWidget* view = gtk_text_view_new();
        gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
        gtk_container_add(GTK_CONTAINER(scroller), view);
        gtk_widget_show(view);
        ctl = std::make_unique<EditBoxImpl>(*this, scroller, view);
        break;
    }
    }
    gtk_fixed_put(GTK_FIXED(fixed_), ctl->widget(), 0, 0);
    ctl->place(int(c.x * sx), int(c.y * sy), int(c.width * sx), int(c.height * sy));
    gtk_widget_show(ctl->widget());
    controls_[c.id] = std::move(ctl);
}

GtkDialogImpl::~GtkDialogImpl() {
    *alive_ = false;
    for (auto& [id, source] : timers_) g_source_remove(source);
    timers_.clear();
    gtk_widget_destroy(window_);
    g_object_unref(window_);
    if (background_) g_object_unref(background_);
}

void GtkDialogImpl::setTimer(int id, unsigned periodMs) {
    RunOnMain([&] {
        killTimer(id);
        struct T {
            GtkDialogImpl* d;
            int id;
        };
        timers_[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, periodMs, [](gpointer p) -> gboolean {
            auto* t = static_cast<T*>(p);
            if (*t->d->alive_) t->d->handler_.onTimer(t->id);
            return G_SOURCE_CONTINUE;
        }, new T{this, id}, [](gpointer p) { delete static_cast<T*>(p); });
    }, alive_);
}

void GtkDialogImpl::killTimer(int id) {
    RunOnMain([&] {
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        g_source_remove(it->second);
        timers_.erase(it);
    }, alive_);
}

bool GtkDialogImpl::setBackgroundFile(const WString& path) {
    bool ok = false;
    RunOnMain([&] {
        if (background_) g_object_unref(background_);
        background_ = gdk_pixbuf_new_from_file(NativePath(path).c_str(), nullptr);
        ok = background_ != nullptr;
        applyShape();
        gtk_widget_queue_draw(window_);
    }, alive_);
    return ok;
}

gboolean GtkDialogImpl::DrawBackground(GtkWidget* w, cairo_t* cr, gpointer p) {
    auto* self = static_cast<GtkDialogImpl*>(p);
    int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
    GdkPixbuf* pb = self->background_;
    if (!pb) return FALSE;
    int bw = gdk_pixbuf_get_width(pb), bh = gdk_pixbuf_get_height(pb);
    cairo_save(cr);
    switch (self->style_) {
    case 1:  // tiled
        for (int y = 0; y < height; y += bh)
            for (int x = 0; x < width; x += bw) {
                gdk_cairo_set_source_pixbuf(cr, pb, x, y);
                cairo_paint(cr);
            }
        break;
    case 2:  // centred
        gdk_cairo_set_source_pixbuf(cr, pb, (width - bw) / 2, (height - bh) / 2);
        cairo_paint(cr);
        break;
    case 3:  // stretched
        cairo_scale(cr, double(width) / bw, double(height) / bh);
        gdk_cairo_set_source_pixbuf(cr, pb, 0, 0);
        cairo_paint(cr);
        break;
    default:
        gdk_cairo_set_source_pixbuf(cr, pb, 0, 0);
        cairo_paint(cr);
    }
    cairo_restore(cr);
    return FALSE;  // the children are drawn over it
}

// Pixels of exactly the key colour become a hole in the window: no drawing
// and no mouse input there (the window shape works without a compositor).
void GtkDialogImpl::applyShape() {
    GdkWindow* gw = gtk_widget_get_window(window_);
    if (!gw || !hasKey_ || !background_ || (style_ != 0 && style_ != 4)) return;
    const int kr = colorKey_ & 0xFF, kg = (colorKey_ >> 8) & 0xFF, kb = (colorKey_ >> 16) & 0xFF;
    int bw = gdk_pixbuf_get_width(background_), bh = gdk_pixbuf_get_height(background_);
    int stride = gdk_pixbuf_get_rowstride(background_), nc = gdk_pixbuf_get_n_channels(background_);
    const guchar* px = gdk_pixbuf_read_pixels(background_);
    cairo_region_t* region = cairo_region_create();
    cairo_rectangle_int_t all{0, 0, std::max(width_, bw), std::max(height_, bh)};
    cairo_region_union_rectangle(region, &all);
    for (int y = 0; y < bh; ++y) {
        const guchar* row = px + y * stride;
        int x = 0;
        while (x < bw) {
            auto key = [&](int i) { return row[i * nc] == kr && row[i * nc + 1] == kg && row[i * nc + 2] == kb; };
            if (!key(x)) { ++x; continue; }
            int start = x;
            while (x < bw && key(x)) ++x;
            cairo_rectangle_int_t hole{start, y, x - start, 1};
            cairo_region_subtract_rectangle(region, &hole);
        }
    }
    gdk_window_shape_combine_region(gw, region, 0, 0);
    gdk_window_input_shape_combine_region(gw, region, 0, 0);
    cairo_region_destroy(region);
}

int GtkDialogImpl::run() {
    gtk_widget_realize(window_);
    gtk_widget_show(fixed_);
    handler_.onInitDialog(*this);
    if (!ended_) {
        gtk_widget_show(window_);
        applyShape();
        loop_ = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(loop_);
        g_main_loop_unref(loop_);
        loop_ = nullptr;
    }
    handler_.onDestroy();
    *alive_ = false;
    return result_;
}

std::vector<GtkDialogImpl*> g_dialogs;

}  // namespace

GtkUi::GtkUi() { g_mainThread = std::this_thread::get_id(); }

void GtkUi::initialise() { g_mainThread = std::this_thread::get_id(); }

int GtkUi::runModal(int templateId, DialogHandler& handler, Dialog* owner) {
    const res::DialogTemplate& t =
        templateId == IDD_UNINSTALL_DIALOG ? res::kUninstallTemplate : res::kLauncherTemplate;
    GtkWindow* ownerWindow = nullptr;
    if (auto* o = dynamic_cast<GtkDialogImpl*>(owner)) ownerWindow = GTK_WINDOW(o->window());
    auto dlg = std::make_unique<GtkDialogImpl>(t, handler, ownerWindow);
    g_dialogs.push_back(dlg.get());
    int r = dlg->run();
    std::erase(g_dialogs, dlg.get());
    return r;
}

MsgResult GtkUi::messageBox(Dialog* owner, const WString& text, const WString& caption,
                            MsgButtons buttons, MsgIcon icon) {
    MsgResult result = MsgResult::Cancel;
    std::shared_ptr<std::atomic<bool>> alive;
    RunOnMain([&] {
        GtkWindow* parent = nullptr;
        if (auto* o = dynamic_cast<GtkDialogImpl*>(owner); o && o->exists())
            parent = GTK_WINDOW(o->window());
        GtkMessageType type = icon == MsgIcon::Warning ? GTK_MESSAGE_WARNING
                              : icon == MsgIcon::Error ? GTK_MESSAGE_ERROR
                                                       : GTK_MESSAGE_OTHER;
        GtkWidget* box = gtk_message_dialog_new(
            parent, GTK_DIALOG_MODAL, type,
            buttons == MsgButtons::OkCancel ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK, "%s",
            U8(text).c_str());
        gtk_window_set_title(GTK_WINDOW(box), U8(caption).c_str());
        // As with MessageBoxW, the first button (OK) is the default one.
        gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
        int r = gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
        result = r == GTK_RESPONSE_OK ? MsgResult::Ok : MsgResult::Cancel;
        if (buttons == MsgButtons::Ok) result = MsgResult::Ok;
    }, nullptr);
    return result;
}

void GtkUi::desktopMessageBoxGbk(const Bytes& text, const Bytes& caption) {
    auto conv = [](const Bytes& b) {
        gchar* s = g_convert(b.data(), gssize(b.size()), "UTF-8", "GBK", nullptr, nullptr, nullptr);
        std::string r = s ? s : b;
        g_free(s);
        return fromUtf8(r);
    };
    messageBox(nullptr, conv(text), conv(caption), MsgButtons::Ok, MsgIcon::None);
}

}  // namespace kvn::linuxp
