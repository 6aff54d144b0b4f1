#include "setup/changes.h"

#include <cstring>

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "setup/deploy.h"
#include "setup/package_seal.h"
#include "setup/paths.h"
#include "setup/progman.h"
#include "setup/system_platform.h"

namespace setup {

using platform::Cat;
using platform::Number;
using platform::Number64;

std::string WhyOutOfReach(platform::OsServices& os, const std::vector<std::string>& allowed, const std::string& path,
                          bool madeNew) {
    bool below = false;
    for (const std::string& folder : allowed) below = below || IsBelow(path, folder);
    if (!below) return "outside the folders this run may change";
    return os.PathThroughLink(madeNew ? ParentOf(path) : path) ? "a link or junction leads to it" : std::string();
}

std::unique_ptr<platform::FolderHold> HoldForChange(platform::OsServices& os, const std::vector<std::string>& allowed,
                                                    const std::string& path, std::string& why, bool madeNew,
                                                    const std::set<std::string>& heldRoots) {
    why = WhyOutOfReach(os, allowed, path, madeNew);
    if (!why.empty()) return nullptr;
    std::string root;
    for (const std::string& folder : allowed)
        if (IsBelow(path, folder) && folder.size() > root.size()) root = folder;
    const std::string folder = ParentOf(path);
    if (!heldRoots.count(platform::UCase(root))) return os.HoldFolders(root, folder, why);
    if (folder.size() <= root.size()) return std::make_unique<platform::FolderHold>();
    const std::string below = folder.substr(0, folder.find('\\', root.size() + 1));
    return os.HoldFolders(below, folder, why);
}

std::string SettingsFileTrouble(platform::OsServices& os, const std::string& path) {
    std::string why;
    return os.OpenChecked(path, why) || why == platform::kFileInUse ? std::string() : why;
}

// The install's decisions, in the order they are made.
InstallStep PlanFile(const FileFacts& facts, const std::string& source, const std::string& destination) {
    InstallStep step;
    step.source = source;
    step.destination = destination;
    step.size = facts.sourceSize;
    step.shared = facts.systemFile;
    if (!facts.sourceFound) return step;
    step.refusal = FileResult::kOutsideHost;
    if (facts.leavesHost) return step;
    if (!facts.exists) {
        step.change = FileChange::kCreate;
    } else if (facts.systemFile) {
        step.change = facts.cutShort ? FileChange::kFinishCutShort : FileChange::kKeep;
    } else if (!facts.held) {
        step.change = FileChange::kReplace;
    } else if (facts.longNameLost) {
        step.refusal = FileResult::kInUse;
        step.trouble = "the restart would leave it under its short name";
    } else {
        step.change = FileChange::kReplaceAtRestart;
    }
    return step;
}

namespace {

// The RunOnce value that registers a host file's content again after the
// restart that puts it back is named by its path and this: not the install's
// own value of the path, which the uninstall removes.
constexpr const char* kAgainAfterRestart = " (the host's, again)";

// What unregistering a type library that is not registered returns.
constexpr int32_t kTypeLibraryNotRegistered = static_cast<int32_t>(0x8002801C);  // TYPE_E_REGISTRYACCESS

void ClearAttributes(platform::OsServices& os, const std::string& path) {
    try {
        os.ClearFileAttributes(path);
    } catch (const platform::RuntimeError&) {
        // there is no such file: what follows tells
    }
}

// Removes a file left by an interrupted run, read-only or not.
void RemoveLeftover(platform::OsServices& os, const std::string& path) {
    try {
        os.ClearFileAttributes(path);
    } catch (const platform::RuntimeError&) {
        return;  // there is none
    }
    os.DeleteFileA(path);
}

std::string DigestOf(platform::OsServices& os, const std::string& path) {
    Sha256Digest digest;
    return HashFile(os, path, digest) ? ToHex(digest) : std::string();
}

// Replaces the destination with the temporary through renames: the old file
// aside, the new one in, the old one removed. False, with the old file back
// in place, when the new one cannot be moved in or the old one cannot be
// removed (a running program can be renamed but not deleted): a file in use
// stays, as a one-step replace leaves it.
bool ReplaceByRenaming(platform::OsServices& os, const std::string& temporary, const std::string& destination) {
    const std::string aside = destination + kSetAsideSuffix;
    RemoveLeftover(os, aside);
    if (!os.MoveFileA(destination, aside)) return false;
    if (!os.MoveFileA(temporary, destination)) {
        os.MoveFileA(aside, destination);
        return false;
    }
    if (os.DeleteFileA(aside)) return true;
    // The old file stays where the new one can take its place only by
    // staying in place itself: it goes at the restart then.
    if (os.MoveFileA(destination, temporary)) {
        if (os.MoveFileA(aside, destination)) return false;
        os.MoveFileA(temporary, destination);
    }
    os.DeleteAtRestart(aside);
    return true;
}

// The install's side: one listed file, each change after its line. A copy
// hashes what it copies, so the source is read once; the digest follows
// in a "copied" line once the content is whole.
struct Making {
    Context& ctx;
    const InstallStep& step;
    FileOutcome& outcome;

    InstallRecorder& Record() { return ctx.state.Record; }

