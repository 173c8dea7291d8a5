#include "update/install_worker.h"

namespace kvn {

// Placeholder until the extraction lands: polls and takes requests only.
unsigned InstallWorker(Platform& platform, InstallWorkerContext* context) {
    if (!context) return 0;
    while (!context->m_bStopWorker.load()) {
        platform.system.sleep(64);
        context->TakeExtractionRequest();
    }
    return 0;
}

}  // namespace kvn
