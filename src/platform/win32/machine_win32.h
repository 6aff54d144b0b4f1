#pragma once
// Machine-wide services on the Windows API for installing and undoing an
// install: the programs folder, the record file, settings below
// HKEY_LOCAL_MACHINE and the 95 family's changes at the next start.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/os_services.h"

namespace platform::win32 {

// See OsServices for what each of these does.
std::string ProgramFilesFolder();
std::unique_ptr<RecordFile> OpenRecord(const std::string& path);
bool ReadWholeFileText(const std::string& path, std::string& content);
bool SetMachineText(const std::string& key, const std::string& name, const std::string& value, DWORD type = REG_SZ);
bool GetMachineText(const std::string& key, const std::string& name, std::string& value);
bool WriteFileWhole(const std::string& path, const std::string& content);
bool SetMachineDword(const std::string& key, const std::string& name, uint32_t value);
bool GetMachineDword(const std::string& key, const std::string& name, uint32_t& value);
bool DeleteMachineRegistryValue(const std::string& key, const std::string& name);
bool DeleteMachineRegistryKey(const std::string& key);
// Deletes the key below `parent` with everything under it.
LONG DeleteKeyTree(HKEY parent, const char* key);
bool GetMachineRaw(const std::string& key, const std::string& name, RegistryValue& value);
bool SetMachineRaw(const std::string& key, const std::string& name, const RegistryValue& value);
bool MachineKeyThere(const std::string& key);
bool CreateMachineRegistryKey(const std::string& key);
bool RemoveEmptyMachineRegistryKey(const std::string& key);

// The system folder, without a trailing backslash; empty when unknown.
std::string SystemFolder();
// A system DLL loaded by its full path in the system directory, so that a
// copy beside the installer is never the one loaded; null when it cannot
// be loaded.
HMODULE LoadSystemLibrary(const char* name);

// See OsServices::FileInUse and ProgramsUsingFiles.
bool FileHeldOpen(const std::string& path);
std::vector<std::string> ProgramsHolding(const std::vector<std::string>& paths);

// The Windows folder, without a trailing backslash; empty when unknown.
std::string WindowsFolder();

// Adds to the [rename] section of the WININIT.INI at `iniPath` the line
// that moves `source` over `destination` at the next start, or deletes
// `source` when `destination` is empty. Both are written as short names:
// the 95 family applies the section before long names are understood. A
// destination that does not exist yet gets its folder's short name and
// keeps its own name, and so does a source that does not exist yet (a
// file that an earlier line moves there). False when a name has no short form or the file
// cannot be read or written.
bool AddWininitRename(const std::string& iniPath, const std::string& source, const std::string& destination);

}  // namespace platform::win32
