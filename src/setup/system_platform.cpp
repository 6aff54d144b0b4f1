#include "setup/system_platform.h"

#include "platform/os_services.h"

namespace setup {

bool IsWin9X(platform::OsServices& os) { return (GetPlatformId(os) & kPlatformWindows95) != 0; }

int32_t GetPlatformId(platform::OsServices& os) {
    platform::OsVersionInfo info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (os.GetVersionExA(info) == 0) return 0;
    return static_cast<int32_t>(info.dwPlatformId);
}

bool RebootSystem(platform::OsServices& os) { return os.ExitWindowsEx(platform::kExitWindowsReboot, 0) != 0; }

}  // namespace setup
