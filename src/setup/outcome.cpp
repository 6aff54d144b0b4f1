#include "setup/outcome.h"

namespace setup {

namespace {
int RefusalCode(Refusal refusal) {
    switch (refusal) {
    case Refusal::kNone: break;
    case Refusal::kBadCommandLine: return exitcode::kBadCommandLine;
    case Refusal::kCancelled: return exitcode::kCancelled;
    case Refusal::kNoHost: return exitcode::kNoHost;
    case Refusal::kAnotherInstall: return exitcode::kAnotherInstall;
    case Refusal::kPackageUnusable: return exitcode::kPackageUnusable;
    case Refusal::kUnsupportedVersion: return exitcode::kUnsupportedVersion;
    case Refusal::kRecordUnwritable: return exitcode::kFailures;
    case Refusal::kNotInstalled: return exitcode::kNotInstalled;
    }
    return exitcode::kSuccess;
}
}  // namespace

// Failures outrank a restart: a deployment tool must see that files are
// missing even where the machine restarts.
int ExitCode(const InstallSummary& summary) {
    if (summary.refusal != Refusal::kNone) return RefusalCode(summary.refusal);
    if (summary.noDesktop) return exitcode::kFailures;
    if (summary.helpShown) return exitcode::kSuccess;
    if (!summary.installStarted) return exitcode::kCancelled;  // closed before Install
    if (!summary.installCompleted) return exitcode::kFailures;  // ended by an error mid-install
    if (summary.differences) return exitcode::kDiffers;
    if (summary.fileFailures || summary.registrationFailures || summary.settingsFailed || summary.startMenuFailed ||
        summary.undoFailures)
        return exitcode::kFailures;
    if (summary.restartStarted) return exitcode::kRestartStarted;
    if (summary.restartNeeded) return exitcode::kRestartNeeded;
    return exitcode::kSuccess;
}

namespace {
// The words for an install; the others swap the verb.
const char* InstallMeaning(int code) {
    switch (code) {
    case exitcode::kSuccess: return "installed";
    case exitcode::kRestartNeeded: return "installed; restart needed";
    case exitcode::kRestartStarted: return "installed; restart started";
    case exitcode::kCancelled: return "cancelled";
    case exitcode::kFailures: return "installed with failures, or not installed";
    case exitcode::kNoHost: return "no host product";
    case exitcode::kDiffers: return "not whole";
    case exitcode::kAnotherInstall: return "another installation running";
    case exitcode::kPackageUnusable: return "package damaged or unusable";
    case exitcode::kBadCommandLine: return "bad command line";
    case exitcode::kUnsupportedVersion: return "host version not supported";
    }
    return "unknown";
}
}  // namespace

std::string ExitCodeMeaning(int code, const RunOptions& options) {
    if (!options.uninstall && !options.verify) return InstallMeaning(code);
    switch (code) {
    case exitcode::kSuccess: return options.verify ? "whole" : "removed";
    case exitcode::kRestartNeeded: return "removed; restart needed";
    case exitcode::kRestartStarted: return "removed; restart started";
    case exitcode::kFailures: return options.verify ? "could not be verified" : "removed with failures, or not removed";
    case exitcode::kNotInstalled: return "not installed";
    }
    return InstallMeaning(code);
}

}  // namespace setup
