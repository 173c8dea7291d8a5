// kvnversion.ini: the marker and the number after it, against the same
// reading done with C's own functions on a zero-filled 256-byte buffer.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "update/client_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min<std::size_t>(size, 255);  // what the launcher reads
    const std::string_view head(reinterpret_cast<const char*>(data), n);
    const std::optional<int> got = kvn::ClientVersionFromHead(head);

    char buffer[256] = {};
    std::memcpy(buffer, data, n);
    const char* marker = std::strstr(buffer, "version:");
    KVN_PROPERTY(got.has_value() == (marker != nullptr));
    if (marker) KVN_PROPERTY(*got == kvnfuzz::CDecimal(marker + 8));
    return 0;
}
