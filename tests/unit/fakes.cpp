#include "fakes.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/text.h"
#include "platform/wininit.h"
#include "setup/deploy.h"

namespace fakes {

namespace {
std::string ParentOf(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
}  // namespace

// ASCII letters only, as the paths of the tests have them; compared often.
bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = a[i] >= 'a' && a[i] <= 'z' ? a[i] - 32 : a[i];
        const unsigned char y = b[i] >= 'a' && b[i] <= 'z' ? b[i] - 32 : b[i];
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

// Whether the kill falls on the call being made (the journal's last entry);
// one that `killable` refuses moves on to the next call.
bool FakeOs::KillFallsHere() {
    if (calls + 1 != killCall) return false;
    if (!killable || killable(journal_.empty() ? std::string() : journal_.back())) return true;
    ++killCall;
    return false;
}

// Whether the aimed entry is the journal's last one; judged once an entry.
bool FakeOs::AimFallsHere() {
    if (!aim.act || journal_.empty()) return false;
    if (aimEntry_ == journal_.size()) return aimHere_;
    aimEntry_ = journal_.size();
    const std::string& entry = journal_.back();
    aimHere_ = entry.rfind(aim.prefix, 0) == 0 && entry.find(aim.holding) != std::string::npos &&
               ++aimSeen == aim.nth;
    return aimHere_;
}

void FakeOs::PowerCut() {
    journal_.push_back("power cut");
    for (auto& [path, record] : records) record.lines.resize(record.flushed);
    for (const std::string& path : unflushed) {
        const auto file = files.find(path);
        if (file != files.end() && !records.count(path)) file->second.content.clear();
    }
    unflushed.clear();
}

void FakeOs::Through(const std::string& path) {
    if (PathThroughLink(path)) throughLink.push_back(journal_.empty() ? path : journal_.back());
}

bool FakeOs::Fault() {
    if (AimFallsHere()) {
        auto act = std::move(aim.act);
        aim = Aim{};
        act();
    }
    const bool kill = KillFallsHere();
    ++calls;
    if (kill) {
        journal_.push_back("killed in the call above");
        throw Killed{};
    }
    if (calls != failCall) return false;
    journal_.push_back("fault injected in the call above");
    return true;
}

// A copy killed half-way leaves the first half of the file.
void FakeOs::LeavePartialCopy(const std::string& source, const std::string& destination) {
    const auto from = files.find(source);
    if (from == files.end() || !FolderExists(destination) || files.count(destination)) return;
    if (!KillFallsHere() && !(AimFallsHere() && aim.partial)) return;
    files[destination].content = from->second.content.substr(0, from->second.content.size() / 2);
    unflushed.insert(destination);
}

bool FakeOs::AcrossVolumes(const std::string& source, const std::string& destination) const {
    const NoCaseLess less;
    const std::string from = source.substr(0, 2), to = destination.substr(0, 2);
    return less(from, to) || less(to, from);
}

std::string FakeOs::GetInstallerFolder() { return installerFolder; }

std::string FakeOs::GetAppSetting(const std::string& application, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) {
    journal_.push_back("setting " + application + "\\" + section + "\\" + key);
    if (throwOnSetting) throw platform::RuntimeError(5);
    auto it = settings.find(application + "\\" + section + "\\" + key);
    return it == settings.end() ? defaultValue : it->second;
}

std::vector<platform::UserSetting> FakeOs::GetOtherUsersSettings(const std::string& application,
                                                                 const std::string& section, const std::string& key) {
    journal_.push_back("other users' setting " + application + "\\" + section + "\\" + key);
    return otherUsersSettings;
}

uint32_t FakeOs::GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                          const std::string& defaultValue, std::string& buffer, uint32_t size,
                                          const std::string& iniPath) {
    journal_.push_back("ini read " + iniPath + " [" + section + "] " + key);
    std::string value = defaultValue;
    auto file = ini.find(iniPath);
    if (file != ini.end()) {
        auto sec = file->second.find(section);
        if (sec != file->second.end()) {
            auto k = sec->second.find(key);
            if (k != sec->second.end()) value = k->second;
        }
    }
    if (size == 0) return 0;
    if (value.size() > size - 1) value.resize(size - 1);
    std::memcpy(&buffer[0], value.data(), value.size());
    buffer[value.size()] = '\0';
    return static_cast<uint32_t>(value.size());
}

int32_t FakeOs::WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                           const std::string& value, const std::string& iniPath) {
    journal_.push_back("ini write " + iniPath + " [" + section + "] " + key + "=" + value);
    Through(iniPath);
    if (Fault()) return 0;
    if (unwritableIni.count(iniPath)) return 0;
    ini[iniPath][section][key] = value;
    return 1;
}

