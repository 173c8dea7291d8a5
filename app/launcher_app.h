// The application object: single-instance guard and choice of mode.
#pragma once

#include "platform/platform.h"

namespace kvn {

inline constexpr char16_t kMutexName[] = u"KVNLancher";

class CLauncherApp {
public:
    explicit CLauncherApp(Platform& platform) : m_platform(platform) {}
    // The whole life of the process; always false.
    bool InitInstance();

private:
    Platform& m_platform;
};

}  // namespace kvn
