#include "update/download.h"

namespace kvn {

// Placeholder until downloads land.
bool DownloadFile(Platform&, InstallWorkerContext&, WString, WString, bool) { return false; }

}  // namespace kvn