int32_t FakeOs::RemovePrivateProfileEntry(const std::string& section, const std::string& key,
                                          const std::string& iniPath) {
    journal_.push_back("ini remove " + iniPath + " [" + section + "] " + key);
    Through(iniPath);
    if (Fault() || unwritableIni.count(iniPath)) return 0;
    auto file = ini.find(iniPath);
    if (file == ini.end()) return 1;
    if (key.empty())
        file->second.erase(section);
    else if (file->second.count(section))
        file->second[section].erase(key);
    return 1;
}

bool FakeOs::PrivateProfileSectionEmpty(const std::string& section, const std::string& iniPath) {
    const auto file = ini.find(iniPath);
    return file == ini.end() || !file->second.count(section) || file->second.at(section).empty();
}

uint32_t FakeOs::GetSystemDirectoryA(std::string& buffer, uint32_t size) {
    if (systemDirectory.size() + 1 > size) return static_cast<uint32_t>(systemDirectory.size() + 1);
    std::memcpy(&buffer[0], systemDirectory.data(), systemDirectory.size());
    buffer[systemDirectory.size()] = '\0';
    return static_cast<uint32_t>(systemDirectory.size());
}

uint32_t FakeOs::GetShortPathNameA(const std::string& longPath, std::string& buffer, uint32_t size) {
    auto it = shortNames.find(longPath);
    if (it == shortNames.end() || it->second.size() + 1 > size) return 0;
    std::memcpy(&buffer[0], it->second.data(), it->second.size());
    buffer[it->second.size()] = '\0';
    return static_cast<uint32_t>(it->second.size());
}

std::string FakeOs::FindFile(const std::string& path) {
    journal_.push_back("find " + path);
    if (Fault()) return std::string();
    if (!path.empty() && path.back() == '\\') return std::string();  // a folder, never one file
    auto it = files.find(path);
    if (it == files.end() || it->second.hidden || it->second.system) return std::string();
    const auto slash = path.find_last_of('\\');
    return path.substr(slash == std::string::npos ? 0 : slash + 1);
}

void FakeOs::ClearFileAttributes(const std::string& path) {
    journal_.push_back("clear " + path);
    Through(path);
    if (Fault()) throw platform::RuntimeError(75, "Path/File access error");
    auto it = files.find(path);
    if (it == files.end()) throw platform::RuntimeError(53);
    it->second.readOnly = it->second.hidden = it->second.system = false;
}

bool FakeOs::CopyFileAttributes(const std::string& from, const std::string& to) {
    journal_.push_back("attributes " + from + " -> " + to);
    Through(to);
    if (Fault()) return false;
    const auto source = files.find(from);
    const auto target = files.find(to);
    if (source == files.end() || target == files.end()) return false;
    target->second.readOnly = source->second.readOnly;
    target->second.hidden = source->second.hidden;
    target->second.system = source->second.system;
    return true;
}

int32_t FakeOs::DeleteFileA(const std::string& path) {
    if (logs.erase(path)) return 1;  // a log closed before
    journal_.push_back("delete " + path);
    Through(path);
    if (Fault()) return 0;
    auto it = files.find(path);
    if (it == files.end() || it->second.inUse || it->second.readOnly || it->second.locked || Held(path)) return 0;
    files.erase(it);
    records.erase(path);
    shortcuts.erase(path);
    unflushed.erase(path);
    return 1;
}

bool FakeOs::FolderExists(const std::string& filePath) const {
    const std::string parent = ParentOf(filePath);
    return folders.count(parent) || parent == systemDirectory || parent == installerFolder;
}

int32_t FakeOs::CopyFileA(const std::string& source, const std::string& destination, int32_t failIfExists) {
    journal_.push_back("copy " + source + " -> " + destination);
    Through(source);
    Through(destination);
    LeavePartialCopy(source, destination);
    if (Fault()) return 0;
    auto from = files.find(source);
    if (from == files.end() || diskFull || !FolderExists(destination) || copyRefused.count(destination)) return 0;
    auto to = files.find(destination);
    if (to != files.end() && (failIfExists || to->second.readOnly || to->second.hidden || to->second.system ||
                              to->second.inUse))
        return 0;
    FakeFile copy = from->second;  // the attributes come along, as the system's copy has them
    copy.inUse = copy.locked = false;
    files[destination] = copy;
    unflushed.insert(destination);
    return 1;
}

// The system's copy, then its content handed over as it would pass.
int32_t FakeOs::CopyFileSeen(const std::string& source, const std::string& destination, int32_t failIfExists,
                             const std::function<void(const void*, std::size_t)>& seen) {
    if (!CopyFileA(source, destination, failIfExists)) return 0;
    unflushed.erase(destination);  // flushed before the call returns
    const std::string& content = files[destination].content;
    seen(content.data(), content.size());
    return 1;
}