    // Copies the source to `to`, and records what it holds once it is whole.
    // The digest's line is on the disk before a rename puts the copy in place
    // (`renamedLater`); a new file's goes with the next line.
    bool CopyRecorded(const std::string& to, int32_t failIfExists, bool renamedLater = true) {
        std::string digest;
        if (!CopyHashing(ctx.os, step.source, to, failIfExists, digest)) return false;
        Record().Note(RecordKind::kCopied, {step.destination, digest}, renamedLater);
        outcome.digest = digest;
        return true;
    }

    // The previous content's digest, for the record; empty without one. At
    // the restart that is what a copy waiting for the file then puts there.
    // Read beside the program that holds the file open for writing.
    std::string DigestBefore(bool atRestart = false) {
        if (!Record().Recording()) return std::string();
        const std::string waiting = atRestart ? Record().WaitingCopy(ctx.os, step.destination) : std::string();
        const auto file = ctx.os.OpenBesideWriters(waiting.empty() ? step.destination : waiting);
        Sha256Digest digest;
        return file && HashOpenFile(ctx.os, *file, digest) ? ToHex(digest) : std::string();
    }
};

// ---- A new file, and its deletion

// A new file is copied straight to its name: a temporary and a rename
// would cost another new name in the folder for every file. The record has
// its size, so that the uninstall knows a copy that a kill cut short. A
// copy that a killed install began is finished over what it left.
FileResult Create(Making& make, bool overCutShort) {
    make.Record().Note(RecordKind::kCreated, {make.step.destination, "", Number64(make.step.size)});
    make.Record().AddInstalled(make.step.size);
    if (make.CopyRecorded(make.step.destination, overCutShort ? 0 : 1, false)) return FileResult::kCopied;
    return FileResult::kCopyFailed;
}

}  // namespace

// Read-only or not. It is renamed aside first where the system lets a file
// in use be renamed, so that the restart deletes it under a name of its own
// and never a file that a later install puts at its name before the restart.
// `noteAside` learns that name before the rename (false: no rename), so that
// a kill before the restart is asked leaves nothing that no run knows.
Removal DeleteNowOrAtRestart(platform::OsServices& os, const std::string& path,
                             const std::function<bool(const std::string&)>& noteAside) {
    ClearAttributes(os, path);
    if (os.DeleteFileA(path)) return Removal::kNow;
    const std::string aside = UnusedNameBeside(os, path, kDeletedSuffix);
    if ((!noteAside || noteAside(aside)) && os.MoveFileA(path, aside)) {
        if (os.DeleteAtRestart(aside)) return Removal::kAtRestart;
        os.MoveFileA(aside, path);
    }
    return os.DeleteAtRestart(path) ? Removal::kAtRestart : Removal::kNot;
}

namespace {

// ---- A replaced file, and its previous content put back

// Copies the source to the temporary beside the destination. The record
// names the destination before, and the uninstall removes its temporary
// with it, so a kill leaves nothing behind. A read-only leftover of an
// interrupted run is removed first.
bool CopyToTemporary(Making& make, const std::string& temporary) {
    if (make.CopyRecorded(temporary, 0)) return true;
    RemoveLeftover(make.ctx.os, temporary);
    if (make.CopyRecorded(temporary, 0)) return true;
    make.ctx.os.DeleteFileA(temporary);  // in case a partial copy was left behind
    return false;
}

FileResult ReplaceAtRestart(Making& make);

// Replaces an existing file through a temporary copy beside it, so that the
// old file is untouched when the copy fails. Its previous content is kept
// first, for the uninstall. A file found in use only now is replaced at the
// restart.
FileResult Replace(Making& make) {
    auto& os = make.ctx.os;
    const std::string& destination = make.step.destination;
    const std::string temporary = destination + kReplacementSuffix;
    const std::string kept = make.Record().KeptPath(os, destination);
    // What is kept is read through a handle that keeps writers out, checked
    // to be no link and the file's only name: an administrator's run never
    // keeps what a link leads to. A file held open without sharing waits
    // for the restart.
    std::string why;
    auto previous = kept.empty() ? nullptr : os.OpenChecked(destination, why);
    if (!kept.empty() && !previous) {
        if (why == platform::kFileInUse) return ReplaceAtRestart(make);
        make.outcome.trouble = why.empty() ? "it is gone" : why;
        return FileResult::kCopyFailed;
    }
    if (previous) {
        Sha256Digest digest;
        const std::string before = HashOpenFile(os, *previous, digest) ? ToHex(digest) : std::string();
        make.Record().Note(RecordKind::kReplaced, {destination, kept, before, "", Number64(make.step.size)});
        make.Record().AddInstalled(make.step.size);
    }
    if (!CopyToTemporary(make, temporary)) return FileResult::kCopyFailed;
    // A copy, not a rename: a running program's file can be renamed on the
    // NT family, and a file in use must stay where it is. The copy keeps its
    // attributes, which the uninstall gives back with it, and is on the disk
    // before the file changes.
    if (previous && !previous->CopyTo(kept)) {
        previous.reset();
        os.DeleteFileA(temporary);
        return os.FileInUse(destination) ? ReplaceAtRestart(make) : FileResult::kCopyFailed;
    }
    previous.reset();  // closed before the rename over it
    os.ClearFileAttributes(destination);
    if (MoveIntoPlace(os, temporary, destination)) return FileResult::kReplaced;
    os.DeleteFileA(temporary);
    if (!kept.empty()) os.CopyFileAttributes(kept, destination);  // untouched till the restart
    return ReplaceAtRestart(make);
}

// ---- A replacement at the restart, and its withdrawal

// The previous content moves aside before the new one moves in; when the
// second rename can't be asked for, the first is followed by its reverse.
bool ScheduleReplacement(platform::OsServices& os, const std::string& waiting, const std::string& kept,
                         const std::string& destination) {
    if (!kept.empty() && !os.MoveAtRestart(destination, kept)) return false;
    if (os.MoveAtRestart(waiting, destination)) return true;
    if (!kept.empty()) os.MoveAtRestart(kept, destination);
    return false;
}

// A removal before asked the next logon to register the host's content of
// the file again: once the restart moves the new content in, that command
// registers it instead, so the new content counts as registered from the
// moment its move is asked, whatever becomes of this run.
void NoteRegistrationAtLogon(Making& make) {
    const std::string& path = make.step.destination;
    std::string command;
    if (!make.ctx.os.GetMachineString(kRunOnceKey, path + kAgainAfterRestart, command)) return;
    const std::string how = RegistrationKindOfFile(path);
    if (!how.empty()) make.Record().Note(RecordKind::kRegistered, {how, path});
}

// A file that a program holds is replaced when Windows next starts, before
// any program can hold it: the new content waits beside it under a name of
// its own, and at the restart the previous content moves aside beside it
// (kept for the uninstall: a rename at the restart cannot cross volumes, so
// both stay on the file's own) and the new one into its place. Until then
// nothing of the file changes, its attributes included: a read-only file
// can be renamed.
FileResult ReplaceAtRestart(Making& make) {
    auto& os = make.ctx.os;
    const std::string& destination = make.step.destination;
    const std::string waiting = make.Record().WaitingCopyPath(os, destination);
    // A file an earlier run asked the restart to delete is gone before the
    // new one moves in: nothing is moved aside, and the file is a new one.
    const bool gone = os.GoneAtRestart(destination);
    const std::string kept = gone ? std::string() : make.Record().KeptAtRestartPath(os, destination);
    // What the restart moves aside is what waits for it already, if that
    // is moved in first, or else what is there now: both are recorded.
    const std::string waitingBefore = gone ? kNoPreviousContent : make.DigestBefore(true);
    const std::string now = make.DigestBefore();
    make.Record().Note(RecordKind::kPending,
                       {destination, waiting, kept, waitingBefore, "", now == waitingBefore ? std::string() : now,
                        Number64(make.step.size)});
    make.Record().AddInstalled(make.step.size);
    if (!make.CopyRecorded(waiting, 1)) {
        os.DeleteFileA(waiting);  // in case a partial copy was left behind
        return FileResult::kCopyFailed;
    }
    NoteRegistrationAtLogon(make);
    if (!ScheduleReplacement(os, waiting, kept, destination)) {
        os.DeleteFileA(waiting);
        make.outcome.trouble = "the system took no replacement at the restart";
        return FileResult::kInUse;
    }
    make.outcome.waiting = waiting;
    ++make.ctx.state.Summary.replacedAtRestart;
    return FileResult::kAtRestart;
}

// ---- A previous content moved aside at the restart, taken in

// Whether a removal withdrew the replacement: then the restart moves the
// previous content back, and nothing beside the file is to be taken in.
bool Withdrawn(const std::vector<RecordEntry>& record, const RecordEntry& pending) {
    for (const RecordEntry& e : record)
        if (e.kind == RecordKind::kRestoring && platform::UCase(Field(e, 0)) == platform::UCase(Field(pending, 0)) &&
            platform::UCase(Field(e, 1)) == platform::UCase(Field(pending, 2)))
            return true;
    return false;
}

// Takes one in: its `moved` line, or none (kind kPending) when it stays where it is.
RecordEntry TakeIn(Context& ctx, const std::vector<RecordEntry>& record, std::size_t index,
                   const std::vector<std::string>& allowed, const std::function<bool(const RecordEntry&)>& note,
                   const std::string& destination) {
    const RecordEntry none{RecordKind::kPending, {}};
    const RecordEntry& pending = record[index];
    auto& os = ctx.os;
    const std::string& aside = Field(pending, 2);
    std::string why;
    const auto hold = HoldForChange(os, allowed, aside, why);
    auto file = hold ? os.OpenChecked(aside, why) : nullptr;
    Sha256Digest digest;
    if (!file || !HashOpenFile(os, *file, digest)) return none;
    if (!KnownPreviousContent(record, index, ToHex(digest))) {
        ctx.state.Log.Write(Cat({aside, ": not taken in: it no longer holds what ", Field(pending, 0), " held"}));
        return none;
    }
    // A copy a kill leaves without its `moved` line is a temporary.
    const RecordEntry moved{RecordKind::kMoved, {aside, destination, ToHex(digest)}};
    if (!note({RecordKind::kTemporary, {destination, ToHex(digest), Number64(file->Size())}})) return none;
    if (!file->CopyTo(destination)) return none;
    if (!note(moved)) {
        os.DeleteFileA(destination);
        return none;
    }
    file.reset();            // the open file can't be deleted
    ClearAttributes(os, aside);
    os.DeleteFileA(aside);  // its folders still held: the name is in the folder checked
    ctx.state.Log.Write(Cat({aside, ": taken into ", destination}));
    return moved;
}

// The keys from the classes root down to `key` that are not there yet,
// each made after its line.
bool MakeKeys(Context& ctx, const std::string& key) {
    auto& os = ctx.os;
    for (std::size_t at = std::strlen(kClassesKey); at != std::string::npos; at = key.find('\\', at + 1)) {
        const std::string upTo = key.substr(0, key.find('\\', at + 1));
        if (os.MachineKeyExists(upTo)) continue;
        ctx.state.Record.Note(RecordKind::kKey, {upTo});
        if (!os.CreateMachineKey(upTo)) return false;
    }
    return true;
}

}  // namespace

bool WriteClassValues(Context& ctx, const std::string& destination, const std::vector<ClassValue>& values,
                      std::string& why) {
    auto& os = ctx.os;
    std::string shortPath;
    const uint32_t length = os.GetShortPathNameA(destination, shortPath, 260);
    if (length == 0 || length >= 260) shortPath = destination;
    for (const ClassValue& value : values) {
        const std::string key = Cat({kClassesKey, "\\", value.key});
        if (!MakeKeys(ctx, key)) return why = "HKEY_LOCAL_MACHINE\\" + key + " could not be made", false;
        if (value.type == ValueType::kNone) continue;
        platform::RegistryValue before;
        const bool had = os.GetMachineValue(key, value.name, before);
        const platform::RegistryValue after = RegistryValueOf(value, destination, shortPath);
        ctx.state.Record.Note(RecordKind::kValue,
                              {key, value.name, had ? Number(static_cast<long>(before.type)) : std::string(),
                               had ? HexBytes(before.data) : std::string(), Number(static_cast<long>(after.type)),
                               HexBytes(after.data)});
        if (!os.SetMachineValue(key, value.name, after))
            return why = ClassValueName(key, value.name) + " could not be written", false;
    }
    return true;
}

bool NoteRemovalLine(UndoTally& tally, const RecordEntry& line) {
    platform::RecordFile* record = tally.record.get();
    return !record || (record->WriteLine(FormatRecordLine(line)) && record->Flush());
}

void TakeInKeptAtRestart(Context& ctx, std::vector<RecordEntry>& record, const std::string& keptFolder,
                         const std::vector<std::string>& allowed, const std::function<bool(const RecordEntry&)>& note,
                         const std::function<std::string(const std::string&)>& keptPath) {
    std::vector<RecordEntry> moves;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const RecordEntry& e = record[i];
        const std::string& aside = Field(e, 2);
        if (e.kind != RecordKind::kPending || aside.empty() || IsBelow(aside, keptFolder)) continue;
        if (!ctx.os.FindFile(Field(e, 1)).empty() || ctx.os.FindFile(aside).empty() || Withdrawn(record, e)) continue;
        const std::string destination = keptPath(Field(e, 0));
        if (destination.empty()) continue;
        RecordEntry moved = TakeIn(ctx, record, i, allowed, note, destination);
        if (moved.kind == RecordKind::kMoved) moves.push_back(std::move(moved));
    }
    for (const RecordEntry& moved : moves) TakeMoved(record, moved);
}

