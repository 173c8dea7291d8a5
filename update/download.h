// One HTTP download into one local file.
#pragma once

#include "platform/platform.h"
#include "update/install_context.h"

namespace kvn {

bool DownloadFile(Platform& platform, InstallWorkerContext& context, WString url,
                  WString localPath, bool notify);

}  // namespace kvn
