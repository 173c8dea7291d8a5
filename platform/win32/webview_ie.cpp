// The web view: the platform's web browser control hosted through OLE in a
// child window of the dialog. The container gives the pages a plain look
// (no 3-D border, no scroll bars) and hands the navigation hooks to the
// view's events.
#include "platform/win32/ui_win32.h"

#include <ole2.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <shobjidl.h>
#include <ocidl.h>

#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

constexpr wchar_t kHostClass[] = L"KvnWebViewHost";

void RegisterHostClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kHostClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
}

}  // namespace

// The container objects the browser control talks to: client site, in-place
// site and frame, document host and the event sink. Reference counted; the
// view holds one reference until it is released.
struct Win32WebView::Site final : public IOleClientSite,
                            public IOleInPlaceSite,
                            public IOleInPlaceFrame,
                            public IDocHostUIHandler {
    // DWebBrowserEvents2 through IDispatch; shares the site's count.
    struct Sink : public IDispatch {
        Site* outer;
        explicit Sink(Site* s) : outer(s) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
            if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
                *out = static_cast<IDispatch*>(this);
                AddRef();
                return S_OK;
            }
            *out = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return outer->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return outer->Release(); }
        STDMETHODIMP GetTypeInfoCount(UINT* n) override {
            *n = 0;
            return S_OK;
        }
        STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
        STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
            return E_NOTIMPL;
        }
        STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                            UINT*) override {
            // Title changes and completed documents change nothing.
            if (!params) return S_OK;
            switch (id) {
                case DISPID_BEFORENAVIGATE2: {
                    if (params->cArgs < 7) return S_OK;
                    // Arguments arrive last first. The event names the browser
                    // whose document navigates: the view's own only for its
                    // top frame, a frame's browser object for a frame in it.
                    WebNavigation navigation;
                    navigation.url = Text(params->rgvarg[5]);
                    navigation.frame = outer->isTopBrowser(params->rgvarg[6]) ? WebNavigation::Frame::Top
                                                                              : WebNavigation::Frame::Inner;
                    // The core decides whether the view follows; the control
                    // never hands another scheme to the system by itself.
                    if (outer->events && !outer->events->onBeforeNavigate2(navigation)) Cancel(params->rgvarg[0]);
                    return S_OK;
                }
                case DISPID_NEWWINDOW3: {
                    // A page asking for a window (a link with a target, a
                    // script's window.open): the external-link rule decides,
                    // and no window of the control's own opens. The control
                    // says whether the player asked (its pop-up rule's
                    // NWMF_USERINITED, or NWMF_USERREQUESTED for "open in new
                    // window"); the player's own click must also have
                    // reached the view just before.
                    if (params->cArgs < 5) return S_OK;
                    Cancel(params->rgvarg[3]);
                    WebNavigation navigation;
                    navigation.url = Text(params->rgvarg[0]);
                    navigation.newWindow = true;
                    navigation.userGesture = (Number(params->rgvarg[2]) & (NWMF_USERINITED | NWMF_USERREQUESTED)) &&
                                             outer->view && outer->view->takePlayerGesture();
                    if (outer->events) outer->events->onTranslateUrl(navigation);
                    return S_OK;
                }
                case DISPID_NEWWINDOW2:
                    // The same request without its address, raised where the
                    // control knows no NewWindow3: nothing opens.
                    if (params->cArgs < 2) return S_OK;
                    Cancel(params->rgvarg[0]);
                    return S_OK;
                default:
                    return S_OK;
            }
        }
        // A text argument, given directly or by reference.
        static WString Text(VARIANT& arg) {
            VARIANT* v = &arg;
            if (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
            if (V_VT(v) == VT_BSTR && V_BSTR(v)) return U(V_BSTR(v), SysStringLen(V_BSTR(v)));
            if (V_VT(v) == (VT_BYREF | VT_BSTR) && V_BSTRREF(v) && *V_BSTRREF(v))
                return U(*V_BSTRREF(v), SysStringLen(*V_BSTRREF(v)));
            return {};
        }
        // A number argument, given directly or by reference; 0 otherwise.
        static unsigned long Number(VARIANT& arg) {
            VARIANT* v = &arg;
            if (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
            switch (V_VT(v)) {
                case VT_I4: return static_cast<unsigned long>(V_I4(v));
                case VT_UI4: return V_UI4(v);
                case VT_INT: return static_cast<unsigned long>(V_INT(v));
                case VT_UINT: return V_UINT(v);
                default: return 0;
            }
        }
        // Sets an event's cancel flag (a Boolean given by reference).
        static void Cancel(VARIANT& arg) {
            if (V_VT(&arg) == (VT_BYREF | VT_BOOL) && V_BOOLREF(&arg)) *V_BOOLREF(&arg) = VARIANT_TRUE;
        }
    };

    Site(HWND h, WebViewEvents* e, Win32WebView* v) : host(h), events(e), view(v), sink(this) {}

    LONG refs = 1;
    HWND host;
    WebViewEvents* events;  // null once the view is released
    Win32WebView* view;     // null once the view is released
    Sink sink;
    IOleObject* object = nullptr;
    IWebBrowser2* browser = nullptr;
    IConnectionPoint* eventsPoint = nullptr;
    DWORD eventsCookie = 0;

    // Whether an event's browser argument is the view's own browser (one
    // object: the same IUnknown), not the browser of a frame inside it.
    bool isTopBrowser(VARIANT& arg) const {
        VARIANT* v = &arg;
        if (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
        if (V_VT(v) != VT_DISPATCH || !V_DISPATCH(v) || !browser) return false;
        IUnknown* event = nullptr;
        IUnknown* own = nullptr;
        bool same = false;
        if (SUCCEEDED(V_DISPATCH(v)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&event))) &&
            SUCCEEDED(browser->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&own))))
            same = event == own;
        if (event) event->Release();
        if (own) own->Release();
        return same;
    }

    void hostRect(RECT& r) const { GetClientRect(host, &r); }
    void fitToHost() {
        if (!object) return;
        IOleInPlaceObject* inPlace = nullptr;
        if (SUCCEEDED(object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
            RECT r;
            hostRect(r);
            inPlace->SetObjectRects(&r, &r);
            inPlace->Release();
        }
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow)
            *out = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IDocHostUIHandler)
            *out = static_cast<IDocHostUIHandler*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG n = InterlockedDecrement(&refs);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
        *m = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (shared by the in-place site and the frame)
    STDMETHODIMP GetWindow(HWND* w) override {
        *w = host;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *doc = nullptr;
        hostRect(*pos);
        hostRect(*clip);
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = host;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override {
        fitToHost();
        return S_OK;
    }

    // IOleInPlaceUIWindow / IOleInPlaceFrame (minimal: no menus, no tools)
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        if (view) view->setActiveObject(object);
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler
    STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_FALSE; }
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
        if (info) info->dwFlags |= DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO;
        return S_OK;
    }
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                        IOleInPlaceUIWindow*) override {
        return S_FALSE;
    }
    STDMETHODIMP HideUI() override { return S_OK; }
    STDMETHODIMP UpdateUI() override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
        if (key) *key = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override {
        if (target) *target = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetExternal(IDispatch** external) override {
        if (external) *external = nullptr;
        return S_FALSE;
    }
    // A link the page is about to follow. Its arguments do not say who
    // started it (the flags are reserved, and BeforeNavigate2's Flags do not
    // tell a script's click from the player's), so the player's own click or
    // key in the view, noted by the dialog's message loop just before,
    // stands for it.
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR in, LPWSTR* out) override {
        if (out) *out = nullptr;  // no replacement address
        WebNavigation navigation;
        navigation.url = U(in);
        navigation.userGesture = view && view->takePlayerGesture();
        if (events) events->onTranslateUrl(navigation);
        return S_FALSE;
    }
    STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** result) override {
        if (result) *result = nullptr;
        return S_FALSE;
    }
};

