#include "setup/install_recorder.h"

#include "platform/text.h"
#include "resources/version.h"
#include "setup/deploy.h"
#include "setup/installer_state.h"
#include "setup/package_seal.h"
#include "setup/system_platform.h"
#include "setup/changes.h"
#include "setup/uninstall.h"

namespace setup {

using platform::Cat;

namespace {

std::string Upper(const std::string& path) { return platform::UCase(path); }

// "YYYYMMDD" from "YYYY-MM-DD hh:mm:ss".
std::string DateOf(const std::string& timestamp) {
    return timestamp.size() >= 10 ? Cat({timestamp.substr(0, 4), timestamp.substr(5, 2), timestamp.substr(8, 2)})
                                  : std::string();
}

// The running image's SHA-256 in hex; empty when it cannot be read.
std::string ImageDigest(platform::OsServices& os, platform::InputFile* image) {
    Sha256Digest digest;
    return image && HashOpenFile(os, *image, digest) ? ToHex(digest) : std::string();
}

// The uninstaller, copied from the running image's held handle: never from
// the package folder by name, where a user who may write there could have
// put another program since the installer started. The copy waits under
// its temporary name (in the record: a kill leaves nothing unknown) until
// it is whole, so that an earlier uninstaller stays until then. The 95
// family, without a one-step replace, copies it over the earlier one from
// there: renames would leave a moment without any uninstaller.
bool CopyUninstaller(platform::OsServices& os, platform::InputFile& image, const std::string& temporary,
                     const std::string& uninstaller) {
    if (!os.FindFile(temporary).empty()) os.DeleteFileA(temporary);  // a killed install's
    if (!image.CopyTo(temporary)) return false;
    const bool earlier = !os.FindFile(uninstaller).empty();
    if (earlier) os.ClearFileAttributes(uninstaller);
    if (!earlier && os.MoveFileA(temporary, uninstaller)) return true;
    const bool placed = earlier && (IsWin9X(os) ? os.CopyFileA(temporary, uninstaller, 0) != 0
                                                : MoveIntoPlace(os, temporary, uninstaller));
    if (!os.FindFile(temporary).empty()) os.DeleteFileA(temporary);
    return placed;
}

}  // namespace

bool InstallRecorder::Begin(Context& ctx, std::string& unwritable, std::string& distrust) {
    auto& os = ctx.os;
    const auto& s = ctx.state;
    const std::string folder = RecordFolder(os, s.SystemName);
    const std::string record = Cat({folder, "\\", kRecordFileName});
    unwritable = record;
    if (folder.empty() || !os.CreateGuardedFolder(folder)) return false;
    if (!RecordFolderTrusted(os, folder, distrust)) {
        distrust = UntrustedRecordText(folder, distrust);
        return false;
    }
    if (!os.CreateFolder(Cat({folder, "\\", kKeptFolderName}))) return false;
    std::string text;
    os.ReadWholeFile(record, text);
    earlier_ = ParseRecord(text);
    // Numbered on from the earlier installs' kept contents, some of which
    // may only arrive at the next restart.
    for (const RecordEntry& entry : earlier_) {
        nextKept_ += entry.kind == RecordKind::kReplaced || entry.kind == RecordKind::kPending;
        if (entry.kind == RecordKind::kPending && entry.fields.size() > 2) {
            waiting_[Upper(entry.fields[0])] = entry.fields[1];
            promised_.insert({Upper(entry.fields[1]), Upper(entry.fields[2])});
        }
    }
    ReadRestartNames(os, folder);
    NoteCutShortCopies();
    file_ = os.OpenRecordFile(record);
    recordPath_ = record;
    if (!file_ || (text.empty() && !file_->WriteLine(RecordHeading().substr(0, RecordHeading().size() - 2)))) {
        file_.reset();
        return false;
    }
    const std::string uninstaller = Cat({folder, "\\", kUninstallerName});
    platform::InputFile* image = s.OwnImage.get();
    const std::string digest = ImageDigest(os, image);
    const bool copying = Upper(os.GetInstallerFile()) != Upper(uninstaller);  // not run as the uninstaller
    const std::string temporary = uninstaller + kReplacementSuffix;
    try {
        if (!digest.empty())
            Note(RecordKind::kBegun, {os.LocalTimestamp(), LU_VERSION_TEXT, s.SystemName, s.ProductPath, digest});
        if (!digest.empty() && copying) Note(RecordKind::kTemporary, {temporary, digest});
    } catch (const RecordLineUnwritable&) {
        return false;
    }
    if (digest.empty() || (copying && !CopyUninstaller(os, *image, temporary, uninstaller))) {
        unwritable = uninstaller;
        file_.reset();
        return false;
    }
    folder_ = folder;
    if (!WriteEntry(ctx, folder, s.ProductPath) || !file_->Flush()) {
        unwritable = Cat({"HKEY_LOCAL_MACHINE\\", uninstallKey_});
        file_.reset();
        return false;
    }
    const auto note = [this](const RecordEntry& e) {
        try {
            Note(e.kind, e.fields);
            return true;
        } catch (const RecordLineUnwritable&) {
            return false;
        }
    };
    TakeInKeptAtRestart(ctx, earlier_, Cat({folder, "\\", kKeptFolderName}), UninstallFolders(ctx, earlier_, folder),
                        note, [&](const std::string& file) { return KeptPath(os, file); });
    return Recording();
}

// The Add/Remove Programs entry, under a stable key name that deployment
// tools can give as the product's code.
bool InstallRecorder::WriteEntry(Context& ctx, const std::string& folder, const std::string& host) {
    auto& os = ctx.os;
    uninstallKey_ = UninstallKey(ctx.state.SystemName);
    const std::string uninstaller = Cat({folder, "\\", kUninstallerName});
    const std::pair<const char*, std::string> strings[] = {
        {"DisplayName", Cat({ctx.state.SystemName, " - Live Update"})},
        {"DisplayVersion", LU_VERSION_TEXT},
        {"Publisher", LU_COMPANY_TEXT},
        {"InstallLocation", host},
        {"UninstallString", Cat({"\"", uninstaller, "\" /uninstall"})},
        {"QuietUninstallString", Cat({"\"", uninstaller, "\" /uninstall /quiet"})},
        {"DisplayIcon", Cat({uninstaller, ",0"})},
        {"InstallDate", DateOf(os.LocalTimestamp())},
    };
    for (const auto& [name, value] : strings)
        if (!os.SetMachineString(uninstallKey_, name, value)) return false;
    return os.SetMachineNumber(uninstallKey_, "NoModify", 1) && os.SetMachineNumber(uninstallKey_, "NoRepair", 1);
}

void InstallRecorder::Note(RecordKind kind, std::vector<std::string> fields, bool onDisk) {
    if (!file_) return;
    if (kind == RecordKind::kShared) earlier_.push_back({kind, fields});  // counted once per product
    if (kind == RecordKind::kPending) {
        waiting_[Upper(fields[0])] = fields[1];
        promised_.insert({Upper(fields[1]), Upper(fields[2])});
    }
    if (file_->WriteLine(FormatRecordLine({kind, std::move(fields)})) && (!onDisk || file_->Flush())) return;
    file_.reset();  // nothing more is written; the uninstall takes back what was begun
    throw RecordLineUnwritable{recordPath_};
}

std::string InstallRecorder::KeptPath(platform::OsServices& os, const std::string& file) {
    return file_ ? UnusedKeptPath(os, folder_, file, nextKept_) : std::string();
}

// The first name of `nameOf` that no file has and no rename at the restart
// uses, though the file may not be there yet (or any more).
std::string InstallRecorder::UnpromisedName(platform::OsServices& os,
                                            const std::function<std::string(int)>& nameOf) const {
    for (int n = 1;; ++n) {
        std::string path = nameOf(n);
        if (!promised_.count(Upper(path)) && os.FindFile(path).empty()) return path;
    }
}

std::string InstallRecorder::WaitingCopyPath(platform::OsServices& os, const std::string& file) {
    return UnpromisedName(os, [&](int n) { return Cat({file, ".", platform::Number(n), kReplacementSuffix}); });
}

std::string InstallRecorder::KeptAtRestartPath(platform::OsServices& os, const std::string& file) {
    if (!file_) return std::string();
    const std::string folder = file.substr(0, file.find_last_of('\\') + 1);
    return UnpromisedName(os, [&](int n) {
        const std::string number = platform::Number(n);
        return Cat({folder, kAsideAtRestartPrefix, std::string(number.size() < 5 ? 5 - number.size() : 0, '0'), number,
                    kAsideAtRestartSuffix});
    });
}

// What an uninstall before this install left promised to the restart.
void InstallRecorder::ReadRestartNames(platform::OsServices& os, const std::string& folder) {
    std::string text;
    if (!os.ReadWholeFile(RestartNamesFile(folder), text)) return;
    for (const std::string& name : WholeLines(text))
        if (!name.empty()) promised_.insert(Upper(name));
}

bool InstallRecorder::ReplacementWaits(platform::OsServices& os, const std::string& path) const {
    return !WaitingCopy(os, path).empty();
}

std::string InstallRecorder::WaitingCopy(platform::OsServices& os, const std::string& path) const {
    const auto waiting = waiting_.find(Upper(path));
    if (waiting != waiting_.end() && !os.FindFile(waiting->second).empty()) return waiting->second;
    // An uninstall's restored copies, or waiting copies, under the names
    // they take in turn: the restart moves the last one in last.
    const auto exists = [&](const std::string& copy) { return !os.FindFile(copy).empty(); };
    for (const char* suffix : {kRestoredSuffix, kReplacementSuffix}) {
        const std::vector<std::string> copies = NumberedCopies(exists, path, suffix);
        if (!copies.empty()) return copies.back();
    }
    return std::string();
}

// The new files whose copy a kill cut short and that no later install has
// touched since (one that did made them whole, or keeps what is there).
void InstallRecorder::NoteCutShortCopies() {
    for (const std::size_t i : CutShortUntouched(earlier_))
        if (earlier_[i].kind == RecordKind::kCreated) cutShortCopies_.insert(Upper(earlier_[i].fields[0]));
}

bool InstallRecorder::CopyCutShort(const std::string& path) const { return cutShortCopies_.count(Upper(path)) != 0; }

bool InstallRecorder::CountedBefore(const std::string& path, uint32_t countNow) const {
    return SharedCounted(earlier_, path, countNow);
}

bool InstallRecorder::CreatedBefore(const std::string& path) const {
    for (const RecordEntry& entry : earlier_)
        if (entry.kind == RecordKind::kCreated && !entry.fields.empty() && Upper(entry.fields[0]) == Upper(path))
            return true;
    return false;
}

void InstallRecorder::End(Context& ctx, int exitCode) {
    if (!file_) return;
    file_->WriteLine(FormatRecordLine({RecordKind::kEnded, {ctx.os.LocalTimestamp(), platform::Number(exitCode)}}));
    ctx.os.SetMachineNumber(uninstallKey_, "EstimatedSize", static_cast<uint32_t>((installedBytes_ + 1023) / 1024));
    file_->Flush();
    file_.reset();
}

}  // namespace setup
