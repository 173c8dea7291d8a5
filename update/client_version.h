// The installed game client's version, from the head of its kvnversion.ini.
#pragma once

#include <optional>
#include <string_view>

namespace kvn {

// The file's first bytes (the caller reads at most 255) as text ending at
// the first zero byte; the number right after the first "version:", read
// as C's decimal conversion reads it. Nothing when the marker is absent.
std::optional<int> ClientVersionFromHead(std::string_view head);

}  // namespace kvn
