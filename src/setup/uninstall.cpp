#include "setup/uninstall.h"

#include <set>

#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/changes.h"
#include "setup/deploy.h"
#include "setup/event_report.h"
#include "setup/package_seal.h"
#include "setup/paths.h"
#include "setup/system_platform.h"
#include "setup/verify.h"

namespace setup {

using platform::Cat;
using platform::Number;

namespace {

const RecordEntry* NewestBegun(const std::vector<RecordEntry>& record) {
    for (std::size_t i = record.size(); i-- > 0;)
        if (record[i].kind == RecordKind::kBegun) return &record[i];
    return nullptr;
}

// Files of the record's own folder go now, or at the next restart while in
// use (the uninstaller running from there), which needs no restart of its
// own: nothing of the host depends on them.
// The log names the file as `shown` (the path where empty).
void RemoveOwnFile(Context& ctx, const std::string& path, UndoTally& tally, std::string shown = std::string()) {
    if (ctx.os.FindFile(path).empty()) return;
    if (shown.empty()) shown = path;
    switch (DeleteNowOrAtRestart(ctx.os, path)) {
    case Removal::kNow: return ctx.state.Log.Write(shown + ": deleted");
    case Removal::kAtRestart: return ctx.state.Log.Write(shown + ": in use; deleted at the next restart");
    case Removal::kNot:
        ctx.state.Log.Write(shown + ": could not be deleted");
        tally.left.push_back(shown + ": could not be deleted");
    }
}

// Empty now, or once the changes at the next restart are made; no reason
// to restart either way.
void RemoveFolder(Context& ctx, const std::string& folder) {
    if (ctx.os.RemoveEmptyFolder(folder))
        ctx.state.Log.Write(folder + ": removed");
    else if (ctx.os.DeleteAtRestart(folder))
        ctx.state.Log.Write(folder + ": removed at the next restart, if empty then");
    else
        ctx.state.Log.Write(folder + ": left; it is not empty");
}

// A registration asked for after a restart that has not run yet (nobody
// has logged on since) would register the file again, whatever it then
// holds: each such value of the record's goes.
void RemoveRunOnceValues(Context& ctx, const std::vector<RecordEntry>& record, UndoTally& tally) {
    for (const RecordEntry& entry : record) {
        if (entry.kind != RecordKind::kPending || ctx.os.DeleteMachineValue(kRunOnceKey, Field(entry, 0))) continue;
        ++ctx.state.Summary.undoFailures;
        ctx.state.Log.Write(Field(entry, 0) + ": not undone: its registration after the restart could not be withdrawn");
        tally.left.push_back(Field(entry, 0) + ": its registration after the restart could not be withdrawn");
    }
}

// The uninstaller that earlier removals, killed, set aside to be deleted at
// a restart that was never asked: the record folder is this product's. Those
// that went already leave gaps in the numbers: a few past the last are looked at.
void RemoveSetAsideCopies(platform::OsServices& os, const std::string& uninstaller) {
    const auto exists = [&](const std::string& path) { return !os.FindFile(path).empty(); };
    for (const std::string& copy : NumberedCopies(exists, uninstaller, kDeletedSuffix, kNumberGapsPassed))
        os.DeleteFileA(copy);
}

bool GoesBackAtRestart(const UndoTally& tally, const std::string& kept) {
    for (const std::string& path : tally.restoredAtRestart)
        if (platform::UCase(path) == platform::UCase(kept)) return true;
    return false;
}

// The previous content that a restart moved aside beside its file, and that
// did not go back (the file changed since): it is this product's, and goes,
// where the folder rules let the uninstall reach it.
// One a user rewrote since is theirs.
void RemoveKeptBeside(Context& ctx, const std::vector<RecordEntry>& record, std::size_t index, UndoTally& tally) {
    const std::string& path = Field(record[index], 2);
    Sha256Digest digest;
    const bool ours = HashFile(ctx.os, path, digest) && KnownPreviousContent(record, index, ToHex(digest));
    if (ours && WhyOutOfReach(ctx.os, tally.allowed, path).empty() && !GoesBackAtRestart(tally, path))
        RemoveOwnFile(ctx, path, tally);
}

// A kept content goes under another name first: clearing its attributes
// for the delete would otherwise leave, if a kill came between, a kept
// content that a removal run again restores without them. Under that name
// it is no kept content any longer, and only goes.
void RemoveKeptCopy(Context& ctx, const std::string& kept, UndoTally& tally) {
    const std::string aside = UnusedNameBeside(ctx.os, kept, kDeletedSuffix);
    RemoveOwnFile(ctx, ctx.os.MoveFileA(kept, aside) ? aside : kept, tally, kept);
}

// What a removal killed in RemoveKeptCopy left of a kept content.
void RemoveKeptCopiesSetAside(Context& ctx, const std::string& kept, UndoTally& tally) {
    const auto exists = [&](const std::string& path) { return !ctx.os.FindFile(path).empty(); };
    for (const std::string& copy : NumberedCopies(exists, kept, kDeletedSuffix, kNumberGapsPassed))
        RemoveOwnFile(ctx, copy, tally);
}

// The kept contents the record names, below the Kept folder or (moved aside
// at a restart) beside their files, save those that go back at the restart;
// then their folders, deepest first, and the Kept folder itself.
void RemoveKeptContents(Context& ctx, const std::vector<RecordEntry>& record, const std::string& folder,
                        UndoTally& tally) {
    const std::string kept = Cat({folder, "\\", kKeptFolderName});
    std::set<std::string> folders;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const RecordEntry& entry = record[i];
        const std::string& path = Field(entry, entry.kind == RecordKind::kPending ? 2 : 1);
        const bool keeps = entry.kind == RecordKind::kReplaced || entry.kind == RecordKind::kPending;
        if (entry.kind == RecordKind::kPending && !path.empty() && !IsBelow(path, kept))
            RemoveKeptBeside(ctx, record, i, tally);
        if (!keeps || !IsBelow(path, kept)) continue;
        RemoveKeptCopiesSetAside(ctx, path, tally);
        if (!GoesBackAtRestart(tally, path) && !tally.keptStay.count(platform::UCase(path)) &&
            !ctx.os.FindFile(path).empty())
            RemoveKeptCopy(ctx, path, tally);
        for (std::string parent = ParentOf(path); IsBelow(parent, kept); parent = ParentOf(parent))
            folders.insert(parent);
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) RemoveFolder(ctx, *it);
    RemoveFolder(ctx, kept);  // the install made it, whether or not it kept anything
}

}  // namespace

