// Who may change a file or folder: the record folder that only
// administrators may write, reading a file's owner and access list,
// telling a path that passes through a link or junction, and holding the
// folders on a path in place while a file in them changes.
#include <windows.h>

#include <vector>

#include "platform/install_lock.h"
#include "platform/text.h"
#include "platform/win32/os_win32.h"

namespace platform::win32 {

namespace {

PSID SidOf(const Sid& sid) { return const_cast<uint8_t*>(sid.data()); }

// Rights that let an account change a file or folder, its content or who
// may: writing, adding, deleting, and taking over its security.
constexpr DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Administrators and the system account may do everything, users may read;
// each entry also applies to what the folder will hold. Inherited entries
// of Program Files are not taken: the list is protected.
class GuardedFolderSecurity {
public:
    explicit GuardedFolderSecurity(bool ownedByAdministrators) {
        const Sid users = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0};  // S-1-5-32-545
        const bool made = InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                          InitializeAcl(Acl(), sizeof acl_, ACL_REVISION) &&
                          Allow(FILE_ALL_ACCESS, AdministratorsSid()) && Allow(FILE_ALL_ACCESS, SystemSid()) &&
                          Allow(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users) &&
                          SetSecurityDescriptorDacl(&descriptor_, TRUE, Acl(), FALSE) &&
                          (!ownedByAdministrators ||
                           SetSecurityDescriptorOwner(&descriptor_, SidOf(AdministratorsSid()), FALSE));
        descriptor_.Control |= SE_DACL_PROTECTED;
        attributes_ = {sizeof attributes_, made ? &descriptor_ : nullptr, FALSE};
    }
    SECURITY_ATTRIBUTES* Attributes() { return attributes_.lpSecurityDescriptor ? &attributes_ : nullptr; }

private:
    // An entry that the folder's files and subfolders inherit; the call
    // that sets those flags at once is missing from older systems.
    bool Allow(DWORD rights, const Sid& sid) {
        if (!AddAccessAllowedAce(Acl(), ACL_REVISION, rights, SidOf(sid))) return false;
        void* ace = nullptr;
        if (!GetAce(Acl(), Acl()->AceCount - 1, &ace)) return false;
        static_cast<ACE_HEADER*>(ace)->AceFlags |= OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        return true;
    }
    ACL* Acl() { return reinterpret_cast<ACL*>(acl_); }
    SECURITY_ATTRIBUTES attributes_;
    SECURITY_DESCRIPTOR descriptor_;
    alignas(DWORD) BYTE acl_[128];  // the header and three entries of at most 24 bytes
};

bool CreateWith(const std::string& path, SECURITY_ATTRIBUTES* attributes) {
    return CreateDirectoryA(path.c_str(), attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// The descriptor's owner and access list; false when it cannot be read.
bool ReadSecurity(const std::string& path, std::vector<BYTE>& descriptor) {
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 512;
    for (int attempt = 0; attempt < 3; ++attempt) {
        descriptor.assign(needed, 0);
        if (GetFileSecurityA(path.c_str(), wanted, descriptor.data(), needed, &needed)) return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    }
    return false;
}

Sid Copied(PSID sid) {
    const auto* bytes = static_cast<const uint8_t*>(sid);
    return sid ? Sid(bytes, bytes + GetLengthSid(sid)) : Sid();
}

// The accounts that an entry allowing change applies to; entries that only
// pass on to what the folder will hold, and denials, are not counted.
void ReadWriters(ACL* acl, std::vector<Sid>& writers) {
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(acl, i, &entry)) continue;
        const auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if (allowed->Mask & kChangeRights) writers.push_back(Copied(const_cast<DWORD*>(&allowed->SidStart)));
    }
}

}  // namespace

bool Win32Os::CreateGuardedFolder(const std::string& path) {
    if (Is95Family()) return CreateWith(path, nullptr);
    GuardedFolderSecurity owned(true);
    if (CreateWith(path, owned.Attributes())) return true;
    if (GetLastError() != ERROR_INVALID_OWNER) return false;
    GuardedFolderSecurity defaultOwner(false);  // an owner this run may not assign
    return CreateWith(path, defaultOwner.Attributes());
}

bool Win32Os::ReadGuard(const std::string& path, Guard& guard) {
    std::vector<BYTE> descriptor;
    if (!ReadSecurity(path, descriptor)) return false;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE, present = FALSE, aclDefaulted = FALSE;
    ACL* acl = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor.data(), &owner, &ownerDefaulted) ||
        !GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &aclDefaulted))
        return false;
    guard = Guard();
    guard.owner = Copied(owner);
    guard.anyone = !present || !acl;
    if (acl) ReadWriters(acl, guard.writers);
    return true;
}

