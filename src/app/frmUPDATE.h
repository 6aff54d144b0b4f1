#pragma once
// The installer's one window: its controls, event handlers and the
// installer's own methods (start-up, discovery, web ID, install, exit).
#include <cstdint>
#include <string>
#include <vector>

#include "setup/install_record.h"
#include "setup/main_window.h"
#include "setup/installer_state.h"

class frmUPDATE : public setup::MainWindow {
public:
    explicit frmUPDATE(setup::Context ctx);

    // Controls, in declaration order.
    platform::PictureBox picSteps0{"picSteps", 0};
    platform::Label lblUpdate0{"lblUpdate", 0};
    platform::Label lblUpdate1{"lblUpdate", 1};
    platform::Label lblMainHead0{"lblMainHead", 0};
    platform::Label lblMsgline{"lblMsgline"};
    platform::Frame Frame1{"Frame1"};
    platform::CommandButton cmdInstall{"cmdInstall"};
    platform::CommandButton cmdCancel{"cmdCancel"};
    platform::CommandButton cmdHelp{"cmdHelp"};
    platform::Label Label1{"Label1"};
    platform::ProgressBar prgInstall{"prgInstall"};

    platform::Label& lblUpdate(int index) { return index == 0 ? lblUpdate0 : lblUpdate1; }
    platform::Label& lblMainHead(int) { return lblMainHead0; }

    int32_t InstallCompleted = 0;
    bool Installing = false;  // Install and Cancel are ignored meanwhile

    // Event handlers.
    void Form_Load() override;
    void Form_Unload(int& cancel) override;
    void cmdInstall_Click();
    void cmdCancel_Click();

    // Methods.
    void CheckWin9X();
    void CreateProgramManagerIcon();
    void GetVantrelPath();
    void GetServerPath();
    void GetSystemDirectoryA();
    std::string RegistryRead(const std::string& application, const std::string& section,
                             const std::string& key, const std::string& defaultValue);
    void UpdateIniFile();
    void EditMsgline(const std::string& text) override;
    void AdvanceProgress(int steps) override;
    void GetSystemName();
    void GetWebID();

private:
    void LayOut();
    void ShowHelpOrCommandLineError();
    void RouteUnattendedMessages();
    void TakeInstallLock(const std::string& systemName);
    void Refuse(setup::Refusal refusal, const std::string& text, int flags, const std::string& title);
    std::string AskHostFolder(std::string& origin);
    std::string FolderOfOtherUsers(std::string& origin);
    void SetProductPath(const std::string& folder);
    void ReadFileList();
    void ReadClassData();
    void CheckFilesInUse();
    void BeginRecord();
    void StartProgress(int checkSteps);
    bool PackageIsIntact();
    void FinishUnattended();
    void CentreOnScreen();
    std::vector<std::string> ReadListHeader();
    // The uninstall run.
    void LoadUninstall();
    std::string FindRecordFolder();
    std::string SystemToRemove();
    void MakeChanges();
    void StopUnrecorded(const std::string& record);
    void ShowRemoval();
    void RemoveInstall();
    void ReportRemoval(const std::vector<std::string>& left);
    void ReadRecordedHost();
    static std::string FirstLines(const std::vector<std::string>& lines, const char* log);
    // The verification run.
    void LoadVerify();
    void ReportDifferences(const std::vector<std::string>& lines);
    std::string recordFolder_;
    std::vector<setup::RecordEntry> record_;
    setup::Context ctx_;
};
