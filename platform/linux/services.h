// All non-UI services of the Linux port, built once at start-up.
#pragma once

#include <memory>

#include "platform/services.h"

namespace kvn::linuxp {

class LinuxServices : public Services {
public:
    LinuxServices(int argc, char** argv);
};

// Factories of the single services (also used by the backend tests).
std::unique_ptr<FileSystem> makeFileSystem();
std::unique_ptr<ProfileFiles> makeProfileFiles();
std::unique_ptr<Registry> makeRegistry();
std::unique_ptr<Processes> makeProcesses();
std::unique_ptr<Drives> makeDrives();
std::unique_ptr<Shell> makeShell();
std::unique_ptr<Http> makeHttp();
std::unique_ptr<System> makeSystem(int argc, char** argv);

}  // namespace kvn::linuxp
