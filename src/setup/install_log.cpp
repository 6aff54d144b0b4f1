#include "setup/install_log.h"

#include "platform/text.h"
#include "resources/version.h"
#include "setup/installer_state.h"

namespace setup {

namespace {

// Where the usual name cannot be had, LiveUpdateSetup-1.log to -9.log.
std::unique_ptr<platform::LogFile> CreateInTempFolder(platform::OsServices& os) {
    const std::string folder = os.GetTempFolder();
    if (folder.empty()) return nullptr;
    auto file = os.CreateLogFile(folder + kInstallLogName, platform::LogCreation::kFresh);
    std::string other = folder + kInstallLogName;
    other.replace(other.size() - 4, 0, "-0");
    for (char digit = '1'; !file && digit <= '9'; ++digit) {
        other[other.size() - 5] = digit;
        file = os.CreateLogFile(other, platform::LogCreation::kNewOnly);
    }
    return file;
}

const char* const kModeTexts[] = {"", "; passive", "; quiet"};

}  // namespace

void InstallLog::Open(Context& ctx) {
    if (opened_) return;
    opened_ = true;
    const auto& s = ctx.state;
    file_ = s.Options.logPath.empty() ? CreateInTempFolder(ctx.os)
                                      : ctx.os.CreateLogFile(s.Options.logPath, platform::LogCreation::kAsGiven);
    Write(platform::Cat({ctx.os.LocalTimestamp(), " LiveUpdateSetup ", LU_VERSION_TEXT, "; system ", s.SystemName,
                         "; host folder ", s.ProductPath, "; host version ", s.ProductVersion, "; web ID ", s.WebID,
                         kModeTexts[static_cast<int>(s.Options.mode)]}));
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
    }
    return "";
}

std::string RegistrationText(const FileOutcome& outcome) {
    if (outcome.registration == Registration::kNone) return "nothing to register";
    if (outcome.command.empty()) return "to register with the type-library calls";
    return platform::Cat({"to register: ", outcome.command});
}

}  // namespace

bool Arrived(FileResult result) {
    return result == FileResult::kCopied || result == FileResult::kReplaced || result == FileResult::kKept;
}

void InstallLog::Entry(const FileOutcome& outcome) {
    std::string detail = Arrived(outcome.result) ? RegistrationText(outcome) : outcome.trouble;
    if (!Arrived(outcome.result) && !detail.empty()) detail = "(" + detail + ")";
    Write(platform::Cat({outcome.source, " -> ", outcome.destination, ": ", ResultText(outcome.result),
                         detail.empty() ? "" : (Arrived(outcome.result) ? "; " : " "), detail}));
    if (observer) observer(outcome);
}

namespace {
std::string HowTheRunEnded(const InstallerState& s) {
    const InstallSummary& summary = s.Summary;
    if (!summary.installCompleted) return "Not installed";
    const bool failures = !s.LastFileFailure.empty() || summary.settingsFailed || summary.startMenuFailed;
    std::string how = failures ? "Completed with failures" : "Completed";
    if (!s.LastFileFailure.empty()) how = platform::Cat({how, "; last trouble: ", s.LastFileFailure});
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
    if (summary.installStarted || summary.refusal != Refusal::kNone || summary.noDesktop || helpLogged) {
        s.Log.Open(ctx);
        s.Log.Write(platform::Cat({HowTheRunEnded(s), "; exit code ", platform::Number(code)}));
    }
    return code;
}

}  // namespace setup
