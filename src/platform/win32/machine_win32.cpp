#include "platform/win32/machine_win32.h"

#include <windows.h>
#include <restartmanager.h>

#include <cstring>

#include "platform/text.h"

#include "platform/win32/user_hives_win32.h"
#include "platform/wininit.h"

namespace platform::win32 {

namespace {

bool WriteAll(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

std::string ExpandedText(const std::string& text) {
    const DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (needed == 0) return text;
    std::string buffer(needed, '\0');
    const DWORD length = ExpandEnvironmentStringsA(text.c_str(), &buffer[0], needed);
    if (length == 0 || length > needed) return text;
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

}  // namespace

// Read through the registry view of this 32-bit program: on 64-bit Windows
// that is the 32-bit copy of the key, which names the "(x86)" folder.
std::string ProgramFilesFolder() {
    std::string value;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                            value))
        return std::string();
    value = ExpandedText(value);
    while (!value.empty() && value.back() == '\\') value.pop_back();
    return value;
}

// ---- The record file ------------------------------------------------------------

namespace {

class Win32RecordFile : public RecordFile {
public:
    explicit Win32RecordFile(HANDLE file) : file_(file) {}
    ~Win32RecordFile() override { CloseHandle(file_); }
    bool WriteLine(const std::string& line) override { return WriteAll(file_, line + "\r\n"); }
    bool Flush() override { return FlushFileBuffers(file_) != 0; }

private:
    HANDLE file_;
};

// Whether the file is empty or its last byte ends a line.
bool EndsItsLastLine(HANDLE file) {
    char last = '\n';
    DWORD read = 0;
    if (GetFileSize(file, nullptr) == 0 || SetFilePointer(file, -1, nullptr, FILE_END) == INVALID_SET_FILE_POINTER)
        return true;
    return !ReadFile(file, &last, 1, &read, nullptr) || last == '\n';
}

}  // namespace

// Opened for reading too, to see how the file ends. Only this handle
// writes (others may read), so its position stays at the end.
std::unique_ptr<RecordFile> OpenRecord(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    auto record = std::make_unique<Win32RecordFile>(file);
    const bool ended = EndsItsLastLine(file);
    if (SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER || (!ended && !WriteAll(file, "\r\n")))
        return nullptr;
    return record;
}

// Shared for writing too: the record may be open for appending meanwhile.
bool ReadWholeFileText(const std::string& path, std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    constexpr DWORD kPiece = 64 * 1024;
    std::string text;
    DWORD read = 0;
    bool ok = true;
    do {
        const std::size_t had = text.size();
        text.resize(had + kPiece);
        ok = ReadFile(file, &text[had], kPiece, &read, nullptr) != 0;
        text.resize(had + (ok ? read : 0));
    } while (ok && read != 0);
    CloseHandle(file);
    if (ok) content.swap(text);
    return ok;
}

// Made whole or not at all: a write cut short leaves no file.
bool WriteFileWhole(const std::string& path, const std::string& content) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                       written == content.size();
    CloseHandle(file);
    if (!whole) DeleteFileA(path.c_str());
    return whole;
}

// ---- Machine settings ---------------------------------------------------------------

namespace {

bool SetMachineValue(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size) {
    HKEY handle;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const bool set = RegSetValueExA(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return set;
}

bool Gone(LONG result) { return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND; }

}  // namespace

bool SetMachineText(const std::string& key, const std::string& name, const std::string& value, DWORD type) {
    return SetMachineValue(key, name, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

bool GetMachineText(const std::string& key, const std::string& name, std::string& value) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    bool found = RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
                 (type == REG_SZ || type == REG_EXPAND_SZ);
    std::string text(size + 1, '\0');
    found = found && RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&text[0]),
                                      &size) == ERROR_SUCCESS;
    RegCloseKey(handle);
    if (found) value = text.c_str();  // up to its NUL
    return found;
}

bool SetMachineDword(const std::string& key, const std::string& name, uint32_t value) {
    const DWORD number = value;
    return SetMachineValue(key, name, REG_DWORD, &number, sizeof number);
}

bool GetMachineDword(const std::string& key, const std::string& name, uint32_t& value) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD number = 0;
    DWORD size = sizeof number;
    const bool found = RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&number),
                                        &size) == ERROR_SUCCESS &&
                       type == REG_DWORD && size == sizeof number;
    RegCloseKey(handle);
    if (found) value = number;
    return found;
}

bool DeleteMachineRegistryValue(const std::string& key, const std::string& name) {
    HKEY handle;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &handle);
    if (opened != ERROR_SUCCESS) return opened == ERROR_FILE_NOT_FOUND;
    const LONG deleted = RegDeleteValueA(handle, name.c_str());
    RegCloseKey(handle);
    return Gone(deleted);
}

// An empty key would name HKEY_LOCAL_MACHINE itself: never deleted.
// Deletes the key below `parent` with everything under it. The NT family
// deletes only keys without subkeys, so those go first.
LONG DeleteKeyTree(HKEY parent, const char* key) {
    HKEY handle;
    LONG result = RegOpenKeyExA(parent, key, 0, KEY_ENUMERATE_SUB_KEYS, &handle);
    if (result != ERROR_SUCCESS) return result;
    char name[256];  // the longest key name, with its NUL
    DWORD length = sizeof name;
    while (RegEnumKeyExA(handle, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           DeleteKeyTree(handle, name) == ERROR_SUCCESS)
        length = sizeof name;
    RegCloseKey(handle);
    return RegDeleteKeyA(parent, key);
}

bool DeleteMachineRegistryKey(const std::string& key) {
    return !key.empty() && Gone(DeleteKeyTree(HKEY_LOCAL_MACHINE, key.c_str()));
}

bool GetMachineRaw(const std::string& key, const std::string& name, RegistryValue& value) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    bool found = RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    std::string data(size, '\0');
    found = found && RegQueryValueExA(handle, name.c_str(), nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.empty() ? nullptr : &data[0]), &size) == ERROR_SUCCESS;
    RegCloseKey(handle);
    if (found) value = {type, data.substr(0, size)};
    return found;
}

