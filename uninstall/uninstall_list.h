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
// file that cannot be opened leaves it as it was, and a read error keeps
// the whole lines read before it.
void ReadUninstallList(Platform& platform, const WString& launcherFolder, std::vector<Bytes>& list);

// Whether a list entry may be used: it must name the launcher folder itself
// (the empty entry) or something strictly inside it. So it begins with a
// separator and no step climbs out (".." or a step of dots and blanks that
// Windows trims to ".."); it carries no drive, UNC or device prefix (no
// ":", no doubled leading separator), no wildcard, no control character
// (NUL and CR included) and no reserved device name as a step. Every other
// entry is skipped, as a missing path is.
bool IsUsableEntry(std::u16string_view entry);

}  // namespace kvn
