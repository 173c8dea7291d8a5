// The system services of one backend (everything but the windows), owned
// together. Each backend fills one at start-up; `platform(ui)` hands them to
// the core with that backend's windows.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace kvn {

class Services {
public:
    struct Parts {
        std::unique_ptr<FileSystem> files;
        std::unique_ptr<ProfileFiles> profiles;
        std::unique_ptr<Registry> registry;
        std::unique_ptr<Processes> processes;
        std::unique_ptr<Drives> drives;
        std::unique_ptr<Shell> shell;
        std::unique_ptr<Http> http;
        std::unique_ptr<System> system;
    };

    explicit Services(Parts parts) : parts_(std::move(parts)) {}
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    FileSystem& files() { return *parts_.files; }
    ProfileFiles& profiles() { return *parts_.profiles; }
    Registry& registry() { return *parts_.registry; }
    Processes& processes() { return *parts_.processes; }
    Drives& drives() { return *parts_.drives; }
    Shell& shell() { return *parts_.shell; }
    Http& http() { return *parts_.http; }
    System& system() { return *parts_.system; }

    Platform platform(Ui& ui) {
        return Platform{files(),  profiles(), registry(), processes(), drives(),
                        shell(),  http(),     ui,         system()};
    }

private:
    Parts parts_;
};

}  // namespace kvn
