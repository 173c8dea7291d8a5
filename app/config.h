// Where the launcher's two hosts are: build-time defaults that the
// environment variables KORVANE_SITE and KORVANE_DOWNLOAD override. And the
// key that signs its updates, fixed at build time only.
#pragma once

#include "platform/platform.h"

namespace kvn {

struct Config {
    WString site;      // base of the game's web site, no trailing "/"
    WString download;  // base of the download server, no trailing "/"
    // Ed25519 public keys (32 raw bytes each): every file of the self-update
    // must be signed with one of them; none: updates are not signed.
    std::vector<Bytes> updateKeys;
};

Config LoadConfig(System& system);

// The application's name: the executable's file name without extension.
WString AppName(System& system);

// The application's own message box: the application's name as caption and
// a warning icon, owned by no window (usable from the worker threads too).
MsgResult AfxMessageBox(Platform& platform, const WString& text,
                        MsgButtons buttons = MsgButtons::Ok);

}  // namespace kvn
