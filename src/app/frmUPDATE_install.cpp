// The install command, the settings-file update, closing the window and the
// reboot offer that follows a completed install on the Windows 95 family.
#include "app/frmUPDATE.h"
#include "setup/event_report.h"

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/class_data.h"
#include "setup/deploy.h"
#include "setup/files_in_use.h"
#include "setup/ini_file.h"
#include "setup/package_seal.h"
#include "setup/progman.h"
#include "setup/system_platform.h"
#include "setup/update_list.h"

namespace {
// Progress steps after the walk: the settings write, the Start-menu item
// and the registrations' results.
constexpr int kStepsAfterWalk = 3;
// Progress steps the package check takes, when the package is sealed.
constexpr int kCheckSteps = 100;
// How long a passive run shows its completed window before it closes.
constexpr uint32_t kPassiveCloseMs = 1000;
}  // namespace

// The window processes its messages while it installs; a click on Install
// or Cancel (or the close box) meanwhile is ignored, and nothing re-enters.
// The hourglass is a request of the busy pointer, so that the Program
// Manager conversation's own request, which ends before the install waits
// for the registrations, leaves it showing.
void frmUPDATE::cmdInstall_Click() {
    if (Installing || InstallCompleted) return;
    Installing = true;
    auto& s = ctx_.state;
    setup::SetBusyPointer(ctx_, platform::kPointerHourglass);
    s.LastFileFailure.clear();
    s.Summary.installStarted = true;
    s.Log.Open(ctx_);
    if (!s.ProductPath.empty()) {
        ctx_.rt.YieldToUI();
        ReadFileList();
        ReadClassData();
        const bool sealed = !ctx_.os.FindFile(s.ServerPath + "\\" + setup::kSealFileName).empty();
        StartProgress(sealed ? kCheckSteps : 0);
        if (!PackageIsIntact()) return;
        CheckFilesInUse();
    } else {
        StartProgress(0);
    }
    BeginRecord();
    try {
        MakeChanges();
    } catch (const setup::RecordLineUnwritable& stop) {
        StopUnrecorded(stop.record);
    }
    setup::SetBusyPointer(ctx_, platform::kPointerDefault);

    prgInstall.SetVisible(false);
    lblUpdate(0).SetVisible(true);
    lblUpdate(0).SetCaption("Live Update installation is complete, click");
    lblUpdate(1).SetCaption("Start menu ->programs -> " + s.SystemName + " " + s.ProductVersion + " ->" +
                            s.SystemName + " -  Live Update");
    lblUpdate(1).SetVisible(true);
    InstallCompleted = 1;
    s.Summary.installCompleted = true;
    // The last file that failed stays in view; with none, the line says
    // whether the update waits for a restart, or is cleared.
    const bool waiting = s.LastFileFailure.empty() && s.Summary.replacedAtRestart > 0;
    EditMsgline(waiting ? setup::kRestartToFinish : s.LastFileFailure);
    cmdInstall.SetVisible(false);
    cmdCancel.SetCaption("Finish");
    Installing = false;
    FinishUnattended();
}

// Every change, each recorded before it is made.
void frmUPDATE::MakeChanges() {
    auto& s = ctx_.state;
    if (!s.ProductPath.empty()) {
        setup::DeployUpdateFiles(ctx_, *this, s.ProductPath);
        setup::StartRegistrations(ctx_, *this);  // they run while the settings and the item are written
    }
    UpdateIniFile();
    AdvanceProgress(1);
    CreateProgramManagerIcon();
    AdvanceProgress(1);
    setup::WaitForRegistrations(ctx_, *this);
    AdvanceProgress(1);
}

// A change whose line the record cannot take is not made, and nothing
// after it: what was made is in the record, for the uninstall.
void frmUPDATE::StopUnrecorded(const std::string& record) {
    setup::SetBusyPointer(ctx_, platform::kPointerDefault);
    Installing = false;
    ctx_.state.Log.Write("Stopped: the install record could not take the next change's line; nothing more was changed");
    Refuse(setup::Refusal::kRecordUnwritable, "Can't create/write to file: " + record, platform::kMsgExclamation,
           Caption());
}

