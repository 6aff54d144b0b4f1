#include "platform/win32/os_win32.h"

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "platform/install_lock.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "platform/win32/machine_win32.h"
#include "platform/win32/shell_win32.h"
#include "platform/win32/user_hives_win32.h"
#include "platform/wininit.h"

namespace platform::win32 {

bool Is95Family() { return (GetVersion() & 0x80000000u) != 0; }

namespace {
constexpr int32_t kPathFileAccessError = 75;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }


// A kernel32 function that older systems lack, or null there.
template <class Function>
Function KernelFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}
}  // namespace

// Each call is used where the system has it: Windows 8 and later (and 7 or
// Vista with the update that added it) search only the system directory for
// late-loaded DLLs; XP SP1 and later drop the current directory from the
// search. Windows 2000, XP RTM and the 95 family offer no such call.
void RestrictDllSearchToSystem() {
    constexpr DWORD kSearchSystem32 = 0x00000800;      // LOAD_LIBRARY_SEARCH_SYSTEM32
    constexpr DWORD kSafeSearchPermanent = 0x00008001;  // safe search mode, permanently
    if (auto setDefault = KernelFunction<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories"))
        setDefault(kSearchSystem32);
    if (auto setMode = KernelFunction<BOOL(WINAPI*)(DWORD)>("SetSearchPathMode")) setMode(kSafeSearchPermanent);
    if (auto setDllDirectory = KernelFunction<BOOL(WINAPI*)(LPCSTR)>("SetDllDirectoryA")) setDllDirectory("");
    // Loaded now, by its full path: the common controls load it by name on
    // first use, and Wine resolves such late loads with the original search
    // path. The altered search path takes its own imports from the same folder.
    LoadSystemLibrary("msimg32.dll");
}

std::string Win32Os::GetInstallerFile() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) Raise(errnum::kFileNotFound);
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

// Opened sharing reading only: while the handle lives, nobody can put
// another program at its name, or change it.
std::unique_ptr<InputFile> Win32Os::OpenOwnImage() { return OpenForReading(GetInstallerFile()); }

std::string Win32Os::GetInstallerFolder() {
    const std::string path = GetInstallerFile();
    return path.substr(0, path.find_last_of('\\') == std::string::npos ? 0 : path.find_last_of('\\'));
}

// The section names come as a list of NUL-terminated names; a section
// without keys is among them.
bool Win32Os::IniSectionExists(const std::string& section, const std::string& iniPath) {
    std::vector<char> names(32768, '\0');
    const DWORD n = GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), iniPath.c_str());
    for (DWORD at = 0; at < n && names[at];) {
        const std::string name(names.data() + at);
        if (lstrcmpiA(name.c_str(), section.c_str()) == 0) return true;
        at += static_cast<DWORD>(name.size()) + 1;
    }
    return false;
}

std::string Win32Os::GetAppSetting(const std::string& application, const std::string& section,
                                   const std::string& key, const std::string& defaultValue) {
    const std::string subkey = "Software\\" + application + "\\" + section;
    std::string value;
    return ReadRegistryString(HKEY_CURRENT_USER, subkey, key, value) ? value : defaultValue;
}

std::vector<UserSetting> Win32Os::GetOtherUsersSettings(const std::string& application, const std::string& section,
                                                        const std::string& key) {
    return UserHivesSetting("Software\\" + application + "\\" + section, key);
}

uint32_t Win32Os::GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                           const std::string& defaultValue, std::string& buffer, uint32_t size,
                                           const std::string& iniPath) {
    if (buffer.size() < size) buffer.resize(size, '\0');
    return ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), &buffer[0], size,
                                      iniPath.c_str());
}

int32_t Win32Os::WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                            const std::string& value, const std::string& iniPath) {
    return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), iniPath.c_str());
}

// A null value removes the key; a null key removes the section.
int32_t Win32Os::RemovePrivateProfileEntry(const std::string& section, const std::string& key,
                                           const std::string& iniPath) {
    return ::WritePrivateProfileStringA(section.c_str(), key.empty() ? nullptr : key.c_str(), nullptr,
                                        iniPath.c_str());
}

