// Child controls of the dialogs: the common calls, the bitmap button, the
// text progress bar and the log box. Every call is carried out on the
// dialog's thread.
#include "platform/win32/ui_win32.h"

#include <commctrl.h>

#include "platform/win32/wide.h"
#include "skin/skin.h"

namespace kvn::win32 {

// ------------------------------------------------------------- Control

void Win32Control::move(int x, int y, int width, int height) {
    dialog_.runOnDialogThread([&] { MoveWindow(hwnd_, x, y, width, height, TRUE); });
}

void Win32Control::show(bool visible) {
    dialog_.runOnDialogThread([&] { ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE); });
}

bool Win32Control::isVisible() {
    bool visible = false;
    dialog_.runOnDialogThread([&] { visible = IsWindowVisible(hwnd_) != FALSE; });
    return visible;
}

Rect Win32Control::windowRect() {
    Rect r;
    dialog_.runOnDialogThread([&] {
        RECT wr{};
        GetWindowRect(hwnd_, &wr);
        MapWindowPoints(nullptr, dialog_.hwnd(), reinterpret_cast<POINT*>(&wr), 2);
        r = {wr.left, wr.top, wr.right, wr.bottom};
    });
    return r;
}

void Win32Control::setText(const WString& text) {
    dialog_.runOnDialogThread([&] { SetWindowTextW(hwnd_, W(text)); });
}

WString Win32Control::text() {
    WString result;
    dialog_.runOnDialogThread([&] {
        std::wstring buffer(static_cast<std::size_t>(GetWindowTextLengthW(hwnd_)) + 1, L'\0');
        const int n = GetWindowTextW(hwnd_, buffer.data(), static_cast<int>(buffer.size()));
        result = U(buffer.data(), static_cast<std::size_t>(n > 0 ? n : 0));
    });
    return result;
}

// ------------------------------------------------------------- ImageButton

namespace {

constexpr COLORREF kTransparent = RGB(0, 255, 0);
constexpr UINT_PTR kButtonSubclass = 0x4B564E31;
constexpr UINT_PTR kProgressSubclass = 0x4B564E32;

// The monochrome mask of an image: 1 where the image is pure green. The
// green pixels of the image itself are then made black, so that drawing
// mask (AND) then image (OR) leaves the background there.
HBITMAP CreateImageMask(HBITMAP image, int width, int height) {
    HBITMAP mask = CreateBitmap(width, height, 1, 1, nullptr);
    if (!mask) return nullptr;
    HDC screen = GetDC(nullptr);
    HDC imageDc = CreateCompatibleDC(screen);
    HDC maskDc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    HGDIOBJ oldImage = SelectObject(imageDc, image);
    HGDIOBJ oldMask = SelectObject(maskDc, mask);
    SetBkColor(imageDc, kTransparent);
    BitBlt(maskDc, 0, 0, width, height, imageDc, 0, 0, SRCCOPY);
    SetTextColor(imageDc, RGB(255, 255, 255));
    SetBkColor(imageDc, RGB(0, 0, 0));
    BitBlt(imageDc, 0, 0, width, height, maskDc, 0, 0, SRCAND);
    SelectObject(imageDc, oldImage);
    SelectObject(maskDc, oldMask);
    DeleteDC(imageDc);
    DeleteDC(maskDc);
    return mask;
}

void FreeImage(MaskedImage& image) {
    if (image.bitmap) DeleteObject(image.bitmap);
    if (image.mask) DeleteObject(image.mask);
    image = {};
}

// Takes a bitmap into an image record: 0 done, 1 the bitmap cannot be
// described, 2 no mask can be made.
int TakeBitmap(HBITMAP bitmap, MaskedImage& image) {
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof info, &info)) {
        if (bitmap) DeleteObject(bitmap);
        return 1;
    }
    image.bitmap = bitmap;
    image.width = info.bmWidth;
    image.height = info.bmHeight;
    image.mask = CreateImageMask(bitmap, image.width, image.height);
    return image.mask ? 0 : 2;
}

HBITMAP LoadBitmapResource(int resourceId) {
    return static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId),
                                           IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

}  // namespace