bool FakeOs::NormalFileSize(const std::string& path, uint64_t& size) {
    if (FindFile(path).empty()) return false;
    size = files[path].content.size();
    return true;
}

platform::MoveResult FakeOs::MoveFileReplaceA(const std::string& source, const std::string& destination) {
    if (logs.count(source) && !moveFileExStub) return MoveLog(source, destination);
    journal_.push_back("move " + source + " -> " + destination);
    Through(source);
    Through(destination);
    if (Fault()) return platform::MoveResult::kFailed;
    if (moveFileExStub) return platform::MoveResult::kNotSupported;
    auto from = files.find(source);
    auto to = files.find(destination);
    if (from == files.end() || !FolderExists(destination) || AcrossVolumes(source, destination))
        return platform::MoveResult::kFailed;
    if (to != files.end() && (to->second.inUse || to->second.readOnly || Held(destination)))
        return platform::MoveResult::kFailed;
    if (from->second.locked || Held(source)) return platform::MoveResult::kFailed;
    FakeFile moved = from->second;
    files.erase(source);
    files[destination] = moved;
    MoveUnflushed(source, destination);
    return platform::MoveResult::kMoved;
}

int32_t FakeOs::MoveFileA(const std::string& source, const std::string& destination) {
    journal_.push_back("rename " + source + " -> " + destination);
    Through(source);
    Through(destination);
    if (Fault()) return 0;
    auto from = files.find(source);
    // A file in use can be renamed, as a running program can on Windows;
    // one open without delete sharing can't.
    if (from == files.end() || files.count(destination) || !FolderExists(destination) || renameRefused.count(source) ||
        from->second.locked || Held(source))
        return 0;
    FakeFile moved = from->second;
    files.erase(from);
    files[destination] = moved;
    MoveUnflushed(source, destination);
    return 1;
}

platform::ProgramHandle FakeOs::RunProgram(const std::string& commandLine, int windowStyle,
                                           const std::string& workingFolder) {
    journal_.push_back("run " + commandLine + " style " + std::to_string(windowStyle));
    if (Fault()) throw platform::RuntimeError(53);
    if (unstartable.count(commandLine)) throw platform::RuntimeError(53);
    programs.push_back(commandLine);
    programFolders.push_back(workingFolder);
    uint32_t code = 0;
    auto codes = exitCodes.find(commandLine);
    if (registrar) {
        code = registrar->Run(*this, commandLine);
    } else if (codes != exitCodes.end() && !codes->second.empty()) {
        code = codes->second.front();
        if (codes->second.size() > 1) codes->second.pop_front();
    }
    auto duration = runMs.find(commandLine);
    const uint32_t ms = duration == runMs.end() ? 0 : duration->second;
    runs_.push_back({commandLine, ms == kRunsForever ? kRunsForever : now + ms, code});
    ++openPrograms;
    return reinterpret_cast<platform::ProgramHandle>(runs_.size());
}

bool FakeOs::ProgramEnded(platform::ProgramHandle program, uint32_t& exitCode) {
    const Run& run = runs_.at(reinterpret_cast<std::size_t>(program) - 1);
    if (run.endsAt == kRunsForever || run.endsAt > now) return false;
    exitCode = run.exitCode;
    return true;
}

void FakeOs::CloseProgram(platform::ProgramHandle program) {
    journal_.push_back("close program " + runs_.at(reinterpret_cast<std::size_t>(program) - 1).command);
    --openPrograms;
}

uint32_t FakeOs::UntilNextEnd() const {
    uint32_t next = kRunsForever;
    for (const Run& run : runs_)
        if (run.endsAt != kRunsForever && run.endsAt > now && run.endsAt - now < next) next = run.endsAt - now;
    return next;
}

