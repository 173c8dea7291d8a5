// The document mode of the web browser control. A program that hosts the
// control renders pages in IE7's mode unless the page asks for another
// (X-UA-Compatible) or the program's name has a FEATURE_BROWSER_EMULATION
// value in the user's registry; the operator may name one at build time
// (KVN_IE_DOCUMENT_MODE), which Login.exe then sets before its first web
// view.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace kvn::win32 {

// The value the build names; none when the control keeps its default.
std::optional<DWORD> BuildIeDocumentMode();

// Sets the FEATURE_BROWSER_EMULATION value of one program name (a file name
// such as "Login.exe") to mode, writing only when the value there differs.
// True when the value holds mode afterwards.
bool SetIeDocumentMode(const std::wstring& programName, DWORD mode);

// Once per process, before its first web view: the build's mode for the
// running program's file name. Nothing when the build names none.
void ApplyBuildIeDocumentMode();

}  // namespace kvn::win32
