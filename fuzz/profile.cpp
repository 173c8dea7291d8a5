// INI files as the Linux backend reads and writes them (the version record
// LoginExeVersionInfo.ini, GameVideoSetting.ini). Properties:
// - a number reads as C's strtol reads the value's text; a missing key or
//   an empty value reads as the default (as GetPrivateProfileIntW has it);
// - a value written reads back as written, and every other key keeps the
//   value it had.
#include <sys/stat.h>

#include <map>

#include "fuzz/fuzz_support.h"
#include "platform/linux/services.h"

namespace {

struct Key {
    const char16_t* section;
    const char16_t* key;
};
// The launcher's own keys, with case variants the backend must treat alike.
constexpr Key kKeys[] = {
    {u"VersionInfo", u"LoginExeVersionNumber"}, {u"VersionInfo", u"DlgBackVersionNumber"},
    {u"VersionInfo", u"VersionNumber"},         {u"VersionInfo", u"LoginExeSha256"},
    {u"GameVideoSetting", u"SettingValue"},     {u"GameVideoSetting", u"SettingUpdate"},
    {u"versioninfo", u"versionnumber"},         {u"GAMEVIDEOSETTING", u"settingvalue"},
};
constexpr std::size_t kDistinct = 6;  // the first six name different keys

const kvn::WString kPath = u"C:\\Korvanis/LoginExeVersionInfo.ini";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& scratch = kvnfuzz::ScratchFolder();
    ::setenv("KORVANE_DRIVES", ("C=" + scratch).c_str(), 1);
    ::mkdir((scratch + "/Korvanis").c_str(), 0755);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto profiles = kvn::linuxp::makeProfileFiles();
    FuzzedDataProvider in(data, size);
    const std::size_t which = in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1);
    const std::string value = in.ConsumeRandomLengthString(40);
    const std::string file = in.ConsumeRemainingBytesAsString();
    kvnfuzz::WriteNative(kvnfuzz::ScratchFolder() + "/Korvanis/LoginExeVersionInfo.ini", file);

    std::map<std::size_t, std::optional<kvn::WString>> before;
    for (std::size_t i = 0; i < kDistinct; ++i) {
        const Key& k = kKeys[i];
        const auto text = profiles->getString(k.section, k.key, kPath, 1 << 20);
        const int a = profiles->getInt(k.section, k.key, -1, kPath);
        const int b = profiles->getInt(k.section, k.key, -2, kPath);
        if (!text || text->empty()) {
            KVN_PROPERTY(a == -1 && b == -2);
        } else {
            KVN_PROPERTY(a == b);
            KVN_PROPERTY(a == kvnfuzz::CDecimal(kvn::toUtf8(*text)));
        }
        before[i] = text;
    }

    // Values the launcher writes are one-line texts without outer blanks.
    std::string v;
    for (char c : value)
        if (c > ' ' && c != 0x7F) v += c;
    const Key& k = kKeys[which];
    if (!profiles->writeString(k.section, k.key, kvn::widen(v), kPath)) return 0;
    KVN_PROPERTY(profiles->getString(k.section, k.key, kPath, 1 << 20) == kvn::widen(v));
    const std::size_t written = which < kDistinct ? which : (which == 6 ? 2 : 4);
    for (std::size_t i = 0; i < kDistinct; ++i) {
        if (i == written) continue;
        const Key& o = kKeys[i];
        KVN_PROPERTY(profiles->getString(o.section, o.key, kPath, 1 << 20) == before[i]);
    }
    return 0;
}
