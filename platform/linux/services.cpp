#include "platform/linux/services.h"

namespace kvn::linuxp {

LinuxServices::LinuxServices(int argc, char** argv)
    : Services(Parts{makeFileSystem(), makeProfileFiles(), makeRegistry(), makeProcesses(),
                     makeDrives(), makeShell(), makeHttp(), makeSystem(argc, argv)}) {}

}  // namespace kvn::linuxp