namespace {
// A held file: the content it had when opened; while open, nobody renames
// or deletes it (`held`, when given, counts the hold).
class FakeInputFile : public platform::InputFile {
public:
    explicit FakeInputFile(std::string content, FakeOs* os = nullptr, std::string path = std::string(),
                           FakeFile attributes = FakeFile{})
        : content_(std::move(content)), os_(os), path_(std::move(path)), attributes_(attributes) {
        if (os_) ++os_->heldFiles[path_];
    }
    ~FakeInputFile() override {
        if (os_ && --os_->heldFiles[path_] == 0) os_->heldFiles.erase(path_);
    }
    bool CopyTo(const std::string& destination) override {
        if (!os_) return false;
        FakeFile copy = attributes_;
        copy.content = content_;
        copy.inUse = copy.locked = false;
        return os_->WriteCopy(destination, copy);
    }
    int64_t Read(void* buffer, std::size_t size) override {
        const std::size_t n = std::min(size, content_.size() - offset_);
        std::copy_n(content_.data() + offset_, n, static_cast<char*>(buffer));
        offset_ += n;
        return static_cast<int64_t>(n);
    }
    uint64_t Size() override { return content_.size(); }

private:
    std::string content_;
    std::size_t offset_ = 0;
    FakeOs* os_;
    std::string path_;
    FakeFile attributes_;
};

class FakeFolderHold : public platform::FolderHold {
public:
    FakeFolderHold(FakeOs& os, std::vector<std::string> folders) : os_(os), folders_(std::move(folders)) {
        for (const std::string& folder : folders_) ++os_.heldFolders[folder];
    }
    ~FakeFolderHold() override {
        for (const std::string& folder : folders_)
            if (--os_.heldFolders[folder] == 0) os_.heldFolders.erase(folder);
    }

private:
    FakeOs& os_;
    std::vector<std::string> folders_;
};
}  // namespace

std::unique_ptr<platform::InputFile> FakeOs::OpenBesideWriters(const std::string& path) {
    const auto file = files.find(path);
    if (file != files.end() && file->second.locked) return nullptr;
    return OpenForReading(path);
}

std::unique_ptr<platform::FolderHold> FakeOs::HoldFolders(const std::string& root, const std::string& folder,
                                                          std::string& why) {
    journal_.push_back("hold folders " + root + " .. " + folder);
    why.clear();
    if (Fault()) why = "it could not be held";
    std::vector<std::string> chain;
    for (std::string f = folder; why.empty(); f = ParentOf(f)) {
        if (reparsePoints.count(f))
            why = "a link or junction leads to it";
        else if (!FolderPresent(f))
            why = "a folder on the way is missing";
        chain.push_back(f);
        if (platform::UCase(f) == platform::UCase(root) || f.find('\\') == std::string::npos) break;
    }
    if (!why.empty()) return nullptr;
    return std::make_unique<FakeFolderHold>(*this, chain);
}

std::unique_ptr<platform::InputFile> FakeOs::OpenChecked(const std::string& path, std::string& why) {
    journal_.push_back("open checked " + path);
    Through(path);
    why.clear();
    if (Fault()) why = "it could not be opened";
    const auto file = files.find(path);
    if (!why.empty() || file == files.end() || file->second.hidden) return nullptr;
    if (reparsePoints.count(path))
        why = "it is a link or junction";
    else if (hardLinked.count(path))
        why = "it has another name (a hard link)";
    else if (file->second.locked || file->second.inUse)
        why = platform::kFileInUse;
    if (!why.empty()) return nullptr;
    return std::make_unique<FakeInputFile>(file->second.content, this, path, file->second);
}

void FakeOs::MoveUnflushed(const std::string& source, const std::string& destination) {
    // What was at the destination before is gone, flushed or not.
    if (unflushed.erase(source))
        unflushed.insert(destination);
    else
        unflushed.erase(destination);
}

// A folder made, a system one, or one that a file is in (fixtures name
// files without their folders).
bool FakeOs::FolderPresent(const std::string& folder) const {
    if (folders.count(folder) || folder == systemDirectory || folder == installerFolder) return true;
    const auto below = files.lower_bound(folder + "\\");
    return below != files.end() && below->first.size() > folder.size() &&
           NoCaseLess{}(below->first.substr(0, folder.size() + 1), folder + "\\") == false &&
           !NoCaseLess{}(folder + "\\", below->first.substr(0, folder.size() + 1));
}

bool FakeOs::Held(const std::string& path) const { return heldFolders.count(path) || heldFiles.count(path); }

bool FakeOs::WriteCopy(const std::string& destination, const FakeFile& copy) {
    journal_.push_back("write copy " + destination);
    Through(destination);
    if (Fault() || diskFull || !FolderExists(destination) || Taken(destination) ||
        copyRefused.count(destination))
        return false;
    files[destination] = copy;
    unflushed.erase(destination);  // flushed before the call returns
    if (tornCopies.count(destination)) files[destination].content.resize(copy.content.size() / 2);
    return true;
}

std::unique_ptr<platform::InputFile> FakeOs::OpenForReading(const std::string& path) {
    journal_.push_back("read " + path);
    auto file = files.find(path);
    if (file == files.end() || file->second.hidden) return nullptr;
    return std::make_unique<FakeInputFile>(file->second.content);
}

bool FakeOs::CreateFolder(const std::string& path) {
    journal_.push_back("create folder " + path);
    if (Fault()) return false;
    folders.insert(path);
    return true;
}

