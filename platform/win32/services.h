// The Windows system services (everything but the windows), as one object
// that owns each implementation.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace kvn::win32 {

class Win32Services {
public:
    Win32Services();
    ~Win32Services();
    Win32Services(const Win32Services&) = delete;
    Win32Services& operator=(const Win32Services&) = delete;

    FileSystem& files();
    ProfileFiles& profiles();
    Registry& registry();
    Processes& processes();
    Drives& drives();
    Shell& shell();
    Http& http();
    System& system();

private:
    std::unique_ptr<FileSystem> files_;
    std::unique_ptr<ProfileFiles> profiles_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<Processes> processes_;
    std::unique_ptr<Drives> drives_;
    std::unique_ptr<Shell> shell_;
    std::unique_ptr<Http> http_;
    std::unique_ptr<System> system_;
};

}  // namespace kvn::win32
