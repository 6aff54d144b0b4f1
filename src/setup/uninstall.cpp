#include "setup/uninstall.h"

#include <set>

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "setup/deploy.h"
#include "setup/ini_file.h"
#include "setup/package_seal.h"
#include "setup/paths.h"
#include "setup/progman.h"
#include "setup/system_platform.h"

namespace setup {

using platform::Cat;
using platform::Number;

namespace {

const std::string& Field(const RecordEntry& entry, std::size_t index) {
    static const std::string kNone;
    return index < entry.fields.size() ? entry.fields[index] : kNone;
}

const RecordEntry* NewestBegun(const std::vector<RecordEntry>& record) {
    for (std::size_t i = record.size(); i-- > 0;)
        if (record[i].kind == RecordKind::kBegun) return &record[i];
    return nullptr;
}

std::string ParentOf(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string WithoutTrailingSeparator(std::string folder) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}



// What unregistering a type library that is not registered returns.
constexpr int32_t kTypeLibraryNotRegistered = static_cast<int32_t>(0x8002801C);  // TYPE_E_REGISTRYACCESS

// What the planner needs to know of the machine now.
class MachineWorld : public UndoWorld {
public:
    explicit MachineWorld(platform::OsServices& os) : os_(os) {}

    // Read beside any program that holds the file open for writing: a file
    // in use is there, not gone.
    std::string FileDigest(const std::string& path) override {
        const auto file = os_.OpenBesideWriters(path);
        Sha256Digest digest;
        return file && HashOpenFile(os_, *file, digest) ? ToHex(digest) : std::string();
    }

    bool SettingValue(const std::string& file, const std::string& section, const std::string& key,
                      std::string& value) override {
        return ReadIniValue(os_, file, section, key, value);
    }

    uint64_t FileSize(const std::string& path) override {
        const auto file = os_.OpenBesideWriters(path);
        return file ? file->Size() : 0;
    }

    uint32_t SharedCount(const std::string& path) override {
        uint32_t count = 0;
        return os_.GetMachineNumber(kSharedDllsKey, path, count) ? count : 0;
    }

private:
    platform::OsServices& os_;
};

// The rule every path an uninstall changes keeps, checked as it acts: below
// one of the allowed folders, and no link or junction on the way. Empty when
// the path may be changed; otherwise why not.
std::string WhyOutOfReach(platform::OsServices& os, const std::vector<std::string>& allowed, const std::string& path) {
    bool below = false;
    for (const std::string& folder : allowed) below = below || IsBelow(path, folder);
    if (!below) return "outside the folders an uninstall may change";
    return os.PathThroughLink(path) ? "a link or junction leads to it" : std::string();
}

enum class Removal { kNow, kAtRestart, kNot };

void ClearAttributes(platform::OsServices& os, const std::string& path) {
    try {
        os.ClearFileAttributes(path);
    } catch (const platform::RuntimeError&) {
        // there is no such file: what follows tells
    }
}

// Read-only or not; what cannot be deleted now (in use) goes at the
// restart. It is renamed aside first where the system lets a file in use be
// renamed, so that the restart deletes it under a name of its own and never
// a file that a later install puts at its name before the restart.
Removal DeleteNowOrAtRestart(platform::OsServices& os, const std::string& path) {
    ClearAttributes(os, path);
    if (os.DeleteFileA(path)) return Removal::kNow;
    const std::string aside = UnusedNameBeside(os, path, kDeletedSuffix);
    if (os.MoveFileA(path, aside)) {
        if (os.DeleteAtRestart(aside)) return Removal::kAtRestart;
        os.MoveFileA(aside, path);
    }
    return os.DeleteAtRestart(path) ? Removal::kAtRestart : Removal::kNot;
}

std::string DigestOf(platform::OsServices& os, const std::string& path) {
    Sha256Digest digest;
    return HashFile(os, path, digest) ? ToHex(digest) : std::string();
}

// A copy of the kept content beside the file, checked against the kept one:
// a rename could not cross from the record folder to a host on another
// volume, and the copy then waits on the file's own volume, where the
// restart can rename it. Empty when no whole copy could be made.
std::string CheckedCopyBeside(platform::OsServices& os, const std::string& kept, const std::string& path) {
    const std::string copy = UnusedNameBeside(os, path, kRestoredSuffix);
    const std::string expected = DigestOf(os, kept);
    if (!expected.empty() && os.CopyFileA(kept, copy, 1) && DigestOf(os, copy) == expected) return copy;
    ClearAttributes(os, copy);
    os.DeleteFileA(copy);
    return std::string();
}

// Carries out the steps of one uninstall, each logged.
class Executor {
public:
    Executor(Context& ctx, MainWindow& window, UndoTally& tally) : ctx_(ctx), window_(window), tally_(tally) {}

