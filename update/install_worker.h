// The background thread that unpacks the client and registers the plug-in.
#pragma once

#include "platform/platform.h"
#include "update/install_context.h"

namespace kvn {

// Polls the record every 64 ms until m_bStopWorker is set; returns 0.
unsigned InstallWorker(Platform& platform, InstallWorkerContext* context);

}  // namespace kvn
