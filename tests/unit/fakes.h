#pragma once
// Test doubles of the platform: an in-memory file system, settings store and
// INI files, and a forms runtime that records dialogs, yields and pointers.
// Every call that matters to ordering is written to one shared journal.
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/forms_runtime.h"
#include "platform/install_lock.h"
#include "platform/os_services.h"
#include "setup/install_log.h"

namespace fakes {

using Journal = std::vector<std::string>;

// Thrown by FakeForms::EndProgram so that a test can see the program end.
struct ProgramEnded {};

// Thrown by FakeOs at its `killCall`th counted call: the process is killed
// there, and nothing after it runs (no catch of the product's takes it).
struct Killed {};

// Paths, INI sections and keys, and registry names ignore case, as on Windows.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
template <class Value>
using NoCaseMap = std::map<std::string, Value, NoCaseLess>;
using NoCaseSet = std::set<std::string, NoCaseLess>;

class FakeOs;

// What registering does to the machine, where a test models it: a
// registration program's exit code, and a type library's (un)registration
// as the content it was loaded from has it.
class Registrar {
public:
    virtual ~Registrar() = default;
    virtual uint32_t Run(FakeOs& os, const std::string& commandLine) = 0;
    virtual int32_t TypeLibrary(const std::string& content, const std::string& path, bool unregister) = 0;
};

struct FakeFile {
    std::string content;
    bool readOnly = false;
    bool hidden = false;
    bool system = false;
    bool inUse = false;  // deletion and replacement refused
    bool locked = false;  // open with no sharing: it cannot even be opened for reading
    bool operator==(const FakeFile& other) const {
        return content == other.content && readOnly == other.readOnly && hidden == other.hidden &&
               system == other.system && inUse == other.inUse;
    }
};

class FakeOs : public platform::OsServices {
public:
    explicit FakeOs(Journal& journal) : journal_(journal) {}

