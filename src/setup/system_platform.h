#pragma once
// Which family of Windows the installer runs on, and the reboot request.
#include <cstdint>

namespace platform {
class OsServices;
}

namespace setup {

constexpr int32_t kPlatformWin32s = 0;
constexpr int32_t kPlatformWindows95 = 1;
constexpr int32_t kPlatformWindowsNT = 2;

// True on the Windows 95 family; a failed version query counts as false.
bool IsWin9X(platform::OsServices& os);

// The platform identifier the system reports; 0 when the query fails.
int32_t GetPlatformId(platform::OsServices& os);

// Asks the system to reboot; true when it took the request.
bool RebootSystem(platform::OsServices& os);

}  // namespace setup
