#include "app/config.h"

#include "platform/crypto.h"
#include "platform/text.h"
#include "update/update_rules.h"

#ifndef KVN_DEFAULT_SITE
#define KVN_DEFAULT_SITE "http://www.korvane.net"
#endif
#ifndef KVN_DEFAULT_DOWNLOAD
#define KVN_DEFAULT_DOWNLOAD "http://download.korvane.net"
#endif
#ifndef KVN_UPDATE_PUBLIC_KEY
#define KVN_UPDATE_PUBLIC_KEY ""
#endif

namespace kvn {
namespace {
WString baseFrom(System& system, const char16_t* name, const char* fallback) {
    WString base = system.environment(name).value_or(widen(fallback));
    if (base.empty()) base = widen(fallback);
    while (!base.empty() && base.back() == u'/') base.pop_back();
    return base;
}
}  // namespace

std::vector<Bytes> UpdateKeys() {
    // The build checks the keys; should a bad one get through anyway, a key
    // of the wrong length makes every signature fail rather than none count.
    return ParseKeyList(KVN_UPDATE_PUBLIC_KEY).value_or(std::vector<Bytes>{"invalid key"});
}

Config LoadConfig(System& system) {
    return Config{baseFrom(system, u"KORVANE_SITE", KVN_DEFAULT_SITE),
                  baseFrom(system, u"KORVANE_DOWNLOAD", KVN_DEFAULT_DOWNLOAD), UpdateKeys()};
}

WString AppName(System& system) {
    WString path = system.moduleFileName();
    const auto slash = path.find_last_of(u"\\/");
    WString name = slash == WString::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind(u'.');
    if (dot != WString::npos && dot > 0) name.resize(dot);
    return name;
}

MsgResult AfxMessageBox(Platform& platform, const WString& text, MsgButtons buttons) {
    return platform.ui.messageBox(nullptr, text, AppName(platform.system), buttons,
                                  MsgIcon::Warning);
}

}  // namespace kvn
