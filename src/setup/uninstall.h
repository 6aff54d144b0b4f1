#pragma once
// Removing Live Update: finding the install record, planning from it what
// the machine holds now, carrying out each step, and removing the record's
// folder (the record, the kept contents and the uninstaller) last.
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

// The steps for the record against the machine now. Files may change only
// below the recorded host folders, the system directory, the Start menu's
// Programs folders and the record folder.
std::vector<UndoStep> PlanUninstall(Context& ctx, const std::vector<RecordEntry>& record,
                                    const std::string& recordFolder);

// What the steps left, for the uninstall's last message, and the kept
// contents that go back at the next restart.
struct UndoTally {
    std::vector<std::string> left;  // "<path>: <why>"
    std::vector<std::string> restoredAtRestart;
};

// Carries out one step and logs it. A file in use goes at the next restart
// (a restart is then needed); a step that fails counts as an undo failure.
// What the plan leaves, and what fails, is named in the tally; what the
// plan leaves is no failure: what changed since the install is the user's.
void CarryOut(Context& ctx, MainWindow& window, const UndoStep& step, UndoTally& tally);

// Removes the Add/Remove Programs entry, the kept contents, the record and
// the uninstaller with its folder; what is in use (the uninstaller running
// from there) goes at the next restart, which alone needs no restart.
void RemoveRecordFolder(Context& ctx, const std::vector<RecordEntry>& record, const std::string& folder,
                        UndoTally& tally);

}  // namespace setup
