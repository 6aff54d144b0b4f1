#include "setup/install_log.h"

#include "platform/text.h"
#include "resources/version.h"
#include "setup/event_report.h"
#include "setup/installer_state.h"
#include "setup/system_platform.h"

namespace setup {

namespace {

constexpr int kNameTries = 10;

// The path with the run's process id before the name's extension, and from
// the second attempt on a counter: LiveUpdateSetup-1234.log,
// LiveUpdateSetup-1234-2.log.
std::string UniqueName(const std::string& path, uint32_t processId, int attempt) {
    // The 95 family's ids have the top bit set; the name keeps the other 31.
    std::string tag = platform::Cat({"-", platform::Number(static_cast<long>(processId & 0x7FFFFFFFu))});
    if (attempt > 1) tag += platform::Cat({"-", platform::Number(attempt)});
    const auto folderEnd = path.find_last_of("\\/");
    const auto dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (folderEnd == std::string::npos || dot > folderEnd);
    std::string name = path;
    return name.insert(hasExtension ? dot : name.size(), tag);
}

// Made new under the first free unique name beside the path, followed by
// `ending`; `created` receives the name. A name left by an earlier run is
// passed over, never reused.
std::unique_ptr<platform::LogFile> CreateUnique(platform::OsServices& os, const std::string& path,
                                                const char* ending, std::string& created) {
    const uint32_t processId = os.ProcessId();
    for (int attempt = 1; attempt <= kNameTries; ++attempt) {
        created = UniqueName(path, processId, attempt) + ending;
        if (auto file = os.CreateLogFile(created)) return file;
    }
    return nullptr;
}

std::unique_ptr<platform::LogFile> CreateBeside(platform::OsServices& os, const std::string& path,
                                                std::string& created) {
    return CreateUnique(os, path, "", created);
}

// The 95 family knows no links, and renames nothing over a name: the old log
// is removed and the log made new.
std::unique_ptr<platform::LogFile> CreateReplacing95(platform::OsServices& os, const std::string& path,
                                                     std::string& created) {
    os.DeleteFileA(path);
    created = path;
    if (auto file = os.CreateLogFile(path)) return file;
    return CreateBeside(os, path, created);
}

// The log at its name, never written through whatever stands there (a link
// planted in a folder that others can write): made new under a temporary
// name of this run and renamed over the name, which replaces a file or a
// link itself. Should the rename fail (the log of a run still writing it, a
// folder), the temporary goes and the log gets a name of its own beside it.
std::unique_ptr<platform::LogFile> CreateAtName(platform::OsServices& os, const std::string& path,
                                                std::string& created) {
    if (IsWin9X(os)) return CreateReplacing95(os, path, created);
    std::string temporary;
    auto file = CreateUnique(os, path, ".new~", temporary);
    created = path;
    if (file && os.MoveFileReplaceA(temporary, path) == platform::MoveResult::kMoved) return file;
    if (file) {
        file.reset();
        os.DeleteFileA(temporary);
    }
    return CreateBeside(os, path, created);
}

const char* const kModeTexts[] = {"", "; passive", "; quiet"};

// Who ran it, how, and where: the arguments as given, the account, and the
// Windows version (as the system reports it to a program of this age).
std::string RunLine(Context& ctx) {
    platform::OsVersionInfo version{};
    version.dwOSVersionInfoSize = sizeof version;
    const bool known = ctx.os.GetVersionExA(version) != 0;
    const std::string windows =
        known ? platform::Cat({platform::Number(static_cast<long>(version.dwMajorVersion)), ".",
                               platform::Number(static_cast<long>(version.dwMinorVersion)), ".",
                               platform::Number(static_cast<long>(version.dwBuildNumber & 0xFFFF)),
                               IsWin9X(ctx.os) ? " (95 family)" : " (NT family)"})
              : std::string("unknown");
    const std::string account = ctx.os.RunningAccountName();
    return platform::Cat({"Run: command line \"", ctx.state.Options.commandLine, "\"; account ",
                          account.empty() ? std::string("unknown") : account, "; Windows ", windows});
}

}  // namespace

void InstallLog::Open(Context& ctx) {
    if (opened_) return;
    opened_ = true;
    const auto& s = ctx.state;
    const std::string folder = s.Options.logPath.empty() ? ctx.os.GetTempFolder() : std::string();
    const std::string path = folder.empty() ? s.Options.logPath
                                            : folder + (s.Options.verify ? kVerifyLogName : kInstallLogName);
    // A run refused because another one is running leaves that one's log alone.
    if (!path.empty())
        file_ = s.Summary.refusal == Refusal::kAnotherInstall ? CreateBeside(ctx.os, path, path_)
                                                               : CreateAtName(ctx.os, path, path_);
    if (!file_) path_.clear();
    Write(platform::Cat({ctx.os.LocalTimestamp(), " LiveUpdateSetup ", LU_VERSION_TEXT, "; system ", s.SystemName,
                         "; host folder ", s.ProductPath, "; host version ", s.ProductVersion, "; web ID ", s.WebID,
                         kModeTexts[static_cast<int>(s.Options.mode)], s.Options.uninstall ? "; uninstall" : "",
                         s.Options.verify ? "; verify" : ""}));
    Write(RunLine(ctx));
    for (const std::string& line : early_) Write(line);
    early_.clear();
}

void InstallLog::Write(const std::string& line) {
    if (!opened_)
        early_.push_back(line);
    else if (file_)
        file_->WriteLine(line);
}

namespace {

const char* ResultText(FileResult result) {
    switch (result) {
    case FileResult::kCopied: return "copied";
    case FileResult::kReplaced: return "replaced";
    case FileResult::kKept: return "kept (already there)";
    case FileResult::kCopyFailed: return "could not copy";
    case FileResult::kInUse: return "in use, not replaced";
    case FileResult::kSourceMissing: return "source not found";
    case FileResult::kOutsideHost: return "not copied: its folder leaves the host folder";
    case FileResult::kAtRestart: return "in use; replaced at the next restart";
    }
    return "";
}

std::string RegistrationText(const FileOutcome& outcome) {
    if (outcome.registration == Registration::kNone) return "nothing to register";
    if (outcome.registration == Registration::kAsData) return "registered as data: " + outcome.command;
    if (outcome.command.empty()) return "to register with the type-library calls";
    if (outcome.registration == Registration::kAfterRestart)
        return platform::Cat({"to register after the restart: ", outcome.command});
    return platform::Cat({"to register: ", outcome.command});
}

// What follows the result: the registration of a file in place or waiting
// for the restart, or why a file did not arrive, in brackets.
std::string Detail(const FileOutcome& outcome) {
    if (outcome.result == FileResult::kAtRestart)
        return platform::Cat({"; waiting as ", outcome.waiting, "; ", RegistrationText(outcome)});
    if (Arrived(outcome.result)) return "; " + RegistrationText(outcome);
    return outcome.trouble.empty() ? std::string() : platform::Cat({" (", outcome.trouble, ")"});
}

}  // namespace

bool Arrived(FileResult result) {
    return result == FileResult::kCopied || result == FileResult::kReplaced || result == FileResult::kKept;
}

void InstallLog::Entry(const FileOutcome& outcome) {
    Write(platform::Cat({outcome.source, " -> ", outcome.destination, ": ", ResultText(outcome.result),
                         Detail(outcome)}));
    if (observer) observer(outcome);
}

namespace {
std::string HowTheRemovalEnded(const InstallSummary& summary) {
    if (!summary.installCompleted) return "Not removed";
    std::string how = summary.undoFailures ? "Removed with failures" : "Removed";
    if (summary.restartStarted) return how + "; restart started";
    return summary.restartNeeded ? how + "; finishes at the next restart" : how;
}

std::string HowTheVerificationEnded(const InstallSummary& summary) {
    if (!summary.installCompleted) return "Not verified";
    if (!summary.differences) return "Whole";
    return platform::Cat({"Not whole; differences: ", platform::Number(summary.differences)});
}

std::string HowTheRunEnded(const InstallerState& s) {
    const InstallSummary& summary = s.Summary;
    if (s.Options.verify) return HowTheVerificationEnded(summary);
    if (s.Options.uninstall) return HowTheRemovalEnded(summary);
    if (!summary.installCompleted) return "Not installed";
    const bool failures = !s.LastFileFailure.empty() || summary.settingsFailed || summary.startMenuFailed;
    std::string how = failures ? "Completed with failures" : "Completed";
    if (!s.LastFileFailure.empty()) how = platform::Cat({how, "; last trouble: ", s.LastFileFailure});
    if (summary.replacedAtRestart) {
        const long waiting = summary.replacedAtRestart;
        how = platform::Cat({how, "; files replaced at the next restart: ", platform::Number(waiting)});
    }
    if (summary.restartStarted)
        how += "; restart started";
    else if (summary.restartNeeded)
        how += "; restart needed";
    return how;
}
}  // namespace

int EndRun(Context& ctx) {
    InstallerState& s = ctx.state;
    const int code = ExitCode(s.Summary);
    const InstallSummary& summary = s.Summary;
    const bool helpLogged = summary.helpShown && s.Options.Unattended();  // the switches went to the log
    const bool logged = summary.installStarted || summary.refusal != Refusal::kNone || summary.noDesktop || helpLogged;
    if (logged) s.Log.Open(ctx);
    if (!summary.helpShown) ReportRun(ctx, code);  // showing the switches is no run
    if (logged) s.Log.Write(platform::Cat({HowTheRunEnded(s), "; exit code ", platform::Number(code)}));
    s.Record.End(ctx, code);
    return code;
}

}  // namespace setup
