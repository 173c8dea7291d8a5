// Uninstall.list: the game files and folders the uninstaller removes, one
// path relative to the launcher folder per line.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace kvn {

// Splits the file's bytes into entries as the platform's text-mode reading
// does: lines end at a line feed, a carriage return right before it is
// dropped, a byte 0x1A ends the text, the last line counts without a final
// line feed, and every line (an empty one too) is taken verbatim.
std::vector<Bytes> ParseUninstallList(const Bytes& text);

// Appends the entries of launcherFolder + "\Uninstall.list" to `list`; a
// file that cannot be read leaves it as it was.
void ReadUninstallList(Platform& platform, const WString& launcherFolder, std::vector<Bytes>& list);

// False for an entry that would reach outside the launcher folder: one with
// a ".." step (or a step of dots that the file system reads as one).
bool IsEntryInsideFolder(const WString& entry);

}  // namespace kvn
