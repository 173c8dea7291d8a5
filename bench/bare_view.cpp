// A bare WebKitGTK view: one window of the launcher's size holding one web
// view, of the launcher's view size and place, that loads the address it is
// given. It does what any program that shows the login page must do and
// nothing else, so scripts/bench_login.sh times the launcher against it.
// Prints "loaded" when the load has finished and stays open until ended.
// Usage: bare_view <address>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // The launcher's own setting: without a GPU, compositing leaves the
    // view blank.
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    gtk_init(&argc, &argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bare_view <address>\n");
        return 2;
    }
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "bare view");
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, 1035, 590);
    gtk_container_add(GTK_CONTAINER(window), fixed);
    GtkWidget* view = webkit_web_view_new();
    gtk_widget_set_size_request(view, 930, 395);
    gtk_fixed_put(GTK_FIXED(fixed), view, 38, 120);
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer) {
        if (event != WEBKIT_LOAD_FINISHED) return;
        std::printf("loaded\n");
        std::fflush(stdout);
    }), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
