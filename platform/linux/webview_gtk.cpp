// The embedded web view on WebKitGTK: plain look (no scroll bars, no
// border), navigation hooks, and no window of WebKit's own.
#include <webkit2/webkit2.h>

#include "platform/linux/ui_gtk.h"
#include "platform/text.h"

namespace kvn::linuxp {
namespace {

// Pages never show scroll bars, whatever their own style says, as the
// Windows host asks of its browser control.
constexpr const char* kNoScrollBars =
    "::-webkit-scrollbar { display: none !important; width: 0 !important; height: 0 !important; }";

WString U16(const char* s) { return s ? fromUtf8(s) : WString(); }

GtkWidget* NewView() {
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitUserStyleSheet* sheet = webkit_user_style_sheet_new(
        kNoScrollBars, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_STYLE_LEVEL_USER,
        nullptr, nullptr);
    webkit_user_content_manager_add_style_sheet(content, sheet);
    webkit_user_style_sheet_unref(sheet);
    GtkWidget* view = webkit_web_view_new_with_user_content_manager(content);
    g_object_unref(content);  // the view holds it
    return view;
}

// Who asked for a request, as WebKit wrote it into the request's headers.
WebNavigation::Requester RequesterOf(WebKitURIRequest* request) {
    WebNavigation::Requester requester;
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request)) {
        requester.fetchSite = U16(soup_message_headers_get_one(headers, "Sec-Fetch-Site"));
        requester.referrer = U16(soup_message_headers_get_one(headers, "Referer"));
    }
    return requester;
}

// What the navigation action says; WebKit names the frame only with the
// answer.
WebNavigation NavigationOf(WebKitNavigationAction* action, bool newWindow) {
    WebNavigation navigation;
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    navigation.url = U16(webkit_uri_request_get_uri(request));
    navigation.requester = RequesterOf(request);
    navigation.frame = WebNavigation::Frame::NotYetKnown;
    navigation.userGesture = webkit_navigation_action_is_user_gesture(action);
    navigation.newWindow = newWindow;
    return navigation;
}

gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                      gpointer p) {
    auto* self = static_cast<UiWebView*>(p);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        // The answer to a frame's navigation: WebKit now says whether it is
        // the page's own. A cancelled one is not shown; otherwise WebKit
        // decides as it would by itself.
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        WebKitURIRequest* request = webkit_response_policy_decision_get_request(response);
        WebNavigation navigation;
        navigation.url = U16(webkit_uri_request_get_uri(request));
        navigation.requester = RequesterOf(request);
        navigation.frame = webkit_response_policy_decision_is_main_frame_main_resource(response)
                               ? WebNavigation::Frame::Top
                               : WebNavigation::Frame::Inner;
        if (self->events().onBeforeNavigate2(navigation)) return FALSE;
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        // A page asking for a new window: the external-link rule decides,
        // and nothing opens inside the launcher.
        self->events().onTranslateUrl(NavigationOf(action, true));
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    const WebNavigation navigation = NavigationOf(action, false);
    if (webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED)
        self->events().onTranslateUrl(navigation);
    // The core decides whether the view follows; WebKit never hands an
    // address to a program of the system's by itself.
    if (!self->events().onBeforeNavigate2(navigation)) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    self->setLocation(navigation.url);
    webkit_policy_decision_use(decision);
    return TRUE;
}

// A window asked for without a policy decision first (a script's
// window.open): the same rule, and no view is made.
GtkWidget* CreateView(WebKitWebView*, WebKitNavigationAction* action, gpointer p) {
    static_cast<UiWebView*>(p)->events().onTranslateUrl(NavigationOf(action, true));
    return nullptr;
}

}  // namespace

UiWebView::UiWebView(UiDialog& dialog, WebViewEvents& events)
    : UiControl(dialog, NewView()), events_(events) {
    g_signal_connect(widget_, "decide-policy", G_CALLBACK(DecidePolicy), this);
    g_signal_connect(widget_, "create", G_CALLBACK(CreateView), this);
}

void UiWebView::setLocation(const WString& url) {
    std::lock_guard<std::mutex> lock(mutex_);
    location_ = url;
}

WString UiWebView::location() {
    std::lock_guard<std::mutex> lock(mutex_);
    return location_;
}

void UiWebView::navigate(const WString& url) {
    setLocation(url);
    const std::string u = toUtf8(url);
    dialog_.call([&] { webkit_web_view_load_uri(WEBKIT_WEB_VIEW(widget_), u.c_str()); });
}

}  // namespace kvn::linuxp
