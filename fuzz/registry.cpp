// The Linux registry store ($XDG_CONFIG_HOME/korvane/registry.ini) from any
// bytes. Properties: a value written reads back as written (up to its first
// zero unit, as from a zero-terminated buffer); a value deleted reads as
// absent; every other value keeps what it read before.
#include <sys/stat.h>

#include "fuzz/fuzz_support.h"
#include "platform/linux/services.h"

namespace {

struct Name {
    const char16_t* key;
    const char16_t* value;
};
constexpr Name kNames[] = {
    {u"SOFTWARE\\MozillaPlugins\\korvane.net/KVNWebPlayer", u"Path"},
    {u"SOFTWARE\\MozillaPlugins\\korvane.net/KVNWebPlayer", u"Version"},
    {u"SOFTWARE\\MozillaPlugins\\other", u"Path"},
    {u"Software\\Korvane", u"Path"},
};
// Names as a caller may spell them: keys and values are case-insensitive,
// a trailing separator of the key does not count.
constexpr Name kSpellings[] = {
    {u"software\\mozillaplugins\\KORVANE.NET/kvnwebplayer", u"PATH"},
    {u"SOFTWARE\\MozillaPlugins\\other\\", u"path"},
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& scratch = kvnfuzz::ScratchFolder();
    ::setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
    ::mkdir((scratch + "/korvane").c_str(), 0700);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto registry = kvn::linuxp::makeRegistry();
    constexpr std::size_t kAll = std::size(kNames) + std::size(kSpellings);
    FuzzedDataProvider in(data, size);
    const std::size_t which = in.ConsumeIntegralInRange<std::size_t>(0, kAll - 1);
    const bool remove = in.ConsumeBool();
    const kvn::WString text = kvnfuzz::ConsumeWide(in, 24);
    const std::string store = in.ConsumeRemainingBytesAsString();
    kvnfuzz::WriteNative(kvnfuzz::ScratchFolder() + "/korvane/registry.ini", store);

    std::optional<kvn::WString> before[std::size(kNames)];
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        before[i] = registry->readUserString(kNames[i].key, kNames[i].value, 1 << 20);
    }

    const Name& name = which < std::size(kNames) ? kNames[which] : kSpellings[which - std::size(kNames)];
    const std::size_t same = which < std::size(kNames) ? which : (which == std::size(kNames) ? 0 : 2);
    // What a reader gets back: the text as UTF-8 keeps it (a lone surrogate
    // becomes U+FFFD), cut at its first zero unit.
    const kvn::WString expected = kvn::untilZero(kvn::fromUtf8(kvn::toUtf8(text)));
    if (remove) {
        const bool removed = registry->deleteUserValue(name.key, name.value);
        KVN_PROPERTY(removed == before[same].has_value());
        KVN_PROPERTY(!registry->readUserString(name.key, name.value, 1 << 20));
    } else {
        if (!registry->writeUserString(name.key, name.value, text)) return 0;
        KVN_PROPERTY(registry->readUserString(name.key, name.value, 1 << 20) == expected);
    }
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        if (i == same) continue;
        KVN_PROPERTY(registry->readUserString(kNames[i].key, kNames[i].value, 1 << 20) == before[i]);
    }
    return 0;
}
