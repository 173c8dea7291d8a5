// One HTTP download into one local file.
#pragma once

#include "platform/platform.h"
#include "update/install_context.h"

namespace kvn {

// The most bytes a download may take, known before its body arrives: a
// Content-Length above it fails before the body is read, a body that runs
// past it is cut off and fails. `exact`: the file must be exactly maxBytes
// long. Byte counts are 32-bit.
struct DownloadCeiling {
    std::uint32_t maxBytes = 0x7fffffff;
    bool exact = false;
};

bool DownloadFile(Platform& platform, InstallWorkerContext& context, WString url,
                  WString localPath, bool notify, DownloadCeiling ceiling = {});

}  // namespace kvn