Win32ImageButton::Win32ImageButton(Win32Dialog& dialog, HWND hwnd) : Win32Control(dialog, hwnd) {
    // Binding the control: its type decides the mode, then it is drawn by us.
    LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    int type = static_cast<int>(style & 0x1F);
    if (type & BS_CHECKBOX) checkBoxMode_ = true;
    if (type == BS_DEFPUSHBUTTON) {
        defaultButton_ = true;
        type = BS_PUSHBUTTON;
    }
    style = (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW;
    SetWindowLongPtrW(hwnd, GWL_STYLE, style);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    SetWindowSubclass(hwnd, SubclassProc, kButtonSubclass, reinterpret_cast<DWORD_PTR>(this));
}

void Win32ImageButton::freeImages() {
    FreeImage(in_);
    FreeImage(out_);
}

void Win32ImageButton::release() { freeImages(); }

int Win32ImageButton::setImages(int inBitmapId, int outBitmapId) {
    int result = 1;
    dialog_.runOnDialogThread([&] {
        HBITMAP in = LoadBitmapResource(inBitmapId);
        HBITMAP out = outBitmapId ? LoadBitmapResource(outBitmapId) : nullptr;
        if (outBitmapId && !out) {
            if (in) DeleteObject(in);
            freeImages();
            repaint();
            return;  // 1: the out bitmap is not there
        }
        result = setImageBitmaps(in, out);
    });
    return result;
}

int Win32ImageButton::setImageBitmaps(HBITMAP in, HBITMAP out) {
    int result = 1;
    dialog_.runOnDialogThread([&] {
        freeImages();
        result = TakeBitmap(in, in_);
        if (result == 0 && out) {
            result = TakeBitmap(out, out_);
        } else if (out) {
            DeleteObject(out);
        }
        if (result != 0) freeImages();  // a failed set leaves no images
        repaint();
    });
    return result;
}

void Win32ImageButton::sizeToImage() {
    dialog_.runOnDialogThread([&] {
        marginX_ = marginY_ = 0;
        if (!in_.bitmap) return;
        SetWindowPos(hwnd_, nullptr, 0, 0, in_.width, in_.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    });
}

void Win32ImageButton::setCheck(int state) {
    dialog_.runOnDialogThread([&] {
        if (!checkBoxMode_) return;
        checkState_ = state;
        repaint();
    });
}

int Win32ImageButton::checkState() {
    int state = 0;
    dialog_.runOnDialogThread([&] { state = checkState_; });
    return state;
}

void Win32ImageButton::clicked() {
    SetFocus(hwnd_);
    if (checkBoxMode_) {
        checkState_ = 1;  // a click checks, never unchecks
        repaint();
    }
}

// Repaints the button together with the background under it, so that the
// transparent parts of the new picture show the dialog's background.
void Win32ImageButton::repaint() {
    const HWND parent = GetParent(hwnd_);
    if (!parent || !IsWindowVisible(hwnd_)) {
        InvalidateRect(hwnd_, nullptr, FALSE);
        return;
    }
    RECT r{};
    GetWindowRect(hwnd_, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    RedrawWindow(parent, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Win32ImageButton::setMouseOver(bool over) {
    if (mouseOver_ == over) return;
    mouseOver_ = over;
    repaint();
}

void Win32ImageButton::draw(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool pressed = checkBoxMode_ ? (selected || checkState_ != 0) : selected;
    SetBkMode(dc, TRANSPARENT);
    if (!in_.bitmap) return;  // no picture, no border: nothing to draw

    const bool useOut = out_.bitmap && ((checkBoxMode_ && !pressed) || (!pressed && !mouseOver_));
    const MaskedImage& image = useOut ? out_ : in_;
    int x = item.rcItem.left + marginX_, y = item.rcItem.top + marginY_;
    if (pressed && !checkBoxMode_) {
        x += pressedShiftX_;
        y += pressedShiftY_;
    }
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, image.mask);
    const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
    const COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255));
    BitBlt(dc, x, y, image.width, image.height, memory, 0, 0, SRCAND);
    SelectObject(memory, image.bitmap);
    BitBlt(dc, x, y, image.width, image.height, memory, 0, 0, SRCPAINT);
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBk);
    SelectObject(memory, old);
    DeleteDC(memory);
}

LRESULT Win32ImageButton::handle(UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
    handled = true;
    switch (msg) {
        case WM_ERASEBKGND:
            return TRUE;  // the dialog's background stays under the picture
        case WM_LBUTTONDBLCLK:
            // Two quick clicks are two clicks.
            return DefSubclassProc(hwnd_, WM_LBUTTONDOWN, wp, lp);
        case WM_MOUSEMOVE: {
            const LRESULT r = DefSubclassProc(hwnd_, msg, wp, lp);
            POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            ClientToScreen(hwnd_, &pt);
            const HWND under = WindowFromPoint(pt);
            if ((wp & MK_LBUTTON) && !mouseOver_) return r;
            if (under == hwnd_) {
                if (!mouseOver_) {
                    setMouseOver(true);
                    TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd_, 0};
                    TrackMouseEvent(&tme);
                }
            } else {
                setMouseOver(false);
            }
            return r;
        }
        case WM_MOUSELEAVE:
        case WM_KILLFOCUS:
        case WM_CANCELMODE: {
            const LRESULT r = DefSubclassProc(hwnd_, msg, wp, lp);
            setMouseOver(false);
            return r;
        }
        case WM_ACTIVATE:
            if (LOWORD(wp) == WA_INACTIVE) setMouseOver(false);
            handled = false;
            return 0;
        case WM_ENABLE:
            if (!wp) {
                if (const HWND parent = GetParent(hwnd_)) {
                    HWND next = GetNextDlgTabItem(parent, hwnd_, FALSE);
                    SetFocus(next && next != hwnd_ ? next : parent);
                }
                setMouseOver(false);
            }
            handled = false;
            return 0;
        case WM_GETDLGCODE:
            // A push button to the dialog manager, check boxes included:
            // Enter on a focused picture clicks it, and while it has the
            // focus it is the dialog's default button (the manager sends it
            // BM_SETSTYLE). Esc still goes to the dialog's cancel.
            return DefSubclassProc(hwnd_, msg, wp, lp) |
                   (defaultButton_ ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
        case BM_SETCHECK:
            if (checkBoxMode_) {
                checkState_ = (wp == BST_CHECKED || wp == BST_INDETERMINATE) ? 1 : 0;
                repaint();
            }
            return 0;
        case BM_GETCHECK:
            return checkState_;
        case BM_SETSTYLE:
            defaultButton_ = (wp & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
            return DefSubclassProc(hwnd_, msg, (wp & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW,
                                   lp);
        case WM_SYSCOLORCHANGE:
            repaint();
            handled = false;
            return 0;
        default:
            handled = false;
            return 0;
    }
}

LRESULT CALLBACK Win32ImageButton::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                                DWORD_PTR ref) {
    auto* self = reinterpret_cast<Win32ImageButton*>(ref);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, kButtonSubclass);
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
    bool handled = false;
    const LRESULT r = self->handle(msg, wp, lp, handled);
    if (handled) return r;
    return DefSubclassProc(hwnd, msg, wp, lp);
}

// ------------------------------------------------------------- ProgressBar

Win32ProgressBar::Win32ProgressBar(Win32Dialog& dialog, HWND hwnd) : Win32Control(dialog, hwnd) {
    SetWindowSubclass(hwnd, SubclassProc, kProgressSubclass, reinterpret_cast<DWORD_PTR>(this));
}

void Win32ProgressBar::release() {}

void Win32ProgressBar::setRange(int lower, int upper) {
    dialog_.runOnDialogThread([&] { SendMessageW(hwnd_, PBM_SETRANGE32, lower, upper); });
}

void Win32ProgressBar::setPos(int position) {
    dialog_.runOnDialogThread([&] { SendMessageW(hwnd_, PBM_SETPOS, position, 0); });
}

int Win32ProgressBar::pos() {
    int position = 0;
    dialog_.runOnDialogThread([&] { position = static_cast<int>(SendMessageW(hwnd_, PBM_GETPOS, 0, 0)); });
    return position;
}

void Win32ProgressBar::setBarText(const WString& text) {
    dialog_.runOnDialogThread([&] { text_ = text; });  // shown at the next repaint
}

WString Win32ProgressBar::barText() {
    WString text;
    dialog_.runOnDialogThread([&] { text = text_; });
    return text;
}

void Win32ProgressBar::paint(HDC dc) {
    const int position = static_cast<int>(SendMessageW(hwnd_, PBM_GETPOS, 0, 0));
    RECT rc{};
    GetClientRect(hwnd_, &rc);
    SIZE extent{};
    GetTextExtentPoint32W(dc, W(text_), static_cast<int>(text_.size()), &extent);
    const int x = (rc.right - extent.cx - rc.left) / 2;
    const int y = (rc.bottom - extent.cy - rc.top) / 2;
    SetBkMode(dc, TRANSPARENT);
    PBRANGE range{};
    SendMessageW(hwnd_, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const int split = ProgressSplit(rc.right - rc.left, range.iLow, range.iHigh, position);

    RECT filled{rc.left, rc.top, split, rc.bottom};
    HBRUSH bar = CreateSolidBrush(kBar);
    FillRect(dc, &filled, bar);
    DeleteObject(bar);
    RECT rest{split, rc.top, rc.right, rc.bottom};
    HBRUSH background = CreateSolidBrush(kBackground);
    FillRect(dc, &rest, background);
    DeleteObject(background);

    SetTextColor(dc, kText);
    TextOutW(dc, x, y, W(text_), static_cast<int>(text_.size()));
}

LRESULT CALLBACK Win32ProgressBar::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                                DWORD_PTR ref) {
    auto* self = reinterpret_cast<Win32ProgressBar*>(ref);
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            self->paint(dc);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_PRINTCLIENT:
            self->paint(reinterpret_cast<HDC>(wp));
            return 0;
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, SubclassProc, kProgressSubclass);
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

// ------------------------------------------------------------- EditBox

void Win32EditBox::setLimitToMax() {
    dialog_.runOnDialogThread([&] { SendMessageW(hwnd_, EM_LIMITTEXT, static_cast<WPARAM>(-1), 0); });
}

void Win32EditBox::append(const WString& text) {
    dialog_.runOnDialogThread([&] {
        const int n = GetWindowTextLengthW(hwnd_);
        SendMessageW(hwnd_, EM_SETSEL, n, n);
        SendMessageW(hwnd_, EM_SCROLLCARET, 0, 0);
        SendMessageW(hwnd_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(W(text)));
    });
}

}  // namespace kvn::win32
