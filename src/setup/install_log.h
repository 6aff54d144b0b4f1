#pragma once
// The install log, for support: what one install did, file by file, in the
// user's temporary folder. Each line is on disk as soon as it is written; a
// log that cannot be written changes nothing about the install.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/os_services.h"

namespace setup {

struct Context;

constexpr const char* kInstallLogName = "LiveUpdateSetup.log";
// A verification's own log, which leaves the install's log as it was.
constexpr const char* kVerifyLogName = "LiveUpdateSetup-verify.log";

// What became of one listed file.
// kAtRestart: in use, replaced when Windows next starts.
enum class FileResult { kCopied, kReplaced, kKept, kCopyFailed, kInUse, kSourceMissing, kOutsideHost, kAtRestart };
// kQueued: registered once every file is in place, by `command`, or with
// the type-library calls when that is empty. kAfterRestart: `command` runs
// once after the restart that replaces the file (a type library is
// registered at once, for the path it will have).
enum class Registration { kNone, kQueued, kAfterRestart, kAsData };

// Whether the file is in place afterwards (copied, replaced or already there).
bool Arrived(FileResult result);

struct FileOutcome {
    std::string source;
    std::string destination;
    FileResult result = FileResult::kCopied;
    Registration registration = Registration::kNone;
    std::string command;  // the registration command line
    std::string trouble;  // why the copy failed, when a runtime error says more
    std::string waiting;  // where the new content waits for the restart (kAtRestart)
    std::string digest;   // the SHA-256 installed, where a record is kept
};

class InstallLog {
public:
    // Creates the log, once, and writes its header (date, the installer's
    // version, system name, host folder, host version and web ID), then the
    // lines written before. The log never writes through whatever stands at
    // its name, in the temporary folder or at a path given with /log: it is
    // made new and replaces a file or link by a rename, or gets a name of its
    // own beside it (LiveUpdateSetup-<process id>.log). A run refused because
    // another install is running always takes a name of its own.
    void Open(Context& ctx);
    // Lines written before the log is opened wait for it.
    void Write(const std::string& line);
    // Writes the file's line, and tells the observer, if any.
    void Entry(const FileOutcome& outcome);

    // Where the log is; empty when none is written.
    const std::string& Path() const { return path_; }

    std::function<void(const FileOutcome&)> observer;

private:
    bool opened_ = false;
    std::string path_;
    std::vector<std::string> early_;
    std::unique_ptr<platform::LogFile> file_;
};

// How the run ended: writes the log's last line (how the run ended and its
// exit code) and returns the exit code. The program's entry point calls it
// once, however the run ended. A window closed before Install leaves the log
// of an earlier install as it was.
int EndRun(Context& ctx);

}  // namespace setup
