#pragma once
// Removing Live Update: finding the install record, planning from it what
// the machine holds now, carrying out each step, and removing the record's
// folder (the record, the kept contents and the uninstaller) last.
#include <map>
#include <string>
#include <vector>

#include "setup/install_record.h"
#include "setup/installer_state.h"
#include "setup/main_window.h"
#include "setup/undo_plan.h"

namespace setup {

// The record's entries, read from `folder`; false when there is no record
// there, or it records no install.
bool ReadInstallRecord(platform::OsServices& os, const std::string& folder, std::vector<RecordEntry>& record);

// The newest install's fields: its system name and its host folder.
std::string RecordedSystemName(const std::vector<RecordEntry>& record);
std::string RecordedHostFolder(const std::vector<RecordEntry>& record);

// The folders an uninstall may change files below: the recorded host
// folders, the system directory, the Start menu's Programs folders and the
// record folder, each without a trailing backslash.
std::vector<std::string> UninstallFolders(Context& ctx, const std::vector<RecordEntry>& record,
                                          const std::string& recordFolder);

// The steps for the record against the machine now.
std::vector<UndoStep> PlanUninstall(Context& ctx, const std::vector<RecordEntry>& record,
                                    const std::vector<std::string>& allowed);

// What the steps may touch, and what they left: for the uninstall's last
// message, and the kept contents that go back at the next restart.
struct UndoTally {
    std::vector<std::string> allowed;  // UninstallFolders
    std::vector<std::string> left;     // "<path>: <why>"
    std::vector<std::string> restoredAtRestart;
    std::map<std::string, std::vector<std::string>> restoresAtRestart;  // upper-cased path -> the copies the
                                                                         // restart renames there
};

// Carries out one step and logs it. Every path the step touches is checked
// as it is carried out: below the allowed folders, and no link or junction
// on the way (one may have been planted since the plan was made); a step
// that fails the check is not carried out and counts as an undo failure.
// A file in use goes at the next restart (a restart is then needed); a
// step that fails counts as an undo failure.
// What the plan leaves, and what fails, is named in the tally; what the
// plan leaves is no failure: what changed since the install is the user's.
void CarryOut(Context& ctx, MainWindow& window, const UndoStep& step, UndoTally& tally);

// Removes the Add/Remove Programs entry, the kept contents, the record and
// the uninstaller with its folder; what is in use (the uninstaller running
// from there) goes at the next restart, which alone needs no restart.
void RemoveRecordFolder(Context& ctx, const std::vector<RecordEntry>& record, const std::string& folder,
                        UndoTally& tally);

}  // namespace setup
