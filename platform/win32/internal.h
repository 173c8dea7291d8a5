// Factories of the Windows services, one per source file.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace kvn::win32 {

std::unique_ptr<FileSystem> makeFileSystem();
std::unique_ptr<ProfileFiles> makeProfileFiles();
std::unique_ptr<Registry> makeRegistry();
std::unique_ptr<Processes> makeProcesses();
std::unique_ptr<Drives> makeDrives();
std::unique_ptr<Shell> makeShell();
std::unique_ptr<Http> makeHttp();
std::unique_ptr<System> makeSystem();

}  // namespace kvn::win32
