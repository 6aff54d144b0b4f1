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

bool SystemSavesSseState(platform::OsServices& os) {
    platform::OsVersionInfo info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (os.GetVersionExA(info) == 0) return false;
    if (info.dwPlatformId == kPlatformWindowsNT) return os.ProcessorFeaturePresent(platform::kFeatureSseInstructions);
    if (info.dwPlatformId != kPlatformWindows95) return false;
    const uint32_t build = info.dwBuildNumber & 0xFFFF;  // the high word repeats the version
    const uint32_t version = info.dwMajorVersion * 100 + info.dwMinorVersion;
    return version > 410 || (version == 410 && build >= 2222);
}

bool RebootSystem(platform::OsServices& os) { return os.ExitWindowsEx(platform::kExitWindowsReboot, 0) != 0; }

}  // namespace setup