bool SetMachineRaw(const std::string& key, const std::string& name, const RegistryValue& value) {
    return SetMachineValue(key, name, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

bool MachineKeyThere(const std::string& key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

bool CreateMachineRegistryKey(const std::string& key) {
    HKEY handle;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool RemoveEmptyMachineRegistryKey(const std::string& key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return true;
    DWORD subkeys = 0, values = 0;
    const bool read = RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                       nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return read && subkeys == 0 && values == 0 && Gone(RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()));
}

// ---- WININIT.INI ----------------------------------------------------------------------

std::string WindowsFolder() {
    char buffer[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string folder(buffer, length);
    if (folder.back() == '\\') folder.pop_back();  // a root folder
    return folder;
}

namespace {

// The short form of an existing path; empty when it has none.
std::string ShortPath(const std::string& path) {
    char buffer[MAX_PATH];
    const DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(buffer, length);
}

// The short form of a path whose file may not exist yet: its folder's
// short form and its own name.
std::string ShortPathOfNew(const std::string& path) {
    const std::string existing = ShortPath(path);
    const auto slash = path.find_last_of('\\');
    if (!existing.empty() || slash == std::string::npos) return existing;
    const std::string folder = ShortPath(path.substr(0, slash + 1));  // "C:\" for a root
    if (folder.empty()) return folder;
    return folder + (folder.back() == '\\' ? "" : "\\") + path.substr(slash + 1);
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool written = WriteAll(file, text);
    return CloseHandle(file) && written;
}

}  // namespace

bool AddWininitRename(const std::string& iniPath, const std::string& source, const std::string& destination) {
    const std::string from = ShortPathOfNew(source);
    const std::string to = destination.empty() ? std::string("NUL") : ShortPathOfNew(destination);
    if (from.empty() || to.empty()) return false;
    std::string text;  // an absent file is begun; one that can't be read is left alone
    if (!ReadWholeFileText(iniPath, text) && GetFileAttributesA(iniPath.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    return WriteWholeFile(iniPath, WithRenameLine(text, to + "=" + from));
}

}  // namespace platform::win32

// ---- Files in use ----------------------------------------------------------------------

namespace platform::win32 {

std::string SystemFolder() {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return length < MAX_PATH ? std::string(folder, length) : std::string();
}

HMODULE LoadSystemLibrary(const char* name) {
    const std::string system = SystemFolder();
    if (system.empty()) return nullptr;
    const std::string path = system + "\\" + name;
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Write access without sharing is what replacing the file needs: any
// program that has it open, or runs it, refuses that.
bool FileHeldOpen(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

namespace {

using RmStart = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RmRegister = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using RmList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
using RmEnd = DWORD(WINAPI*)(DWORD);

template <class Function>
Function LibraryFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::string Narrow(const WCHAR* text) {
    char buffer[2 * CCH_RM_MAX_APP_NAME + 2];
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return n > 1 ? std::string(buffer, n - 1) : std::string();
}

// The distinct names of the programs the session's files are registered
// with; the list is asked for again while it grows.
std::vector<std::string> ListedPrograms(RmList list, DWORD session) {
    std::vector<RM_PROCESS_INFO> programs;
    UINT needed = 0, count = 0;
    DWORD reasons = 0;
    DWORD result = ERROR_MORE_DATA;
    for (int tries = 0; result == ERROR_MORE_DATA && tries < 4; ++tries) {
        programs.resize(needed);
        count = needed;
        result = list(session, &needed, &count, programs.empty() ? nullptr : programs.data(), &reasons);
    }
    std::vector<std::string> names;
    if (result != ERROR_SUCCESS) return names;
    for (UINT i = 0; i < count && i < programs.size(); ++i) {
        const std::string name = Narrow(programs[i].strAppName);
        bool known = name.empty();
        for (const std::string& other : names) known = known || other == name;
        if (!known) names.push_back(name);
    }
    return names;
}

}  // namespace

// The Restart Manager exists from Windows Vista on; it is looked up at run
// time and loaded from the system directory only.
std::vector<std::string> ProgramsHolding(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    const HMODULE manager = LoadSystemLibrary("rstrtmgr.dll");
    if (!manager) return names;
    const auto start = LibraryFunction<RmStart>(manager, "RmStartSession");
    const auto add = LibraryFunction<RmRegister>(manager, "RmRegisterResources");
    const auto list = LibraryFunction<RmList>(manager, "RmGetList");
    const auto end = LibraryFunction<RmEnd>(manager, "RmEndSession");
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start && add && list && end && start(&session, 0, key) == ERROR_SUCCESS) {
        std::vector<std::u16string> wide;
        for (const std::string& path : paths) wide.push_back(AnsiToWide(path));
        std::vector<LPCWSTR> files;
        for (const std::u16string& path : wide) files.push_back(reinterpret_cast<LPCWSTR>(path.c_str()));
        if (add(session, static_cast<UINT>(files.size()), files.data(), 0, nullptr, 0, nullptr) == ERROR_SUCCESS)
            names = ListedPrograms(list, session);
        end(session);
    }
    FreeLibrary(manager);
    return names;
}

}  // namespace platform::win32
