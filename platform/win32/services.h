// The Windows system services (everything but the windows).
#pragma once

#include "platform/services.h"

namespace kvn::win32 {

class Win32Services : public Services {
public:
    Win32Services();
};

}  // namespace kvn::win32
