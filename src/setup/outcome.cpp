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
    if (summary.fileFailures || summary.registrationFailures || summary.settingsFailed || summary.startMenuFailed ||
        summary.undoFailures)
        return exitcode::kFailures;
    if (summary.restartStarted) return exitcode::kRestartStarted;
    if (summary.restartNeeded) return exitcode::kRestartNeeded;
    return exitcode::kSuccess;
}

}  // namespace setup