// The section's first line is enough to tell; comment lines are not listed.
bool Win32Os::PrivateProfileSectionEmpty(const std::string& section, const std::string& iniPath) {
    char lines[64];
    return ::GetPrivateProfileSectionA(section.c_str(), lines, sizeof lines, iniPath.c_str()) == 0;
}

uint32_t Win32Os::GetSystemDirectoryA(std::string& buffer, uint32_t size) {
    if (buffer.size() < size) buffer.resize(size, '\0');
    return ::GetSystemDirectoryA(&buffer[0], size);
}

uint32_t Win32Os::GetShortPathNameA(const std::string& longPath, std::string& buffer, uint32_t size) {
    if (buffer.size() < size) buffer.resize(size, '\0');
    return ::GetShortPathNameA(longPath.c_str(), &buffer[0], size);
}

namespace {
constexpr DWORD kNotNormal = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// A folder path (trailing separator) and wildcards never name one file.
bool NamesOneFile(const std::string& path) {
    return !path.empty() && path.back() != '\\' && path.back() != '/' && path.find_first_of("*?") == std::string::npos;
}
}  // namespace

std::string Win32Os::FindFile(const std::string& path) {
    if (!NamesOneFile(path)) return std::string();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kNotNormal)) return std::string();
    const auto slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Win32Os::ClearFileAttributes(const std::string& path) {
    if (!SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL))
        throw RuntimeError(kPathFileAccessError, "Path/File access error");
}

bool Win32Os::CopyFileAttributes(const std::string& from, const std::string& to) {
    const DWORD attributes = GetFileAttributesA(from.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && SetFileAttributesA(to.c_str(), attributes) != 0;
}

int32_t Win32Os::DeleteFileA(const std::string& path) { return ::DeleteFileA(path.c_str()); }

int32_t Win32Os::CopyFileA(const std::string& source, const std::string& destination, int32_t failIfExists) {
    return ::CopyFileA(source.c_str(), destination.c_str(), failIfExists);
}

bool Win32Os::NormalFileSize(const std::string& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!NamesOneFile(path) || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & kNotNormal))
        return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

namespace {
using MoveFileExFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
}  // namespace

// Looked up, not imported: the 95 family has it only as a stub, which
// reports that it is not implemented. On the NT family the move is on the
// disk before the call returns.
MoveResult Win32Os::MoveFileReplaceA(const std::string& source, const std::string& destination) {
    const auto moveFileEx = KernelFunction<MoveFileExFunction>("MoveFileExA");
    if (!moveFileEx) return MoveResult::kNotSupported;
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (Is95Family() ? 0 : MOVEFILE_WRITE_THROUGH);
    if (moveFileEx(source.c_str(), destination.c_str(), flags)) return MoveResult::kMoved;
    return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED ? MoveResult::kNotSupported : MoveResult::kFailed;
}

// The NT family moves as MoveFileA does (to another volume by a copy), and
// on the disk before the call returns; the 95 family has only MoveFileA.
int32_t Win32Os::MoveFileA(const std::string& source, const std::string& destination) {
    const auto moveFileEx = Is95Family() ? nullptr : KernelFunction<MoveFileExFunction>("MoveFileExA");
    if (!moveFileEx) return ::MoveFileA(source.c_str(), destination.c_str());
    return moveFileEx(source.c_str(), destination.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
}

namespace {

// This program's environment with the system folder and the Windows folder
// first on PATH: what the started program loads by name is found there
// before any folder the inherited PATH names.
std::vector<char> SystemFirstEnvironment() {
    std::string path = Cat({SystemFolder(), ";", WindowsFolder()});
    std::vector<char> block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; entry && *entry; entry += lstrlenA(entry) + 1) {
        if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, entry, 5, "PATH=", 5) == CSTR_EQUAL) {
            path = Cat({path, ";", entry + 5});
            continue;
        }
        block.insert(block.end(), entry, entry + lstrlenA(entry) + 1);
    }
    if (strings) FreeEnvironmentStringsA(strings);
    const std::string pathEntry = "PATH=" + path;
    block.insert(block.end(), pathEntry.c_str(), pathEntry.c_str() + pathEntry.size() + 1);
    block.push_back('\0');
    return block;
}

}  // namespace

