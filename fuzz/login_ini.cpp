// login.ini: the whole file up to a zero byte is the address, converted
// from the ANSI code page (UTF-8 on Linux). The address is never empty,
// always valid UTF-16, and a file of valid UTF-8 comes back byte for byte.
#include <glib.h>

#include "fuzz/fuzz_support.h"
#include "launcher/launcher_dlg.h"
#include "platform/linux/services.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto system = kvn::linuxp::makeSystem(0, nullptr);
    static const kvn::WString fallback = u"http://www.korvane.net/micro/";
    const kvn::Bytes file(reinterpret_cast<const char*>(data), size);
    const kvn::WString url = kvn::StartUrlFromLoginIni(*system, file, fallback);

    KVN_PROPERTY(!url.empty());
    KVN_PROPERTY(kvnfuzz::WellFormed(url));
    const auto back = system->toAnsi(url);
    KVN_PROPERTY(back.has_value());

    const std::string text = file.substr(0, file.find('\0'));
    if (text.empty()) {
        KVN_PROPERTY(url == fallback);
    } else if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        KVN_PROPERTY(*back == text);
    } else {
        // Bytes that are not UTF-8 each become U+FFFD; the rest is kept.
        KVN_PROPERTY(url.find(u'\uFFFD') != kvn::WString::npos);
    }
    KVN_PROPERTY(kvn::StartUrlFromLoginIni(*system, std::nullopt, fallback) == fallback);
    return 0;
}
