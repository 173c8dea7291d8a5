// The program's own pictures, compiled into it (res/Login.gresource.xml):
// the button bitmaps and the application icon, addressed by their resource
// ids as Login.exe addresses its resource section. Nothing is looked up in
// a folder, so the program shows them wherever it is installed.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace kvn::linuxp {

// Bitmap resource `id` decoded by GdkPixbuf's BMP loader; a new reference,
// null when the program has no such bitmap.
GdkPixbuf* LoadBitmapResource(int id);

// Icon resource `id` (the largest picture of the icon); a new reference,
// null when the program has no such icon.
GdkPixbuf* LoadIconResource(int id);

}  // namespace kvn::linuxp
