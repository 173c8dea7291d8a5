#include "platform/win32/services.h"

#include "platform/win32/internal.h"

namespace kvn::win32 {

Win32Services::Win32Services()
    : files_(makeFileSystem()),
      profiles_(makeProfileFiles()),
      registry_(makeRegistry()),
      processes_(makeProcesses()),
      drives_(makeDrives()),
      shell_(makeShell()),
      http_(makeHttp()),
      system_(makeSystem()) {}
Win32Services::~Win32Services() = default;

FileSystem& Win32Services::files() { return *files_; }
ProfileFiles& Win32Services::profiles() { return *profiles_; }
Registry& Win32Services::registry() { return *registry_; }
Processes& Win32Services::processes() { return *processes_; }
Drives& Win32Services::drives() { return *drives_; }
Shell& Win32Services::shell() { return *shell_; }
Http& Win32Services::http() { return *http_; }
System& Win32Services::system() { return *system_; }

}  // namespace kvn::win32
