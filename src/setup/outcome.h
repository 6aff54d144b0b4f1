#pragma once
// How the installer was asked to run (the command line), and what became of
// the run: one summary that setup records every outcome in, and the one
// function that turns it into the program's exit code.
#include <string>

namespace setup {

enum class RunMode {
    kAttended,  // the window waits for the user
    kPassive,   // the window shows and works by itself
    kQuiet,     // no window and no message box at all
};

enum class RestartPolicy { kAsk, kNever, kForce };

struct RunOptions {
    RunMode mode = RunMode::kAttended;
    std::string hostFolder;  // used instead of the stored setting when not empty
    std::string logPath;     // the install log goes here when not empty
    RestartPolicy restart = RestartPolicy::kAsk;
    bool help = false;       // show the switches and exit codes, then end
    std::string error;       // an unknown switch or a missing value, in words
    bool uninstall = false;  // remove what the installs recorded, instead of installing
    bool verify = false;     // check what the installs recorded against the machine; change nothing
    std::string commandLine;  // the arguments as given, for the log

    bool Unattended() const { return mode != RunMode::kAttended; }
};

// Why an installation did not run.
enum class Refusal {
    kNone,
    kBadCommandLine,
    kCancelled,
    kNoHost,
    kAnotherInstall,
    kPackageUnusable,  // no usable list, or a damaged sealed package
    kUnsupportedVersion,
    kRecordUnwritable,  // the install record or the uninstaller could not be written
    kNotInstalled,      // an uninstall found no install record
};

struct InstallSummary {
    Refusal refusal = Refusal::kNone;
    bool installStarted = false;
    bool installCompleted = false;
    int fileFailures = 0;          // not found, not copied or replaced
    int registrationFailures = 0;  // could not start, failed, or no result in time
    bool settingsFailed = false;
    bool startMenuFailed = false;  // the shortcut file of an unattended run not written
    bool restartNeeded = false;    // the 95 family, after a completed install; files in use at an uninstall
    bool restartStarted = false;
    bool helpShown = false;
    bool noDesktop = false;        // an attended run had no desktop to show its window on
    int undoFailures = 0;          // uninstall: changes that could not be undone
    int replacedAtRestart = 0;     // files in use, replaced when Windows next starts
    int differences = 0;           // verify: what the machine holds otherwise than the record says
};

// Exit codes as Windows Installer numbers them, which deployment tools read.
namespace exitcode {
constexpr int kSuccess = 0;
constexpr int kRestartNeeded = 3010;
constexpr int kRestartStarted = 1641;
constexpr int kCancelled = 1602;
constexpr int kFailures = 1603;
constexpr int kNoHost = 1605;
constexpr int kNotInstalled = 1605;
// Verify: the installed add-on is not whole. Windows Installer's "the
// configuration data for this product is corrupt".
constexpr int kDiffers = 1610;
constexpr int kAnotherInstall = 1618;
constexpr int kPackageUnusable = 1620;
constexpr int kBadCommandLine = 1639;
constexpr int kUnsupportedVersion = 1642;
}  // namespace exitcode

int ExitCode(const InstallSummary& summary);

// What the exit code means for the run (an install, a removal or a
// verification), in a few words.
std::string ExitCodeMeaning(int code, const RunOptions& options);

}  // namespace setup