Win32WebView::Win32WebView(Win32Dialog& dialog, HWND host, WebViewEvents& events)
    : Win32Control(dialog, host), events_(events) {}

Win32WebView::~Win32WebView() = default;  // released with the window

HWND CreateWebViewHost(HWND parent, int id, const Rect& rect) {
    RegisterHostClass();
    return CreateWindowExW(0, kHostClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                           rect.left, rect.top, rect.width(), rect.height(), parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                           nullptr);
}

bool Win32WebView::createBrowser() {
    auto* site = new Site(hwnd_, &events_, this);
    IOleObject* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&object)))) {
        site->Release();
        return false;
    }
    site->object = object;
    object->SetClientSite(static_cast<IOleClientSite*>(site));
    RECT r;
    site->hostRect(r);
    object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site), 0, hwnd_, &r);
    if (FAILED(object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&site->browser)))) {
        site->browser = nullptr;
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        object->Release();
        site->object = nullptr;
        site->Release();
        return false;
    }
    IConnectionPointContainer* container = nullptr;
    if (SUCCEEDED(site->browser->QueryInterface(IID_IConnectionPointContainer,
                                                reinterpret_cast<void**>(&container)))) {
        if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &site->eventsPoint))) {
            if (FAILED(site->eventsPoint->Advise(static_cast<IDispatch*>(&site->sink), &site->eventsCookie))) {
                site->eventsPoint->Release();
                site->eventsPoint = nullptr;
            }
        }
        container->Release();
    }
    // The control is its own in-place active object; it names it again
    // through SetActiveObject whenever it becomes active.
    IOleInPlaceActiveObject* active = nullptr;
    if (SUCCEEDED(object->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active)))) {
        setActiveObject(active);
        active->Release();
    }
    site->fitToHost();
    site_ = site;
    return true;
}

