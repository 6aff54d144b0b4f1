#pragma once
// Operating-system services for a dry run: files are looked up on the
// real file system (paths in the installer's backslash form, names matched
// without regard to case, as on Windows), and nothing is ever written,
// started or registered.
#include <map>
#include <string>

#include "platform/os_services.h"

namespace lucheck {

class PlanOs : public platform::OsServices {
public:
    // `virtualSystem`: a system directory that exists, empty, only in the plan.
    explicit PlanOs(std::string virtualSystem) : virtualSystem_(std::move(virtualSystem)) {}

    // The native path of an existing file or folder, or empty.
    std::string Resolve(const std::string& path);
    bool FolderExists(const std::string& path);

    std::string GetInstallerFolder() override { return std::string(); }
    std::string GetInstallerFile() override { return std::string(); }
    std::unique_ptr<platform::InputFile> OpenOwnImage() override { return nullptr; }
    bool IniSectionExists(const std::string&, const std::string&) override { return false; }
    std::string GetAppSetting(const std::string&, const std::string&, const std::string&,
                              const std::string& defaultValue) override {
        return defaultValue;
    }
    std::vector<platform::UserSetting> GetOtherUsersSettings(const std::string&, const std::string&,
                                                             const std::string&) override {
        return {};
    }
    uint32_t GetPrivateProfileStringA(const std::string&, const std::string&, const std::string&, std::string&,
                                      uint32_t, const std::string&) override {
        return 0;
    }
    int32_t WritePrivateProfileStringA(const std::string&, const std::string&, const std::string&,
                                       const std::string&) override {
        return 1;
    }
    int32_t RemovePrivateProfileEntry(const std::string&, const std::string&, const std::string&) override {
        return 1;
    }
    bool PrivateProfileSectionEmpty(const std::string&, const std::string&) override { return true; }
    uint32_t GetSystemDirectoryA(std::string&, uint32_t) override { return 0; }
    uint32_t GetShortPathNameA(const std::string&, std::string&, uint32_t) override { return 0; }
    std::string FindFile(const std::string& path) override;
    void ClearFileAttributes(const std::string& path) override;
    bool CopyFileAttributes(const std::string&, const std::string&) override { return false; }  // a plan changes nothing
    int32_t DeleteFileA(const std::string& path) override { return Exists(path) ? 1 : 0; }
    int32_t CopyFileA(const std::string& source, const std::string& destination, int32_t) override;
    int32_t CopyFileSeen(const std::string& source, const std::string& destination, int32_t failIfExists,
                         const std::function<void(const void*, std::size_t)>&) override {
        return CopyFileA(source, destination, failIfExists);
    }
    bool NormalFileSize(const std::string& path, uint64_t& size) override;
    platform::MoveResult MoveFileReplaceA(const std::string&, const std::string&) override {
        return platform::MoveResult::kMoved;
    }
    int32_t MoveFileA(const std::string&, const std::string&) override { return 1; }
    // Nothing is started: every registration counts as started and done.
    platform::ProgramHandle RunProgram(const std::string&, int, const std::string&) override { return this; }
    bool ProgramEnded(platform::ProgramHandle, uint32_t& exitCode) override {
        exitCode = 0;
        return true;
    }
    void CloseProgram(platform::ProgramHandle) override {}
    uint32_t TickCount() override { return 0; }
    // Reads the real file (package files are read, never written).
    std::unique_ptr<platform::InputFile> OpenForReading(const std::string& path) override;
    std::unique_ptr<platform::InputFile> OpenBesideWriters(const std::string& path) override {
        return OpenForReading(path);
    }
    // A plan holds nothing: it only looks.
    std::unique_ptr<platform::FolderHold> HoldFolders(const std::string&, const std::string&,
                                                      std::string& why) override {
        why.clear();
        return std::make_unique<platform::FolderHold>();
    }
    std::unique_ptr<platform::InputFile> OpenChecked(const std::string& path, std::string& why) override {
        why.clear();
        return OpenForReading(path);
    }
    platform::InstallLock TakeInstallLock(const std::string&) override { return platform::InstallLock::kTaken; }
    std::string GetProgramsFolder(bool) override { return std::string(); }
    bool CreateFolder(const std::string&) override { return false; }
    bool CreateGuardedFolder(const std::string&) override { return false; }
    bool ReadGuard(const std::string&, platform::Guard&) override { return false; }
    platform::Sid RunningAccount() override { return {}; }
    bool PathThroughLink(const std::string&) override { return false; }
    bool RemoveEmptyFolder(const std::string&) override { return false; }
    bool CreateShortcut(const std::string&, const std::string&, const std::string&) override { return false; }
    std::string GetTempFolder() override { return std::string(); }  // no install log
    std::string LocalTimestamp() override { return std::string(); }
    std::unique_ptr<platform::LogFile> CreateLogFile(const std::string&) override { return nullptr; }
    uint32_t ProcessId() override { return 0; }
    int32_t GetVersionExA(platform::OsVersionInfo& info) override;
    // lucheck runs where the system saves every register the processor has.
    bool ProcessorFeaturePresent(uint32_t) override { return true; }
    int32_t ExitWindowsEx(uint32_t, uint32_t) override { return 0; }
    int32_t LoadTypeLib(const std::u16string&, platform::TypeLibHandle& library) override {
        library = nullptr;
        return 0;
    }
    int32_t RegisterTypeLib(platform::TypeLibHandle, const std::u16string&, const std::u16string&) override {
        return 0;
    }
    void ReleaseTypeLib(platform::TypeLibHandle) override {}
    int32_t UnregisterTypeLibrary(const std::u16string&) override { return 0; }
    // No install record, machine setting or change at the restart is ever
    // read or made.
    std::string GetProgramFilesFolder() override { return std::string(); }
    std::unique_ptr<platform::RecordFile> OpenRecordFile(const std::string&) override { return nullptr; }
    bool ReadWholeFile(const std::string&, std::string&) override { return false; }
    bool SetMachineString(const std::string&, const std::string&, const std::string&) override { return false; }
    bool SetMachineNumber(const std::string&, const std::string&, uint32_t) override { return false; }
    bool GetMachineNumber(const std::string&, const std::string&, uint32_t&) override { return false; }
    bool DeleteMachineValue(const std::string&, const std::string&) override { return false; }
    bool DeleteMachineKey(const std::string&) override { return false; }
    bool GetMachineValue(const std::string&, const std::string&, platform::RegistryValue&) override { return false; }
    // Class values are planned as written: nothing is.
    bool SetMachineValue(const std::string&, const std::string&, const platform::RegistryValue&) override {
        return true;
    }
    bool MachineKeyExists(const std::string&) override { return false; }
    bool CreateMachineKey(const std::string&) override { return true; }
    bool RemoveEmptyMachineKey(const std::string&) override { return false; }
    bool MoveAtRestart(const std::string&, const std::string&) override { return false; }
    bool DeleteAtRestart(const std::string&) override { return false; }
    bool GoneAtRestart(const std::string&) override { return false; }
    bool FileInUse(const std::string&) override { return false; }
    std::vector<std::string> ProgramsUsingFiles(const std::vector<std::string>&) override { return {}; }
    bool SetMachinePath(const std::string&, const std::string&, const std::string&) override { return false; }
    bool GetMachineString(const std::string&, const std::string&, std::string&) override { return false; }
    std::vector<std::string> RegisteredPaths(const std::string&, const std::string&, bool& known) override {
        known = false;
        return {};
    }
    // No event is written, and nothing of the installer's own is at hand.
    bool WriteEvent(const std::string&, platform::EventType, uint32_t, const std::vector<std::string>&,
                     uint32_t& error) override {
        error = 0;
        return false;
    }
    std::string OwnMessage(uint32_t, const std::vector<std::string>&) override { return std::string(); }
    std::string OwnResourceData(int) override { return std::string(); }
    bool WriteWholeFile(const std::string&, const std::string&) override { return false; }
    std::string RunningAccountName() override { return std::string(); }
    std::string GetWindowsFolder() override { return std::string(); }

private:
    bool Exists(const std::string& path) { return !Resolve(path).empty(); }
    bool InVirtualSystem(const std::string& path) const;
    std::string Child(const std::string& folder, const std::string& name);

    std::string virtualSystem_;
    std::map<std::string, std::map<std::string, std::string>> listings_;  // folder -> upper name -> name
};

}  // namespace lucheck
