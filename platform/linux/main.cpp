// Linux entry point: GTK, the services, the windows, then the launcher.
#include <cstdlib>

#include <gtk/gtk.h>

#include "app/launcher_app.h"
#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/linux/ui_gtk.h"

int main(int argc, char** argv) {
    // A fresh account may have no per-user base folders yet: they are made
    // owner-only, as the XDG rules ask, before the toolkit and the web
    // engine first put their data there.
    for (const std::string& base :
         {kvn::linuxp::XdgDataHome(), kvn::linuxp::XdgConfigHome(), kvn::linuxp::XdgCacheHome()})
        kvn::linuxp::MakePrivateFolders(base);
    // Accelerated compositing leaves web views blank without a GPU.
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    gtk_init(&argc, &argv);
    kvn::linuxp::LinuxServices services(argc, argv);
    kvn::linuxp::GtkUi ui;
    kvn::Platform platform = services.platform(ui);
    kvn::CLauncherApp(platform).InitInstance();
    return 0;
}