namespace {

// ---- A system file: kept, or counted as shared, and the count lowered

// A file in the system directory is shared with other programs: its count
// goes up once for this product, from 2 when it was there without one (an
// unknown earlier owner, and this product) unless an earlier install of
// this product made it (a removal killed before it deleted the file).
void RaiseShared(Context& ctx, const std::string& path, FileResult result) {
    auto& record = ctx.state.Record;
    uint32_t count = 0;
    if (!ctx.os.GetMachineNumber(kSharedDllsKey, path, count)) count = 0;
    if (!record.Recording() || record.CountedBefore(path, count)) return;
    record.Note(RecordKind::kShared, {path, Number(static_cast<long>(count))});
    const bool unknownOwner = count == 0 && result == FileResult::kKept && !record.CreatedBefore(path);
    const uint32_t raised = unknownOwner ? 2 : count + 1;
    ctx.os.SetMachineNumber(kSharedDllsKey, path, raised);
}

FileResult Keep(Making& make) {
    make.Record().Note(RecordKind::kKept, {make.step.destination});
    return FileResult::kKept;
}

FileResult Make(Making& make) {
    switch (make.step.change) {
    case FileChange::kCreate: return Create(make, false);
    case FileChange::kFinishCutShort: return Create(make, true);
    case FileChange::kKeep: return Keep(make);
    case FileChange::kReplace: return Replace(make);
    case FileChange::kReplaceAtRestart: return ReplaceAtRestart(make);
    case FileChange::kNone: break;
    }
    make.outcome.trouble = make.step.trouble;
    return make.step.refusal;
}

// ---- The uninstall's side: one step of the plan, each logged

class Undoing {
public:
    Undoing(Context& ctx, MainWindow& window, UndoTally& tally) : ctx_(ctx), window_(window), tally_(tally) {}

