#pragma once
// Registry reads across the machine's user hives.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/os_services.h"

namespace platform::win32 {

// The string value `name` of root\subkey (in the registry view given, if
// any); false when it is absent or no string.
bool ReadRegistryString(HKEY root, const std::string& subkey, const std::string& name, std::string& value,
                        REGSAM view = 0);

// The value `name` of the key `subkey` in every user hive that has it.
std::vector<UserSetting> UserHivesSetting(const std::string& subkey, const std::string& name);

}  // namespace platform::win32