    std::string installerFolder = "C:\\PKG";
    std::map<std::string, std::string> settings;  // "app\section\key" -> value
    std::vector<platform::UserSetting> otherUsersSettings;  // CS_Path as the machine's user hives hold it
    NoCaseMap<NoCaseMap<NoCaseMap<std::string>>> ini;  // path -> section -> key
    std::set<std::string> unwritableIni;
    std::string systemDirectory = "C:\\WINDOWS\\SYSTEM32";
    std::map<std::string, std::string> shortNames;  // long path -> short path
    NoCaseMap<FakeFile> files;                      // a volume is the path's first two characters
    NoCaseSet folders;                              // existing folders, without trailing backslash
    std::set<std::string> copyRefused;              // destinations a copy can't write
    std::set<std::string> tornCopies;               // destinations a checked copy writes only half of
    bool diskFull = false;                          // every copy fails
    bool moveFileExStub = false;                    // one-step replace only a stub, as on the 95 family
    std::set<std::string> renameRefused;            // files a rename can't move
    std::vector<std::string> programs;              // started command lines
    std::vector<std::string> programFolders;        // and the folders they started in
    std::set<std::string> unstartable;              // command lines that can't start
    // Exit codes of a command line's successive runs (the last one repeats);
    // 0 when none is given. How long each run lasts; kRunsForever never ends.
    std::map<std::string, std::deque<uint32_t>> exitCodes;
    std::map<std::string, uint32_t> runMs;
    static constexpr uint32_t kRunsForever = 0xFFFFFFFF;
    uint32_t now = 0;                               // the clock TickCount reads
    int openPrograms = 0;
    bool lockHeldElsewhere = false;                  // a lock of the name exists,
    platform::Sid lockOwner = platform::AdministratorsSid();  // owned so (empty: it can't be opened)
    bool lockFileHeldElsewhere = false;  // the lock file that stands in for a squatted lock
    std::string lockFolder;              // where this run holds that file
    std::string commonPrograms = "C:\\ProgramData\\Start Menu\\Programs";
    std::string userPrograms = "C:\\Users\\u\\Start Menu\\Programs";
    struct Shortcut {
        std::string target;
        std::string workingFolder;
    };
    NoCaseMap<Shortcut> shortcuts;                  // link path (a file too) -> what it starts
    std::set<std::string> blockedLogs;              // log paths where something that can't be replaced stands
    std::string tempFolder = "C:\\TEMP\\";
    // Logs made (path -> lines written); a rename moves a log, even while it
    // is open, and a log that another run holds open is a file in use.
    std::map<std::string, std::vector<std::string>> logs;
    std::map<std::string, std::string> links;       // link path -> target; a rename over one replaces the link
    std::set<std::string> reparsePoints;            // files and folders that are links or junctions
    std::map<std::string, platform::Guard> guards;  // who owns and may change a file or folder
    std::set<std::string> guardedFolders;           // made by CreateGuardedFolder
    uint32_t processId = 1234;
    bool logsUnwritable = false;
    uint32_t platformId = 2;
    bool versionQueryFails = false;
    uint32_t versionMajor = 5, versionMinor = 1, versionBuild = 2600;
    std::set<uint32_t> processorFeatures{platform::kFeatureSseInstructions};
    std::vector<uint32_t> exitRequests;
    std::set<std::u16string> typeLibraries;         // loadable type library paths
    std::vector<std::u16string> registeredTypeLibraries;
    int openTypeLibraries = 0;
    bool throwOnSetting = false;
    std::vector<std::u16string> unregisteredTypeLibraries;
    std::string programFilesFolder = "C:\\Program Files";
    // Record files: the lines written, of which the first `flushed` have
    // reached the disk (what a crash would keep). ReadWholeFile gives a
    // record's lines, each with its CRLF, before looking in `files`.
    struct Record {
        std::vector<std::string> lines;
        std::size_t flushed = 0;
    };
    NoCaseMap<Record> records;  // each a file too
    // Machine settings: key (below HKEY_LOCAL_MACHINE) -> name -> value, a
    // name in at most one of the two maps. Writes fail while `machineReadOnly`
    // (no administrator rights).
    NoCaseMap<NoCaseMap<std::string>> machineStrings;
    NoCaseMap<NoCaseMap<uint32_t>> machineNumbers;
    // Class registrations written as values: key -> name -> value; a key
    // with no values is there while it has an entry.
    NoCaseMap<NoCaseMap<platform::RegistryValue>> machineValues;
    bool machineReadOnly = false;
    // Changes asked for the next restart, in order; an empty destination deletes.
    struct RestartChange {
        std::string source;
        std::string destination;
        bool operator==(const RestartChange& other) const {
            return source == other.source && destination == other.destination;
        }
    };
    std::vector<RestartChange> atRestart;
    bool restartRefused = false;                    // the system takes no change at the restart
    // file -> the program the system names as holding it (files in use)
    std::map<std::string, std::string> holders;
    // Fault injection: the file, program, settings and shortcut calls are
    // counted in `calls`; the one numbered `failCall` fails as the system's
    // call can fail (a failure result, or the runtime error it raises); at
    // the one numbered `killCall` the process is killed (Killed is thrown),
    // a copy leaving the part of its file that it had written. A call that
    // `killable` refuses (given its journal entry) passes the kill on.
    int failCall = 0;
    int killCall = 0;
    int calls = 0;
    std::function<bool(const std::string& call)> killable;  // none: the kill falls on any call
    // What happens at a journal entry: at the `nth` counted call whose
    // entry starts with `prefix` (and holds `holding`), `act` runs, before
    // the call does anything. It may throw Killed (a kill, a power cut) or
    // change the machine as a user would; `partial` leaves a copy that the
    // call makes half written, as a kill half-way does.
    struct Aim {
        std::string prefix;
        std::string holding;
        int nth = 0;
        bool partial = false;
        std::function<void()> act;
    };
    Aim aim;
    int aimSeen = 0;  // matching entries so far
    // Paths whose content a write left in the system's cache only: a power
    // cut leaves them torn (empty). Flushed copies and write-through renames
    // are on the disk at once.
    NoCaseSet unflushed;
    // Every change (or read for keeping) of a path through a link or
    // junction, as the call's journal entry: what a run must never do.
    std::vector<std::string> throughLink;
    // The power goes: every record line not flushed is lost, and every
    // file whose content was not flushed is torn.
    void PowerCut();
    Registrar* registrar = nullptr;  // none: programs end with `exitCodes`, type libraries register by path

