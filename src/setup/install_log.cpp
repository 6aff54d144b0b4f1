#include "setup/install_log.h"

#include "resources/version.h"
#include "setup/installer_state.h"

namespace setup {

void InstallLog::Start(Context& ctx) {
    file_.reset();
    const std::string folder = ctx.os.GetTempFolder();
    if (folder.empty()) return;
    file_ = ctx.os.CreateLogFile(folder + kInstallLogName);
    const auto& s = ctx.state;
    Write(ctx.os.LocalTimestamp() + " LiveUpdateSetup " + LU_VERSION_TEXT + "; system " + s.SystemName +
          "; host folder " + s.ProductPath + "; host version " + s.ProductVersion + "; web ID " + s.WebID);
}

void InstallLog::Write(const std::string& line) {
    if (file_) file_->WriteLine(line);
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
    }
    return "";
}

std::string RegistrationText(const FileOutcome& outcome) {
    switch (outcome.registration) {
    case Registration::kNone: return "nothing to register";
    case Registration::kStarted: return "registering: " + outcome.command + " started";
    case Registration::kNotStarted:
        return "could not register: " + outcome.command + " did not start (" + outcome.trouble + ")";
    case Registration::kTypeLibrary: return "registered with the type-library calls";
    case Registration::kTypeLibraryNotLoaded: return "not registered: not a type library that loads";
    }
    return "";
}

}  // namespace

bool Arrived(FileResult result) {
    return result == FileResult::kCopied || result == FileResult::kReplaced || result == FileResult::kKept;
}

void InstallLog::Entry(const FileOutcome& outcome) {
    Write(outcome.source + " -> " + outcome.destination + ": " + ResultText(outcome.result) +
          (Arrived(outcome.result) ? "; " + RegistrationText(outcome) : std::string()));
    if (observer) observer(outcome);
}

}  // namespace setup