ProgramHandle Win32Os::RunProgram(const std::string& commandLine, int windowStyle,
                                  const std::string& workingFolder) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle);
    PROCESS_INFORMATION process{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const char* folder = workingFolder.empty() ? nullptr : workingFolder.c_str();
    std::vector<char> environment = SystemFirstEnvironment();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, environment.data(), folder, &startup,
                        &process))
        Raise(errnum::kFileNotFound);
    CloseHandle(process.hThread);
    return process.hProcess;
}

bool Win32Os::ProgramEnded(ProgramHandle program, uint32_t& exitCode) {
    DWORD code = 0;
    if (WaitForSingleObject(program, 0) != WAIT_OBJECT_0 || !GetExitCodeProcess(program, &code)) return false;
    exitCode = code;
    return true;
}

void Win32Os::CloseProgram(ProgramHandle program) { CloseHandle(program); }

uint32_t Win32Os::TickCount() { return GetTickCount(); }

namespace {
class Win32InputFile : public InputFile {
public:
    explicit Win32InputFile(HANDLE file) : file_(file) {
        DWORD high = 0;
        const DWORD low = GetFileSize(file, &high);
        size_ = (static_cast<uint64_t>(high) << 32) | low;
    }
    ~Win32InputFile() override { CloseHandle(file_); }
    int64_t Read(void* buffer, std::size_t size) override {
        DWORD read = 0;
        if (!ReadFile(file_, buffer, static_cast<DWORD>(size), &read, nullptr)) return -1;
        return read;
    }
    uint64_t Size() override { return size_; }
    bool CopyTo(const std::string& destination) override { return CopyOpenFile(file_, destination); }

private:
    HANDLE file_;
    uint64_t size_ = 0;
};
}  // namespace

std::unique_ptr<InputFile> Win32Os::OpenBesideWriters(const std::string& path) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (Is95Family() ? 0 : FILE_SHARE_DELETE);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32InputFile>(file);
}

namespace {
// Why the file at the path could not be opened: empty when nothing is
// there, kFileInUse when another program holds it.
std::string WhyNotOpened(const std::string& path, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::string();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return kFileInUse;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return "it is a folder";
    return Cat({"it could not be opened (error ", Number(static_cast<long>(error)), ")"});
}

// What is wrong with the file open on the handle; empty when it is a normal
// file on a disk, no link or junction, with one name only.
std::string WhyNotChecked(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK) return "it is not a file on a disk";
    if (!GetFileInformationByHandle(file, &info))
        return Cat({"it could not be checked (error ", Number(static_cast<long>(GetLastError())), ")"});
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a link or junction";
    if (info.dwFileAttributes & kNotNormal) return "it is a hidden or system file";
    if (info.nNumberOfLinks > 1) return "it has another name (a hard link)";
    return std::string();
}
}  // namespace

// Opened without following a link at the name, so that the checks see what
// stands there; the checks are made on the handle, which refuses writers,
// renames and deletions for as long as it is open. The 95 family has no
// links, and only a plain open.
std::unique_ptr<InputFile> Win32Os::OpenChecked(const std::string& path, std::string& why) {
    const DWORD flags = FILE_FLAG_SEQUENTIAL_SCAN | (Is95Family() ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = WhyNotOpened(path, GetLastError());
        return nullptr;
    }
    why = Is95Family() ? std::string() : WhyNotChecked(file);
    if (why.empty()) return std::make_unique<Win32InputFile>(file);
    CloseHandle(file);
    return nullptr;
}

std::unique_ptr<InputFile> Win32Os::OpenForReading(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32InputFile>(file);
}

