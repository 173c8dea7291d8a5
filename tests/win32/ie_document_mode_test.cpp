// The web browser control's document mode in the user's registry: set for
// one program name only, and written only when it differs.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "platform/win32/ie_document_mode.h"

namespace kvn::win32 {
namespace {

constexpr wchar_t kKey[] =
    L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";

std::optional<DWORD> Mode(const wchar_t* program) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, program, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

ULONGLONG LastWrite() {
    HKEY key = nullptr;
    FILETIME time{};
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, &time);
    RegCloseKey(key);
    return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void Put(const wchar_t* program, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kKey, program, type, data, size), ERROR_SUCCESS);
}

TEST(Win32IeDocumentMode, SetForItsProgramNameOnlyAndWrittenOnlyWhenItDiffers) {
    const wchar_t* mine = L"kvn-ie-mode-test.exe";
    const wchar_t* other = L"kvn-other-program.exe";
    const DWORD otherMode = 7000;
    Put(other, REG_DWORD, &otherMode, sizeof otherMode);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, mine);

    EXPECT_TRUE(SetIeDocumentMode(mine, 11000));
    EXPECT_EQ(Mode(mine), 11000u);
    // The same value again: the key is not written (its time stays), while
    // a different one is.
    const ULONGLONG written = LastWrite();
    Sleep(50);
    EXPECT_TRUE(SetIeDocumentMode(mine, 11000));
    EXPECT_EQ(LastWrite(), written);
    EXPECT_TRUE(SetIeDocumentMode(mine, 10001));
    EXPECT_EQ(Mode(mine), 10001u);
    EXPECT_GT(LastWrite(), written);
    // A value of another type under the name is replaced by the number.
    const wchar_t text[] = L"11000";
    Put(mine, REG_SZ, text, sizeof text);
    EXPECT_TRUE(SetIeDocumentMode(mine, 11000));
    EXPECT_EQ(Mode(mine), 11000u);
    // Another program's value is its own.
    EXPECT_EQ(Mode(other), otherMode);
    EXPECT_FALSE(SetIeDocumentMode(L"", 11000));

    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, mine);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, other);
}

// The build's mode, or none, for the running program's own file name.
TEST(Win32IeDocumentMode, TheBuildsModeGoesUnderTheRunningProgramsName) {
    const wchar_t* self = L"kvn_win32_tests.exe";
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, self);
    ApplyBuildIeDocumentMode();
    EXPECT_EQ(Mode(self), BuildIeDocumentMode());
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, self);
}

}  // namespace
}  // namespace kvn::win32
