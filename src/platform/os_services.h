#pragma once
// Operating-system services the installer uses, and only the results that
// its callers rely on. Strings are ANSI text of the system code page.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The system's 148-byte version record.
struct OsVersionInfo {
    uint32_t dwOSVersionInfoSize;
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    char szCSDVersion[128];
};
static_assert(sizeof(OsVersionInfo) == 148, "version record is 148 bytes");

constexpr int kWindowStyleMinimizedFocus = 2;
constexpr uint32_t kExitWindowsReboot = 2;
// The processor's SSE instructions, and the system saves their registers.
constexpr uint32_t kFeatureSseInstructions = 6;  // PF_XMMI_INSTRUCTIONS_AVAILABLE

// Outcome of moving a file over an existing one in a single step.
enum class MoveResult {
    kMoved,
    kFailed,        // both files stay as they were (the target is in use)
    kNotSupported,  // the system only has a stub of the call (the 95 family); nothing was touched
};

// A text file written line by line, each line on disk as soon as it is
// written (CRLF line ends); closed when the object goes.
class LogFile {
public:
    virtual ~LogFile() = default;
    virtual void WriteLine(const std::string& line) = 0;
};

// A text file that only grows, kept for undoing what was done: each line
// goes to the system in one write as it is written (CRLF line ends), so
// that a program killed later leaves every line whole; closed when the
// object goes. Others may read it meanwhile.
class RecordFile {
public:
    virtual ~RecordFile() = default;
    // False when not all of the line could be written (a full disk).
    virtual bool WriteLine(const std::string& line) = 0;
    // Puts what was written on the disk itself; false when the system fails to.
    virtual bool Flush() = 0;
};

// A file read from start to end in pieces; closed when the object goes.
class InputFile {
public:
    virtual ~InputFile() = default;
    // Fills up to `size` bytes; the count read, 0 at the end, -1 on a read error.
    virtual int64_t Read(void* buffer, std::size_t size) = 0;
    // The file's size in bytes when it was opened.
    virtual uint64_t Size() = 0;
    // Copies the whole file, from its start whatever was read before, to a
    // new file at `destination` (failing when anything stands there), with
    // this file's attributes, and puts the copy on the disk before it
    // returns. False, with nothing left at `destination`, when it cannot.
    virtual bool CopyTo(const std::string& destination) = 0;
};

// A registry value as stored: its type (1 REG_SZ, 2 REG_EXPAND_SZ,
// 3 REG_BINARY, 4 REG_DWORD, 7 REG_MULTI_SZ, ...) and its bytes, a
// string's with their terminating NULs.
struct RegistryValue {
    uint32_t type = 0;
    std::string data;
    bool operator==(const RegistryValue& other) const { return type == other.type && data == other.data; }
};

// What OpenChecked says of a file that a program holds open.
constexpr const char* kFileInUse = "in use";

// Folders held by HoldFolders: while the object lives, none of them can be
// renamed, deleted or replaced by anyone, this program included.
class FolderHold {
public:
    virtual ~FolderHold() = default;
};

// What became of the machine-wide install lock.
enum class InstallLock {
    kTaken,            // this run holds it until it ends, or there is no lock to be had
    kHeldByInstaller,  // another installation holds it
    kSquatted,         // some other program made one of its name: this run holds the lock file instead
};

// A per-user setting as found in one user's hive.
struct UserSetting {
    enum class Source {
        kLoadedHive,  // a user hive loaded under HKEY_USERS; `where` is its key, e.g. "HKEY_USERS\S-1-5-21-..."
        kProfile,     // a profile's hive, loaded for the moment; `where` is the profile's folder
    };
    Source source = Source::kLoadedHive;
    std::string where;
    std::string value;    // the setting; empty when the hive could not be read
    std::string trouble;  // why the hive could not be read, e.g. "error 32"; empty when it could
};

// A security identifier in its binary form.
using Sid = std::vector<uint8_t>;