    // The step's folders are held from their check until it is done.
    void CarryOut(const UndoStep& step) {
        std::vector<std::unique_ptr<platform::FolderHold>> holds;
        for (const std::string* path : PathsOf(step)) {
            if (path->empty()) continue;
            if (step.action == UndoAction::kRemoveShortcut) {
                if (!MayChange(*path)) return;  // its folder may go with it: not held
                continue;
            }
            std::string why;
            holds.push_back(HoldForChange(ctx_.os, tally_.allowed, *path, why));
            if (!holds.back()) return Failed(*path, why);
        }
        if (IsSetting(step.action) && !SettingsFileChecked(step.path)) return;
        switch (step.action) {
        case UndoAction::kRemoveTemporary:
        case UndoAction::kDelete: return Delete(step.path);
        case UndoAction::kRestore: return Restore(step.path, step.other);
        case UndoAction::kUnregister: return Unregister(step.path, step.other, step.value, step.perhapsNotMade);
        case UndoAction::kRegisterAgain: return RegisterAgain(step.path, step.other, step.value);
        case UndoAction::kSetSetting: return SetSetting(step);
        case UndoAction::kRemoveSetting: return RemoveSetting(step);
        case UndoAction::kLowerShared:
        case UndoAction::kRemoveShared: return LowerShared(step);
        case UndoAction::kSetValue:
        case UndoAction::kRemoveValue: return PutValueBack(step);
        case UndoAction::kRemoveKey: return RemoveKey(step.path);
        case UndoAction::kRemoveShortcut: return RemoveShortcut(step.path);
        case UndoAction::kRemoveProgramItem: return RemoveProgramItem(step.path, step.key);
        case UndoAction::kWithdrawReplacement: return Withdraw(step);
        case UndoAction::kLeave: return Leave(step.path, step.other);
        }
    }

private:
    // The files and folders the step changes or reads back into the host.
    static std::vector<const std::string*> PathsOf(const UndoStep& step) {
        switch (step.action) {
        case UndoAction::kRestore: return {&step.path, &step.other};
        case UndoAction::kWithdrawReplacement: return {&step.path, &step.other, &step.value};
        case UndoAction::kRemoveProgramItem:
        case UndoAction::kSetValue:
        case UndoAction::kRemoveValue:
        case UndoAction::kRemoveKey:
        case UndoAction::kLeave: return {};
        default: return {&step.path};
        }
    }

