// Survey of the machine's drives and the choice of the install drive.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kvn {

inline constexpr int kDriveCapacity = 50;

// Fills the caller's arrays (capacity in `count`); see the survey rules.
void SurveyDrives(Platform& platform, int& count, WString* descriptions,
                  std::uint64_t* freeBytes, char16_t* letters);

// The install drive: the second drive when it is a fixed disk and the first
// has less than 5 GiB free, else the first.
char16_t ChooseInstallDrive(const WString* descriptions, const std::uint64_t* freeBytes,
                            const char16_t* letters);

// "%c:\Korvanis".
WString DefaultInstallDir(char16_t letter);

}  // namespace kvn
