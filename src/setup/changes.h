#pragma once
// The one executor of the changes an install and an uninstall make. The
// planners decide, as data: the install's PlanFile from what the machine
// holds before the walk, the uninstall's PlanUndo from the record. The
// executor acts, and alone:
// - writes each change's record line before the change (an unwritable line
//   stops the install: no change goes unrecorded);
// - checks every path a step changes as the step runs, whatever the plan
//   saw: below the allowed folders, and no link or junction on the way;
// - checks a file's content on a handle that keeps writers out before it
//   runs or loads the file (registrations), and checks a restore's copy
//   against the kept content before it goes into place.
// Each kind of change sits beside its undoing.
//
// The trust boundary: ordinary users may write the package folder, the
// host folder, temporary folders and their own part of the registry. What
// an administrator's run trusts is the record folder under Program Files
// (see RecordFolderTrusted), nothing else; so a path a plan names is never
// taken as safe because it was safe when the plan was made.
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/os_services.h"

#include "setup/install_log.h"
#include "setup/installer_state.h"
#include "setup/main_window.h"
#include "setup/undo_plan.h"

namespace setup {

// What the install does with one listed file.
enum class FileChange {
    kNone,              // nothing: `refusal` says why
    kCreate,            // a new file, copied straight to its name
    kFinishCutShort,    // a new file whose copy a killed install began: copied over what that left
    kKeep,              // a system file there already: it stays, and is registered in place
    kReplace,           // a host file: through a temporary beside it, its previous content kept
    kReplaceAtRestart,  // a host file that a program holds: replaced when Windows next starts
};

struct InstallStep {
    FileChange change = FileChange::kNone;
    FileResult refusal = FileResult::kSourceMissing;  // for kNone
    std::string trouble;                               // for kNone, what the log says more
    std::string source;
    std::string destination;
    uint64_t size = 0;    // the source's
    bool shared = false;  // a system file: its shared count goes up once it is there
};

// What the install's planner knows of one listed file, looked at in this
// order and no further than the decision needs.
struct FileFacts {
    bool sourceFound = false;   // a name that stays in the package folder, and a normal file there
    uint64_t sourceSize = 0;
    bool leavesHost = false;    // its folder selector leads out of the host folder
    bool exists = false;        // a normal file at the destination
    bool systemFile = false;    // in the system directory: never replaced, counted as shared
    bool cutShort = false;      // the record shows a killed install was copying it new
    bool held = false;          // in use, or an earlier replacement of it still waits for the restart
    bool longNameLost = false;  // held, and the restart's renames would leave it under its short name
};

// The install's decision for one file: data, made before anything changes.
InstallStep PlanFile(const FileFacts& facts, const std::string& source, const std::string& destination);

// Carries out an install step, each change after its record line: the
// file's result; the outcome gets the installed digest, the waiting copy
// and any trouble. `allowed`: the folders the install may write below.
FileResult MakeFileChange(Context& ctx, const std::vector<std::string>& allowed, const InstallStep& step,
                          FileOutcome& outcome, const std::set<std::string>& heldRoots = {});

// The rule every path a step changes keeps, checked as the step runs:
// below one of `allowed` (without trailing backslashes), and no link or
// junction on the way. Empty when the path may be changed; otherwise why not.
// A path the step makes new, failing if anything is at it already, can be
// no link itself: only its folders are looked at (`madeNew`).
std::string WhyOutOfReach(platform::OsServices& os, const std::vector<std::string>& allowed,
                          const std::string& path, bool madeNew = false);

// Holds what a change passes through from its check to its act: each
// folder from the allowed one the path is below down to the path's own,
// opened so that none can be renamed, deleted or swapped for a link, and
// checked on its handle. The path itself must be no link either (unless
// the change makes it new). Null, with why not, otherwise.
// `heldRoots` (upper-cased) are allowed folders the caller holds already,
// for a walk of many changes: only the folders below them are held anew.
std::unique_ptr<platform::FolderHold> HoldForChange(platform::OsServices& os, const std::vector<std::string>& allowed,
                                                    const std::string& path, std::string& why, bool madeNew = false,
                                                    const std::set<std::string>& heldRoots = {});

// Why a settings file, written by its path while its folders are held,
// must not be written: a link, or a name of a file that has others (a
// hard link). Empty when it may be (absent, or in use, included).
std::string SettingsFileTrouble(platform::OsServices& os, const std::string& path);

// What the undo steps may touch, and what they left: for the uninstall's
// last message, and the kept contents that go back at the next restart.
struct UndoTally {
    std::vector<std::string> allowed;  // UninstallFolders
    std::vector<std::string> left;     // "<path>: <why>"
    std::vector<std::string> restoredAtRestart;
    std::string restartNamesFile;  // RestartNamesFile: where a withdrawal keeps the names the restart still uses
    bool restartNamesBegun = false;
    std::map<std::string, std::vector<std::string>> restoresAtRestart;  // upper-cased path -> the copies the
                                                                         // restart renames there
    std::unique_ptr<platform::RecordFile> record;  // the install record, for the removal's own lines
    std::set<std::string> keptStay;  // upper-cased kept contents that could not be put back: kept
};

// The previous contents that restarts moved aside beside their files, in
// folders users may write, go into the record's kept-contents folder at the
// first install or removal after the restart: each held and read on one
// handle, taken only while it holds what the record says it held (or the
// record could not say: it was unreadable then), and its `moved` line on
// the disk before it goes from beside the file. One that holds anything
// else stays where it is, no longer this product's to put back. `record`
// gets the moves (as ParseRecord would give them); `note` writes a line and
// flushes it, false when it cannot; `keptPath` names a new kept content of
// a file in `keptFolder`.
void TakeInKeptAtRestart(Context& ctx, std::vector<RecordEntry>& record, const std::string& keptFolder,
                         const std::vector<std::string>& allowed, const std::function<bool(const RecordEntry&)>& note,
                         const std::function<std::string(const std::string&)>& keptPath);

// Writes the class values of a file installed at `destination` below
// HKEY_LOCAL_MACHINE\Software\Classes, each after its record line: the
// keys it makes (one line each), then each value with what it held before.
// Runs none of the file's code. False, with why, at the first that fails.
bool WriteClassValues(Context& ctx, const std::string& destination, const std::vector<ClassValue>& values,
                      std::string& why);

// Writes a removal's own line to the record and flushes it; false when it
// cannot (true without a record).
bool NoteRemovalLine(UndoTally& tally, const RecordEntry& line);

// Carries out one undo step and logs it. A step whose path fails the reach
// rule is not carried out and counts as an undo failure. A file in use goes
// at the next restart (a restart is then needed); a step that fails counts
// as an undo failure. What the plan leaves is named in the tally and is no
// failure: what changed since the install is the user's.
void CarryOut(Context& ctx, MainWindow& window, const UndoStep& step, UndoTally& tally);

// How a file a step deletes went.
enum class Removal { kNow, kAtRestart, kNot };
// Deletes the file, read-only or not; what cannot be deleted now (in use)
// goes at the restart, under a name of its own.
Removal DeleteNowOrAtRestart(platform::OsServices& os, const std::string& path,
                             const std::function<bool(const std::string&)>& noteAside = nullptr);

// A name beside the file that nothing has: "<path>.<n><suffix>".
std::string UnusedNameBeside(platform::OsServices& os, const std::string& path, const char* suffix);
// Moves the temporary over the destination: in one step where the system
// can, through renames where its one-step call is only a stub.
bool MoveIntoPlace(platform::OsServices& os, const std::string& temporary, const std::string& destination);

}  // namespace setup