    static bool IsSetting(UndoAction action) {
        return action == UndoAction::kSetSetting || action == UndoAction::kRemoveSetting;
    }

    bool SettingsFileChecked(const std::string& path) {
        const std::string why = SettingsFileTrouble(ctx_.os, path);
        if (why.empty()) return true;
        Failed(path, why);
        return false;
    }

    bool MayChange(const std::string& path) {
        const std::string why = WhyOutOfReach(ctx_.os, tally_.allowed, path);
        if (why.empty()) return true;
        Failed(path, why);
        return false;
    }

    void Log(const std::string& line) { ctx_.state.Log.Write(line); }

    void AtRestart(const std::string& line) {
        ctx_.state.Summary.restartNeeded = true;
        Log(line);
    }

    void Failed(const std::string& what, const std::string& why) {
        ++ctx_.state.Summary.undoFailures;
        Log(Cat({what, ": not undone: ", why}));
        tally_.left.push_back(Cat({what, ": ", why}));
    }

    void Leave(const std::string& path, const std::string& why) {
        Log(Cat({path, ": left as it is: ", why}));
        tally_.left.push_back(Cat({path, ": ", why}));
    }

    // The undoing of Create (and of a temporary a kill left).
    void Delete(const std::string& path) {
        WithdrawRestore(path);
        const auto noteAside = [&](const std::string& aside) {
            return Note(RecordKind::kTemporary, {aside, DigestOf(ctx_.os, path)});
        };
        switch (DeleteNowOrAtRestart(ctx_.os, path, noteAside)) {
        case Removal::kNow: return Log(path + ": deleted");
        case Removal::kAtRestart: return AtRestart(path + ": in use; deleted at the next restart");
        case Removal::kNot: return Failed(path, "could not be deleted");
        }
    }

    // The undoing of Replace: the kept content, attributes and all, goes
    // back through a checked copy beside the file, whatever volume each is
    // on. In use, the copy replaces the file at the restart. The kept one
    // stays till the removal's end, when every restored byte is on the
    // disk; it stays for another removal when it could not be put back.
    void Restore(const std::string& path, const std::string& kept) {
        auto& os = ctx_.os;
        const std::string copy = CheckedCopyBeside(kept, path);
        if (copy.empty()) return KeepFailed(path, kept, "its previous content could not be copied back from " + kept);
        ClearAttributes(os, path);
        // A file a killed install left set aside is not at its name: the copy
        // is simply renamed there.
        if (os.MoveFileA(copy, path) || MoveIntoPlace(os, copy, path)) return Log(Cat({path, ": restored from ", kept}));
        // The copy is no leftover once the restart is asked to take it.
        if (Note(RecordKind::kRestoring, {path, copy}) && os.MoveAtRestart(copy, path)) {
            tally_.restoresAtRestart[platform::UCase(path)].push_back(copy);
            return AtRestart(Cat({path, ": in use; restored from ", kept, " at the next restart, from ", copy}));
        }
        ClearAttributes(os, copy);
        os.DeleteFileA(copy);
        KeepFailed(path, kept, "its previous content could not be put back from " + kept);
    }

    void KeepFailed(const std::string& path, const std::string& kept, const std::string& why) {
        tally_.keptStay.insert(platform::UCase(kept));
        Failed(path, why);
    }

