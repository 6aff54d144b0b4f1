#pragma once
// The install record: every change an install makes, one line per change,
// written before the change is made, so that an uninstall can undo exactly
// what was done, newest first, even after an install that was killed.
// Plain text for support staff: the change's kind, then its fields, tab
// separated, each line ended by CRLF. Reinstalls append to the same record.
#include <set>
#include <string>
#include <vector>

namespace platform {
class OsServices;
}

namespace setup {

// The record lives with the kept contents of replaced files and a copy of
// the installer (the uninstaller) in a folder under Program Files, which
// only administrators can write: never in the host folder or a temporary
// folder, which other users may write.
constexpr const char* kRecordFileName = "Install record.txt";
constexpr const char* kKeptFolderName = "Kept";
constexpr const char* kUninstallerName = "LiveUpdateSetup.exe";
// Names that renames asked for at the next restart still use, one a line,
// which an uninstall freed or left to that restart: no install before the
// restart gives them to a file of its own. The restart deletes the file.
constexpr const char* kRestartNamesFileName = "Restart names.txt";
std::string RestartNamesFile(const std::string& recordFolder);
// The text's lines that end with a line end (a kill may cut the last one
// short), without it.
std::vector<std::string> WholeLines(const std::string& text);
constexpr const char* kSharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// "<system> Live Update": the product's name, which names its record
// folder, its Add/Remove Programs key and its event source.
std::string ProductName(const std::string& systemName);

// "<Program Files>\<system> Live Update"; empty when the system names no
// Program Files folder, or when the system name could lead elsewhere (it
// must be a name that a package file could have: no \, /, :, ..).
std::string RecordFolder(platform::OsServices& os, const std::string& systemName);

// The trust boundary. Ordinary users may write the package folder, the
// host folder, temporary folders and their own part of the registry; an
// administrator's run trusts only the record folder, and only while no one
// but Administrators, the system account or TrustedInstaller owns it or may
// change it and no link or junction leads to it (the 95 family has no
// security: there it is trusted as it is). Checked before the record is
// read; `why` says what is wrong otherwise.
bool RecordFolderTrusted(platform::OsServices& os, const std::string& folder, std::string& why);
// What an install killed before its record's first line leaves, or a
// removal killed as it removed its last files: the record folder, its
// kept-contents folder, a record of no install and an uninstaller copy.
// Each goes when nothing else is in it, and only while the folder is trusted.
void RemoveUnbegunRecordFolder(platform::OsServices& os, const std::string& folder);
// What a run that refuses an untrustworthy record folder says.
std::string UntrustedRecordText(const std::string& folder, const std::string& why);
// A new name in the record folder's kept-contents folder for a previous
// content of `file`: "<n>-<name>", the first n from `next` that no file has.
std::string UnusedKeptPath(platform::OsServices& os, const std::string& recordFolder, const std::string& file,
                           int& next);
// The Add/Remove Programs entry's key below HKEY_LOCAL_MACHINE.
std::string UninstallKey(const std::string& systemName);

// How a file was registered, as the record names it.
constexpr const char* kByRegsvr32 = "regsvr32";
constexpr const char* kByServer = "server";
constexpr const char* kByTypeLibrary = "type library";

enum class RecordKind {
    kBegun,       // an install began: date, installer version, system name, host folder, the
                  // SHA-256 of the uninstaller copied from it (records of older versions lack it)
    kTemporary,   // a temporary file about to be written: path, the SHA-256 and size it will hold
                  // (empty: unknown); the temporaries beside a created or replaced file,
                  // <name>.new~ and <name>.old~, go with it unnamed
    kCreated,     // a new file: path, SHA-256 of what was installed, its size
    kReplaced,    // path, where its previous content is kept, previous SHA-256, installed SHA-256,
                  // installed size
    kKept,        // a system file that was there already and stays: path
    kRegistered,  // how (regsvr32, server, type library), path
    kShared,      // a shared-file count raised: path, the count before (0: none)
    kSetting,     // settings file, section, key, "absent", "no section" or "value", the value before, written
    kStartMenu,   // "shortcut" and the link's path, or "Program Manager", the group, the item and
                  // the Programs folder of the user whose Start menu has it
    kEnded,       // the install ended: date, exit code
    kPending,     // a file in use, replaced when Windows next starts: path, the new content's
                  // waiting copy beside it, where its previous content moves then (empty:
                  // nowhere), previous SHA-256 (empty: unreadable), installed SHA-256, and the
                  // SHA-256 of what was at the path, where the previous content is what an
                  // earlier replacement or restore still waiting for the restart moves in
                  // (else empty), installed size. Where an earlier run asked the restart to
                  // delete the file first, nothing moves aside and the previous SHA-256 is
                  // kNoPreviousContent: after the restart the file is a new one.
    kCopied,      // the new content of a created, replaced or pending file is whole (a replacement's
                  // in its temporary or waiting copy): path, its SHA-256. The copy hashes as it
                  // goes, so the line before it has no digest yet; ParseRecord puts this one there.
    kFailed,      // the install could not do what it had to for a file: path, why
    kRemoving,    // a removal began: date. The removal deletes the record when it is done, so a
                  // record whose newest run is a removal tells of one that was killed.
    kLowered,     // a removal lowers this product's shared-file count: path, the count before, after
    kRestoring,   // a removal's copy of a file's previous content is renamed over it at the next
                  // restart: path, the copy
    kMoved,       // the previous content a restart moved aside beside its file (where users may
                  // write) was taken into the kept-contents folder: where it was, where it is now
                  // (empty: it no longer held what was recorded, and is not kept), its SHA-256.
                  // ParseRecord puts it into the pending line it belongs to.
    kValue,       // a class registration's value written as data, below HKEY_LOCAL_MACHINE: key,
                  // name, its type and data (hex) before (both empty: absent), type and data written
    kKey,         // a key the install made for class values: key below HKEY_LOCAL_MACHINE
};

struct RecordEntry {
    RecordKind kind = RecordKind::kBegun;
    std::vector<std::string> fields;
};

// The entry's field; empty where the line has fewer (an older version's).
const std::string& Field(const RecordEntry& entry, std::size_t index);

// The line for the entry, without its line end. Tabs, line ends and '%'
// inside a field are written as %09, %0D, %0A and %25.
std::string FormatRecordLine(const RecordEntry& entry);

// The entries of a record's text, in order. A last line without its line
// end was cut off while it was written, before its change began: it is left
// out. Lines of kinds this version does not know are passed over. A
// "copied" line gives its digest to the newest line before it that names
// its file, and is not itself an entry.
std::vector<RecordEntry> ParseRecord(const std::string& text);

// Gives a `moved` line's new place (and digest, where the pending line had
// none) to the newest pending line whose previous content was at its old
// place; its old place, till deleted, is a temporary (an entry before it).
void TakeMoved(std::vector<RecordEntry>& entries, const RecordEntry& moved);

// Whether a previous content that a restart moved aside for the pending
// entry `index` may be put back: it holds what the entry recorded as the
// file's previous content, or (as an earlier replacement of the file that
// also waited for the restart, or whose copy a kill cut short, may have
// left there) a content that an earlier entry recorded the file held or
// was given. Any content passes when the entry could not read the file.
bool KnownPreviousContent(const std::vector<RecordEntry>& record, std::size_t index, const std::string& digest);

// Whether entries of the kind name a file first: created, replaced, kept, pending.
bool NamesFile(RecordKind kind);

// A pending entry's previous content where the restart deletes the file
// before the new one moves in.
constexpr const char* kNoPreviousContent = "none";
// Whether the entry made its file where none was (or will be, once the
// restart's changes asked before are made): created, or pending after a
// deletion at the restart.
bool MadeNew(const RecordEntry& entry);

// The entries that an install killed right after them may have left
// unfinished: the last change of each install that never ended.
std::set<std::size_t> CutShortEntries(const std::vector<RecordEntry>& record);
// Of those, the ones that name a file (created, replaced, kept or pending)
// that no later entry names: no install has touched the file since the kill.
std::set<std::size_t> CutShortUntouched(const std::vector<RecordEntry>& record);

// Whether the record's newest run is a removal, which a kill ended: the
// removal deletes the record once it is done.
bool RemovalInterrupted(const std::vector<RecordEntry>& record);
// Whether this product's shared count of the file is raised now, as the
// record's newest line about it says: a `shared` line, or a removal's
// `lowered` one whose change a kill came before (the count is `countNow`,
// still what it was before).
bool SharedCounted(const std::vector<RecordEntry>& record, const std::string& path, uint32_t countNow);

// The text a new record starts with.
std::string RecordHeading();

}  // namespace setup