    void CarryOut(const UndoStep& step) {
        for (const std::string* path : PathsOf(step))
            if (!path->empty() && !MayChange(*path)) return;
        switch (step.action) {
        case UndoAction::kRemoveTemporary:
        case UndoAction::kDelete: return Delete(step.path);
        case UndoAction::kRestore: return Restore(step.path, step.other);
        case UndoAction::kUnregister: return Unregister(step.path, step.other, step.value, step.perhapsNotMade);
        case UndoAction::kSetSetting: return SetSetting(step);
        case UndoAction::kRemoveSetting: return RemoveSetting(step);
        case UndoAction::kLowerShared:
        case UndoAction::kRemoveShared: return LowerShared(step);
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
        case UndoAction::kLeave: return {};
        default: return {&step.path};
        }
    }

    // The rule every path of every step keeps, checked as the step runs.
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

    void Delete(const std::string& path) {
        WithdrawRestore(path);
        switch (DeleteNowOrAtRestart(ctx_.os, path)) {
        case Removal::kNow: return Log(path + ": deleted");
        case Removal::kAtRestart: return AtRestart(path + ": in use; deleted at the next restart");
        case Removal::kNot: return Failed(path, "could not be deleted");
        }
    }

    // The kept content, attributes and all, goes back through a checked
    // copy beside the file, whatever volume each is on; the kept one goes
    // once the copy has it. In use, the copy replaces the file at the restart.
    void Restore(const std::string& path, const std::string& kept) {
        auto& os = ctx_.os;
        const std::string copy = CheckedCopyBeside(os, kept, path);
        if (copy.empty()) return Failed(path, "its previous content could not be copied back from " + kept);
        ClearAttributes(os, path);
        // A file a killed install left set aside is not at its name: the copy
        // is simply renamed there.
        if (os.MoveFileA(copy, path) || MoveIntoPlace(os, copy, path)) {
            ForgetKept(kept);
            return Log(Cat({path, ": restored from ", kept}));
        }
        if (os.MoveAtRestart(copy, path)) {
            ForgetKept(kept);
            tally_.restoresAtRestart[platform::UCase(path)].push_back(copy);
            return AtRestart(Cat({path, ": in use; restored from ", kept, " at the next restart, from ", copy}));
        }
        os.DeleteFileA(copy);
        Failed(path, "its previous content could not be put back from " + kept);
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

    void ForgetKept(const std::string& kept) {
        ClearAttributes(ctx_.os, kept);
        ctx_.os.DeleteFileA(kept);
    }

    // The registration after the restart goes. The renames the install asked
    // for can't be withdrawn: the restart then deletes what it moved in and
    // moves the previous content back. The waiting copy stays till then, so
    // that no install before the restart takes its name for a copy of its
    // own, which that rename would move in first. Where the install may not
    // have asked for both, the waiting copy goes, and the rename finds nothing.
    void Withdraw(const UndoStep& step) {
        auto& os = ctx_.os;
        const bool movedIn = step.renamesAsked && !step.value.empty() && os.DeleteAtRestart(step.path);
        const bool reversed = !step.value.empty() && os.MoveAtRestart(step.value, step.path);
        if (!movedIn) {
            ClearAttributes(os, step.other);
            if (!os.DeleteFileA(step.other))
                return Failed(step.path, "its replacement waiting in " + step.other + " could not be withdrawn");
        }
        os.DeleteMachineValue(kRunOnceKey, step.path);
        if (!step.value.empty() && !reversed)
            return Failed(step.path, "it would move to " + step.value + " at the next restart");
        tally_.restoredAtRestart.push_back(step.value);
        Log(step.path + ": its replacement at the next restart withdrawn");
    }

    // What runs or loads the file as an administrator is checked on a
    // handle that keeps writers out until it is done: the file must hold
    // what the plan saw (`digest`, when the plan gives one). A file in use
    // gets back the content the plan saw only at the restart: the copy of
    // it that waits beside the file is unregistered instead. A type library
    // that a killed install may not have registered yet may not be.
    void Unregister(const std::string& file, const std::string& how, const std::string& digest,
                    bool perhapsNotMade) {
        const std::string path = HolderNow(file, digest);
        const std::unique_ptr<platform::InputFile> held = ctx_.os.OpenForReading(path);
        Sha256Digest now;
        if (!held || (!digest.empty() && (!HashOpenFile(ctx_.os, *held, now) || ToHex(now) != digest)))
            return Failed(path, "not unregistered: it changed since the removal looked at it");
        if (how == kByTypeLibrary) {
            const int32_t result = ctx_.os.UnregisterTypeLibrary(platform::AnsiToWide(path));
            if (result == 0) return Log(path + ": unregistered with the type-library calls");
            if (perhapsNotMade && result == kTypeLibraryNotRegistered)
                return Log(path + ": not registered; the install was killed before it registered it");
            return Failed(path, Cat({"the type-library unregistration failed (", Number(result), ")"}));
        }
        std::string command;
        if (how == kByRegsvr32) command = Regsvr32Program(ctx_) + " /u /s " + Quoted(path);
        if (how == kByServer) command = Quoted(path) + " /UnregServer";
        if (command.empty()) return Failed(path, "registered in a way this version does not know: " + how);
        std::string outcome;
        if (RunToEnd(command, ParentOf(path), outcome)) return Log(Cat({path, ": unregistered (", outcome, ")"}));
        Failed(path, "could not unregister: " + outcome);
    }

    std::string HolderNow(const std::string& path, const std::string& digest) {
        const auto waiting = tally_.restoresAtRestart.find(platform::UCase(path));
        if (digest.empty() || waiting == tally_.restoresAtRestart.end()) return path;
        for (const std::string& copy : waiting->second)
            if (DigestOf(ctx_.os, copy) == digest) return copy;
        return path;
    }

    // Started in the file's own folder and waited for, processing the
    // window's messages, as long as a registration may take.
    bool RunToEnd(const std::string& command, const std::string& folder, std::string& outcome) {
        auto& os = ctx_.os;
        platform::ProgramHandle program = nullptr;
        try {
            program = os.RunProgram(command, platform::kWindowStyleMinimizedFocus, folder);
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

    void LowerShared(const UndoStep& step) {
        const bool remove = step.action == UndoAction::kRemoveShared;
        const bool done = remove ? ctx_.os.DeleteMachineValue(kSharedDllsKey, step.path)
                                 : ctx_.os.SetMachineNumber(kSharedDllsKey, step.path, step.count);
        if (!done) return Failed(step.path, "its shared-file count could not be lowered");
        Log(remove ? step.path + ": shared-file count removed"
                   : Cat({step.path, ": shared-file count lowered to ", Number(step.count)}));
    }

    // The link's folder goes when the link was the last thing in it, or
    // empty without it (an install killed before it wrote the link); the
    // Programs folders themselves always stay.
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

    // Failures of the conversation are logged and ignored.
    void RemoveProgramItem(const std::string& group, const std::string& item) {
        Log(Cat({"Program Manager: removing ", item, " from ", group, ", and the group if nothing else is in it"}));
        PerformDDE(ctx_, window_, group, std::string(), item, kDeleteItemAndGroup);
    }

    Context& ctx_;
    MainWindow& window_;
    UndoTally& tally_;
};

// Files of the record's own folder go now, or at the next restart while in
// use (the uninstaller running from there), which needs no restart of its
// own: nothing of the host depends on them.
void RemoveOwnFile(Context& ctx, const std::string& path, UndoTally& tally) {
    if (ctx.os.FindFile(path).empty()) return;
    switch (DeleteNowOrAtRestart(ctx.os, path)) {
    case Removal::kNow: return ctx.state.Log.Write(path + ": deleted");
    case Removal::kAtRestart: return ctx.state.Log.Write(path + ": in use; deleted at the next restart");
    case Removal::kNot:
        ctx.state.Log.Write(path + ": could not be deleted");
        tally.left.push_back(path + ": could not be deleted");
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

bool GoesBackAtRestart(const UndoTally& tally, const std::string& kept) {
    for (const std::string& path : tally.restoredAtRestart)
        if (platform::UCase(path) == platform::UCase(kept)) return true;
    return false;
}

// The previous content that a restart moved aside beside its file, and that
// did not go back (the file changed since): it is this product's, and goes,
// where the folder rules let the uninstall reach it.
void RemoveKeptBeside(Context& ctx, const std::string& path, UndoTally& tally) {
    if (WhyOutOfReach(ctx.os, tally.allowed, path).empty() && !GoesBackAtRestart(tally, path))
        RemoveOwnFile(ctx, path, tally);
}

// The kept contents the record names, below the Kept folder or (moved aside
// at a restart) beside their files, save those that go back at the restart;
// then their folders, deepest first, and the Kept folder itself.
void RemoveKeptContents(Context& ctx, const std::vector<RecordEntry>& record, const std::string& folder,
                        UndoTally& tally) {
    const std::string kept = Cat({folder, "\\", kKeptFolderName});
    std::set<std::string> folders;
    for (const RecordEntry& entry : record) {
        const std::string& path = Field(entry, entry.kind == RecordKind::kPending ? 2 : 1);
        const bool keeps = entry.kind == RecordKind::kReplaced || entry.kind == RecordKind::kPending;
        if (keeps && !path.empty() && !IsBelow(path, kept)) RemoveKeptBeside(ctx, path, tally);
        if (!keeps || !IsBelow(path, kept)) continue;
        if (!GoesBackAtRestart(tally, path)) RemoveOwnFile(ctx, path, tally);
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

void CarryOut(Context& ctx, MainWindow& window, const UndoStep& step, UndoTally& tally) {
    Executor(ctx, window, tally).CarryOut(step);
}

void RemoveRecordFolder(Context& ctx, const std::vector<RecordEntry>& record, const std::string& folder,
                        UndoTally& tally) {
    auto& os = ctx.os;
    const std::string key = UninstallKey(RecordedSystemName(record));
    if (os.DeleteMachineKey(key)) {
        ctx.state.Log.Write("Add/Remove Programs entry removed: HKEY_LOCAL_MACHINE\\" + key);
    } else {
        ++ctx.state.Summary.undoFailures;
        ctx.state.Log.Write("HKEY_LOCAL_MACHINE\\" + key + ": not undone: could not be deleted");
        tally.left.push_back("HKEY_LOCAL_MACHINE\\" + key + ": could not be deleted");
    }
    RemoveRunOnceValues(ctx, record, tally);
    RemoveKeptContents(ctx, record, folder, tally);
    RemoveOwnFile(ctx, Cat({folder, "\\", kRecordFileName}), tally);
    RemoveOwnFile(ctx, Cat({folder, "\\", kUninstallerName}), tally);
    RemoveFolder(ctx, folder);
}

}  // namespace setup