    // A copy of the kept content beside the file, read from a held handle
    // and checked against it: a rename could not cross from the record
    // folder to a host on another volume, and the copy then waits on the
    // file's own volume, where the restart can rename it. Its record line
    // comes first, so a removal killed meanwhile leaves nothing that the
    // next one does not know. Empty when no whole copy could be made.
    std::string CheckedCopyBeside(const std::string& kept, const std::string& path) {
        auto& os = ctx_.os;
        std::string why;
        Sha256Digest digest;
        const auto source = os.OpenChecked(kept, why);
        if (!source || !HashOpenFile(os, *source, digest)) return std::string();
        const std::string expected = ToHex(digest);
        const std::string copy = UnusedNameBeside(os, path, kRestoredSuffix);
        if (!Note(RecordKind::kTemporary, {copy, expected, Number64(source->Size())})) return std::string();
        if (source->CopyTo(copy) && DigestOf(os, copy) == expected) return copy;
        ClearAttributes(os, copy);
        os.DeleteFileA(copy);
        return std::string();
    }

    // The removal's own line, on the disk before its change; false, with
    // nothing changed, when it cannot be written.
    bool Note(RecordKind kind, std::vector<std::string> fields) {
        return NoteRemovalLine(tally_, {kind, std::move(fields)});
    }

    // A previous content this removal put back at the restart, of a file it
    // now deletes (an older install created it): the copy goes, so that the
    // restart finds nothing to rename into place.
    void WithdrawRestore(const std::string& path) {
        const auto waiting = tally_.restoresAtRestart.find(platform::UCase(path));
        if (waiting == tally_.restoresAtRestart.end()) return;
        for (const std::string& copy : waiting->second) {
            ClearAttributes(ctx_.os, copy);
            ctx_.os.DeleteFileA(copy);
        }
        tally_.restoresAtRestart.erase(waiting);
    }

    // The undoing of ReplaceAtRestart before the restart: the registration
    // after the restart goes, and so does the waiting copy, now. The renames
    // the install asked for can't be withdrawn, and a kill may have come
    // before either: so at the restart, after them, the previous content
    // moves back over whatever is in place (if it was moved aside), and the
    // file ends as it was whichever renames were asked. That move is asked
    // before the copy goes, so that no kill leaves the restart a file moved
    // aside and nothing in its place. The names both renames use are kept
    // for the restart first (KeepForRestart), so that no install before it
    // takes the waiting copy's name for a copy of its own, which the rename
    // asked for would move in first.
    void Withdraw(const UndoStep& step) {
        auto& os = ctx_.os;
        if (!KeepForRestart({step.other, step.value}))
            return Failed(step.path, "the names its renames at the next restart use could not be kept in " +
                                         tally_.restartNamesFile);
        // Once its copy is gone, only this line tells a removal run again
        // that the withdrawal was begun.
        if (!step.value.empty() && !Note(RecordKind::kRestoring, {step.path, step.value}))
            return Failed(step.path, "the record could not take the line of its withdrawal");
        if (!step.value.empty()) {
            if (!os.MoveAtRestart(step.value, step.path))
                return Failed(step.path, "it would move to " + step.value + " at the next restart");
            tally_.restoredAtRestart.push_back(step.value);
        }
        ClearAttributes(os, step.other);
        if (!os.DeleteFileA(step.other) && !os.FindFile(step.other).empty())
            return Failed(step.path, "its replacement waiting in " + step.other + " could not be withdrawn");
        os.DeleteMachineValue(kRunOnceKey, step.path);
        Log(step.path + ": its replacement at the next restart withdrawn");
    }

    // Adds the names to the record folder's list of names the restart still
    // uses, flushed before the change that frees them; the restart deletes
    // the list, after its renames, before the folder.
    bool KeepForRestart(const std::vector<std::string>& names) {
        auto& os = ctx_.os;
        const std::string& path = tally_.restartNamesFile;
        const auto file = path.empty() ? nullptr : os.OpenRecordFile(path);
        bool kept = file != nullptr;
        for (const std::string& name : names) kept = kept && (name.empty() || file->WriteLine(name));
        if (!kept || !file->Flush()) return false;
        if (tally_.restartNamesBegun) return true;
        tally_.restartNamesBegun = os.DeleteAtRestart(path);
        if (tally_.restartNamesBegun) Log(path + ": the names the restart still uses, kept till then");
        return tally_.restartNamesBegun;
    }

    // A class value as it was before the install: its bytes back, or gone.
    void PutValueBack(const UndoStep& step) {
        const std::string what = ClassValueName(step.path, step.key);
        const platform::RegistryValue before = RecordedValue(Number(static_cast<long>(step.count)), step.value);
        const bool done = step.action == UndoAction::kSetValue ? ctx_.os.SetMachineValue(step.path, step.key, before)
                                                               : ctx_.os.DeleteMachineValue(step.path, step.key);
        if (!done) return Failed(what, "could not be written");
        Log(what + (step.action == UndoAction::kSetValue ? ": back as it was" : ": removed"));
    }

    void RemoveKey(const std::string& key) {
        if (!ctx_.os.RemoveEmptyMachineKey(key)) return Log("HKEY_LOCAL_MACHINE\\" + key + ": left; it holds more");
        Log("HKEY_LOCAL_MACHINE\\" + key + ": removed");
    }