    // What the system does when it next starts: the changes asked for, in
    // order (a move across volumes fails, as it does then; a move whose
    // file is gone is passed over; a folder is deleted when empty), no
    // file in use any more, and the RunOnce commands run and removed.
    void Restart();

    std::string GetInstallerFolder() override;
    std::string GetInstallerFile() override { return installerFolder + "\\LiveUpdateSetup.exe"; }
    std::unique_ptr<platform::InputFile> OpenOwnImage() override {
        std::string why;
        return OpenChecked(GetInstallerFile(), why);
    }
    bool IniSectionExists(const std::string& section, const std::string& iniPath) override {
        return ini.count(iniPath) && ini[iniPath].count(section);
    }
    std::string GetAppSetting(const std::string& application, const std::string& section, const std::string& key,
                              const std::string& defaultValue) override;
    std::vector<platform::UserSetting> GetOtherUsersSettings(const std::string& application, const std::string& section,
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
    platform::MoveResult MoveFileReplaceA(const std::string& source, const std::string& destination) override;
    int32_t MoveFileA(const std::string& source, const std::string& destination) override;
    platform::ProgramHandle RunProgram(const std::string& commandLine, int windowStyle,
                                       const std::string& workingFolder) override;
    bool ProgramEnded(platform::ProgramHandle program, uint32_t& exitCode) override;
    void CloseProgram(platform::ProgramHandle program) override;
    uint32_t TickCount() override { return now; }
    std::unique_ptr<platform::InputFile> OpenForReading(const std::string& path) override;
    std::unique_ptr<platform::InputFile> OpenBesideWriters(const std::string& path) override;
    // Folders held (by HoldFolders) and files held open by OpenChecked:
    // how many holds each has; while held, none is renamed or deleted.
    NoCaseMap<int> heldFolders;
    NoCaseMap<int> heldFiles;
    NoCaseSet hardLinked;  // files with another name elsewhere
    std::unique_ptr<platform::FolderHold> HoldFolders(const std::string& root, const std::string& folder,
                                                      std::string& why) override;
    std::unique_ptr<platform::InputFile> OpenChecked(const std::string& path, std::string& why) override;
    // Whether a hold keeps the path (a file, or a folder) from being renamed or deleted.
    bool Held(const std::string& path) const;
    // A new file with the content and attributes, as a checked copy writes it.
    bool WriteCopy(const std::string& destination, const FakeFile& copy);
    platform::InstallLock TakeInstallLock(const std::string& recordFolder) override {
        const auto named = lockHeldElsewhere ? platform::ExistingInstallLock(lockOwner) : platform::InstallLock::kTaken;
        if (named != platform::InstallLock::kSquatted) return named;
        lockFolder = recordFolder;
        return lockFileHeldElsewhere ? platform::InstallLock::kHeldByInstaller : named;
    }
    std::string GetProgramsFolder(bool allUsers) override { return allUsers ? commonPrograms : userPrograms; }
    bool CreateFolder(const std::string& path) override;
    bool CreateGuardedFolder(const std::string& path) override;
    // A folder or file without its own entry in `guards` is owned by
    // Administrators, whom alone it lets change it.
    bool ReadGuard(const std::string& path, platform::Guard& guard) override;
    bool PathThroughLink(const std::string& path) override;
    platform::Sid runningAccount = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE8, 3, 0, 0};
    platform::Sid RunningAccount() override { return runningAccount; }
    // Fails while a file or a folder below it is left.
    bool RemoveEmptyFolder(const std::string& path) override;
    bool CreateShortcut(const std::string& linkPath, const std::string& target,
                        const std::string& workingFolder) override;
    // Milliseconds until the first running program ends; kRunsForever when none will.
    uint32_t UntilNextEnd() const;
    std::string GetTempFolder() override { return tempFolder; }
    std::string LocalTimestamp() override { return "2026-12-07 10:30:00"; }
    std::unique_ptr<platform::LogFile> CreateLogFile(const std::string& path) override;
    uint32_t ProcessId() override { return processId; }
    int32_t GetVersionExA(platform::OsVersionInfo& info) override;
    bool ProcessorFeaturePresent(uint32_t feature) override { return processorFeatures.count(feature) != 0; }
    // The lines of the one log written (an install's, or a verification's), or none.
    const std::vector<std::string>& LogLines() const;
    int32_t ExitWindowsEx(uint32_t flags, uint32_t reserved) override;
    int32_t LoadTypeLib(const std::u16string& path, platform::TypeLibHandle& library) override;
    int32_t RegisterTypeLib(platform::TypeLibHandle library, const std::u16string& path,
                            const std::u16string& helpDirectory) override;
    void ReleaseTypeLib(platform::TypeLibHandle library) override;
    int32_t UnregisterTypeLibrary(const std::u16string& path) override;
    std::string GetProgramFilesFolder() override { return programFilesFolder; }
    std::unique_ptr<platform::RecordFile> OpenRecordFile(const std::string& path) override;
    bool ReadWholeFile(const std::string& path, std::string& content) override;
    bool SetMachineString(const std::string& key, const std::string& name, const std::string& value) override;
    bool SetMachineNumber(const std::string& key, const std::string& name, uint32_t value) override;
    bool GetMachineNumber(const std::string& key, const std::string& name, uint32_t& value) override;
    bool DeleteMachineValue(const std::string& key, const std::string& name) override;
    bool DeleteMachineKey(const std::string& key) override;
    bool GetMachineValue(const std::string& key, const std::string& name, platform::RegistryValue& value) override;
    bool SetMachineValue(const std::string& key, const std::string& name,
                         const platform::RegistryValue& value) override;
    bool MachineKeyExists(const std::string& key) override;
    bool CreateMachineKey(const std::string& key) override;
    bool RemoveEmptyMachineKey(const std::string& key) override;
    bool MoveAtRestart(const std::string& source, const std::string& destination) override;
    bool DeleteAtRestart(const std::string& path) override;
    bool GoneAtRestart(const std::string& path) override;
    bool FileInUse(const std::string& path) override {
        const auto it = files.find(path);
        return it != files.end() && it->second.inUse;
    }
    std::vector<std::string> ProgramsUsingFiles(const std::vector<std::string>& paths) override;
    bool SetMachinePath(const std::string& key, const std::string& name, const std::string& path) override {
        return SetMachineString(key, name, path);
    }
    bool GetMachineString(const std::string& key, const std::string& name, std::string& value) override;
    // "<how>\t<file>" (the file upper-cased) -> where its registrations lead; absent: the system can't tell.
    std::map<std::string, std::vector<std::string>> registeredPaths;
    std::vector<std::string> RegisteredPaths(const std::string& file, const std::string& how, bool& known) override;
    struct Event {
        std::string source;
        platform::EventType type;
        uint32_t id;
        std::vector<std::string> strings;
    };
    std::vector<Event> events;  // written to the event log
    bool eventLogRefuses = false;
    bool WriteEvent(const std::string& source, platform::EventType type, uint32_t id,
                     const std::vector<std::string>& strings, uint32_t& error) override;
    // "<id>: " and the strings joined by "|": the program's own message table.
    std::string OwnMessage(uint32_t id, const std::vector<std::string>& strings) override;
    std::map<int, std::string> ownResources;
    std::string OwnResourceData(int id) override { return ownResources.count(id) ? ownResources[id] : std::string(); }
    bool WriteWholeFile(const std::string& path, const std::string& content) override;
    std::string accountName = "PC\\admin";
    std::string RunningAccountName() override { return accountName; }
    std::string GetWindowsFolder() override { return "C:\\WINDOWS"; }