bool FakeOs::CreateGuardedFolder(const std::string& path) {
    guardedFolders.insert(path);
    return CreateFolder(path);
}

bool FakeOs::ReadGuard(const std::string& path, platform::Guard& guard) {
    const auto known = guards.find(path);
    if (known != guards.end()) {
        guard = known->second;
        return !guard.owner.empty() || guard.anyone;
    }
    guard = platform::Guard{platform::AdministratorsSid(), {platform::AdministratorsSid()}, false};
    return true;
}

bool FakeOs::PathThroughLink(const std::string& path) {
    for (std::size_t end = path.find('\\'); ; end = path.find('\\', end + 1)) {
        if (reparsePoints.count(path.substr(0, end))) return true;
        if (end == std::string::npos) return false;
    }
}

bool FakeOs::RemoveEmptyFolder(const std::string& path) {
    journal_.push_back("remove folder " + path);
    if (Fault()) return false;
    const std::string below = path + "\\";
    for (const auto& file : files)
        if (file.first.compare(0, below.size(), below) == 0) return false;
    for (const auto& link : shortcuts)
        if (link.first.compare(0, below.size(), below) == 0) return false;
    for (const auto& folder : folders)
        if (folder.compare(0, below.size(), below) == 0) return false;
    folders.erase(path);
    return true;
}

bool FakeOs::CreateShortcut(const std::string& linkPath, const std::string& target,
                            const std::string& workingFolder) {
    journal_.push_back("shortcut " + linkPath + " -> " + target);
    if (Fault()) return false;
    if (!FolderExists(linkPath)) return false;
    shortcuts[linkPath] = {target, workingFolder};
    files[linkPath].content = "shortcut to " + target;
    return true;
}

namespace {
class FakeLogFile : public platform::LogFile {
public:
    explicit FakeLogFile(std::vector<std::string>& lines) : lines_(lines) {}
    void WriteLine(const std::string& line) override { lines_.push_back(line); }

private:
    std::vector<std::string>& lines_;
};
}  // namespace

bool FakeOs::Taken(const std::string& path) const {
    return files.count(path) || logs.count(path) || folders.count(path) || links.count(path) ||
           blockedLogs.count(path);
}

std::unique_ptr<platform::LogFile> FakeOs::CreateLogFile(const std::string& path) {
    if (logsUnwritable || Taken(path)) return nullptr;
    return std::make_unique<FakeLogFile>(logs[path]);
}

// A log replaces a file, a log or a link (never its target) at the name; a
// folder, or a file that another run holds open, stays as it is.
platform::MoveResult FakeOs::MoveLog(const std::string& source, const std::string& destination) {
    const auto file = files.find(destination);
    if (folders.count(destination) || blockedLogs.count(destination) ||
        (file != files.end() && file->second.inUse))
        return platform::MoveResult::kFailed;
    files.erase(destination);
    links.erase(destination);
    logs.erase(destination);
    auto log = logs.extract(source);  // the open log's lines stay where they are
    log.key() = destination;
    logs.insert(std::move(log));
    return platform::MoveResult::kMoved;
}

const std::vector<std::string>& FakeOs::LogLines() const {
    static const std::vector<std::string> none;
    auto log = logs.find(tempFolder + setup::kInstallLogName);
    if (log == logs.end()) log = logs.find(tempFolder + setup::kVerifyLogName);
    return log == logs.end() ? none : log->second;
}

int32_t FakeOs::GetVersionExA(platform::OsVersionInfo& info) {
    if (info.dwOSVersionInfoSize != 148 || versionQueryFails) return 0;
    info.dwPlatformId = platformId;
    info.dwMajorVersion = versionMajor;
    info.dwMinorVersion = versionMinor;
    info.dwBuildNumber = versionBuild;
    return 1;
}

int32_t FakeOs::ExitWindowsEx(uint32_t flags, uint32_t reserved) {
    journal_.push_back("exit windows " + std::to_string(flags) + " " + std::to_string(reserved));
    exitRequests.push_back(flags);
    return 1;
}

namespace {
std::string Narrow(const std::u16string& wide) { return std::string(wide.begin(), wide.end()); }
constexpr int32_t kCannotLoad = static_cast<int32_t>(0x80029C4A);  // TYPE_E_CANTLOADLIBRARY
}  // namespace

int32_t FakeOs::LoadTypeLib(const std::u16string& path, platform::TypeLibHandle& library) {
    journal_.push_back("load type library " + Narrow(path));
    if (Fault()) return kCannotLoad;
    const auto file = files.find(Narrow(path));
    if (registrar && file == files.end()) return kCannotLoad;
    if (registrar) loadedTypeLibrary_ = file->second.content;
    if (!registrar && !typeLibraries.count(path)) return kCannotLoad;
    ++openTypeLibraries;
    library = this;
    return 0;
}

