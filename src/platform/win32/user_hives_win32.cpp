#include "platform/win32/user_hives_win32.h"

#include "platform/text.h"

namespace platform::win32 {

bool ReadRegistryString(HKEY root, const std::string& subkey, const std::string& name, std::string& value,
                        REGSAM view) {
    HKEY handle;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD size = 0;
    bool found = false;
    if (RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<char> data(size + 1, '\0');
        found = RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
                ERROR_SUCCESS;
        if (found) value.assign(data.data());  // stops at the terminating NUL, present or not
    }
    RegCloseKey(handle);
    return found;
}

namespace {

const char kProfileList[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A 32-bit program on 64-bit Windows reads the machine's software keys in
// their 64-bit view, where the profile list is kept. Older systems know no
// views (Windows 2000 may refuse the flag), so it is given only under WOW64.
REGSAM MachineView() {
    using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64 = reinterpret_cast<IsWow64>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
}

std::vector<std::string> SubkeyNames(HKEY root, const char* path, REGSAM view) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_ENUMERATE_SUB_KEYS | view, &key) != ERROR_SUCCESS) return names;
    char name[256];  // the longest key name, with its NUL
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        const LONG result = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const auto& each : names)
        if (lstrcmpiA(each.c_str(), name.c_str()) == 0) return true;
    return false;
}

// A user's file associations, loaded beside the user's hive.
bool IsClassesHive(const std::string& name) {
    static const char kSuffix[] = "_Classes";
    const std::size_t length = sizeof kSuffix - 1;
    return name.size() > length && lstrcmpiA(name.c_str() + name.size() - length, kSuffix) == 0;
}

std::string Expanded(const std::string& text) {
    char buffer[MAX_PATH * 2];
    const DWORD length = ExpandEnvironmentStringsA(text.c_str(), buffer, sizeof buffer);
    return length == 0 || length > sizeof buffer ? text : std::string(buffer);
}

// Reads the setting from a profile's hive, loaded for the moment under a
// name of this process's own below HKEY_USERS. False when the hive loaded
// and holds no setting. A missing hive file is not loaded: loading would
// create an empty one.
bool ReadProfileSetting(const std::string& subkey, const std::string& name, UserSetting& setting) {
    const std::string mount = "LiveUpdateSetup-" + Number(static_cast<long>(GetCurrentProcessId()));
    const std::string hive = setting.where + "\\NTUSER.DAT";
    const LONG loaded = GetFileAttributesA(hive.c_str()) == INVALID_FILE_ATTRIBUTES
                            ? static_cast<LONG>(GetLastError())
                            : RegLoadKeyA(HKEY_USERS, mount.c_str(), hive.c_str());
    if (loaded != ERROR_SUCCESS) {
        setting.trouble = "error " + Number(loaded);
        return true;
    }
    const bool found = ReadRegistryString(HKEY_USERS, mount + "\\" + subkey, name, setting.value);
    RegUnLoadKeyA(HKEY_USERS, mount.c_str());
    return found;
}

// The profiles listed in the profile list whose hive is not among `loaded`.
void AddProfileSettings(const std::vector<std::string>& loaded, const std::string& subkey, const std::string& name,
                        std::vector<UserSetting>& found) {
    const REGSAM view = MachineView();
    const auto profiles = SubkeyNames(HKEY_LOCAL_MACHINE, kProfileList, view);
    if (profiles.empty()) return;
    // Loading another user's hive needs the backup and restore privileges
    // enabled; the system account and elevated administrators hold them.
    const EnabledPrivileges privileges("SeBackupPrivilege", "SeRestorePrivilege");
    for (const auto& sid : profiles) {
        if (Contains(loaded, sid)) continue;
        const std::string entry = std::string(kProfileList) + "\\" + sid;
        std::string folder;
        const bool listed = ReadRegistryString(HKEY_LOCAL_MACHINE, entry, "ProfileImagePath", folder, view);
        UserSetting setting{UserSetting::Source::kProfile, Expanded(folder), "", ""};
        if (listed && ReadProfileSetting(subkey, name, setting)) found.push_back(setting);
    }
}

}  // namespace

std::vector<UserSetting> UserHivesSetting(const std::string& subkey, const std::string& name) {
    std::vector<UserSetting> found;
    const auto loaded = SubkeyNames(HKEY_USERS, "", 0);
    for (const auto& hive : loaded) {
        UserSetting setting{UserSetting::Source::kLoadedHive, "HKEY_USERS\\" + hive, "", ""};
        if (!IsClassesHive(hive) && ReadRegistryString(HKEY_USERS, hive + "\\" + subkey, name, setting.value))
            found.push_back(setting);
    }
    AddProfileSettings(loaded, subkey, name, found);
    return found;
}

EnabledPrivileges::EnabledPrivileges(const char* first, const char* second) {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_)) {
        token_ = nullptr;
        return;
    }
    const char* const names[] = {first, second};
    Privileges wanted{second ? 2u : 1u, {}};
    for (DWORD i = 0; i < wanted.count; ++i) {
        LookupPrivilegeValueA(nullptr, names[i], &wanted.entries[i].Luid);
        wanted.entries[i].Attributes = SE_PRIVILEGE_ENABLED;
    }
    DWORD size = sizeof previous_;
    adjusted_ = AdjustTokenPrivileges(token_, FALSE, wanted.Get(), sizeof previous_, previous_.Get(), &size);
}

EnabledPrivileges::~EnabledPrivileges() {
    if (adjusted_) AdjustTokenPrivileges(token_, FALSE, previous_.Get(), 0, nullptr, nullptr);
    if (token_) CloseHandle(token_);
}

}  // namespace platform::win32