namespace {
// A security descriptor that lets only Administrators and the system account
// open the lock, owned by Administrators where the token allows it.
class InstallLockSecurity {
public:
    explicit InstallLockSecurity(bool ownedByAdministrators) {
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
        const Sid& admins = AdministratorsSid();
        const Sid& system = SystemSid();
        const bool made = InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                          InitializeAcl(Acl(), sizeof acl_, ACL_REVISION) &&
                          AddAccessAllowedAce(Acl(), ACL_REVISION, MUTEX_ALL_ACCESS, SidOf(admins)) &&
                          AddAccessAllowedAce(Acl(), ACL_REVISION, MUTEX_ALL_ACCESS, SidOf(system)) &&
                          SetSecurityDescriptorDacl(&descriptor_, TRUE, Acl(), FALSE) &&
                          (!ownedByAdministrators || SetSecurityDescriptorOwner(&descriptor_, SidOf(admins), FALSE));
        if (!made) attributes_.lpSecurityDescriptor = nullptr;  // the system's default
    }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    static PSID SidOf(const Sid& sid) { return const_cast<uint8_t*>(sid.data()); }
    ACL* Acl() { return reinterpret_cast<ACL*>(acl_); }
    SECURITY_ATTRIBUTES attributes_;
    SECURITY_DESCRIPTOR descriptor_;
    alignas(DWORD) BYTE acl_[64];  // the header and two entries of at most 24 bytes
};

// The mutex, or null; GetLastError tells whether it existed. An owner the
// token may not assign is left to the system's default.
HANDLE CreateGuardedMutex(const char* name) {
    InstallLockSecurity owned(true);
    HANDLE mutex = CreateMutexA(owned.Attributes(), FALSE, name);
    if (mutex || GetLastError() != ERROR_INVALID_OWNER) return mutex;
    InstallLockSecurity defaultOwner(false);
    return CreateMutexA(defaultOwner.Attributes(), FALSE, name);
}

// Whether the object's security could be read; `owner` is then its owner,
// empty when it has none.
bool ReadOwner(HANDLE object, Sid& owner) {
    alignas(DWORD) BYTE buffer[256];
    DWORD needed = 0;
    PSID sid = nullptr;
    BOOL defaulted = FALSE;
    if (!GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, buffer, sizeof buffer, &needed) ||
        !GetSecurityDescriptorOwner(buffer, &sid, &defaulted))
        return false;
    const auto* bytes = static_cast<const uint8_t*>(sid);
    owner.assign(bytes, sid ? bytes + GetLengthSid(sid) : bytes);
    return true;
}

// The 95 family knows no security and no namespaces: a plain name.
InstallLock TakePlainLock(const char* name) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) return InstallLock::kTaken;
    CloseHandle(mutex);
    return InstallLock::kHeldByInstaller;
}

// The lock file in the guarded folder, opened without any sharing, so that
// a second run's open fails for as long as this one lives; the system
// deletes it once the program ends, killed or not. False when another run
// holds it or it cannot be made.
bool HoldLockFile(const std::string& folder) {
    const std::string path = folder + "\\" + kInstallLockFileName;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return file != INVALID_HANDLE_VALUE;  // held until the end
}

// Whether a run holds the lock file: it is there and cannot be opened (a
// run whose mutex was squatted took it, and the squatter has gone since).
bool LockFileHeld(const std::string& folder) {
    if (folder.empty()) return false;
    const std::string path = folder + "\\" + kInstallLockFileName;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) return CloseHandle(file), false;
    return GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND;
}
}  // namespace

// One mutex for the whole machine: in the global namespace, so that
// installs in other logon sessions (a deployment tool's service) see it.
// NT 4 without terminal services knows no namespaces. Only Administrators
// and the system account may open it, so that no other user can take the
// name first and keep every install out. A mutex of the name that another
// program made is no reason to refuse, nor to run without a lock: the run
// then holds the lock file in the record folder, which only administrators
// can write, and a run that finds it held counts it as another install.
InstallLock Win32Os::TakeInstallLock(const std::string& recordFolder) {
    const InstallLock named = TakeNamedLock();
    if (named == InstallLock::kTaken && LockFileHeld(recordFolder)) return InstallLock::kHeldByInstaller;
    if (named != InstallLock::kSquatted) return named;
    const bool held = !recordFolder.empty() && CreateGuardedFolder(recordFolder) && HoldLockFile(recordFolder);
    return held ? InstallLock::kSquatted : InstallLock::kHeldByInstaller;
}

InstallLock Win32Os::TakeNamedLock() {
    static const char kGlobalName[] = "Global\\LiveUpdateSetup.Installing";
    const char* const kName = kGlobalName + 7;
    if (Is95Family()) return TakePlainLock(kName);
    HANDLE mutex = CreateGuardedMutex(kGlobalName);
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED) return ExistingInstallLock(Sid());
    if (!mutex) mutex = CreateGuardedMutex(kName);
    if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) return InstallLock::kTaken;  // held until the end
    Sid owner;
    const bool read = ReadOwner(mutex, owner);
    CloseHandle(mutex);
    // Opened with all access, its owner is readable; should it not be, the
    // lock counts as held.
    return read ? ExistingInstallLock(owner) : InstallLock::kHeldByInstaller;
}