int32_t FakeOs::RegisterTypeLib(platform::TypeLibHandle, const std::u16string& path, const std::u16string&) {
    journal_.push_back("register type library " + Narrow(path));
    if (Fault()) return static_cast<int32_t>(0x80004005);
    if (registrar) return registrar->TypeLibrary(loadedTypeLibrary_, Narrow(path), false);
    registeredTypeLibraries.push_back(path);
    return 0;
}

void FakeOs::ReleaseTypeLib(platform::TypeLibHandle) { --openTypeLibraries; }

// Unregisters what RegisterTypeLib registered; anything else is not
// registered (TYPE_E_REGISTRYACCESS).
int32_t FakeOs::UnregisterTypeLibrary(const std::u16string& path) {
    journal_.push_back("unregister type library " + Narrow(path));
    if (Fault()) return kCannotLoad;
    if (registrar) {
        const auto file = files.find(Narrow(path));
        return file == files.end() ? kCannotLoad : registrar->TypeLibrary(file->second.content, Narrow(path), true);
    }
    if (!typeLibraries.count(path)) return kCannotLoad;
    auto registered = std::find(registeredTypeLibraries.begin(), registeredTypeLibraries.end(), path);
    if (registered == registeredTypeLibraries.end()) return static_cast<int32_t>(0x8002801C);
    registeredTypeLibraries.erase(registered);
    unregisteredTypeLibraries.push_back(path);
    return 0;
}

namespace {
// Each write and flush is a counted call, journaled with what it writes.
class FakeRecordFile : public platform::RecordFile {
public:
    FakeRecordFile(FakeOs::Record& record, std::function<bool(const std::string&)> fault, Journal& journal)
        : record_(record), fault_(std::move(fault)), journal_(journal) {}
    bool WriteLine(const std::string& line) override {
        if (fault_("record line " + line)) {
            journal_.push_back("record line not written: " + line);
            return false;
        }
        record_.lines.push_back(line);
        return true;
    }
    bool Flush() override {
        if (fault_("record flush")) return false;
        record_.flushed = record_.lines.size();
        return true;
    }

private:
    FakeOs::Record& record_;
    std::function<bool(const std::string&)> fault_;
    Journal& journal_;
};
}  // namespace

std::unique_ptr<platform::RecordFile> FakeOs::OpenRecordFile(const std::string& path) {
    journal_.push_back("open record " + path);
    if (Fault() || !FolderExists(path)) return nullptr;
    files.emplace(path, FakeFile{});
    return std::make_unique<FakeRecordFile>(
        records[path],
        [this](const std::string& call) {
            journal_.push_back(call);
            return Fault();
        },
        journal_);
}

bool FakeOs::ReadWholeFile(const std::string& path, std::string& content) {
    journal_.push_back("read whole " + path);
    if (Fault()) return false;
    const auto record = records.find(path);
    const auto file = files.find(path);
    if (record != records.end()) {
        content.clear();
        for (const std::string& line : record->second.lines) content += line + "\r\n";
        return true;
    }
    if (file == files.end()) return false;
    content = file->second.content;
    return true;
}

bool FakeOs::SetMachineString(const std::string& key, const std::string& name, const std::string& value) {
    journal_.push_back("machine " + key + "\\" + name + "=" + value);
    if (Fault() || machineReadOnly) return false;
    machineNumbers[key].erase(name);
    machineStrings[key][name] = value;
    return true;
}

bool FakeOs::SetMachineNumber(const std::string& key, const std::string& name, uint32_t value) {
    journal_.push_back("machine " + key + "\\" + name + "=" + std::to_string(value));
    if (Fault() || machineReadOnly) return false;
    machineStrings[key].erase(name);
    machineNumbers[key][name] = value;
    return true;
}

bool FakeOs::GetMachineNumber(const std::string& key, const std::string& name, uint32_t& value) {
    const auto found = machineNumbers.find(key);
    if (found == machineNumbers.end() || !found->second.count(name)) return false;
    value = found->second.at(name);
    return true;
}

bool FakeOs::GetMachineString(const std::string& key, const std::string& name, std::string& value) {
    const auto found = machineStrings.find(key);
    if (found == machineStrings.end() || !found->second.count(name)) return false;
    value = found->second.at(name);
    return true;
}

std::vector<std::string> FakeOs::RegisteredPaths(const std::string& file, const std::string& how, bool& known) {
    const auto found = registeredPaths.find(how + "\t" + platform::UCase(file));
    known = found != registeredPaths.end();
    return known ? found->second : std::vector<std::string>();
}

