// The external-link rule: which addresses a page may send to the system's
// shell. Properties:
// - any text: an address that leaves is an absolute http or https address
//   (scheme in any case) with a host, as GLib's URI parser reads it, holds
//   no blank, control character or broken UTF-16, and none of the markers
//   that keep an address in the view;
// - an address put together from a scheme, a separator, a host, a port and
//   a tail leaves exactly when all of those hold.
#include <glib.h>

#include <array>

#include "fuzz/fuzz_support.h"
#include "webview/web_browser.h"

namespace {

using kvn::WString;

// Blanks and control characters as GLib's Unicode tables know them.
bool CleanText(const WString& text) {
    glong written = 0;
    gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text.data()),
                                  static_cast<glong>(text.size()), nullptr, &written, nullptr);
    if (!utf8) return false;  // broken UTF-16
    bool clean = static_cast<std::size_t>(g_utf8_strlen(utf8, written)) ==
                 static_cast<std::size_t>(g_utf8_strlen(utf8, -1));  // no zero inside
    for (const gchar* p = utf8; clean && *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (g_unichar_isspace(c) || g_unichar_iscntrl(c) || g_unichar_type(c) == G_UNICODE_SPACE_SEPARATOR)
            clean = false;
    }
    g_free(utf8);
    return clean;
}

bool HasMarker(const WString& url) {
    return kvn::contains(url, u"?user=") || kvn::contains(url, u"micro") ||
           kvn::contains(url, kvn::kStayInViewMarker);
}

void CheckLeaving(const WString& url) {
    if (!kvn::OpensInDefaultBrowser(url)) return;
    KVN_PROPERTY(kvn::IsWebAddress(url));
    KVN_PROPERTY(!url.empty() && !HasMarker(url));
    KVN_PROPERTY(CleanText(url));
    const std::string utf8 = kvn::toUtf8(url);
    char* scheme = g_uri_parse_scheme(utf8.c_str());
    KVN_PROPERTY(scheme && (g_str_equal(scheme, "http") || g_str_equal(scheme, "https")));
    g_free(scheme);
    gchar* host = nullptr;
    const bool parsed = g_uri_split(utf8.c_str(), G_URI_FLAGS_ENCODED | G_URI_FLAGS_NON_DNS, nullptr,
                                    nullptr, &host, nullptr, nullptr, nullptr, nullptr, nullptr);
    KVN_PROPERTY(parsed && host && *host);
    g_free(host);
}

WString Utf16(std::string_view bytes) {
    WString out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    static constexpr std::array<const char16_t*, 12> kSchemes = {
        u"http", u"https", u"file", u"ms-msdt", u"search-ms", u"javascript",
        u"data", u"smb", u"ftp", u"httpx", u"kvnx", u""};
    static constexpr std::array<const char16_t*, 6> kSeparators = {u"://", u":", u":/", u":\\\\", u"//", u":///"};
    WString scheme = kSchemes[in.ConsumeIntegralInRange<std::size_t>(0, kSchemes.size() - 1)];
    const bool web = scheme == u"http" || scheme == u"https";
    const std::uint16_t caseBits = in.ConsumeIntegral<std::uint16_t>();
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (caseBits >> i & 1 && scheme[i] >= u'a' && scheme[i] <= u'z') scheme[i] = char16_t(scheme[i] - 32);
    const WString separator = kSeparators[in.ConsumeIntegralInRange<std::size_t>(0, kSeparators.size() - 1)];
    const WString user = in.ConsumeBool() ? kvn::fromUtf8(in.ConsumeRandomLengthString(8)) + u"@" : WString();
    const WString host = kvn::fromUtf8(in.ConsumeRandomLengthString(16));
    const WString port = in.ConsumeBool() ? u":" + kvn::decimal(in.ConsumeIntegral<std::uint16_t>()) : WString();
    const std::string tailBytes = in.ConsumeRandomLengthString(64);
    const WString tail = in.ConsumeBool() ? Utf16(tailBytes) : kvn::fromUtf8(tailBytes);
    const WString rest = Utf16(in.ConsumeRemainingBytesAsString());

    CheckLeaving(rest);
    CheckLeaving(kvn::fromUtf8(std::string(reinterpret_cast<const char*>(data), size)));

    // The parts as a page would put them together; the pieces that would
    // change where the host ends are left out of the host and user parts.
    const auto delimits = [](const WString& s, std::u16string_view set) {
        return s.find_first_of(set) != WString::npos;
    };
    if (delimits(host, u"/?#\\@:[]") || delimits(user.substr(0, user.size() - (user.empty() ? 0 : 1)), u"/?#\\@"))
        return 0;
    const WString url = scheme + separator + user + host + port + u"/" + tail;
    CheckLeaving(url);
    const bool expected = web && separator == u"://" && !host.empty() && CleanText(url) && !HasMarker(url);
    KVN_PROPERTY(kvn::OpensInDefaultBrowser(url) == expected);
    return 0;
}
