#include "update/client_version.h"

#include "platform/text.h"

namespace kvn {

std::optional<int> ClientVersionFromHead(std::string_view head) {
    const std::string_view text = head.substr(0, head.find('\0'));
    constexpr std::string_view kMarker = "version:";
    const auto at = text.find(kMarker);
    if (at == std::string_view::npos) return std::nullopt;
    return parseDecimal(text.substr(at + kMarker.size()));
}

}  // namespace kvn