bool FakeOs::WriteEvent(const std::string& source, platform::EventType type, uint32_t id,
                         const std::vector<std::string>& strings, uint32_t& error) {
    error = eventLogRefuses ? 1502 : 0;  // ERROR_LOG_FILE_FULL
    if (!eventLogRefuses) events.push_back({source, type, id, strings});
    return !eventLogRefuses;
}

std::string FakeOs::OwnMessage(uint32_t id, const std::vector<std::string>& strings) {
    std::string text = std::to_string(id) + ":";
    for (const std::string& string : strings) text += " " + string + " |";
    return text;
}

bool FakeOs::WriteWholeFile(const std::string& path, const std::string& content) {
    journal_.push_back("write " + path);
    if (Fault() || copyRefused.count(path) || !FolderExists(path)) return false;
    files[path] = FakeFile{content};
    return true;
}

bool FakeOs::DeleteMachineValue(const std::string& key, const std::string& name) {
    journal_.push_back("delete machine " + key + "\\" + name);
    const bool present = (machineStrings.count(key) && machineStrings[key].count(name)) ||
                         (machineNumbers.count(key) && machineNumbers[key].count(name));
    if (Fault() || (present && machineReadOnly)) return false;
    if (machineStrings.count(key)) machineStrings[key].erase(name);
    if (machineNumbers.count(key)) machineNumbers[key].erase(name);
    if (machineValues.count(key)) machineValues[key].erase(name);
    return true;
}

namespace {
bool InKeyTree(const std::string& name, const std::string& key) {
    return name == key || name.compare(0, key.size() + 1, key + "\\") == 0;
}

template <class Map>
bool HasKeyTree(const Map& map, const std::string& key) {
    for (const auto& entry : map)
        if (InKeyTree(entry.first, key)) return true;
    return false;
}

template <class Map>
void EraseKeyTree(Map& map, const std::string& key) {
    for (auto it = map.begin(); it != map.end();) it = InKeyTree(it->first, key) ? map.erase(it) : std::next(it);
}
}  // namespace

bool FakeOs::DeleteMachineKey(const std::string& key) {
    journal_.push_back("delete machine key " + key);
    if (Fault() || key.empty()) return false;
    if (machineReadOnly) return !HasKeyTree(machineStrings, key) && !HasKeyTree(machineNumbers, key);
    EraseKeyTree(machineStrings, key);
    EraseKeyTree(machineNumbers, key);
    return true;
}

bool FakeOs::GetMachineValue(const std::string& key, const std::string& name, platform::RegistryValue& value) {
    const auto found = machineValues.find(key);
    if (found == machineValues.end() || !found->second.count(name)) return false;
    value = found->second.at(name);
    return true;
}

bool FakeOs::SetMachineValue(const std::string& key, const std::string& name, const platform::RegistryValue& value) {
    journal_.push_back("machine value " + key + "\\" + name);
    if (Fault() || machineReadOnly) return false;
    machineValues[key][name] = value;
    return true;
}

bool FakeOs::MachineKeyExists(const std::string& key) {
    const std::string upper = platform::UCase(key);
    for (const auto& entry : machineValues)
        if (InKeyTree(platform::UCase(entry.first), upper)) return true;
    return false;
}

bool FakeOs::CreateMachineKey(const std::string& key) {
    journal_.push_back("machine key " + key);
    if (Fault() || machineReadOnly) return false;
    machineValues[key];
    return true;
}

bool FakeOs::RemoveEmptyMachineKey(const std::string& key) {
    journal_.push_back("delete empty machine key " + key);
    const auto found = machineValues.find(key);
    if (found == machineValues.end()) return !MachineKeyExists(key);
    const std::string upper = platform::UCase(key);
    for (const auto& entry : machineValues)
        if (platform::UCase(entry.first) != upper && InKeyTree(platform::UCase(entry.first), upper)) return false;
    if (Fault() || machineReadOnly || !found->second.empty()) return false;
    machineValues.erase(found);
    return true;
}

bool FakeOs::MoveAtRestart(const std::string& source, const std::string& destination) {
    journal_.push_back("at restart move " + source + " -> " + destination);
    if (Fault() || destination.empty() || restartRefused) return false;
    atRestart.push_back({source, destination});
    return true;
}

bool FakeOs::DeleteAtRestart(const std::string& path) {
    journal_.push_back("at restart delete " + path);
    if (Fault() || restartRefused) return false;
    atRestart.push_back({path, std::string()});
    return true;
}

