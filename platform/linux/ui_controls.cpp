// The dialogs' child controls: push button, bitmap button, text progress
// bar and log box.
#include "platform/linux/ui_gtk.h"

#include "platform/linux/embedded_resources.h"

#include <string>

#include "platform/text.h"
#include "skin/skin.h"

namespace kvn::linuxp {
namespace {

GdkPixbuf* LoadBitmap(int id) {
    GdkPixbuf* pb = LoadBitmapResource(id);
    if (!pb) return nullptr;
    // Pure green is the buttons' transparent colour.
    GdkPixbuf* keyed = gdk_pixbuf_add_alpha(pb, TRUE, 0, 255, 0);
    g_object_unref(pb);
    return keyed;
}

}  // namespace

// ------------------------------------------------------------- base

void UiControl::place(int x, int y, int w, int h) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rect_ = {x, y, x + w, y + h};
    }
    gtk_fixed_move(GTK_FIXED(dialog_.fixed()), widget_, x, y);
    gtk_widget_set_size_request(widget_, w, h);
}

void UiControl::move(int x, int y, int width, int height) {
    dialog_.call([&] { place(x, y, width, height); });
}

void UiControl::show(bool visible) {
    visible_ = visible;
    dialog_.call([&] { gtk_widget_set_visible(widget_, visible); });
}

Rect UiControl::windowRect() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rect_;
}

void UiControl::setText(const WString& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
}

WString UiControl::text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

void UiControl::redraw() {
    GtkWidget* w = widget_;
    dialog_.post([w] { gtk_widget_queue_draw(w); });
}

// ------------------------------------------------------------- push button

UiPushButton::UiPushButton(UiDialog& dialog, int id, const WString& caption)
    : UiControl(dialog, gtk_button_new_with_label(toUtf8(caption).c_str())) {
    text_ = caption;
    g_object_set_data(G_OBJECT(widget_), "kvn-id", GINT_TO_POINTER(id));
    g_signal_connect(widget_, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer p) {
        static_cast<UiDialog*>(p)->handler().onCommand(
            GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "kvn-id")));
    }), &dialog);
}

// The caption is the button's label: what the player reads.
void UiPushButton::setText(const WString& text) {
    UiControl::setText(text);
    const std::string label = toUtf8(text);
    dialog_.call([&] { gtk_button_set_label(GTK_BUTTON(widget_), label.c_str()); });
}

WString UiPushButton::text() {
    WString shown = UiControl::text();
    dialog_.call([&] {
        const char* label = gtk_button_get_label(GTK_BUTTON(widget_));
        shown = label ? fromUtf8(label) : WString();
    });
    return shown;
}

// ------------------------------------------------------------- image button