void Win32WebView::setActiveObject(IOleInPlaceActiveObject* object) {
    if (object) object->AddRef();
    if (activeObject_) activeObject_->Release();
    activeObject_ = object;
}

// A browser host hands the control the keys typed into it before the
// dialog manager sees them: otherwise Tab, Enter, Backspace, the arrows and
// the clipboard keys would move the dialog's focus or press its buttons
// instead of reaching the page.
bool Win32WebView::translateAccelerator(MSG& msg) {
    if (!activeObject_ || !hwnd_ || !msg.hwnd) return false;
    if (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd)) return false;
    return activeObject_->TranslateAccelerator(&msg) == S_OK;
}

void Win32WebView::notePlayerInput(const MSG& msg) {
    if (!hwnd_ || !msg.hwnd || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return;
    const bool click = msg.message == WM_LBUTTONUP || msg.message == WM_MBUTTONUP;
    const bool key = msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_SPACE);
    if (click || key) playerInputTick_ = GetTickCount64();
}

bool Win32WebView::takePlayerGesture() {
    const bool recent = playerInputTick_ != 0 && GetTickCount64() - playerInputTick_ <= kGestureMs;
    playerInputTick_ = 0;
    return recent;
}

bool Win32WebView::hasBrowser() const { return site_ && site_->browser; }

IUnknown* Win32WebView::containerSite() const {
    return hasBrowser() ? static_cast<IOleClientSite*>(site_) : nullptr;
}

IDispatch* Win32WebView::eventSink() const { return hasBrowser() ? &site_->sink : nullptr; }

IDispatch* Win32WebView::topBrowser() const { return hasBrowser() ? site_->browser : nullptr; }

void Win32WebView::move(int x, int y, int width, int height) {
    dialog_.runOnDialogThread([&] {
        MoveWindow(hwnd_, x, y, width, height, TRUE);
        if (site_) site_->fitToHost();
    });
}

void Win32WebView::navigate(const WString& url) {
    dialog_.runOnDialogThread([&] {
        location_ = url;
        if (!site_ || !site_->browser) return;
        BSTR address = SysAllocStringLen(W(url), static_cast<UINT>(url.size()));
        VARIANT empty;
        VariantInit(&empty);
        site_->browser->Navigate(address, &empty, &empty, &empty, &empty);
        SysFreeString(address);
    });
}

WString Win32WebView::location() {
    WString url;
    dialog_.runOnDialogThread([&] { url = location_; });
    return url;
}

// Releases the browser control and destroys its window (on the dialog's
// WM_DESTROY).
void Win32WebView::release() {
    if (site_) {
        Site* site = site_;
        site_ = nullptr;
        site->events = nullptr;
        site->view = nullptr;
        if (site->eventsPoint) {
            site->eventsPoint->Unadvise(site->eventsCookie);
            site->eventsPoint->Release();
        }
        if (site->browser) {
            site->browser->Stop();
            site->browser->Release();
        }
        if (site->object) {
            site->object->Close(OLECLOSE_NOSAVE);
            site->object->SetClientSite(nullptr);
            site->object->Release();
        }
        site->Release();
    }
    setActiveObject(nullptr);
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

}  // namespace kvn::win32