void FakeOs::RestartChangeOf(const RestartChange& change) {
    const auto from = files.find(change.source);
    if (change.destination.empty()) {
        if (from != files.end()) {
            files.erase(from);
            records.erase(change.source);
            shortcuts.erase(change.source);
        } else {
            RemoveEmptyFolder(change.source);
        }
        return;
    }
    if (from == files.end() || AcrossVolumes(change.source, change.destination) || !FolderExists(change.destination))
        return;
    const FakeFile moved = from->second;
    files.erase(from);
    files[change.destination] = moved;
}

bool FakeOs::GoneAtRestart(const std::string& path) {
    std::vector<platform::RestartChange> changes;
    for (const RestartChange& change : atRestart) changes.push_back({change.source, change.destination});
    return platform::GoneAfterChanges(changes, {path});
}

void FakeOs::Restart() {
    journal_.push_back("restart");
    for (const RestartChange& change : atRestart) RestartChangeOf(change);
    atRestart.clear();
    for (auto& file : files) file.second.inUse = false;
    const auto runOnce = machineStrings.find(setup::kRunOnceKey);
    if (runOnce == machineStrings.end()) return;
    for (const auto& value : runOnce->second)
        if (registrar) registrar->Run(*this, value.second);
    machineStrings.erase(runOnce);
}

std::vector<std::string> FakeOs::ProgramsUsingFiles(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    for (const std::string& path : paths) {
        const auto it = holders.find(path);
        if (it != holders.end() && std::find(names.begin(), names.end(), it->second) == names.end())
            names.push_back(it->second);
    }
    return names;
}

bool FakeDde::Connect(const std::string& service, const std::string& topic) {
    journal_.push_back("dde connect " + service + "|" + topic);
    connected = serverPresent;
    return connected;
}

void FakeDde::Disconnect() {
    journal_.push_back("dde disconnect");
    connected = false;
}

platform::DdeResult FakeDde::Execute(const std::string& command, uint32_t timeoutMs) {
    journal_.push_back("dde execute " + command);
    executed.push_back(command);
    timeouts.push_back(timeoutMs);
    if (!connected) return platform::DdeResult::NoConversation;
    if (neverAnswers) return platform::DdeResult::Timeout;
    for (const auto& prefix : refusedPrefixes)
        if (command.compare(0, prefix.size(), prefix) == 0) return platform::DdeResult::Refused;
    return platform::DdeResult::Ok;
}

platform::DdeResult FakeDde::Request(const std::string& item, uint32_t, std::string& reply) {
    journal_.push_back("dde request " + item);
    if (!connected) return platform::DdeResult::NoConversation;
    if (neverAnswers) return platform::DdeResult::Timeout;
    const auto known = replies.find(item);
    if (known == replies.end()) return platform::DdeResult::Refused;
    reply = known->second;
    return platform::DdeResult::Ok;
}

int FakeForms::ShowMessage(const std::string& text, int flags, const std::string& title) {
    if (unattendedMessages) {
        journal_.push_back("unattended message " + text);
        unattendedMessages(text);
        return 1;
    }
    journal_.push_back("message " + text);
    messages.push_back({text, flags, title});
    if (onMessage) onMessage();
    if (messageAnswers.empty()) return 1;
    const int answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

std::string FakeForms::AskText(const std::string& prompt, const std::string& title) {
    journal_.push_back("ask " + prompt);
    prompts.push_back({prompt, 0, title});
    if (promptAnswers.empty()) return std::string();
    std::string answer = promptAnswers.front();
    promptAnswers.pop_front();
    return answer;
}

void FakeForms::YieldToUI() {
    journal_.push_back("yield");
    ++yields;
    if (onYield) onYield();
}

void FakeForms::WaitForProgramsOrInput(const std::vector<void*>& programs, uint32_t ms) {
    journal_.push_back("wait " + std::to_string(programs.size()) + " programs");
    ++waits;
    if (os) os->now += std::min(ms, os->UntilNextEnd());
    YieldToUI();
}

void FakeForms::RunAfter(uint32_t ms, std::function<void()> action) {
    journal_.push_back("run after " + std::to_string(ms) + " ms");
    scheduled.emplace_back(ms, std::move(action));
}

void FakeForms::RunScheduled() {
    for (std::size_t i = 0; i < scheduled.size(); ++i) {
        auto action = scheduled[i].second;
        action();
    }
    scheduled.clear();
}

void FakeForms::SetScreenPointer(int pointer) {
    journal_.push_back("pointer " + std::to_string(pointer));
    pointers.push_back(pointer);
}

void FakeForms::EndProgram() {
    journal_.push_back("end program");
    throw ProgramEnded{};
}

void FakeForms::UnloadWindow(platform::Form& form) {
    journal_.push_back("unload");
    int cancel = 0;
    form.Form_Unload(cancel);
    if (!cancel) ++unloads;
}

}  // namespace fakes