// A list gone since start-up installs nothing and counts as a failure. A
// list without a body looks like a download cut off after its first line:
// unattended, where nobody sees that nothing was listed, it is refused
// before anything changes. So is, in every mode, a list that names a file
// the installer keeps for itself.
void frmUPDATE::ReadFileList() {
    auto& s = ctx_.state;
    setup::OwnNameListed own;
    const setup::ListRead read = setup::ReadUpdateList(ctx_, &own);
    if (own.line != 0) {
        setup::SetBusyPointer(ctx_, platform::kPointerDefault);
        Refuse(setup::Refusal::kPackageUnusable,
               platform::Cat({"UPDATE.LST line ", platform::Number(own.line), ": ", own.name, " ", own.why,
                              ". Nothing was installed; a package must not list it."}),
               platform::kMsgStop, Caption());
    }
    if (read == setup::ListRead::kMissing)
        setup::ReportFileError(ctx_, *this, setup::kSourceMissing, s.ServerPath + "\\UPDATE.LST");
    if (read == setup::ListRead::kNoBody && s.Options.Unattended())
        Refuse(setup::Refusal::kPackageUnusable,
               "UPDATE.LST lists no files: it ends without a START line. Nothing was installed; obtain the "
               "package again.",
               platform::kMsgStop, Caption());
}

// The package's class registrations as data, read under the rules lucheck
// checks them by, from a handle held past the seal check: a package whose
// data breaks a rule is refused before anything changes.
void frmUPDATE::ReadClassData() {
    auto& s = ctx_.state;
    const std::string path = s.ServerPath + "\\" + setup::kClassDataName;
    if (ctx_.os.FindFile(path).empty()) return;
    s.ClassDataFile = ctx_.os.OpenForReading(path);
    std::string text;
    bool read = s.ClassDataFile && s.ClassDataFile->Size() <= setup::kSealMaxSize;
    std::vector<char> buffer(1 << 16);
    for (int64_t got; read && (got = s.ClassDataFile->Read(buffer.data(), buffer.size())) != 0;)
        read = got > 0 && (text.append(buffer.data(), static_cast<std::size_t>(got)), true);
    std::vector<std::string> listed;
    for (std::size_t i = 1; i < s.UpdateFiles.size(); ++i) listed.push_back(platform::UCase(s.UpdateFiles[i].FileName));
    setup::ClassDataTrouble trouble{0, "it cannot be read"};
    if (read && setup::ReadClassData(text, listed, s.ClassValues, trouble)) return;
    setup::SetBusyPointer(ctx_, platform::kPointerDefault);
    const std::string where = trouble.line ? " line " + platform::Number(trouble.line) : std::string();
    Refuse(setup::Refusal::kPackageUnusable,
           platform::Cat({setup::kClassDataName, where, ": ", trouble.why,
                          ". Nothing was installed; harvest the package again (lucheck --harvest)."}),
           platform::kMsgStop, Caption());
}

// Before the first change: the files that running programs hold, which
// can't be replaced now. Attended, the user closes the programs and
// retries, lets them be replaced when Windows restarts (Ignore), or
// cancels (Abort); unattended, nobody is asked and they are replaced at
// the restart.
void frmUPDATE::CheckFilesInUse() {
    auto& s = ctx_.state;
    for (;;) {
        s.FilesInUse = setup::FindFilesInUse(ctx_, s.ProductPath);
        if (s.FilesInUse.empty()) return;
        std::vector<std::string> names = ctx_.os.ProgramsUsingFiles(s.FilesInUse);
        std::string line = "Files in use:";
        for (const std::string& file : s.FilesInUse) line += " " + file;
        for (std::size_t i = 0; i < names.size(); ++i) line += (i ? ", " : "; held by ") + names[i];
        s.Log.Write(line);
        if (s.Options.Unattended()) return;
        if (names.empty()) names = s.FilesInUse;
        setup::SetBusyPointer(ctx_, platform::kPointerDefault);
        const int answer = ctx_.rt.ShowMessage(setup::FilesInUseQuestion(names),
                                               platform::kMsgAbortRetryIgnore | platform::kMsgExclamation, Caption());
        if (answer == platform::kAnswerAbort) {
            s.Summary.refusal = setup::Refusal::kCancelled;
            s.Log.Write("Cancelled while files were in use; nothing was changed");
            ctx_.rt.EndProgram();
        }
        setup::SetBusyPointer(ctx_, platform::kPointerHourglass);
        if (answer != platform::kAnswerRetry) return;
    }
}

// Before the first change: the record of every change, the uninstaller and
// the Add/Remove Programs entry. Without them nothing is changed.
void frmUPDATE::BeginRecord() {
    std::string unwritable, distrust;
    if (ctx_.state.Record.Begin(ctx_, unwritable, distrust))
        return setup::KeepEventSource(ctx_, setup::RecordFolder(ctx_.os, ctx_.state.SystemName));
    setup::SetBusyPointer(ctx_, platform::kPointerDefault);
    Refuse(setup::Refusal::kRecordUnwritable,
           distrust.empty() ? "Can't create/write to file: " + unwritable : distrust,
           platform::kMsgExclamation, Caption());
}