    // Convenience for fixtures.
    void AddFile(const std::string& path, const std::string& content = "x") { files[path].content = content; }
    void SetIni(const std::string& path, const std::string& section, const std::string& key,
                const std::string& value) {
        ini[path][section][key] = value;
    }

private:
    bool Fault();
    bool KillFallsHere();
    bool AimFallsHere();
    void Through(const std::string& path);
    void MoveUnflushed(const std::string& source, const std::string& destination);
    bool FolderPresent(const std::string& folder) const;
    std::size_t aimEntry_ = 0;  // the journal entry the aim was last judged for
    bool aimHere_ = false;
    void LeavePartialCopy(const std::string& source, const std::string& destination);
    bool AcrossVolumes(const std::string& source, const std::string& destination) const;
    void RestartChangeOf(const RestartChange& change);
    std::string loadedTypeLibrary_;  // the content LoadTypeLib last loaded
    struct Run {
        std::string command;
        uint32_t endsAt;
        uint32_t exitCode;
    };
    bool FolderExists(const std::string& filePath) const;
    // Whether anything (a file, a log, a folder, a link) stands at the name.
    bool Taken(const std::string& path) const;
    platform::MoveResult MoveLog(const std::string& source, const std::string& destination);
    Journal& journal_;
    std::vector<Run> runs_;
};

struct Message {
    std::string text;
    int flags;
    std::string title;
};

class FakeDde : public platform::DdeClient {
public:
    explicit FakeDde(Journal& journal) : journal_(journal) {}
    bool serverPresent = true;
    std::set<std::string> refusedPrefixes;  // commands starting with these are refused
    bool neverAnswers = false;
    std::vector<std::string> executed;
    std::vector<uint32_t> timeouts;
    bool connected = false;

