// Dialogs, message boxes and the hand-over onto the GTK thread.
#include "platform/linux/ui_gtk.h"

#include <condition_variable>
#include <cstdio>
#include <string>
#include <thread>
#include <dlfcn.h>
#include <unistd.h>

#include "platform/linux/embedded_resources.h"
#include "platform/linux/paths.h"
#include "platform/text.h"

namespace kvn::linuxp {
namespace {

std::atomic<std::thread::id> g_gtkThread;

std::string U8(const WString& s) { return toUtf8(s); }
WString U16(const char* s) { return s ? fromUtf8(s) : WString(); }

// ------------------------------------------------------------- hand-over

// A call from another thread on its way to the GTK thread. Its state moves
// from Queued to Running and Done, or to Dropped; every change is made under
// g_callsMutex and announced on g_callsDone.
struct PendingCall {
    enum class State { Queued, Running, Done, Dropped };
    std::shared_ptr<CallTarget> target;
    std::function<void()> fn;
    State state = State::Queued;
};

std::mutex g_callsMutex;
std::condition_variable g_callsDone;

gboolean RunPending(gpointer p) {
    auto& call = **static_cast<std::shared_ptr<PendingCall>*>(p);
    {
        std::lock_guard<std::mutex> lock(g_callsMutex);
        if (call.state != PendingCall::State::Queued || !call.target->open()) {
            call.state = PendingCall::State::Dropped;
            g_callsDone.notify_all();
            return G_SOURCE_REMOVE;
        }
        call.state = PendingCall::State::Running;
    }
    call.fn();
    std::lock_guard<std::mutex> lock(g_callsMutex);
    call.state = PendingCall::State::Done;
    g_callsDone.notify_all();
    return G_SOURCE_REMOVE;
}

void FreePending(gpointer p) { delete static_cast<std::shared_ptr<PendingCall>*>(p); }

// Queues the call on the default main context, which only the GTK thread
// iterates: the call runs when that thread's loop (or a nested one, such as
// a message box's) next turns.
void Queue(const std::shared_ptr<PendingCall>& call) {
    g_idle_add_full(G_PRIORITY_DEFAULT, RunPending, new std::shared_ptr<PendingCall>(call),
                    FreePending);
}

// ------------------------------------------------------------- helpers

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

MsgResult ShowMessageBox(UiDialog* owner, const WString& text, const WString& caption,
                         MsgButtons buttons, MsgIcon icon) {
    GtkWindow* parent = nullptr;
    if (owner && owner->hasWindow()) parent = GTK_WINDOW(owner->window());
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
    const int r = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;  // its only answer
    return r == GTK_RESPONSE_OK ? MsgResult::Ok : MsgResult::Cancel;
}

}  // namespace

bool OnGtkThread() { return std::this_thread::get_id() == g_gtkThread.load(); }

void CallTarget::end() {
    std::lock_guard<std::mutex> lock(g_callsMutex);
    open_.store(false);
    g_callsDone.notify_all();  // callers still waiting give up their calls
}

bool CallOnGtkThread(const std::shared_ptr<CallTarget>& target, const std::function<void()>& fn) {
    if (OnGtkThread()) {
        if (!target->open()) return false;
        fn();
        return true;
    }
    auto call = std::make_shared<PendingCall>();
    call->target = target;
    call->fn = fn;
    {
        std::lock_guard<std::mutex> lock(g_callsMutex);
        if (!target->open()) return false;
    }
    Queue(call);
    std::unique_lock<std::mutex> lock(g_callsMutex);
    g_callsDone.wait(lock, [&] {
        return call->state == PendingCall::State::Done ||
               call->state == PendingCall::State::Dropped ||
               (call->state == PendingCall::State::Queued && !target->open());
    });
    if (call->state == PendingCall::State::Queued) call->state = PendingCall::State::Dropped;
    return call->state == PendingCall::State::Done;
}

void PostToGtkThread(const std::shared_ptr<CallTarget>& target, std::function<void()> fn) {
    if (!target->open()) return;
    auto call = std::make_shared<PendingCall>();
    call->target = target;
    call->fn = std::move(fn);
    Queue(call);
}

GdkPixbuf* LoadBmpFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("bmp", nullptr);
    bool ok = loader != nullptr;
    // In pieces, as GdkPixbuf reads a file itself: the bytes are never all
    // held at once beside the picture.
    std::vector<guchar> piece(64 * 1024);
    while (ok) {
        const std::size_t n = std::fread(piece.data(), 1, piece.size(), file);
        if (n == 0) {
            ok = !std::ferror(file);
            break;
        }
        ok = gdk_pixbuf_loader_write(loader, piece.data(), n, nullptr);
    }
    std::fclose(file);
    GdkPixbuf* picture = nullptr;
    if (loader) {
        // Closed in every case, so that a failed load leaves nothing behind.
        const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
        if (ok && closed) picture = gdk_pixbuf_loader_get_pixbuf(loader);
        if (picture) g_object_ref(picture);
        g_object_unref(loader);
    }
    return picture;
}