// The bar covers the package check, every listed entry and the steps after.
void frmUPDATE::StartProgress(int checkSteps) {
    const int entries = static_cast<int>(ctx_.state.UpdateFiles.size()) - 1;
    prgInstall.SetMax(checkSteps + entries + kStepsAfterWalk);
    prgInstall.SetValue(0);
    prgInstall.SetVisible(true);
}

// A sealed package is checked, UPDATE.LST and every listed file, before
// anything is changed; a damaged one is refused and the program ends.
bool frmUPDATE::PackageIsIntact() {
    auto& s = ctx_.state;
    std::vector<std::string> names;  // each is checked once, however often it is listed
    for (std::size_t i = 1; i < s.UpdateFiles.size(); ++i) names.push_back(s.UpdateFiles[i].FileName);
    const std::string before = lblMsgline.Caption();
    int shown = 0;
    uint32_t lastAnswered = ctx_.os.TickCount();
    auto progress = [&](uint64_t done, uint64_t total) {
        if (shown == 0) EditMsgline("Checking the package...");
        const int steps = total ? static_cast<int>(static_cast<double>(done) / total * kCheckSteps) : kCheckSteps;
        if (steps > shown) AdvanceProgress(steps - shown), shown = steps;
        setup::KeepAnswering(ctx_, lastAnswered);
    };
    const setup::SealCheck check = setup::CheckSeal(ctx_.os, s.ServerPath, names, progress, true);
    if (check.status == setup::SealStatus::kNotSealed) {
        s.Log.Write(platform::Cat({"Package check: package not sealed (no ", setup::kSealFileName, ")"}));
        return true;
    }
    if (check.status == setup::SealStatus::kIntact) {
        if (shown < kCheckSteps) AdvanceProgress(kCheckSteps - shown);
        EditMsgline(before);
        s.Log.Write(platform::Cat({"Package check: every file matches ", setup::kSealFileName}));
        return true;
    }
    const setup::SealProblem& problem = check.problems.front();
    s.Log.Write(platform::Cat({"Package check: ", problem.file, " ", setup::SealFaultText(problem.fault)}));
    setup::SetBusyPointer(ctx_, platform::kPointerDefault);
    Refuse(setup::Refusal::kPackageUnusable,
           platform::Cat({"The update package is damaged: ", problem.file,
                          " does not match its checksum. Nothing was installed; obtain the package again."}),
           platform::kMsgStop, Caption());
    return false;
}

// Unattended, the run ends by itself: at once without a window, after a
// moment with one, so that the completed window can be seen.
void frmUPDATE::FinishUnattended() {
    switch (ctx_.state.Options.mode) {
    case setup::RunMode::kAttended: break;
    case setup::RunMode::kQuiet: ctx_.rt.UnloadWindow(*this); break;
    case setup::RunMode::kPassive:
        ctx_.rt.RunAfter(kPassiveCloseMs, [this] { ctx_.rt.UnloadWindow(*this); });
        break;
    }
}

void frmUPDATE::UpdateIniFile() { setup::WriteIniString(ctx_, "WEB", "UPDATEONLINE", ctx_.state.WebID); }

// Serves as Cancel before the install and as Finish after it.
void frmUPDATE::cmdCancel_Click() {
    if (!Installing) ctx_.rt.UnloadWindow(*this);
}

// Runs however the window is closed; the unload always proceeds.
void frmUPDATE::Form_Unload(int& cancel) {
    if (Installing) {
        cancel = 1;
        return;
    }
    auto& files = ctx_.state.UpdateFiles;
    files.clear();
    files.shrink_to_fit();
    if (InstallCompleted != 0) CheckWin9X();
}

// The 95 family needs a restart after the install, and so does every
// system where files wait for it. Unattended, or told so on the command
// line, nobody is asked.
void frmUPDATE::CheckWin9X() {
    auto& s = ctx_.state;
    if (!setup::IsWin9X(ctx_.os) && s.Summary.replacedAtRestart == 0) return;
    s.Summary.restartNeeded = true;
    if (s.Options.restart == setup::RestartPolicy::kNever) return;
    if (s.Options.restart != setup::RestartPolicy::kForce) {
        if (s.Options.Unattended()) return;
        const int answer = ctx_.rt.ShowMessage(std::string("Live Update") +
                                                   " may not run properly until you have rebooted your system." +
                                                   "\r\n" + " Do you wish to reboot now ? ",
                                               platform::kMsgYesNoInformation, "Install");
        if (answer != platform::kAnswerYes) return;
    }
    s.Summary.restartStarted = setup::RebootSystem(ctx_.os);
}