bool ReadInstallRecord(platform::OsServices& os, const std::string& folder, std::vector<RecordEntry>& record) {
    std::string text;
    if (folder.empty() || !os.ReadWholeFile(Cat({folder, "\\", kRecordFileName}), text)) return false;
    record = ParseRecord(text);
    return !RecordedSystemName(record).empty();
}

std::string RecordedSystemName(const std::vector<RecordEntry>& record) {
    const RecordEntry* begun = NewestBegun(record);
    return begun ? Field(*begun, 2) : std::string();
}

std::string RecordedHostFolder(const std::vector<RecordEntry>& record) {
    const RecordEntry* begun = NewestBegun(record);
    return begun ? Field(*begun, 3) : std::string();
}

std::vector<std::string> UninstallFolders(Context& ctx, const std::vector<RecordEntry>& record,
                                          const std::string& recordFolder) {
    std::vector<std::string> allowed = {ctx.state.SystemDirectory, ctx.os.GetProgramsFolder(true),
                                        ctx.os.GetProgramsFolder(false), recordFolder};
    for (const RecordEntry& entry : record)
        if (entry.kind == RecordKind::kBegun) allowed.push_back(Field(entry, 3));
    for (std::string& folder : allowed) folder = WithoutTrailingSeparator(folder);
    return allowed;
}

std::vector<UndoStep> PlanUninstall(Context& ctx, const std::vector<RecordEntry>& record,
                                    const std::vector<std::string>& allowed) {
    MachineWorld world(ctx.os);
    return PlanUndo(record, world, allowed);
}

bool BeginRemoval(Context& ctx, const std::string& folder, UndoTally& tally) {
    tally.record = ctx.os.OpenRecordFile(Cat({folder, "\\", kRecordFileName}));
    const bool begun = tally.record &&
                       tally.record->WriteLine(FormatRecordLine({RecordKind::kRemoving, {ctx.os.LocalTimestamp()}})) &&
                       tally.record->Flush();
    if (!begun) tally.record.reset();
    return begun;
}

void RemoveRecordFolder(Context& ctx, const std::vector<RecordEntry>& record, const std::string& folder,
                        UndoTally& tally) {
    auto& os = ctx.os;
    tally.record.reset();
    if (!tally.keptStay.empty()) {
        RemoveKeptContents(ctx, record, folder, tally);
        ctx.state.Log.Write(Cat({folder, ": kept with the record, for a removal run again: ",
                                 Number(static_cast<long>(tally.keptStay.size())),
                                 " previous contents could not be put back"}));
        return;
    }
    // The record goes last: a removal killed before it is run again, and
    // finishes from it.
    RemoveRunOnceValues(ctx, record, tally);
    RemoveKeptContents(ctx, record, folder, tally);
    const std::string key = UninstallKey(RecordedSystemName(record));
    if (os.DeleteMachineKey(key)) {
        ctx.state.Log.Write("Add/Remove Programs entry removed: HKEY_LOCAL_MACHINE\\" + key);
    } else {
        ++ctx.state.Summary.undoFailures;
        ctx.state.Log.Write("HKEY_LOCAL_MACHINE\\" + key + ": not undone: could not be deleted");
        tally.left.push_back("HKEY_LOCAL_MACHINE\\" + key + ": could not be deleted");
    }
    const std::string uninstaller = Cat({folder, "\\", kUninstallerName});
    RemoveOwnFile(ctx, uninstaller, tally);
    RemoveSetAsideCopies(ctx.os, uninstaller);
    RemoveOwnFile(ctx, Cat({folder, "\\", kRecordFileName}), tally);
    // The names a killed removal kept for the restart go with it, if this
    // removal did not ask that already: before the restart an install may
    // still need them.
    const std::string names = RestartNamesFile(folder);
    if (!tally.restartNamesBegun && !os.FindFile(names).empty() && os.DeleteAtRestart(names))
        ctx.state.Log.Write(names + ": deleted at the next restart");
    const std::string messages = Cat({folder, "\\", kEventMessageFileName});
    if (ctx.os.FindFile(messages).empty()) return RemoveFolder(ctx, folder);
    ctx.state.Log.Write(messages + ": kept, so that the events of this product read in Event Viewer");
}

}  // namespace setup