std::string Win32Os::GetProgramsFolder(bool allUsers) { return ProgramsFolder(allUsers); }

bool Win32Os::CreateFolder(const std::string& path) { return CreateFolderPath(path); }

bool Win32Os::RemoveEmptyFolder(const std::string& path) {
    return ::RemoveDirectoryA(path.c_str()) || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool Win32Os::CreateShortcut(const std::string& linkPath, const std::string& target,
                             const std::string& workingFolder) {
    return WriteShortcut(linkPath, target, workingFolder);
}

std::string Win32Os::GetTempFolder() {
    char buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    return length == 0 || length > MAX_PATH ? std::string() : std::string(buffer, length);
}

std::string Win32Os::LocalTimestamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    const int n = wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                            now.wMinute, now.wSecond);
    return std::string(text, n);
}

namespace {
class Win32LogFile : public LogFile {
public:
    explicit Win32LogFile(HANDLE file) : file_(file) {}
    ~Win32LogFile() override { CloseHandle(file_); }
    void WriteLine(const std::string& line) override {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

private:
    HANDLE file_;
};
}  // namespace

// Created new, never through anything at the name. Others may read the log
// while the install writes it; on the NT family it may also be renamed while
// open (the 95 family refuses that sharing flag).
std::unique_ptr<LogFile> Win32Os::CreateLogFile(const std::string& path) {
    const DWORD share = FILE_SHARE_READ | (Is95Family() ? 0 : FILE_SHARE_DELETE);
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32LogFile>(file);
}

uint32_t Win32Os::ProcessId() { return GetCurrentProcessId(); }

int32_t Win32Os::GetVersionExA(OsVersionInfo& info) {
    static_assert(sizeof(OSVERSIONINFOA) == sizeof(OsVersionInfo), "same record");
    return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
}

// Looked up: the 95 family's kernel32 may not have it.
bool Win32Os::ProcessorFeaturePresent(uint32_t feature) {
    const auto present = KernelFunction<BOOL(WINAPI*)(DWORD)>("IsProcessorFeaturePresent");
    return present && present(feature);
}

// The NT family restarts only for a process that has the shutdown
// privilege enabled; administrators hold it, disabled.
int32_t Win32Os::ExitWindowsEx(uint32_t flags, uint32_t reserved) {
    const EnabledPrivileges shutdown("SeShutdownPrivilege");
    return ::ExitWindowsEx(flags, reserved);
}

int32_t Win32Os::LoadTypeLib(const std::u16string& path, TypeLibHandle& library) {
    ITypeLib* loaded = nullptr;
    const HRESULT hr = ::LoadTypeLib(Wide(path), &loaded);
    library = loaded;
    return hr;
}

int32_t Win32Os::RegisterTypeLib(TypeLibHandle library, const std::u16string& path,
                                 const std::u16string& helpDirectory) {
    return ::RegisterTypeLib(static_cast<ITypeLib*>(library), const_cast<wchar_t*>(Wide(path)),
                             const_cast<wchar_t*>(Wide(helpDirectory)));
}

void Win32Os::ReleaseTypeLib(TypeLibHandle library) {
    if (library) static_cast<ITypeLib*>(library)->Release();
}

// Loaded without registering it, for its attributes. UnRegisterTypeLib is
// looked up: the 95 family's first automation libraries lack it.
int32_t Win32Os::UnregisterTypeLibrary(const std::u16string& path) {
    using Unregister = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    const auto unregister = reinterpret_cast<Unregister>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("oleaut32.dll"), "UnRegisterTypeLib")));
    if (!unregister) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ITypeLib* library = nullptr;
    HRESULT hr = ::LoadTypeLibEx(Wide(path), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        hr = unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                        attributes->syskind);
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
    return SUCCEEDED(hr) ? 0 : hr;
}

std::string Win32Os::GetProgramFilesFolder() { return ProgramFilesFolder(); }

std::unique_ptr<RecordFile> Win32Os::OpenRecordFile(const std::string& path) { return OpenRecord(path); }

bool Win32Os::ReadWholeFile(const std::string& path, std::string& content) { return ReadWholeFileText(path, content); }