// Who may change a file or folder, as its security has it.
struct Guard {
    Sid owner;                 // empty: it has none
    std::vector<Sid> writers;  // accounts that an entry lets write, delete or take it over
    bool anyone = false;       // it has no access list at all: anyone may change it
};

// An event's type, numbered as the event log numbers it.
enum class EventType : uint16_t { kError = 1, kWarning = 2, kInformation = 4 };

// A loaded type library, owned by the caller until ReleaseTypeLib.
using TypeLibHandle = void*;
// A started program, owned by the caller until CloseProgram.
using ProgramHandle = void*;

class OsServices {
public:
    virtual ~OsServices() = default;

    // Folder of the running installer, without a trailing backslash.
    virtual std::string GetInstallerFolder() = 0;
    // The running installer's own file: its full path.
    virtual std::string GetInstallerFile() = 0;
    // That file, opened so that nobody can write, rename or delete it while
    // the handle lives: what is read from it is the running program. Null
    // when it cannot be opened.
    virtual std::unique_ptr<InputFile> OpenOwnImage() = 0;
    // Per-user setting; the default when the value is absent.
    virtual std::string GetAppSetting(const std::string& application, const std::string& section,
                                      const std::string& key, const std::string& defaultValue) = 0;
    // The same setting wherever the machine's users have it: in each user hive
    // loaded now (the current user's among them), then in the hive of each
    // other profile, loaded for the moment. A profile whose hive cannot be
    // loaded is listed with its trouble. Empty where the system has no such hives.
    virtual std::vector<UserSetting> GetOtherUsersSettings(const std::string& application, const std::string& section,
                                                           const std::string& key) = 0;

