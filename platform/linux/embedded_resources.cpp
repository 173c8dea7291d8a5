// The pictures compiled in by glib-compile-resources, read back through
// GLib's resource registry.
#include "platform/linux/embedded_resources.h"

#include <gio/gio.h>

#include <string>

extern "C" void kvn_login_register_resource(void);

namespace kvn::linuxp {
namespace {

GdkPixbuf* Decode(const std::string& name, const char* type) {
    // Registered once, on first use, by whichever thread asks first.
    static const bool registered = (kvn_login_register_resource(), true);
    (void)registered;
    const std::string path = "/net/korvane/Login/" + name;
    GBytes* bytes = g_resources_lookup_data(path.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    if (!bytes) return nullptr;
    gsize size = 0;
    const auto* data = static_cast<const guchar*>(g_bytes_get_data(bytes, &size));
    // The loader is named outright, as for bitmap files: GdkPixbuf's guess
    // from the first bytes takes some bitmaps for other formats.
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, nullptr);
    GdkPixbuf* picture = nullptr;
    if (loader) {
        const bool written = gdk_pixbuf_loader_write(loader, data, size, nullptr);
        const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
        if (written && closed) picture = gdk_pixbuf_loader_get_pixbuf(loader);
        if (picture) g_object_ref(picture);
        g_object_unref(loader);
    }
    g_bytes_unref(bytes);
    return picture;
}

}  // namespace

GdkPixbuf* LoadBitmapResource(int id) { return Decode("bitmaps/" + std::to_string(id) + ".bmp", "bmp"); }

GdkPixbuf* LoadIconResource(int id) { return Decode(std::to_string(id) + ".ico", "ico"); }

}  // namespace kvn::linuxp
