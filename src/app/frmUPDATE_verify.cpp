// The verification run: the install record read as the uninstall reads it,
// checked against the machine, each difference logged, and (attended) a
// message that sums it up. It changes nothing and asks nothing; the window
// never shows.
#include "app/frmUPDATE.h"

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/uninstall.h"
#include "setup/verify.h"

void frmUPDATE::LoadVerify() {
    auto& s = ctx_.state;
    GetServerPath();
    const std::string system = SystemToRemove();
    if (!system.empty()) SetCaption(setup::ProductName(system));
    TakeInstallLock(system);  // an install or removal under way is not judged half done
    recordFolder_ = FindRecordFolder();
    if (recordFolder_.empty())
        Refuse(setup::Refusal::kNotInstalled, "Live Update is not installed", platform::kMsgExclamation, Caption());
    if (setup::RemovalInterrupted(record_)) {
        s.Log.Write("A removal of " + setup::ProductName(setup::RecordedSystemName(record_)) +
                    " was interrupted; /uninstall finishes it");
        Refuse(setup::Refusal::kNotInstalled, "Live Update is not installed", platform::kMsgExclamation, Caption());
    }
    ReadRecordedHost();
    s.Summary.installStarted = true;
    s.Log.Open(ctx_);
    s.Log.Write(platform::Cat({"Install record: ", recordFolder_, "\\", setup::kRecordFileName}));
    setup::MachineWorld world(ctx_.os);
    const setup::VerifyPlaces places{recordFolder_,
                                     {ctx_.os.GetProgramsFolder(true), ctx_.os.GetProgramsFolder(false)}};
    std::vector<std::string> shortLines;
    for (const setup::Difference& difference : setup::VerifyRecord(record_, world, places)) {
        s.LastFileFailure = setup::DifferenceLine(difference);
        s.Log.Write("Differs: " + s.LastFileFailure);
        shortLines.push_back(setup::DifferenceInShort(difference));
    }
    s.Summary.differences = static_cast<int>(shortLines.size());
    s.Summary.installCompleted = true;
    ReportDifferences(shortLines);
    ctx_.rt.EndProgram();
}

// Attended, a message sums it up; unattended, the log has it all.
void frmUPDATE::ReportDifferences(const std::vector<std::string>& lines) {
    if (ctx_.state.Options.Unattended()) return;
    const std::string product = setup::ProductName(ctx_.state.SystemName);
    if (lines.empty())
        return void(ctx_.rt.ShowMessage(product + " is installed and whole.", platform::kMsgInformation, Caption()));
    std::string text = product + " differs from what was installed:" + FirstLines(lines, "the log");
    if (!ctx_.state.Log.Path().empty()) text += "\r\n\r\nThe log: " + ctx_.state.Log.Path();
    ctx_.rt.ShowMessage(text, platform::kMsgExclamation, Caption());
}