// ------------------------------------------------------------- GtkUi

GtkUi::GtkUi() : windows_(std::make_shared<CallTarget>()) {
    g_gtkThread.store(std::this_thread::get_id());
}

GtkUi::~GtkUi() = default;

void GtkUi::initialise() { g_gtkThread.store(std::this_thread::get_id()); }

int GtkUi::runModal(int templateId, DialogHandler& handler, Dialog* owner) {
    const res::DialogTemplate& t =
        templateId == IDD_UNINSTALL_DIALOG ? res::kUninstallTemplate : res::kLauncherTemplate;
    GtkWindow* ownerWindow = nullptr;
    if (auto* o = dynamic_cast<UiDialog*>(owner); o && o->hasWindow())
        ownerWindow = GTK_WINDOW(o->window());
    UiDialog* dialog = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (depth_++ == 0 && !windows_->open()) windows_ = std::make_shared<CallTarget>();
        dialogs_.push_back(std::make_unique<UiDialog>(t, handler, ownerWindow));
        dialog = dialogs_.back().get();
    }
    const int result = dialog->run();
    std::shared_ptr<CallTarget> closed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--depth_ == 0) closed = windows_;
    }
    // The program's last window has gone: boxes that workers still ask for
    // get their default answer, so that they can end and be joined.
    if (closed) closed->end();
    return result;
}

MsgResult GtkUi::messageBox(Dialog* owner, const WString& text, const WString& caption,
                            MsgButtons buttons, MsgIcon icon) {
    auto* ownerDialog = dynamic_cast<UiDialog*>(owner);
    if (OnGtkThread()) return ShowMessageBox(ownerDialog, text, caption, buttons, icon);
    // The default answer of a box that cannot be shown any more.
    MsgResult result = buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
    std::shared_ptr<CallTarget> windows;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        windows = windows_;
    }
    CallOnGtkThread(windows, [&] { result = ShowMessageBox(ownerDialog, text, caption, buttons, icon); });
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

// ------------------------------------------------------------- UiDialog

