#pragma once
// The install's side of the record: the record folder under Program Files
// with the uninstaller copy and the Add/Remove Programs entry, made before
// the first change, and a line for each change, written before the change.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/os_services.h"
#include "setup/install_record.h"

namespace setup {

struct Context;

// What Note throws when a change's line cannot be written (a full disk):
// the change is not made, and the install stops there.
struct RecordLineUnwritable {
    std::string record;
};

class InstallRecorder {
public:
    // Makes the record folder and its kept-contents folder, copies the
    // installer there (the uninstaller), opens the record (what earlier
    // installs wrote stays), writes "begun" and the Add/Remove Programs
    // entry, and flushes. False, with the path that could not be made or
    // written, or with what makes an existing record folder untrustworthy
    // (`distrust`), when any of it fails: nothing of the host has changed then.
    bool Begin(Context& ctx, std::string& unwritable, std::string& distrust);
    // Writes the change's line before the change is made; throws
    // RecordLineUnwritable when it cannot, so that no change goes
    // unrecorded. Without a record (lucheck's plan) it does nothing.
    // `onDisk` false: a line that no change follows at once (a new file's
    // digest, a failure) goes to the disk with the next one.
    void Note(RecordKind kind, std::vector<std::string> fields, bool onDisk = true);
    // A new name in the kept-contents folder for the previous content of
    // `file`; empty without a record.
    std::string KeptPath(platform::OsServices& os, const std::string& file);
    // A new name beside the file for its copy that waits for the restart:
    // none that a rename at the restart already uses.
    std::string WaitingCopyPath(platform::OsServices& os, const std::string& file);
    // A new name beside the file that its previous content moves to when
    // Windows next starts, on the file's own volume as a rename at the
    // restart needs: a short (8.3) one, as the 95 family's restart renames
    // need; empty without a record.
    std::string KeptAtRestartPath(platform::OsServices& os, const std::string& file);
    // Whether a killed install was copying the file new when it was killed:
    // what is there may be torn, and is this product's, not another's.
    bool CopyCutShort(const std::string& path) const;
    // Whether an earlier install already counted the shared file.
    bool CountedBefore(const std::string& path, uint32_t countNow) const;
    // Whether an earlier install created the file (and it may be there still).
    bool CreatedBefore(const std::string& path) const;
    // Whether a replacement of the file, asked for by this install or an
    // earlier one, or an uninstall's putting back of its previous content,
    // still waits for the restart (its waiting copy is there).
    bool ReplacementWaits(platform::OsServices& os, const std::string& path) const;
    // The waiting copy whose content the restart puts in place last; empty
    // when none waits.
    std::string WaitingCopy(platform::OsServices& os, const std::string& path) const;
    // Counts bytes installed, for the entry's estimated size.
    void AddInstalled(uint64_t bytes) { installedBytes_ += bytes; }
    // Writes "ended" with the exit code, the entry's size, and flushes.
    void End(Context& ctx, int exitCode);
    bool Recording() const { return file_ != nullptr; }

private:
    std::string UnpromisedName(platform::OsServices& os, const std::function<std::string(int)>& nameOf) const;
    void ReadRestartNames(platform::OsServices& os, const std::string& folder);
    void NoteCutShortCopies();
    bool WriteEntry(Context& ctx, const std::string& folder, const std::string& host);

    std::unique_ptr<platform::RecordFile> file_;
    std::string folder_;
    std::string recordPath_;
    std::string uninstallKey_;
    std::vector<RecordEntry> earlier_;
    std::map<std::string, std::string> waiting_;  // upper-cased path -> its newest waiting copy
    std::set<std::string> cutShortCopies_;        // upper-cased paths
    std::set<std::string> promised_;  // upper-cased names that renames at the next restart use
    int nextKept_ = 1;
    uint64_t installedBytes_ = 0;
};

}  // namespace setup