    // The undoing of RaiseShared, after its line: a removal killed after it
    // and run again finds the count lowered, and lowers it no further.
    void LowerShared(const UndoStep& step) {
        const bool remove = step.action == UndoAction::kRemoveShared;
        if (!Note(RecordKind::kLowered, {step.path, Number(static_cast<long>(step.count + 1)),
                                         Number(static_cast<long>(step.count))}))
            return Failed(step.path, "the record could not take the line of its shared-file count");
        const bool done = remove ? ctx_.os.DeleteMachineValue(kSharedDllsKey, step.path)
                                 : ctx_.os.SetMachineNumber(kSharedDllsKey, step.path, step.count);
        if (!done) return Failed(step.path, "its shared-file count could not be lowered");
        Log(remove ? step.path + ": shared-file count removed"
                   : Cat({step.path, ": shared-file count lowered to ", Number(step.count)}));
    }

    // What runs or loads the file as an administrator is checked on a handle
    // that keeps writers out until it is done: the file must hold what the
    // plan saw (`digest`, when the plan gives one). Null, with the failure
    // counted, otherwise.
    std::unique_ptr<platform::InputFile> HeldAsPlanned(const std::string& path, const std::string& digest) {
        if (auto held = HoldIfItHolds(ctx_.os, path, digest)) return held;
        Failed(path, "not run: it changed since the removal looked at it");
        return nullptr;
    }

    // The undoing of a registration (deploy.cpp's queue). A file in use gets
    // back the content the plan saw only at the restart: the copy of it that
    // waits beside the file is unregistered instead. A type library that a
    // killed install may not have registered yet may not be.
    void Unregister(const std::string& file, const std::string& how, const std::string& digest,
                    bool perhapsNotMade) {
        const std::string path = HolderNow(file, digest);
        const auto held = HeldAsPlanned(path, digest);
        if (!held) return;
        if (how == kByTypeLibrary) {
            const int32_t result = ctx_.os.UnregisterTypeLibrary(platform::AnsiToWide(path));
            if (result == 0) return Log(path + ": unregistered with the type-library calls");
            if (perhapsNotMade && result == kTypeLibraryNotRegistered)
                return Log(path + ": not registered; a killed run never registered it, or unregistered it");
            return Failed(path, Cat({"the type-library unregistration failed (", Number(result), ")"}));
        }
        const std::string command = RegistrationCommand(ctx_, how, path, true);
        if (command.empty()) return Failed(path, "registered in a way this version does not know: " + how);
        if (!MayRunCode(path)) return;
        std::string outcome;
        if (RunToEnd(command, outcome)) return Log(Cat({path, ": unregistered (", outcome, ")"}));
        Failed(path, "could not unregister: " + outcome);
    }

    // Where the content is that the file holds once the restart is done: a
    // copy this removal, or an earlier one, left waiting to be restored
    // there, when it holds that content; else the file itself.
    std::string HolderNow(const std::string& path, const std::string& digest) {
        if (digest.empty()) return path;
        const auto waiting = tally_.restoresAtRestart.find(platform::UCase(path));
        const auto exists = [&](const std::string& copy) { return !ctx_.os.FindFile(copy).empty(); };
        const std::vector<std::string> copies = waiting != tally_.restoresAtRestart.end()
                                                    ? waiting->second
                                                    : NumberedCopies(exists, path, kRestoredSuffix, kNumberGapsPassed);
        for (const std::string& copy : copies)
            if (DigestOf(ctx_.os, copy) == digest) return copy;
        return path;
    }

    // The host's own content, back in place, registered again the way ours
    // was. Where it goes back only at the restart (the file in use), a type
    // library is registered now from the copy that waits, for the file's
    // path, and a program's registration runs once at the next logon.
    void RegisterAgain(const std::string& path, const std::string& how, const std::string& digest) {
        const std::string holder = HolderNow(path, digest);
        const auto held = HeldAsPlanned(holder, digest);
        if (!held) return;
        const bool waits = holder != path;
        if (how == kByTypeLibrary) {
            if (RegisterTypeLibraryResult(ctx_, Quoted(path), waits ? holder : std::string()) ==
                TypeLibResult::kRegistered)
                return Log(path + ": the host's content registered again with the type-library calls");
            return Failed(path, "the host's content could not be registered again with the type-library calls");
        }
        const std::string command = RegistrationCommand(ctx_, how, path, false);
        if (!command.empty() && !MayRunCode(holder)) return;
        if (waits && !command.empty() && ctx_.os.SetMachineString(kRunOnceKey, path + kAgainAfterRestart, command))
            return Log(Cat({path, ": the host's content registered again at the next logon (", command, ")"}));
        std::string outcome;
        if (!waits && !command.empty() && RunToEnd(command, outcome))
            return Log(Cat({path, ": the host's content registered again (", outcome, ")"}));
        Failed(path, "the host's content could not be registered again: " + outcome);
    }

    // Whether a registration program may run the file's code; false, with
    // the failure counted and the reason and the way out logged, when not.
    bool MayRunCode(const std::string& file) {
        const std::string trouble = CodeRunTrouble(ctx_.os, file);
        if (trouble.empty()) return true;
        Failed(file, Cat({"not run: ", trouble, kCodeRunAdvice}));
        return false;
    }

