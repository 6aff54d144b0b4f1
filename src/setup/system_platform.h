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

// Whether the system saves the SSE registers when it switches between
// programs, so that code using them (the SHA extensions) is safe: the NT
// family says so per processor; on the 95 family, Windows 98 SE (4.10.2222)
// and later do, Windows 95 and the first Windows 98 do not.
bool SystemSavesSseState(platform::OsServices& os);

// Asks the system to reboot; true when it took the request.
bool RebootSystem(platform::OsServices& os);

}  // namespace setup
