#include "platform/linux/services.h"

namespace kvn::linuxp {

struct LinuxServices::Parts {
    std::unique_ptr<FileSystem> files = makeFileSystem();
    std::unique_ptr<ProfileFiles> profiles = makeProfileFiles();
    std::unique_ptr<Registry> registry = makeRegistry();
    std::unique_ptr<Processes> processes = makeProcesses();
    std::unique_ptr<Drives> drives = makeDrives();
    std::unique_ptr<Shell> shell = makeShell();
    std::unique_ptr<Http> http = makeHttp();
    std::unique_ptr<System> system;
};

LinuxServices::LinuxServices(int argc, char** argv) : parts_(std::make_unique<Parts>()) {
    parts_->system = makeSystem(argc, argv);
}
LinuxServices::~LinuxServices() = default;

FileSystem& LinuxServices::files() { return *parts_->files; }
ProfileFiles& LinuxServices::profiles() { return *parts_->profiles; }
Registry& LinuxServices::registry() { return *parts_->registry; }
Processes& LinuxServices::processes() { return *parts_->processes; }
Drives& LinuxServices::drives() { return *parts_->drives; }
Shell& LinuxServices::shell() { return *parts_->shell; }
Http& LinuxServices::http() { return *parts_->http; }
System& LinuxServices::system() { return *parts_->system; }

}  // namespace kvn::linuxp