UiDialog::UiDialog(const res::DialogTemplate& t, DialogHandler& h, GtkWindow* owner)
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
        static_cast<UiDialog*>(p)->handler_.onCancel();
        return TRUE;  // the handler decides whether the window goes
    }), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(+[](GtkWidget* w, GdkEventKey* e, gpointer p) -> gboolean {
        auto* self = static_cast<UiDialog*>(p);
        if (e->keyval == GDK_KEY_Escape) {
            self->handler_.onCancel();
            return TRUE;
        }
        if (UiImageButton::IsEnterKey(e->keyval)) {
            // A focused bitmap button takes Enter as a click of its own;
            // anywhere else Enter is the dialog's OK.
            if (!UiImageButton::IsImageButton(gtk_window_get_focus(GTK_WINDOW(w))))
                self->handler_.onOK();
            return FALSE;  // the focused page still gets its Enter
        }
        return FALSE;
    }), this);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(+[](GtkWidget* w, GdkEventButton* e, gpointer p) -> gboolean {
        auto* self = static_cast<UiDialog*>(p);
        if (!self->drag_ || e->button != 1 || e->type != GDK_BUTTON_PRESS) return FALSE;
        gtk_window_begin_move_drag(GTK_WINDOW(w), e->button, int(e->x_root), int(e->y_root), e->time);
        return TRUE;
    }), this);
    // A window that loses activation takes the hover look off its buttons.
    g_signal_connect(window_, "notify::is-active", G_CALLBACK(+[](GObject* w, GParamSpec*, gpointer p) {
        if (gtk_window_is_active(GTK_WINDOW(w))) return;
        for (auto& [id, c] : static_cast<UiDialog*>(p)->controls_) c->deactivated();
    }), this);
    const auto& controls = t.id == IDD_LAUNCHER_DIALOG
                               ? std::vector<res::TemplateControl>(res::kLauncherControls.begin(),
                                                                   res::kLauncherControls.end())
                               : std::vector<res::TemplateControl>(res::kUninstallControls.begin(),
                                                                   res::kUninstallControls.end());
    for (const auto& c : controls) addControl(c, sx, sy);
}

void UiDialog::addControl(const res::TemplateControl& c, double sx, double sy) {
    std::unique_ptr<UiControl> ctl;
    switch (c.kind) {
        case res::ControlKind::PushButton:
            if (!c.text.empty()) ctl = std::make_unique<UiPushButton>(*this, c.id, WString(c.text));
            else ctl = std::make_unique<UiImageButton>(*this, c.id, false);
            break;
        case res::ControlKind::AutoCheckBox:
            ctl = std::make_unique<UiImageButton>(*this, c.id, true);
            break;
        case res::ControlKind::ProgressBar:
            ctl = std::make_unique<UiProgressBar>(*this);
            break;
        case res::ControlKind::Edit:
            ctl = std::make_unique<UiEditBox>(*this);
            break;
    }
    gtk_fixed_put(GTK_FIXED(fixed_), ctl->widget(), 0, 0);
    ctl->place(int(c.x * sx), int(c.y * sy), int(c.width * sx), int(c.height * sy));
    gtk_widget_show(ctl->widget());
    controls_[c.id] = std::move(ctl);
}

UiDialog::~UiDialog() {
    if (window_) destroyWindow();
}

void UiDialog::destroyWindow() {
    for (auto& [id, source] : timers_) g_source_remove(source);
    timers_.clear();
    gtk_widget_destroy(window_);
    // Off the screen now, not at the next turn of a loop: the thread may
    // next wait for a worker that is still finishing an installation.
    gdk_display_flush(gdk_display_get_default());
    g_object_unref(window_);
    window_ = nullptr;
    fixed_ = nullptr;
    if (background_) g_object_unref(background_);
    background_ = nullptr;
}

void UiDialog::call(const std::function<void()>& fn) {
    if (OnGtkThread()) {
        if (window_) fn();
        return;
    }
    CallOnGtkThread(target_, fn);
}

void UiDialog::post(std::function<void()> fn) {
    if (OnGtkThread()) {
        if (window_) fn();
        return;
    }
    PostToGtkThread(target_, std::move(fn));
}

Control* UiDialog::control(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.get();
}

WebView* UiDialog::createWebView(int, const Rect& rect, WebViewEvents& events) {
    WebView* result = nullptr;
    call([&] {
        auto view = std::make_unique<UiWebView>(*this, events);
        gtk_fixed_put(GTK_FIXED(fixed_), view->widget(), rect.left, rect.top);
        view->place(rect.left, rect.top, rect.width(), rect.height());
        gtk_widget_show(view->widget());
        result = view.get();
        webViews_.push_back(std::move(view));
    });
    return result;
}

void UiDialog::setSize(int width, int height) {
    call([&] {
        width_ = width;
        height_ = height;
        gtk_widget_set_size_request(fixed_, width, height);
        gtk_window_resize(GTK_WINDOW(window_), width, height);
        applyShape();
    });
}

