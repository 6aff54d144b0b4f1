#pragma once
// Operating-system services on the Windows API.
#include "platform/os_services.h"

namespace platform::win32 {

// Whether the system is of the Windows 95 family (95, 98, ME).
bool Is95Family();

// Copies the open file, from its start, to a new file at `destination`
// (failing when anything stands there) with its attributes and last-write
// time, and puts the copy on the disk before it returns. False, with
// nothing left at `destination`, when it cannot.
bool CopyOpenFile(void* source, const std::string& destination);

class Win32Os : public OsServices {
public:
    std::string GetInstallerFolder() override;
    std::string GetInstallerFile() override;
    std::unique_ptr<InputFile> OpenOwnImage() override;
    bool IniSectionExists(const std::string& section, const std::string& iniPath) override;
    std::string GetAppSetting(const std::string& application, const std::string& section, const std::string& key,
                              const std::string& defaultValue) override;
    std::vector<UserSetting> GetOtherUsersSettings(const std::string& application, const std::string& section,
                                                   const std::string& key) override;
    uint32_t GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                      const std::string& defaultValue, std::string& buffer, uint32_t size,
                                      const std::string& iniPath) override;
    int32_t WritePrivateProfileStringA(const std::string& section, const std::string& key, const std::string& value,
                                       const std::string& iniPath) override;
    int32_t RemovePrivateProfileEntry(const std::string& section, const std::string& key,
                                      const std::string& iniPath) override;
    bool PrivateProfileSectionEmpty(const std::string& section, const std::string& iniPath) override;
    uint32_t GetSystemDirectoryA(std::string& buffer, uint32_t size) override;
    uint32_t GetShortPathNameA(const std::string& longPath, std::string& buffer, uint32_t size) override;
    std::string FindFile(const std::string& path) override;
    void ClearFileAttributes(const std::string& path) override;
    bool CopyFileAttributes(const std::string& from, const std::string& to) override;
    int32_t DeleteFileA(const std::string& path) override;
    int32_t CopyFileA(const std::string& source, const std::string& destination, int32_t failIfExists) override;
    int32_t CopyFileSeen(const std::string& source, const std::string& destination, int32_t failIfExists,
                         const std::function<void(const void*, std::size_t)>& seen) override;
    bool NormalFileSize(const std::string& path, uint64_t& size) override;
    MoveResult MoveFileReplaceA(const std::string& source, const std::string& destination) override;
    int32_t MoveFileA(const std::string& source, const std::string& destination) override;
    ProgramHandle RunProgram(const std::string& commandLine, int windowStyle,
                             const std::string& workingFolder) override;
    bool ProgramEnded(ProgramHandle program, uint32_t& exitCode) override;
    void CloseProgram(ProgramHandle program) override;
    uint32_t TickCount() override;
    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
    std::unique_ptr<InputFile> OpenBesideWriters(const std::string& path) override;
    std::unique_ptr<FolderHold> HoldFolders(const std::string& root, const std::string& folder,
                                            std::string& why) override;
    std::unique_ptr<InputFile> OpenChecked(const std::string& path, std::string& why) override;
    InstallLock TakeInstallLock(const std::string& recordFolder) override;
    std::string GetProgramsFolder(bool allUsers) override;
    bool CreateFolder(const std::string& path) override;
    bool CreateGuardedFolder(const std::string& path) override;
    bool ReadGuard(const std::string& path, Guard& guard) override;
    Sid RunningAccount() override;
    bool PathThroughLink(const std::string& path) override;
    bool RemoveEmptyFolder(const std::string& path) override;
    bool CreateShortcut(const std::string& linkPath, const std::string& target,
                        const std::string& workingFolder) override;
    std::string GetTempFolder() override;
    std::string LocalTimestamp() override;
    std::unique_ptr<LogFile> CreateLogFile(const std::string& path) override;
    uint32_t ProcessId() override;
    int32_t GetVersionExA(OsVersionInfo& info) override;
    bool ProcessorFeaturePresent(uint32_t feature) override;
    int32_t ExitWindowsEx(uint32_t flags, uint32_t reserved) override;
    int32_t LoadTypeLib(const std::u16string& path, TypeLibHandle& library) override;
    int32_t RegisterTypeLib(TypeLibHandle library, const std::u16string& path,
                            const std::u16string& helpDirectory) override;
    void ReleaseTypeLib(TypeLibHandle library) override;
    int32_t UnregisterTypeLibrary(const std::u16string& path) override;
    std::string GetProgramFilesFolder() override;
    std::unique_ptr<RecordFile> OpenRecordFile(const std::string& path) override;
    bool ReadWholeFile(const std::string& path, std::string& content) override;
    bool SetMachineString(const std::string& key, const std::string& name, const std::string& value) override;
    bool SetMachineNumber(const std::string& key, const std::string& name, uint32_t value) override;
    bool GetMachineNumber(const std::string& key, const std::string& name, uint32_t& value) override;
    bool DeleteMachineValue(const std::string& key, const std::string& name) override;
    bool DeleteMachineKey(const std::string& key) override;
    bool GetMachineValue(const std::string& key, const std::string& name, RegistryValue& value) override;
    bool SetMachineValue(const std::string& key, const std::string& name, const RegistryValue& value) override;
    bool MachineKeyExists(const std::string& key) override;
    bool CreateMachineKey(const std::string& key) override;
    bool RemoveEmptyMachineKey(const std::string& key) override;
    bool MoveAtRestart(const std::string& source, const std::string& destination) override;
    bool DeleteAtRestart(const std::string& path) override;
    bool GoneAtRestart(const std::string& path) override;
    bool FileInUse(const std::string& path) override;
    std::vector<std::string> ProgramsUsingFiles(const std::vector<std::string>& paths) override;
    bool SetMachinePath(const std::string& key, const std::string& name, const std::string& path) override;
    bool GetMachineString(const std::string& key, const std::string& name, std::string& value) override;
    std::vector<std::string> RegisteredPaths(const std::string& file, const std::string& how, bool& known) override;
    bool WriteEvent(const std::string& source, EventType type, uint32_t id, const std::vector<std::string>& strings,
                     uint32_t& error) override;
    std::string OwnMessage(uint32_t id, const std::vector<std::string>& strings) override;
    std::string OwnResourceData(int id) override;
    bool WriteWholeFile(const std::string& path, const std::string& content) override;
    std::string RunningAccountName() override;
    std::string GetWindowsFolder() override;

private:
    // The mutex of the lock's name, as TakeInstallLock describes it.
    InstallLock TakeNamedLock();
};

// Restricts DLL loading to the system directory, so that a DLL placed
// beside the installer (a download folder) is never loaded.
void RestrictDllSearchToSystem();

}  // namespace platform::win32