UiImageButton::UiImageButton(UiDialog& dialog, int id, bool checkBox)
    : UiControl(dialog, gtk_drawing_area_new()), id_(id), checkBox_(checkBox) {
    gtk_widget_set_can_focus(widget_, TRUE);
    gtk_widget_add_events(widget_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                       GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK |
                                       GDK_POINTER_MOTION_MASK | GDK_FOCUS_CHANGE_MASK |
                                       GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK);
    g_signal_connect(widget_, "draw", G_CALLBACK(Draw), this);
    g_signal_connect(widget_, "enter-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEventCrossing* e, gpointer p) -> gboolean {
        auto* self = static_cast<UiImageButton*>(p);
        // A press that began elsewhere and is dragged over the button does
        // not light it up.
        if ((e->state & GDK_BUTTON1_MASK) && !self->pressed_) return FALSE;
        self->setOver(true);
        return FALSE;
    }), this);
    g_signal_connect(widget_, "leave-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEventCrossing*, gpointer p) -> gboolean {
        static_cast<UiImageButton*>(p)->setOver(false);
        return FALSE;
    }), this);
    g_signal_connect(widget_, "motion-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEventMotion* e, gpointer p) -> gboolean {
        auto* self = static_cast<UiImageButton*>(p);
        const bool in = self->inside(e->x, e->y);
        if (in && (e->state & GDK_BUTTON1_MASK) && !self->pressed_ && !self->over_) return FALSE;
        self->setOver(in);
        return FALSE;
    }), this);
    g_signal_connect(widget_, "focus-out-event", G_CALLBACK(+[](GtkWidget*, GdkEventFocus*, gpointer p) -> gboolean {
        auto* self = static_cast<UiImageButton*>(p);
        self->spaceHeld_ = false;  // a held Space no longer clicks
        self->setOver(false);
        return FALSE;
    }), this);
    g_signal_connect(widget_, "grab-broken-event", G_CALLBACK(+[](GtkWidget*, GdkEventGrabBroken*, gpointer p) -> gboolean {
        static_cast<UiImageButton*>(p)->deactivated();
        return FALSE;
    }), this);
    g_signal_connect(widget_, "button-press-event", G_CALLBACK(+[](GtkWidget* w, GdkEventButton* e, gpointer p) -> gboolean {
        // A double click arrives as two presses and an extra event, which
        // is ignored: two quick clicks count as two clicks.
        if (e->button != 1 || e->type != GDK_BUTTON_PRESS) return TRUE;
        auto* self = static_cast<UiImageButton*>(p);
        self->pressed_ = true;
        self->over_ = self->inside(e->x, e->y);
        gtk_widget_queue_draw(w);
        return TRUE;
    }), this);
    g_signal_connect(widget_, "button-release-event", G_CALLBACK(+[](GtkWidget* w, GdkEventButton* e, gpointer p) -> gboolean {
        auto* self = static_cast<UiImageButton*>(p);
        if (e->button != 1 || !self->pressed_) return TRUE;
        self->pressed_ = false;
        self->over_ = self->inside(e->x, e->y);
        gtk_widget_queue_draw(w);
        if (!self->over_) return TRUE;  // released elsewhere: no click
        self->click();
        return TRUE;
    }), this);
    // The keyboard of a focused button: Enter clicks it at once; Space
    // holds it down like the left button and clicks on its release.
    g_object_set_data(G_OBJECT(widget_), "kvn-image-button", this);
    g_signal_connect(widget_, "key-press-event", G_CALLBACK(+[](GtkWidget* w, GdkEventKey* e, gpointer p) -> gboolean {
        auto* self = static_cast<UiImageButton*>(p);
        if (e->state & GDK_MOD1_MASK) return FALSE;  // Alt+key is the window's
        if (IsEnterKey(e->keyval)) {
            self->click();
            return TRUE;
        }
        if (e->keyval == GDK_KEY_space || e->keyval == GDK_KEY_KP_Space) {
            self->spaceHeld_ = true;
            gtk_widget_queue_draw(w);
            return TRUE;
        }
        return FALSE;
    }), this);
    g_signal_connect(widget_, "key-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* e, gpointer p) -> gboolean {
        auto* self = static_cast<UiImageButton*>(p);
        if (e->keyval != GDK_KEY_space && e->keyval != GDK_KEY_KP_Space) return FALSE;
        if (!self->spaceHeld_) return TRUE;
        self->spaceHeld_ = false;
        self->click();
        return TRUE;
    }), this);
}

bool UiImageButton::IsEnterKey(guint keyval) {
    return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}

bool UiImageButton::IsImageButton(GtkWidget* widget) {
    return widget && g_object_get_data(G_OBJECT(widget), "kvn-image-button") != nullptr;
}

// A click takes the focus; an auto check box is checked by it. The
// command comes last: it may end the dialog.
void UiImageButton::click() {
    gtk_widget_grab_focus(widget_);
    if (checkBox_) check_ = 1;
    gtk_widget_queue_draw(widget_);
    dialog_.handler().onCommand(id_);
}

UiImageButton::~UiImageButton() {
    if (in_) g_object_unref(in_);
    if (out_) g_object_unref(out_);
}

bool UiImageButton::inside(double x, double y) const {
    GtkAllocation a;
    gtk_widget_get_allocation(widget_, &a);
    return x >= 0 && y >= 0 && x < a.width && y < a.height;
}