bool Win32Os::SetMachineString(const std::string& key, const std::string& name, const std::string& value) {
    return SetMachineText(key, name, value);
}

bool Win32Os::SetMachineNumber(const std::string& key, const std::string& name, uint32_t value) {
    return SetMachineDword(key, name, value);
}

bool Win32Os::GetMachineNumber(const std::string& key, const std::string& name, uint32_t& value) {
    return GetMachineDword(key, name, value);
}

bool Win32Os::DeleteMachineValue(const std::string& key, const std::string& name) {
    return DeleteMachineRegistryValue(key, name);
}

bool Win32Os::DeleteMachineKey(const std::string& key) { return DeleteMachineRegistryKey(key); }

bool Win32Os::GetMachineValue(const std::string& key, const std::string& name, RegistryValue& value) {
    return GetMachineRaw(key, name, value);
}

bool Win32Os::SetMachineValue(const std::string& key, const std::string& name, const RegistryValue& value) {
    return SetMachineRaw(key, name, value);
}

bool Win32Os::MachineKeyExists(const std::string& key) { return MachineKeyThere(key); }

bool Win32Os::CreateMachineKey(const std::string& key) { return CreateMachineRegistryKey(key); }

bool Win32Os::RemoveEmptyMachineKey(const std::string& key) { return RemoveEmptyMachineRegistryKey(key); }

bool Win32Os::SetMachinePath(const std::string& key, const std::string& name, const std::string& path) {
    return SetMachineText(key, name, path, REG_EXPAND_SZ);
}

bool Win32Os::GetMachineString(const std::string& key, const std::string& name, std::string& value) {
    return GetMachineText(key, name, value);
}

namespace {
// Moves the source over the destination when the system next starts, or
// deletes it when the destination is empty. The NT family keeps the list
// itself (written by MoveFileEx, looked up as the 95 family has only a stub
// of it); the 95 family reads WININIT.INI in its Windows folder.
bool ChangeAtRestart(const std::string& source, const std::string& destination) {
    if (Is95Family()) {
        const std::string windows = WindowsFolder();
        return !windows.empty() && AddWininitRename(windows + "\\WININIT.INI", source, destination);
    }
    const auto moveFileEx = KernelFunction<BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD)>("MoveFileExA");
    const bool deletes = destination.empty();
    return moveFileEx && moveFileEx(source.c_str(), deletes ? nullptr : destination.c_str(),
                                    MOVEFILE_DELAY_UNTIL_REBOOT | (deletes ? 0 : MOVEFILE_REPLACE_EXISTING));
}
}  // namespace

bool Win32Os::MoveAtRestart(const std::string& source, const std::string& destination) {
    return !destination.empty() && ChangeAtRestart(source, destination);
}

bool Win32Os::DeleteAtRestart(const std::string& path) { return ChangeAtRestart(path, std::string()); }

// The 95 family's list names files by their short names; the NT family's
// by the names they were asked under, which the record's long names are.
bool Win32Os::GoneAtRestart(const std::string& path) {
    std::vector<RestartChange> changes;
    std::vector<std::string> names = {path};
    if (Is95Family()) {
        std::string text;
        const std::string windows = WindowsFolder();
        if (!windows.empty() && ReadWholeFileText(windows + "\\WININIT.INI", text))
            changes = RenameSectionChanges(text);
        std::string shortPath;
        const uint32_t length = GetShortPathNameA(path, shortPath, MAX_PATH);
        if (length > 0 && length < MAX_PATH) names.push_back(shortPath);
    } else {
        for (const char* name : {"PendingFileRenameOperations", "PendingFileRenameOperations2"}) {
            RegistryValue value;
            if (!GetMachineRaw("SYSTEM\\CurrentControlSet\\Control\\Session Manager", name, value)) continue;
            for (RestartChange& change : PendingRenameChanges(value.data)) changes.push_back(std::move(change));
        }
    }
    return GoneAfterChanges(changes, names);
}

bool Win32Os::FileInUse(const std::string& path) { return FileHeldOpen(path); }

std::vector<std::string> Win32Os::ProgramsUsingFiles(const std::vector<std::string>& paths) {
    return ProgramsHolding(paths);
}

}  // namespace platform::win32
