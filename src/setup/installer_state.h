#pragma once
// The installer's shared state: the globals every step reads and writes and
// the list of files to deploy. One instance lives for the whole run.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/os_services.h"
#include "setup/class_data.h"
#include "setup/install_log.h"
#include "setup/install_recorder.h"
#include "setup/outcome.h"

namespace platform {
class OsServices;
class FormsRuntime;
}  // namespace platform

namespace setup {

// One file named by the update list.
struct UpdateFileEntry {
    std::string Folder;     // folder selector, e.g. "SYSTEM\" or "HELP\EN\"
    std::string FileName;   // trimmed, upper-cased, no folder part
    std::string Extension;  // text after the last ".", upper-cased
};

// A registration whose result is not known yet: queued during the walk,
// then a running registration program, or a type library at its turn.
struct PendingRegistration {
    std::string file;                         // the registered file's path
    std::string command;                      // the command line; empty for a type library
    bool byRegsvr32 = false;
    platform::ProgramHandle program = nullptr;  // while it runs
    uint32_t startedAt = 0;                   // TickCount when started
    int attempt = 1;
    std::string loadFrom;  // a type library's waiting copy, when it is replaced at the restart
    std::string digest;    // the SHA-256 the file must hold when it is registered; empty: not checked
    std::shared_ptr<platform::InputFile> held;  // keeps writers out while it is registered
};

struct InstallerState {
    std::string ServerPath;       // folder of the running installer and its payload
    std::string SystemName;       // host system name from the list header
    std::string WebID;            // web identifier for the installed host version
    std::string ProductPath;      // host product's installation folder
    std::string SysPath;          // ProductPath\Sys
    std::string IniFilePath;      // SysPath\TOVASK.INI
    std::string ProductVersion;   // host version from the settings file
    std::string SystemDirectory;  // the Windows system directory
    // Element 0 is never filled, so that entries are numbered from 1 like the list.
    std::vector<UpdateFileEntry> UpdateFiles;
    int16_t BusyNesting = 0;      // outstanding hourglass requests
    std::string LastFileFailure;  // the last per-file trouble shown on the status line
    std::string RefusalText;      // why the run was refused, as it was told
    InstallLog Log;
    InstallRecorder Record;  // what the install changes, for the uninstall
    RunOptions Options;
    InstallSummary Summary;
    std::vector<PendingRegistration> Registrations;  // in list order, until settled
    std::vector<std::string> FilesInUse;  // destinations a program held at the last look, replaced at the restart
    // The running program's own file, held from start-up so that nobody can
    // change it or put another at its name: the uninstaller is copied from it.
    std::unique_ptr<platform::InputFile> OwnImage;
    // The package's class registrations as data (CLASSES.TXT), held open
    // from its reading past the seal check, so that nobody changes it between.
    std::vector<ClassData> ClassValues;
    std::unique_ptr<platform::InputFile> ClassDataFile;
};

// What the setup routines work with: the state and the two service layers.
struct Context {
    InstallerState& state;
    platform::OsServices& os;
    platform::FormsRuntime& rt;
};

}  // namespace setup