void UiImageButton::setOver(bool over) {
    if (over_ == over) return;
    over_ = over;
    gtk_widget_queue_draw(widget_);
}

void UiImageButton::deactivated() {
    pressed_ = false;
    spaceHeld_ = false;
    setOver(false);
    gtk_widget_queue_draw(widget_);
}

int UiImageButton::setImages(int inId, int outId) {
    int rc = 0;
    dialog_.call([&] {
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
    });
    return rc;
}

void UiImageButton::sizeToImage() {
    dialog_.call([&] {
        if (!in_) return;
        const Rect r = windowRect();
        place(r.left, r.top, gdk_pixbuf_get_width(in_), gdk_pixbuf_get_height(in_));
    });
}

void UiImageButton::setCheck(int state) {
    if (!checkBox_) return;
    check_ = (state == 1 || state == 2) ? 1 : 0;
    redraw();
}

// A check box shows its check state whatever the mouse does; a push button
// shows the in image while the pointer is over it, moved while the press
// that began on it is still held there.
bool UiImageButton::showsInImage() const {
    if (!in_) return false;
    if (!out_) return true;
    return checkBox_ ? check_.load() == 1 : over_ || spaceHeld_;
}

bool UiImageButton::showsPressed() const { return !checkBox_ && ((pressed_ && over_) || spaceHeld_); }

gboolean UiImageButton::Draw(GtkWidget*, cairo_t* cr, gpointer p) {
    auto* self = static_cast<UiImageButton*>(p);
    GdkPixbuf* pb = self->showsInImage() ? self->in_ : self->out_;
    if (!pb) return FALSE;
    const int shift = self->showsPressed() ? 1 : 0;
    gdk_cairo_set_source_pixbuf(cr, pb, shift, shift);
    cairo_paint(cr);
    return FALSE;
}

// ------------------------------------------------------------- progress bar

UiProgressBar::UiProgressBar(UiDialog& dialog) : UiControl(dialog, gtk_drawing_area_new()) {
    g_signal_connect(widget_, "draw", G_CALLBACK(Draw), this);
}

void UiProgressBar::setRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
    redraw();
}

void UiProgressBar::setPos(int position) {
    pos_ = position;
    redraw();
}

gboolean UiProgressBar::Draw(GtkWidget* w, cairo_t* cr, gpointer p) {
    auto* self = static_cast<UiProgressBar*>(p);
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
    std::string text = toUtf8(self->barText());
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

// ------------------------------------------------------------- log box

UiEditBox::UiEditBox(UiDialog& dialog)
    : UiControl(dialog, gtk_scrolled_window_new(nullptr, nullptr)), view_(gtk_text_view_new()) {
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view_), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view_), GTK_WRAP_WORD_CHAR);
    gtk_container_add(GTK_CONTAINER(widget_), view_);
    gtk_widget_show(view_);
}

void UiEditBox::append(const WString& text) {
    std::string s = toUtf8(text);
    dialog_.call([&] {
        GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_));
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(buf, &end);
        gtk_text_buffer_insert(buf, &end, s.c_str(), -1);
        gtk_text_buffer_get_end_iter(buf, &end);
        GtkTextMark* mark = gtk_text_buffer_get_insert(buf);
        gtk_text_buffer_place_cursor(buf, &end);
        gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(view_), mark);
    });
}

void UiEditBox::setText(const WString& text) {
    std::string s = toUtf8(text);
    dialog_.call([&] {
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_)), s.c_str(), -1);
    });
}

WString UiEditBox::text() {
    WString r;
    dialog_.call([&] {
        GtkTextBuffer* buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_));
        GtkTextIter a, b;
        gtk_text_buffer_get_bounds(buf, &a, &b);
        gchar* t = gtk_text_buffer_get_text(buf, &a, &b, FALSE);
        r = t ? fromUtf8(t) : WString();
        g_free(t);
    });
    return r;
}

}  // namespace kvn::linuxp
