// Bitmap loading as the GTK backend does it, which needs no display: the
// window background (LauncherDlg.bmp) read from a file by the backend's
// loader (GdkPixbuf's BMP decoder), keyed on pure green as the buttons
// are, and the key-colour scan that shapes the window, run over every
// pixel the picture claims to have (a picture that says it is larger than
// its buffer shows as an overflow here). The launcher hands the loader
// only files its complete-file check admits, so those are what is loaded.
// Property: each of them loads, with the size the check read.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "fuzz/fuzz_support.h"
#include "platform/linux/ui_gtk.h"
#include "update/complete_files.h"

namespace {

// The shape scan of the skinned window: count key-colour pixels row by row.
std::size_t KeyPixels(GdkPixbuf* pb, int r, int g, int b) {
    const int w = gdk_pixbuf_get_width(pb), h = gdk_pixbuf_get_height(pb);
    const int stride = gdk_pixbuf_get_rowstride(pb), nc = gdk_pixbuf_get_n_channels(pb);
    const guchar* px = gdk_pixbuf_read_pixels(pb);
    KVN_PROPERTY(w > 0 && h > 0 && nc >= 3 && stride >= w * nc);
    KVN_PROPERTY(gdk_pixbuf_get_byte_length(pb) >= static_cast<gsize>(stride) * (h - 1) + w * nc);
    std::size_t count = 0;
    for (int y = 0; y < h; ++y) {
        const guchar* row = px + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < w; ++x)
            count += row[x * nc] == r && row[x * nc + 1] == g && row[x * nc + 2] == b;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto complete = kvn::CompleteBitmapSize(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!complete) return 0;
    static const std::string file = kvnfuzz::ScratchFolder() + "/LauncherDlg.bmp";
    kvnfuzz::WriteNative(file, std::string_view(reinterpret_cast<const char*>(data), size));
    GdkPixbuf* pb = kvn::linuxp::LoadBmpFile(file);
    KVN_PROPERTY(pb != nullptr);
    KVN_PROPERTY(gdk_pixbuf_get_width(pb) == complete->width && gdk_pixbuf_get_height(pb) == complete->height);
    const std::size_t background = KeyPixels(pb, 64, 64, 64);
    // A button bitmap: pure green becomes transparent, nothing else does.
    GdkPixbuf* keyed = gdk_pixbuf_add_alpha(pb, TRUE, 0, 255, 0);
    KVN_PROPERTY(keyed != nullptr);
    KVN_PROPERTY(gdk_pixbuf_get_width(keyed) == gdk_pixbuf_get_width(pb) &&
                 gdk_pixbuf_get_height(keyed) == gdk_pixbuf_get_height(pb));
    KVN_PROPERTY(KeyPixels(keyed, 64, 64, 64) == background);
    g_object_unref(keyed);
    g_object_unref(pb);
    return 0;
}
