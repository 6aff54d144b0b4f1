#pragma once
// Installing the listed files: copying each payload file to its destination
// and registering it by its type.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "setup/changes.h"
#include "setup/installer_state.h"
#include "setup/main_window.h"

namespace platform {
class OsServices;
}

namespace setup {

// Kinds of per-file trouble shown on the status line.
constexpr int32_t kSourceMissing = 1;
constexpr int32_t kCopyFailed = 2;  // also a file in use that could not be replaced
constexpr int32_t kRegisterFailed = 3;

// A replacement is copied under this suffix beside the destination first,
// then moved over the old file, so that a failed copy never loses it.
constexpr const char* kReplacementSuffix = ".new~";
// Where registrations after the next restart are asked for, below
// HKEY_LOCAL_MACHINE: each value's command runs once at the next logon.
constexpr const char* kRunOnceKey = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
// Where a system without a one-step replace (the 95 family) puts the old
// file while the new one is renamed into its place.
constexpr const char* kSetAsideSuffix = ".old~";

// A file in use that is replaced at the restart has its previous content
// moved aside beside it then, as <prefix><nnnnn><suffix>: a short name on
// its own volume.
constexpr const char* kAsideAtRestartPrefix = "~LU";
constexpr const char* kAsideAtRestartSuffix = ".OLD";

// Where a file that could not be deleted waits, renamed, for the restart
// to delete it: a name no later run gives a file of its own.
constexpr const char* kDeletedSuffix = ".del~";
// Where an uninstall's checked copy of a file's previous content waits to be
// renamed into place: never a name that a withdrawn replacement's rename at
// the restart still points at.
constexpr const char* kRestoredSuffix = ".back~";
// The numbered copies beside the file (<path>.<n><suffix>, from 1 on, as far
// as `exists` finds them with no more than `gapsPassed` numbers missing in a
// row), oldest first: the order in which the restart moves them in, so the
// last is what the file then holds.
std::vector<std::string> NumberedCopies(const std::function<bool(const std::string&)>& exists,
                                        const std::string& path, const char* suffix, int gapsPassed = 0);
// How many numbers missing in a row a search for numbered copies that a run
// deleted some of looks past.
constexpr int kNumberGapsPassed = 8;

// The text in double quotes.
std::string Quoted(const std::string& text);
// regsvr32 by its full path in the system directory (quoted where the path
// has a space), so that a copy planted beside the installer is never the one
// started.
std::string Regsvr32Program(const Context& ctx);
// How a file of the (upper-case) extension is registered, as the record's
// word says it: regsvr32, as a server, or by the type-library calls; empty
// for a file that is not registered.
std::string RegistrationKind(const std::string& extension);
// The same for the file at the path, by its name's extension.
std::string RegistrationKindOfFile(const std::string& path);
// The command line that registers the file, or unregisters it, as the
// record's word `how` says; empty for a type library (the type-library
// calls do it) and for a word this version does not know.
std::string RegistrationCommand(const Context& ctx, const std::string& how, const std::string& path, bool undo);
// Why a registration program must not run the file's code as this run's
// account: on the NT family, an account other than Administrators, the
// system account, TrustedInstaller and this run's own may change the file
// or its folder, so the file, or a DLL it loads from its folder, may be
// anyone's. Empty when it may run (always on the 95 family, which has no
// accounts).
std::string CodeRunTrouble(platform::OsServices& os, const std::string& file);
// What the log adds to that trouble: the way out.
constexpr const char* kCodeRunAdvice =
    "; its registration would run code from there as this account. Install a package that carries its class "
    "data (CLASSES.TXT, made by lucheck --harvest), or let only administrators change the folder";

// Where a listed file goes: its path, and whether an existing file there is
// replaced (under the product folder) or left alone (in the system directory).
struct Destination {
    std::string path;
    bool replace;
};
Destination DestinationFor(const std::string& systemDirectory, const std::string& productFolder,
                           const UpdateFileEntry& entry);

// Copies entries 1 to the last of UpdateFiles and queues their
// registrations; trouble with one file is shown on the status line and the
// walk goes on. Each entry's outcome goes to the install log.
void DeployUpdateFiles(Context& ctx, MainWindow& window, const std::string& productFolder);

// regsvr32's exit codes for what went wrong.
constexpr uint32_t kRegsvr32CouldNotLoad = 3;
constexpr uint32_t kRegsvr32NoEntryPoint = 4;
constexpr uint32_t kRegsvr32EntryPointFailed = 5;
// A registration program still running after this long counts as failed.
constexpr uint32_t kRegistrationLimitMs = 60000;
// How long one wait for registration programs lasts before the window's
// messages are processed and every program is looked at again.
constexpr uint32_t kRegistrationPollMs = 50;

// Processes the window's messages when kAnswerEveryMs have passed since
// `lastAnswered` (a TickCount), which it then updates.
constexpr uint32_t kAnswerEveryMs = 40;
void KeepAnswering(Context& ctx, uint32_t& lastAnswered);

// At most this many registration programs run at once.
constexpr std::size_t kMaxRunningRegistrations = 8;

// Starts the queued registrations, in list order, as far as the limit of
// programs running at once allows; type libraries are registered at their turn.
void StartRegistrations(Context& ctx, MainWindow& window);

// Runs every queued registration to its result, starting the rest as
// programs end and processing the window's messages meanwhile, and reports
// each one that failed.
void WaitForRegistrations(Context& ctx, MainWindow& window);

enum class TypeLibResult { kRegistered, kNotLoaded, kNotRegistered };
// Loads the type library in the file (quotes around the path allowed), or
// in `loadFrom` when that is given, and registers it for the path.
TypeLibResult RegisterTypeLibraryResult(Context& ctx, const std::string& path, const std::string& loadFrom = "");

// Shows "Source file ... not found" (kSourceMissing), "Could not copy
// file ..." (kCopyFailed) or "Could not register file ..." (kRegisterFailed)
// on the status line, and keeps it as the install's last file failure.
void ReportFileError(Context& ctx, MainWindow& window, int32_t kind, const std::string& text);

}  // namespace setup