    // The buffer's first `size` characters receive the value; returns the count placed.
    virtual uint32_t GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                              const std::string& defaultValue, std::string& buffer,
                                              uint32_t size, const std::string& iniPath) = 0;
    // Whether the settings file has the section (with keys or without).
    virtual bool IniSectionExists(const std::string& section, const std::string& iniPath) = 0;
    // Non-zero on success.
    virtual int32_t WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                               const std::string& value, const std::string& iniPath) = 0;
    // Removes the key from the section, or with an empty key the whole
    // section, header and all. Non-zero on success (absent already included).
    virtual int32_t RemovePrivateProfileEntry(const std::string& section, const std::string& key,
                                              const std::string& iniPath) = 0;
    // True when the section holds no keys (absent included).
    virtual bool PrivateProfileSectionEmpty(const std::string& section, const std::string& iniPath) = 0;
    // Length of the path placed in the buffer (larger than size when it does not fit).
    virtual uint32_t GetSystemDirectoryA(std::string& buffer, uint32_t size) = 0;
    // Length of the short path, zero on failure.
    virtual uint32_t GetShortPathNameA(const std::string& longPath, std::string& buffer, uint32_t size) = 0;

    // Name of the normal file at the path (read-only and archive count;
    // hidden, system and folders do not), or an empty string.
    virtual std::string FindFile(const std::string& path) = 0;
    // Makes the file's attributes normal.
    virtual void ClearFileAttributes(const std::string& path) = 0;
    // Gives the file the attributes (read-only, hidden, system, archive)
    // that `from` has; false when either can't be reached.
    virtual bool CopyFileAttributes(const std::string& from, const std::string& to) = 0;
    virtual int32_t DeleteFileA(const std::string& path) = 0;
    // Non-zero on success; failIfExists 0 lets an existing destination be replaced.
    virtual int32_t CopyFileA(const std::string& source, const std::string& destination, int32_t failIfExists) = 0;
    // Copies as CopyFileA does (attributes and last-write time come along),
    // handing each piece of the content to `seen` as it passes, so that
    // what wants the content reads the source only once and sees exactly
    // what was written. The copy is on the disk (flushed) before the call
    // returns. Non-zero on success; a partial copy this call made is
    // removed. `seen` takes the pieces in
    // order, perhaps on a thread of its own: it must not throw, and must
    // touch nothing else the caller uses until the call returns.
    virtual int32_t CopyFileSeen(const std::string& source, const std::string& destination, int32_t failIfExists,
                                 const std::function<void(const void*, std::size_t)>& seen) = 0;
    // The size of the file FindFile finds; false when it finds none.
    virtual bool NormalFileSize(const std::string& path, uint64_t& size) = 0;
    // Moves a file over an existing one in a single step, on the disk
    // (write-through) before the call returns.
    virtual MoveResult MoveFileReplaceA(const std::string& source, const std::string& destination) = 0;
    // Renames a file; fails when the new name exists. Non-zero on success;
    // the new name is on the disk (write-through) before the call returns.
    virtual int32_t MoveFileA(const std::string& source, const std::string& destination) = 0;
    // Starts the command line in the working folder (empty: the installer's
    // own), with the system folder and the Windows folder first on its PATH,
    // and returns at once; raises when it cannot start.
    virtual ProgramHandle RunProgram(const std::string& commandLine, int windowStyle,
                                     const std::string& workingFolder) = 0;
    // True, with its exit code, once the program has ended.
    virtual bool ProgramEnded(ProgramHandle program, uint32_t& exitCode) = 0;
    virtual void CloseProgram(ProgramHandle program) = 0;
    // Milliseconds since some fixed moment; wraps after 49 days.
    virtual uint32_t TickCount() = 0;

    // Opens the file for reading, or null when it cannot be opened. While it
    // is open, others may read the file but not write, rename or delete it.
    virtual std::unique_ptr<InputFile> OpenForReading(const std::string& path) = 0;
    // Opens the file for reading even while other programs have it open for
    // writing (a host program that holds its file), or null when it cannot.
    virtual std::unique_ptr<InputFile> OpenBesideWriters(const std::string& path) = 0;

    // Holds each folder from `root` down to `folder` (both included;
    // `folder` is `root` or below it), each opened so that nobody can
    // rename or delete it while the hold lives, and checks each on its own
    // handle: a folder, no link or junction. Null, with `why`, when one is
    // missing, a link or junction, or cannot be held. The 95 family, which
    // has neither links nor sharing rules for folders, gets an empty hold.
    virtual std::unique_ptr<FolderHold> HoldFolders(const std::string& root, const std::string& folder,
                                                    std::string& why) = 0;
    // Opens the file for reading so that nobody can write, rename or delete
    // it while it is open, and checks on that handle that it is a normal
    // file, no link or junction, with one name only (no hard link to it
    // elsewhere). Null otherwise, with `why` empty when nothing is at the
    // path and saying what is wrong when something is (kFileInUse when a
    // program holds it).
    virtual std::unique_ptr<InputFile> OpenChecked(const std::string& path, std::string& why) = 0;

    // Takes the machine-wide lock that lets one installation run at a time,
    // held until the program ends. Where some other program made an object
    // of the lock's name first, the lock is a file in `recordFolder` (the
    // folder made as CreateGuardedFolder makes it, so that only
    // administrators can hold it), held open without sharing: another run
    // holding it, or a file that cannot be held, counts as another
    // installation. Never no lock.
    virtual InstallLock TakeInstallLock(const std::string& recordFolder) = 0;

    // The Start menu's Programs folder of all users (or of the current
    // user), without a trailing backslash; empty when the system has none.
    virtual std::string GetProgramsFolder(bool allUsers) = 0;
    // Creates the folder; true when it exists afterwards.
    virtual bool CreateFolder(const std::string& path) = 0;
    // Creates the folder so that only Administrators and the system account
    // may change it (everyone may read it), owned by Administrators where
    // the system lets this run say so; a folder there already stays as it
    // is. True when it exists afterwards. The 95 family makes a plain one.
    virtual bool CreateGuardedFolder(const std::string& path) = 0;
    // The file's or folder's owner and who may change it; false when the
    // system cannot say. Never asked on the 95 family, which has no security.
    virtual bool ReadGuard(const std::string& path, Guard& guard) = 0;
    // The account this program runs as; empty where the system has none.
    virtual Sid RunningAccount() = 0;
    // Whether the path passes through a link or junction below its root:
    // the file itself or a folder on the way is a reparse point. Always
    // false on the 95 family, which has none.
    virtual bool PathThroughLink(const std::string& path) = 0;
    // Removes the folder if it is empty; true when it is gone.
    virtual bool RemoveEmptyFolder(const std::string& path) = 0;
    // Writes a shortcut file (replacing one at the path) that starts
    // `target` in `workingFolder`; false when it cannot be written.
    virtual bool CreateShortcut(const std::string& linkPath, const std::string& target,
                                const std::string& workingFolder) = 0;

    // The user's folder for temporary files, with a trailing backslash;
    // empty when the system gives none.
    virtual std::string GetTempFolder() = 0;
    // Local date and time as "YYYY-MM-DD hh:mm:ss".
    virtual std::string LocalTimestamp() = 0;
    // Creates the file new, or null when anything (a file, a link, a
    // folder) stands at the name. On the NT family it may be renamed while
    // open.
    virtual std::unique_ptr<LogFile> CreateLogFile(const std::string& path) = 0;
    // Writes the event to the Application event log under `source`, with
    // the running account as its user; false, with the system's error
    // number, when the system refuses it. Only the NT family has the log.
    virtual bool WriteEvent(const std::string& source, EventType type, uint32_t id,
                             const std::vector<std::string>& strings, uint32_t& error) = 0;
    // The message of this program's own message table with the strings
    // inserted; empty when the table has none of the number.
    virtual std::string OwnMessage(uint32_t id, const std::vector<std::string>& strings) = 0;
    // The bytes of this program's data resource; empty when it has none.
    virtual std::string OwnResourceData(int id) = 0;
    // Writes the file whole, replacing a file there; false when it cannot.
    virtual bool WriteWholeFile(const std::string& path, const std::string& content) = 0;
    // The account this program runs as, "DOMAIN\name" (the 95 family: the
    // logged-on user's name); empty when the system does not say.
    virtual std::string RunningAccountName() = 0;
    // The Windows folder, without a trailing backslash; empty when unknown.
    virtual std::string GetWindowsFolder() = 0;
    // The running program's id, unique among running programs.
    virtual uint32_t ProcessId() = 0;

    virtual int32_t GetVersionExA(OsVersionInfo& info) = 0;
    // Whether the processor has the feature and the system supports it
    // (PF_... numbers); false where the system cannot tell.
    virtual bool ProcessorFeaturePresent(uint32_t feature) = 0;
    virtual int32_t ExitWindowsEx(uint32_t flags, uint32_t reserved) = 0;

    // The machine's folder for programs ("Program Files"), expanded, without
    // a trailing backslash; empty when the system does not say. A 32-bit
    // program on 64-bit Windows gets the folder for 32-bit programs.
    virtual std::string GetProgramFilesFolder() = 0;
    // Opens the file for appending lines, created when absent; null when it
    // cannot be. A last line left without its line end (a write cut short)
    // is ended first, so that no new line joins it.
    virtual std::unique_ptr<RecordFile> OpenRecordFile(const std::string& path) = 0;
    // The whole file (a few MiB at most), even while it is open for writing;
    // false when it cannot be opened or read.
    virtual bool ReadWholeFile(const std::string& path, std::string& content) = 0;

    // Machine-wide settings: `key` is below HKEY_LOCAL_MACHINE, as a 32-bit
    // program sees it (on 64-bit Windows the system redirects some keys to
    // their 32-bit copies). Writing needs administrator rights.
    // Sets a string value, creating the key as needed; true when written.
    virtual bool SetMachineString(const std::string& key, const std::string& name, const std::string& value) = 0;
    // Sets a 32-bit number value (REG_DWORD), creating the key as needed.
    virtual bool SetMachineNumber(const std::string& key, const std::string& name, uint32_t value) = 0;
    // False when the value is absent or not a 32-bit number.
    virtual bool GetMachineNumber(const std::string& key, const std::string& name, uint32_t& value) = 0;
    // A file path value (REG_EXPAND_SZ, as the system's own are), creating the key as needed.
    virtual bool SetMachinePath(const std::string& key, const std::string& name, const std::string& path) = 0;
    // False when the value is absent or not a string.
    virtual bool GetMachineString(const std::string& key, const std::string& name, std::string& value) = 0;
    // True when the value is gone afterwards (absent already included).
    virtual bool DeleteMachineValue(const std::string& key, const std::string& name) = 0;
    // Deletes the key with its values and subkeys; true when it is gone
    // afterwards (absent already included).
    virtual bool DeleteMachineKey(const std::string& key) = 0;
    // Any value with its type (REG_SZ, REG_DWORD, ...) and bytes as stored;
    // false when it is absent.
    virtual bool GetMachineValue(const std::string& key, const std::string& name, RegistryValue& value) = 0;
    // Sets it, creating the key as needed; true when written.
    virtual bool SetMachineValue(const std::string& key, const std::string& name, const RegistryValue& value) = 0;
    virtual bool MachineKeyExists(const std::string& key) = 0;
    // Makes the key (and those above it) without values; true when it is there afterwards.
    virtual bool CreateMachineKey(const std::string& key) = 0;
    // Deletes the key only while it holds no values and no subkeys; true
    // when it is gone afterwards.
    virtual bool RemoveEmptyMachineKey(const std::string& key) = 0;

    // Changes made when the system next starts, before any program can
    // hold the files, in the order asked; true when the system took them.
    // The 95 family gets them in WININIT.INI under short names: a path that
    // does not exist now must be in a folder that does, under a short (8.3)
    // name of its own.
    // Moves the source over the destination, replacing it.
    virtual bool MoveAtRestart(const std::string& source, const std::string& destination) = 0;
    virtual bool DeleteAtRestart(const std::string& path) = 0;
    // Whether the changes asked for the next restart leave the file gone:
    // an earlier run asked to delete it, or to move it away.
    virtual bool GoneAtRestart(const std::string& path) = 0;

    // Whether a program holds the file so that it cannot be replaced now:
    // it cannot be opened for writing without sharing. False when there is
    // no such file.
    virtual bool FileInUse(const std::string& path) = 0;
    // The names of the programs that hold any of the files, as far as the
    // system can tell (the Restart Manager, from Windows Vista on); empty
    // where it cannot.
    virtual std::vector<std::string> ProgramsUsingFiles(const std::vector<std::string>& paths) = 0;

    // Where the system has the file's registrations of the kind (the
    // record's word) lead: for a type library, the path registered for the
    // library the file holds (empty when none is); for a server, the
    // InprocServer32 or LocalServer32 command of each class that the
    // type library inside it names (empty where a class has none). `known`
    // is false where the system cannot tell: the file holds no type
    // library, or cannot be read.
    virtual std::vector<std::string> RegisteredPaths(const std::string& file, const std::string& how,
                                                     bool& known) = 0;
    // Zero on success; `library` then holds the loaded type library.
    virtual int32_t LoadTypeLib(const std::u16string& path, TypeLibHandle& library) = 0;
    virtual int32_t RegisterTypeLib(TypeLibHandle library, const std::u16string& path,
                                    const std::u16string& helpDirectory) = 0;
    virtual void ReleaseTypeLib(TypeLibHandle library) = 0;
    // Removes the registration of the type library in the file (the one its
    // attributes name: identifier, version, locale, platform). Zero on
    // success, otherwise the failure's HRESULT: the library does not load,
    // is not registered, or the system lacks the call.
    virtual int32_t UnregisterTypeLibrary(const std::u16string& path) = 0;
};

}  // namespace platform