    bool Connect(const std::string& service, const std::string& topic) override;
    void Disconnect() override;
    platform::DdeResult Execute(const std::string& command, uint32_t timeoutMs) override;
    // The reply for the item, from `replies`; refused for any other item.
    platform::DdeResult Request(const std::string& item, uint32_t timeoutMs, std::string& reply) override;
    std::map<std::string, std::string> replies;  // item -> data

private:
    Journal& journal_;
};

class FakeForms : public platform::FormsRuntime {
public:
    explicit FakeForms(Journal& journal) : dde(journal), journal_(journal) {}

    std::vector<Message> messages;
    std::deque<int> messageAnswers;  // next answers; OK (1) when empty
    std::vector<Message> prompts;    // text = prompt, title
    std::deque<std::string> promptAnswers;
    int yields = 0;
    std::vector<int> pointers;
    double screenWidth = 15360;
    double screenHeight = 11520;
    int unloads = 0;
    int waits = 0;
    FakeDde dde;
    FakeOs* os = nullptr;  // whose clock waiting advances
    std::function<void()> onYield;  // input that arrives while messages are processed
    std::function<void()> onMessage;  // what the user does while a message box shows
    // Actions given to RunAfter, in order, with their delays.
    std::vector<std::pair<uint32_t, std::function<void()>>> scheduled;
    // Runs the scheduled actions (and any they schedule) in order.
    void RunScheduled();

    int ShowMessage(const std::string& text, int flags, const std::string& title) override;
    std::string AskText(const std::string& prompt, const std::string& title) override;
    void YieldToUI() override;
    void WaitForProgramsOrInput(const std::vector<void*>& programs, uint32_t ms) override;
    void RunAfter(uint32_t ms, std::function<void()> action) override;
    void SetScreenPointer(int pointer) override;
    [[noreturn]] void EndProgram() override;
    double ScreenWidthTwips() override { return screenWidth; }
    double ScreenHeightTwips() override { return screenHeight; }
    void UnloadWindow(platform::Form& form) override;
    platform::DdeClient& Dde() override { return dde; }

private:
    Journal& journal_;
};

}  // namespace fakes
