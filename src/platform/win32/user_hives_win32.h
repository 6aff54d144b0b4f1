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

// One or two privileges of the process's token (e.g. "SeShutdownPrivilege")
// enabled while the object lives, then put back as they were. Where the
// token lacks them, or there are no tokens (the 95 family), nothing changes.
class EnabledPrivileges {
public:
    explicit EnabledPrivileges(const char* first, const char* second = nullptr);
    ~EnabledPrivileges();
    EnabledPrivileges(const EnabledPrivileges&) = delete;
    EnabledPrivileges& operator=(const EnabledPrivileges&) = delete;

private:
    struct Privileges {  // TOKEN_PRIVILEGES with room for two
        DWORD count;
        LUID_AND_ATTRIBUTES entries[2];
        TOKEN_PRIVILEGES* Get() { return reinterpret_cast<TOKEN_PRIVILEGES*>(this); }
    };
    HANDLE token_ = nullptr;
    Privileges previous_{0, {}};
    BOOL adjusted_ = FALSE;
};

// The value `name` of the key `subkey` in every user hive that has it.
std::vector<UserSetting> UserHivesSetting(const std::string& subkey, const std::string& name);

}  // namespace platform::win32
