#pragma once
// Removing Live Update: finding the install record, planning from it what
// the machine holds now, carrying out each step, and removing the record's
// folder (the record, the kept contents and the uninstaller) last.
#include <map>
#include <string>
#include <vector>

#include "setup/changes.h"
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

// Opens the record for the removal's own lines and writes that a removal
// began, on the disk before any change; false when it cannot.
bool BeginRemoval(Context& ctx, const std::string& folder, UndoTally& tally);

// Removes the Add/Remove Programs entry, the kept contents, the record and
// the uninstaller with its folder; what is in use (the uninstaller running
// from there) goes at the next restart, which alone needs no restart. The
// event messages stay, with their folder: the events already written,
// this removal's among them, go on reading with their text. A kept content
// that could not be put back stays, and so do the record, the uninstaller
// and the entry, so that the removal can be run again.
void RemoveRecordFolder(Context& ctx, const std::vector<RecordEntry>& record, const std::string& folder,
                        UndoTally& tally);

}  // namespace setup
