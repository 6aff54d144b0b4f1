// The install command, the settings-file update, closing the window and the
// reboot offer that follows a completed install on the Windows 95 family.
#include "app/frmUPDATE.h"

#include "platform/forms_runtime.h"
#include "setup/deploy.h"
#include "setup/ini_file.h"
#include "setup/system_platform.h"
#include "setup/update_list.h"

void frmUPDATE::cmdInstall_Click() {
    auto& rt = ctx_.rt;
    auto& s = ctx_.state;
    rt.SetScreenPointer(platform::kPointerHourglass);
    s.LastFileFailure.clear();
    s.Log.Start(ctx_);
    if (!s.ProductPath.empty()) {
        rt.YieldToUI();
        setup::ReadUpdateList(ctx_);
        setup::DeployUpdateFiles(ctx_, *this, s.ProductPath);
    }
    UpdateIniFile();
    CreateProgramManagerIcon();
    rt.SetScreenPointer(platform::kPointerDefault);

    lblUpdate(0).SetVisible(true);
    lblUpdate(0).SetCaption("Live Update installation is complete, click");
    lblUpdate(1).SetCaption("Start menu ->programs -> " + s.SystemName + " " + s.ProductVersion + " ->" +
                            s.SystemName + " -  Live Update");
    lblUpdate(1).SetVisible(true);
    InstallCompleted = 1;
    // The last file that failed stays in view; with none, the line is cleared.
    EditMsgline(s.LastFileFailure);
    s.Log.Write(s.LastFileFailure.empty() ? "Completed." : "Completed; last trouble: " + s.LastFileFailure);
    cmdInstall.SetVisible(false);
    cmdCancel.SetCaption("Finish");
}

void frmUPDATE::UpdateIniFile() { setup::WriteIniString(ctx_, "WEB", "UPDATEONLINE", ctx_.state.WebID); }

// Serves as Cancel before the install and as Finish after it.
void frmUPDATE::cmdCancel_Click() { ctx_.rt.UnloadWindow(*this); }

// Runs however the window is closed; the unload always proceeds.
void frmUPDATE::Form_Unload(int& cancel) {
    (void)cancel;
    auto& files = ctx_.state.UpdateFiles;
    files.clear();
    files.shrink_to_fit();
    if (InstallCompleted != 0) CheckWin9X();
}

void frmUPDATE::CheckWin9X() {
    if (!setup::IsWin9X(ctx_.os)) return;
    const int answer = ctx_.rt.ShowMessage(std::string("Live Update") +
                                               " may not run properly until you have rebooted your system." +
                                               "\r\n" + " Do you wish to reboot now ? ",
                                           platform::kMsgYesNoInformation, "Install");
    if (answer == platform::kAnswerYes) setup::RebootSystem(ctx_.os);
}
