// The uninstall run of the window: the install record found, the question
// asked, the removal shown on the progress bar and status line, and the
// last message naming what was left.
#include "app/frmUPDATE.h"

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/deploy.h"
#include "setup/event_report.h"
#include "setup/ini_file.h"
#include "setup/progman.h"
#include "setup/system_platform.h"
#include "setup/uninstall.h"

// The record names the system and the host folder: the record folder holds
// no update list. Another run holding the lock may be removing the record,
// so it is read only once the lock is ours.
void frmUPDATE::LoadUninstall() {
    auto& s = ctx_.state;
    CentreOnScreen();
    EditMsgline("");
    GetServerPath();
    GetSystemDirectoryA();
    TakeInstallLock(SystemToRemove());
    recordFolder_ = FindRecordFolder();
    if (recordFolder_.empty()) {
        setup::RemoveUnbegunRecordFolder(ctx_.os, setup::RecordFolder(ctx_.os, SystemToRemove()));
        Refuse(setup::Refusal::kNotInstalled, "Live Update is not installed", platform::kMsgExclamation, Caption());
    }
    ReadRecordedHost();
    const std::string heading = "Remove " + s.SystemName + " Live Update";
    lblMainHead(0).SetCaption(heading);
    SetCaption(heading);
    if (!s.Options.Unattended() &&
        ctx_.rt.ShowMessage("Remove " + s.SystemName + " - Live Update from this computer?",
                            platform::kMsgYesNoQuestion, Caption()) != platform::kAnswerYes) {
        s.Summary.refusal = setup::Refusal::kCancelled;
        s.Log.Write("Removal not confirmed; nothing was changed");
        ctx_.rt.EndProgram();
    }
    ShowRemoval();
    ctx_.rt.RunAfter(0, [this] { RemoveInstall(); });
}

// The system and the host folder the record names, and the host's version
// as its settings file has it now.
void frmUPDATE::ReadRecordedHost() {
    auto& s = ctx_.state;
    s.SystemName = setup::RecordedSystemName(record_);
    SetProductPath(setup::RecordedHostFolder(record_));
    std::string version;
    if (setup::ReadIniValue(ctx_.os, s.IniFilePath, "Tovask", "Ver", version)) s.ProductVersion = version;
}

// Only the record folder under Program Files is read, never a record
// beside the running program, which anyone who can write a download folder
// could have planted there. Empty when it holds no record.
std::string frmUPDATE::FindRecordFolder() {
    const std::string folder = setup::RecordFolder(ctx_.os, SystemToRemove());
    if (folder.empty() || ctx_.os.FindFile(platform::Cat({folder, "\\", setup::kRecordFileName})).empty())
        return std::string();
    std::string why;
    if (!setup::RecordFolderTrusted(ctx_.os, folder, why))
        Refuse(setup::Refusal::kRecordUnwritable, setup::UntrustedRecordText(folder, why), platform::kMsgExclamation,
               Caption());
    return setup::ReadInstallRecord(ctx_.os, folder, record_) ? folder : std::string();
}