    // Started in the system folder and waited for, processing the window's
    // messages, as long as a registration may take.
    bool RunToEnd(const std::string& command, std::string& outcome) {
        auto& os = ctx_.os;
        platform::ProgramHandle program = nullptr;
        try {
            program = os.RunProgram(command, platform::kWindowStyleMinimizedFocus, ctx_.state.SystemDirectory);
        } catch (const platform::RuntimeError& e) {
            outcome = Cat({command, " did not start (error ", Number(e.Number()), ", ", e.Description(), ")"});
            return false;
        }
        const uint32_t startedAt = os.TickCount();
        uint32_t code = 0;
        while (!os.ProgramEnded(program, code)) {
            if (os.TickCount() - startedAt >= kRegistrationLimitMs) {
                os.CloseProgram(program);  // left running
                outcome = Cat({command, " still running after ", Number(kRegistrationLimitMs / 1000),
                               " s; result unknown"});
                return false;
            }
            ctx_.rt.WaitForProgramsOrInput({program}, kRegistrationPollMs);
        }
        os.CloseProgram(program);
        outcome = Cat({command, " ended with ", Number(code)});
        return code == 0;
    }

    static std::string SettingName(const UndoStep& step) {
        return Cat({"[", step.other, "] ", step.key, " in ", step.path});
    }

    // The undoing of the settings write (ini_file.cpp's WriteIniString): the
    // value before goes back, or the value goes.
    void SetSetting(const UndoStep& step) {
        if (ctx_.os.WritePrivateProfileStringA(step.other, step.key, step.value, step.path))
            return Log(Cat({"Settings: ", SettingName(step), ": back to ", step.value}));
        Failed(step.path, Cat({"[", step.other, "] ", step.key, " could not be written back"}));
    }

    // A section the install made goes too, once nothing else is in it.
    void RemoveSetting(const UndoStep& step) {
        auto& os = ctx_.os;
        if (!os.RemovePrivateProfileEntry(step.other, step.key, step.path))
            return Failed(step.path, Cat({"[", step.other, "] ", step.key, " could not be removed"}));
        Log(Cat({"Settings: ", SettingName(step), ": removed"}));
        if (!step.sectionMade || !os.PrivateProfileSectionEmpty(step.other, step.path)) return;
        if (os.RemovePrivateProfileEntry(step.other, std::string(), step.path))
            return Log(Cat({"Settings: [", step.other, "] in ", step.path, ": empty section removed"}));
        Failed(step.path, Cat({"the empty section [", step.other, "] could not be removed"}));
    }

    // The undoing of the Start-menu shortcut (progman.cpp): the link's
    // folder goes when the link was the last thing in it, or empty without
    // it (an install killed before it wrote the link); the Programs folders
    // themselves always stay.
    void RemoveShortcut(const std::string& link) {
        auto& os = ctx_.os;
        if (os.FindFile(link).empty())
            Log("Start menu: " + link + ": already gone");
        else
            Delete(link);
        const std::string folder = ParentOf(link);
        const std::string programs[] = {os.GetProgramsFolder(true), os.GetProgramsFolder(false)};
        for (const std::string& top : programs)
            if (platform::UCase(WithoutTrailingSeparator(top)) == platform::UCase(folder)) return;
        if (!folder.empty() && os.RemoveEmptyFolder(folder)) Log("Start menu: " + folder + ": removed");
    }

    // The undoing of the Program Manager item; failures of the conversation
    // are logged and ignored.
    void RemoveProgramItem(const std::string& group, const std::string& item) {
        Log(Cat({"Program Manager: removing ", item, " from ", group, ", and the group if nothing else is in it"}));
        PerformDDE(ctx_, window_, group, std::string(), item, kDeleteItemAndGroup);
    }

    Context& ctx_;
    MainWindow& window_;
    UndoTally& tally_;
};

}  // namespace

FileResult MakeFileChange(Context& ctx, const std::vector<std::string>& allowed, const InstallStep& step,
                          FileOutcome& outcome, const std::set<std::string>& heldRoots) {
    Making make{ctx, step, outcome};
    std::unique_ptr<platform::FolderHold> hold;  // till the file's change is done
    if (step.change != FileChange::kNone) {
        // Under Wine, looking up a name that is not there costs a read of
        // the whole folder: a new file's own name is not looked up twice.
        std::string why;
        hold = HoldForChange(ctx.os, allowed, step.destination, why, step.change == FileChange::kCreate, heldRoots);
        if (!hold) {
            outcome.trouble = why;
            return FileResult::kOutsideHost;
        }
    }
    const FileResult result = Make(make);
    if (step.shared && Arrived(result)) RaiseShared(ctx, step.destination, result);
    return result;
}

void CarryOut(Context& ctx, MainWindow& window, const UndoStep& step, UndoTally& tally) {
    Undoing(ctx, window, tally).CarryOut(step);
}

// The 95 family's one-step call is always a stub, so it is not asked there.
bool MoveIntoPlace(platform::OsServices& os, const std::string& temporary, const std::string& destination) {
    const platform::MoveResult moved =
        IsWin9X(os) ? platform::MoveResult::kNotSupported : os.MoveFileReplaceA(temporary, destination);
    if (moved == platform::MoveResult::kNotSupported) return ReplaceByRenaming(os, temporary, destination);
    return moved == platform::MoveResult::kMoved;
}

std::string UnusedNameBeside(platform::OsServices& os, const std::string& path, const char* suffix) {
    std::string name;
    for (long n = 1; name.empty() || !os.FindFile(name).empty(); ++n) name = Cat({path, ".", Number(n), suffix});
    return name;
}

}  // namespace setup