Sid Win32Os::RunningAccount() {
    HANDLE token = nullptr;
    if (Is95Family() || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return Sid();
    alignas(DWORD) BYTE buffer[256];
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    return read ? Copied(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : Sid();
}

// Each part from the first folder below the root (a drive's or a share's)
// to the file itself.
bool Win32Os::PathThroughLink(const std::string& path) {
    if (Is95Family()) return false;
    std::size_t from = path.rfind(":\\", 2) != std::string::npos ? 3 : 0;
    if (path.compare(0, 2, "\\\\") == 0) {
        const std::size_t share = path.find('\\', 2);
        from = share == std::string::npos ? path.size() : path.find('\\', share + 1);
        if (from == std::string::npos) return false;
        ++from;
    }
    for (std::size_t end = path.find('\\', from);; end = path.find('\\', end + 1)) {
        const std::string part = path.substr(0, end);
        const DWORD attributes = GetFileAttributesA(part.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
        if (end == std::string::npos) return false;
    }
}

namespace {

// Folders open so that nobody can rename or delete them: both need the
// folder opened for deletion, which a handle that does not share deletion
// refuses to everyone until it is closed.
class Win32FolderHold : public FolderHold {
public:
    ~Win32FolderHold() override {
        for (HANDLE folder : folders_) CloseHandle(folder);
    }
    void Add(HANDLE folder) { folders_.push_back(folder); }

private:
    std::vector<HANDLE> folders_;
};

// Traversing counts for sharing, as reading would; a handle that may only
// read attributes is passed over by the sharing check and blocks nothing.
constexpr DWORD kHoldAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

std::string HoldError(DWORD error) {
    return Cat({"it could not be held (error ", Number(static_cast<long>(error)), ")"});
}

// What is wrong with the folder held open on the handle; empty when it is
// a folder and no link or junction. The name is asked too, after the
// handle holds it in place: Wine opens where a Unix link leads even when
// asked for the link itself, yet names the link a reparse point.
std::string WhyNotAFolder(HANDLE handle, const std::string& folder) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return HoldError(GetLastError());
    const DWORD named = GetFileAttributesA(folder.c_str());
    const bool linkNamed = named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || linkNamed) return "a link or junction leads to it";
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return "a file stands where a folder should be";
    return std::string();
}

// The folder itself, never where a link or junction at its name leads,
// checked on its handle; INVALID_HANDLE_VALUE, with `why`, when it cannot
// be held as a folder. Files in it may still be made, renamed and deleted:
// the handle shares reading and writing.
HANDLE HoldOneFolder(const std::string& folder, std::string& why) {
    HANDLE handle = CreateFileA(folder.c_str(), kHoldAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        why = missing ? "a folder on the way is missing" : HoldError(error);
        return handle;
    }
    why = WhyNotAFolder(handle, folder);
    if (why.empty()) return handle;
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
}

// Without trailing backslashes, except a drive's own ("C:\").
std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '\\' && !(path.size() == 3 && path[1] == ':')) path.pop_back();
    return path;
}

// Whether `path` is `top` itself or a path below it.
bool AtOrBelow(const std::string& top, const std::string& path) {
    if (top.empty() || path.size() < top.size() || UCase(path.substr(0, top.size())) != UCase(top)) return false;
    return path.size() == top.size() || top.back() == '\\' || path[top.size()] == '\\';
}

// The root, then each folder below it down to `folder`; empty when
// `folder` is neither the root nor below it.
std::vector<std::string> FoldersFromRoot(const std::string& root, const std::string& folder) {
    const std::string top = WithoutTrailingSlash(root), bottom = WithoutTrailingSlash(folder);
    if (!AtOrBelow(top, bottom)) return {};
    std::vector<std::string> chain{top};
    for (std::size_t end = bottom.find('\\', top.size() + 1); end != std::string::npos;
         end = bottom.find('\\', end + 1))
        chain.push_back(bottom.substr(0, end));
    if (bottom.size() > top.size()) chain.push_back(bottom);
    return chain;
}

}  // namespace

// Each folder is opened through the ones above it, already held: none of
// them can have been swapped for a link since it was checked.
std::unique_ptr<FolderHold> Win32Os::HoldFolders(const std::string& root, const std::string& folder,
                                                 std::string& why) {
    why.clear();
    if (Is95Family()) return std::make_unique<FolderHold>();
    const std::vector<std::string> chain = FoldersFromRoot(root, folder);
    if (chain.empty()) why = "it is outside the folder it may change";
    auto hold = std::make_unique<Win32FolderHold>();
    for (std::size_t i = 0; i < chain.size() && why.empty(); ++i) {
        HANDLE handle = HoldOneFolder(chain[i], why);
        if (handle != INVALID_HANDLE_VALUE) hold->Add(handle);
    }
    if (!why.empty()) return nullptr;
    return hold;
}

}  // namespace platform::win32
