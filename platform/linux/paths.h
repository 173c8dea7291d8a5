// Windows-form paths on the Linux file system: drive letters come from a
// drive table (KORVANE_DRIVES="C=/srv/c;D=/srv/d", default C under the
// user's data folder); native paths outside every drive read as "Z:\...",
// and Z: is always the native root.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kvn::linuxp {

// Windows-form path -> native path.
std::string NativePath(const WString& windowsPath);
// A file name read from a folder, as a path step that names exactly that
// file: bytes that are not plain UTF-8, backslashes, the escape range itself
// and the dot of a launcher link name ("Korvane.lnk") become U+F0xx units,
// which NativePath turns back into the same bytes. So a name is never split
// into steps, renamed or mapped again.
WString EncodeName(const std::string& name);
// Native path -> Windows form.
WString WindowsPath(const std::string& nativePath);

// The drive table, sorted by letter (upper case), folders without a
// trailing separator. Read from the environment on every call.
std::vector<std::pair<char, std::string>> DriveTable();

// Creates a folder and its missing parents, each with mode 0700 as the XDG
// base directory rules ask of folders an application makes; folders that
// exist keep their mode.
void MakePrivateFolders(const std::string& path);

// XDG folders with their defaults.
std::string XdgDataHome();
std::string XdgConfigHome();
std::string XdgCacheHome();

}  // namespace kvn::linuxp
