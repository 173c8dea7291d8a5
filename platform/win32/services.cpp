#include "platform/win32/services.h"

#include "platform/win32/internal.h"

namespace kvn::win32 {

Win32Services::Win32Services()
    : Services(Parts{makeFileSystem(), makeProfileFiles(), makeRegistry(), makeProcesses(),
                     makeDrives(), makeShell(), makeHttp(), makeSystem()}) {}

}  // namespace kvn::win32