// Run as the uninstaller copy, the system its folder,
// "<Program Files>\<system> Live Update", is for; run from a package
// folder, the system its update list names. Empty when neither says.
std::string frmUPDATE::SystemToRemove() {
    const std::string own = platform::UCase(ctx_.state.ServerPath);
    const std::string programFiles = platform::UCase(ctx_.os.GetProgramFilesFolder() + "\\");
    const std::string suffix = " LIVE UPDATE";
    const bool inProgramFiles = own.size() > programFiles.size() + suffix.size() &&
                                own.compare(0, programFiles.size(), programFiles) == 0 &&
                                own.compare(own.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (inProgramFiles)
        return ctx_.state.ServerPath.substr(programFiles.size(),
                                            own.size() - programFiles.size() - suffix.size());
    try {
        return platform::Trim(platform::Field(ReadListHeader(), 0));
    } catch (const platform::RuntimeError&) {
        return std::string();  // no update list either
    }
}

void frmUPDATE::ShowRemoval() {
    const std::string& system = ctx_.state.SystemName;
    cmdInstall.SetVisible(false);
    cmdCancel.SetEnabled(false);
    lblUpdate(0).SetCaption("Removing " + system + " Live Update from your system");
    lblUpdate(1).SetCaption(std::string());
}

// Each step of the plan in order, the window answering between them; the
// record's own folder goes last.
void frmUPDATE::RemoveInstall() {
    auto& s = ctx_.state;
    Installing = true;
    setup::SetBusyPointer(ctx_, platform::kPointerHourglass);
    s.Summary.installStarted = true;
    s.Log.Open(ctx_);
    s.Log.Write(platform::Cat({"Install record: ", recordFolder_, "\\", setup::kRecordFileName}));
    setup::KeepEventSource(ctx_, recordFolder_);
    setup::UndoTally tally;
    if (!setup::BeginRemoval(ctx_, recordFolder_, tally))
        Refuse(setup::Refusal::kRecordUnwritable,
               platform::Cat({"The install record in ", recordFolder_,
                              " cannot be written: nothing was changed. Free some disk space and try again."}),
               platform::kMsgExclamation, Caption());
    tally.allowed = setup::UninstallFolders(ctx_, record_, recordFolder_);
    tally.restartNamesFile = setup::RestartNamesFile(recordFolder_);
    int nextKept = 1;
    setup::TakeInKeptAtRestart(
        ctx_, record_, platform::Cat({recordFolder_, "\\", setup::kKeptFolderName}), tally.allowed,
        [&](const setup::RecordEntry& e) { return setup::NoteRemovalLine(tally, e); },
        [&](const std::string& file) { return setup::UnusedKeptPath(ctx_.os, recordFolder_, file, nextKept); });
    const std::vector<setup::UndoStep> steps = setup::PlanUninstall(ctx_, record_, tally.allowed);
    prgInstall.SetMax(static_cast<int>(steps.size()) + 1);
    prgInstall.SetValue(0);
    prgInstall.SetVisible(true);
    uint32_t lastAnswered = ctx_.os.TickCount();
    for (const setup::UndoStep& step : steps) {
        EditMsgline(step.path);
        setup::CarryOut(ctx_, *this, step, tally);
        AdvanceProgress(1);
        setup::KeepAnswering(ctx_, lastAnswered);
    }
    setup::RemoveRecordFolder(ctx_, record_, recordFolder_, tally);
    AdvanceProgress(1);
    s.Summary.installCompleted = true;
    setup::SetBusyPointer(ctx_, platform::kPointerDefault);
    Installing = false;
    ReportRemoval(tally.left);
}

// A message's list: the first ten lines, each on a line of its own, and
// how many more the log names.
std::string frmUPDATE::FirstLines(const std::vector<std::string>& lines, const char* log) {
    constexpr std::size_t kShown = 10;
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < kShown; ++i) text += "\r\n" + lines[i];
    if (lines.size() > kShown)
        text += platform::Cat({"\r\nand ", platform::Number(static_cast<long>(lines.size() - kShown)),
                               " more, named in ", log});
    return text;
}

// Says what became of the removal (unattended, the log takes it), offers
// the restart that files in use need, and closes the window.
void frmUPDATE::ReportRemoval(const std::vector<std::string>& left) {
    auto& s = ctx_.state;
    const bool failures = s.Summary.undoFailures != 0;
    if (!left.empty()) s.LastFileFailure = left.back();
    std::string text = s.SystemName + (failures ? " Live Update was removed, but not all of it could be undone."
                                                : " Live Update was removed from this computer.");
    if (!left.empty()) text += "\r\n\r\nLeft as it was:";
    text += FirstLines(left, "the install log");
    const bool ask = s.Summary.restartNeeded && s.Options.restart == setup::RestartPolicy::kAsk &&
                     !s.Options.Unattended();
    if (s.Summary.restartNeeded)
        text += "\r\n\r\nSome files are in use: the removal finishes when Windows next starts.";
    if (ask) text += " Restart now?";
    EditMsgline("");
    const int flags = ask        ? platform::kMsgYesNoQuestion
                      : failures ? platform::kMsgExclamation
                                 : platform::kMsgInformation;
    const int answer = ctx_.rt.ShowMessage(text, flags, Caption());
    if (s.Summary.restartNeeded &&
        (s.Options.restart == setup::RestartPolicy::kForce || (ask && answer == platform::kAnswerYes)))
        s.Summary.restartStarted = setup::RebootSystem(ctx_.os);
    if (s.Options.Unattended())
        FinishUnattended();
    else
        ctx_.rt.UnloadWindow(*this);
}