Rect UiDialog::windowRect() {
    Rect r;
    call([&] {
        int x = 0, y = 0;
        gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
        r = {x, y, x + width_, y + height_};
    });
    return r;
}

void UiDialog::setIcon(int iconId) {
    call([&] {
        GdkPixbuf* icon = LoadIconResource(iconId);
        gtk_window_set_icon(GTK_WINDOW(window_), icon);
        if (icon) g_object_unref(icon);
    });
}

void UiDialog::setTitle(const WString& title) {
    call([&] { gtk_window_set_title(GTK_WINDOW(window_), U8(title).c_str()); });
}

WString UiDialog::title() {
    WString t;
    call([&] { t = U16(gtk_window_get_title(GTK_WINDOW(window_))); });
    return t;
}

void UiDialog::minimize() {
    call([&] { gtk_window_iconify(GTK_WINDOW(window_)); });
}

bool UiDialog::isIconic() {
    bool r = false;
    call([&] {
        GdkWindow* w = gtk_widget_get_window(window_);
        r = w && (gdk_window_get_state(w) & GDK_WINDOW_STATE_ICONIFIED);
    });
    return r;
}

void UiDialog::endDialog(int result) {
    call([&] {
        result_ = result;
        ended_ = true;
        if (loop_) g_main_loop_quit(loop_);
    });
}

void UiDialog::setTimer(int id, unsigned periodMs) {
    call([&] {
        killTimer(id);
        struct Tick {
            UiDialog* dialog;
            int id;
        };
        timers_[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, periodMs, [](gpointer p) -> gboolean {
            auto* t = static_cast<Tick*>(p);
            if (t->dialog->target_->open()) t->dialog->handler_.onTimer(t->id);
            return G_SOURCE_CONTINUE;
        }, new Tick{this, id}, [](gpointer p) { delete static_cast<Tick*>(p); });
    });
}

void UiDialog::killTimer(int id) {
    call([&] {
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        g_source_remove(it->second);
        timers_.erase(it);
    });
}

bool UiDialog::setBackgroundFile(const WString& path) {
    bool ok = false;
    call([&] {
        if (background_) g_object_unref(background_);
        background_ = LoadBmpFile(NativePath(path));
        ok = background_ != nullptr;
        applyShape();
        gtk_widget_queue_draw(window_);
    });
    return ok;
}

void UiDialog::setBackgroundStyle(int style) {
    call([&] {
        style_ = style;
        if (style == 4 && background_)
            setSize(gdk_pixbuf_get_width(background_), gdk_pixbuf_get_height(background_));
        gtk_widget_queue_draw(window_);
    });
}

void UiDialog::setColorKey(std::uint32_t colorRef) {
    call([&] {
        colorKey_ = colorRef;
        hasKey_ = true;
        applyShape();
    });
}

Bytes UiDialog::openGlRenderer() {
    Bytes name;
    call([&] { name = QueryGlRenderer(window_); });
    return name;
}

gboolean UiDialog::DrawBackground(GtkWidget* w, cairo_t* cr, gpointer p) {
    auto* self = static_cast<UiDialog*>(p);
    int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
    GdkPixbuf* pb = self->background_;
    if (!pb) return FALSE;
    int bw = gdk_pixbuf_get_width(pb), bh = gdk_pixbuf_get_height(pb);
    cairo_save(cr);
    switch (self->style_) {
        case 0:
        case 4:  // top-left, unscaled
            gdk_cairo_set_source_pixbuf(cr, pb, 0, 0);
            cairo_paint(cr);
            break;
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
        default:  // an unknown style draws nothing
            break;
    }
    cairo_restore(cr);
    return FALSE;  // the children are drawn over it
}

// Pixels of exactly the key colour become a hole in the window: no drawing
// and no mouse input there (the window shape works without a compositor).
void UiDialog::applyShape() {
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

int UiDialog::run() {
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
    // From here on other threads' calls are dropped, so a handler that waits
    // for its worker in onDestroy cannot wait for a call that never runs.
    target_->end();
    handler_.onDestroy();
    destroyWindow();
    return result_;
}

}  // namespace kvn::linuxp
