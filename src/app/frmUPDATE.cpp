#include "app/frmUPDATE.h"
#include "app/command_line.h"
#include "setup/host_discovery.h"
#include "setup/update_list.h"

#include "platform/forms_runtime.h"
#include "platform/install_lock.h"
#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/ini_file.h"
#include "setup/install_record.h"

using platform::RuntimeError;

frmUPDATE::frmUPDATE(setup::Context ctx) : setup::MainWindow("frmUPDATE"), ctx_(ctx) {
    LayOut();
    cmdInstall.OnClick = [this] { cmdInstall_Click(); };
    cmdCancel.OnClick = [this] { cmdCancel_Click(); };
    Label1.AttachDde(&ctx_.rt.Dde());
}

// ---- Start-up -------------------------------------------------------------

void frmUPDATE::Form_Load() {
    RouteUnattendedMessages();
    ShowHelpOrCommandLineError();
    if (ctx_.state.Options.uninstall) return LoadUninstall();
    if (ctx_.state.Options.verify) return LoadVerify();
    // Held from now on: the uninstaller is copied from this very program,
    // whatever is put at its name in the package folder meanwhile.
    ctx_.state.OwnImage = ctx_.os.OpenOwnImage();
    try {
        ctx_.state.UpdateFiles.assign(1, setup::UpdateFileEntry{});
        EditMsgline("Getting path for installation...");
        CentreOnScreen();
        InstallCompleted = 0;
        GetServerPath();
        GetSystemName();
        const std::string heading = "Install " + ctx_.state.SystemName + " Live Update";
        lblMainHead(0).SetCaption(heading);
        SetCaption(heading);
        TakeInstallLock(ctx_.state.SystemName);
        GetVantrelPath();
        GetWebID();
        if (ctx_.state.WebID.empty()) {
            // A folder without the host's settings file holds no host at all.
            const bool noHost = ctx_.os.FindFile(ctx_.state.IniFilePath).empty();
            Refuse(noHost ? setup::Refusal::kNoHost : setup::Refusal::kUnsupportedVersion,
                   "Live Update supported only in Vantrel 1.20 or higher versions", platform::kMsgStop,
                   ctx_.state.SystemName);
        }
        EditMsgline("Getting system path...");
        GetSystemDirectoryA();
        cmdInstall.SetEnabled(true);
        cmdHelp.SetEnabled(true);
        lblUpdate(0).SetCaption("This will install " + ctx_.state.SystemName + " Live Update on your system");
        lblUpdate(1).SetCaption("Close " + ctx_.state.SystemName + " before continuing");
        EditMsgline("Click Install to continue or Cancel to Exit");
    } catch (const RuntimeError& error) {
        // No usable list: nothing is shown, as before, but the log says why.
        ctx_.state.Summary.refusal = setup::Refusal::kPackageUnusable;
        ctx_.state.Log.Write(platform::Cat({"Refused: the update list cannot be used (error ",
                                            platform::Number(error.Number()), ", ", error.Description(), ")"}));
        ctx_.rt.EndProgram();
    }
    if (ctx_.state.Options.Unattended()) ctx_.rt.RunAfter(0, [this] { cmdInstall_Click(); });
}

// A command line in error is refused, with the switches and exit codes
// after its reason; /? shows them (unattended, the log takes them). Either
// ends the program.
void frmUPDATE::ShowHelpOrCommandLineError() {
    auto& s = ctx_.state;
    if (!s.Options.error.empty())
        Refuse(setup::Refusal::kBadCommandLine, platform::Cat({s.Options.error, "\r\n\r\n", app::UsageText()}),
               platform::kMsgStop, Caption());
    if (!s.Options.help) return;
    s.Summary.helpShown = true;
    ctx_.rt.ShowMessage(app::UsageText(), platform::kMsgOkOnly, Caption());
    ctx_.rt.EndProgram();
}

// Unattended, what a message box would say goes to the log instead, and,
// where the window shows, to its status line.
void frmUPDATE::RouteUnattendedMessages() {
    if (!ctx_.state.Options.Unattended()) return;
    ctx_.rt.unattendedMessages = [this](const std::string& text) {
        ctx_.state.Log.Write("Message: " + text);
        if (ctx_.state.Options.mode == setup::RunMode::kPassive) EditMsgline(text);
    };
}

// Where some other program took the lock's name, the lock is a file in the
// record folder of the system the run is for.
void frmUPDATE::TakeInstallLock(const std::string& systemName) {
    const std::string folder = setup::RecordFolder(ctx_.os, systemName);
    const platform::InstallLock lock = ctx_.os.TakeInstallLock(folder);
    if (lock == platform::InstallLock::kSquatted)
        ctx_.state.Log.Write(platform::Cat({"Install lock: its name is taken by a program that is not an installation; "
                                            "the lock is ", folder, "\\", platform::kInstallLockFileName, " instead"}));
    if (lock != platform::InstallLock::kHeldByInstaller) return;
    Refuse(setup::Refusal::kAnotherInstall,
           "Another Live Update installation is in progress. Try again when it has finished.",
           platform::kMsgExclamation, Caption());
}

// Tells why the installation cannot go on (unattended, only the log does),
// and ends the program with the refusal's exit code.
void frmUPDATE::Refuse(setup::Refusal refusal, const std::string& text, int flags, const std::string& title) {
    ctx_.state.Summary.refusal = refusal;
    ctx_.state.RefusalText = text;
    ctx_.state.Log.Write("Refused: " + text);
    if (!ctx_.state.Options.Unattended()) ctx_.rt.ShowMessage(text, flags, title);
    ctx_.rt.EndProgram();
}

// Centres the window by its inner size; fractions of a twip are kept.
void frmUPDATE::CentreOnScreen() {
    const double left = ctx_.rt.ScreenWidthTwips() / 2.0 - ScaleWidth() / 2.0;
    const double top = ctx_.rt.ScreenHeightTwips() / 2.0 - ScaleHeight() / 2.0;
    Move(left, top);
}

void frmUPDATE::GetServerPath() { ctx_.state.ServerPath = ctx_.os.GetInstallerFolder(); }

void frmUPDATE::GetSystemDirectoryA() {
    uint32_t size = 145;
    std::string buffer(size, '\0');
    uint32_t n = ctx_.os.GetSystemDirectoryA(buffer, size);
    if (n > size) {  // did not fit: ask again with room for the whole path
        size = n + 1;
        buffer.assign(size, '\0');
        n = ctx_.os.GetSystemDirectoryA(buffer, size);
        if (n >= size) n = 0;
    }
    ctx_.state.SystemDirectory = buffer.substr(0, n);
}

// ---- Update list header ---------------------------------------------------

// Reads the first line of UPDATE.LST and splits it at commas.
std::vector<std::string> frmUPDATE::ReadListHeader() {
    auto& files = ctx_.rt.Files();
    const std::string path = ctx_.state.ServerPath + "\\" + "UPDATE.LST";
    const int fileNumber = files.FreeFile();
    files.OpenForInput(fileNumber, path);
    std::string line;
    try {
        line = files.LineInput(fileNumber);
    } catch (...) {
        files.Close(fileNumber);
        throw;
    }
    files.Close(fileNumber);
    return platform::Split(line, ",");
}

void frmUPDATE::GetSystemName() {
    const auto fields = ReadListHeader();
    ctx_.state.SystemName = platform::Trim(platform::Field(fields, 0));
    // The name also names the record folder and the uninstall entry: it
    // must not lead out of them.
    if (!setup::FindableName(ctx_.state.SystemName))
        throw RuntimeError(platform::errnum::kBadFileNameOrNumber,
                           "the system name \"" + ctx_.state.SystemName + "\" is not a name a folder can have");
    ctx_.state.WebID = platform::Trim(platform::Field(fields, 1));
}

void frmUPDATE::GetWebID() {
    const auto fields = ReadListHeader();
    const int field = setup::WebIdField(ctx_.state.SystemName, ctx_.state.ProductVersion);
    ctx_.state.WebID = field < 0 ? std::string() : platform::Trim(platform::Field(fields, field));
}

// ---- Host product discovery -----------------------------------------------

// The folder given on the command line, else the stored one, else the one
// the user types (unattended: the one the machine's users have stored). A
// folder given, typed or found must hold the host's settings file. The log
// says where the folder came from.
void frmUPDATE::GetVantrelPath() {
    auto& s = ctx_.state;
    try {
        bool mustHoldHost = true;
        std::string folder = s.Options.hostFolder;
        std::string origin = "/dir";
        if (folder.empty()) {
            folder = RegistryRead(s.SystemName, "Setup", "CS_Path", "0");
            origin = "the current user's setting";
            mustHoldHost = folder == "0";
            if (mustHoldHost) folder = AskHostFolder(origin);
        }
        s.Log.Write(platform::Cat({"Host folder: ", folder, ", from ", origin}));
        SetProductPath(folder);
        if (mustHoldHost && ctx_.os.FindFile(s.IniFilePath).empty())
            Refuse(setup::Refusal::kNoHost, "Path not valid", platform::kMsgExclamation, Caption());
        setup::ReadIniString(ctx_, "Tovask", "Ver", "?", s.ProductVersion);
    } catch (const RuntimeError&) {
        s.ProductPath.clear();
    }
}

// Nobody is asked in an unattended run; a blank answer ends the program.
std::string frmUPDATE::AskHostFolder(std::string& origin) {
    auto& s = ctx_.state;
    if (s.Options.Unattended()) return FolderOfOtherUsers(origin);
    origin = "the prompt";
    std::string folder = ctx_.rt.AskText(platform::Cat({"Enter path where ", s.SystemName, " installed"}), Caption());
    if (platform::Trim(folder).empty()) {
        s.Summary.refusal = setup::Refusal::kCancelled;
        ctx_.rt.EndProgram();
    }
    return folder;
}

// The one folder holding the host that the machine's users have stored;
// none, or several, end the program.
std::string frmUPDATE::FolderOfOtherUsers(std::string& origin) {
    auto& s = ctx_.state;
    const auto settings = ctx_.os.GetOtherUsersSettings(s.SystemName, "Setup", "CS_Path");
    const setup::HostChoice choice = setup::ChooseHostFolder(ctx_.os, s.SystemName, settings);
    for (const auto& note : choice.notes) s.Log.Write(note);
    if (!choice.refusal.empty()) Refuse(setup::Refusal::kNoHost, choice.refusal, platform::kMsgExclamation, Caption());
    origin = choice.origin;
    return choice.folder;
}

void frmUPDATE::SetProductPath(const std::string& folder) {
    auto& s = ctx_.state;
    s.ProductPath = folder;
    s.SysPath = s.ProductPath + "\\Sys";
    s.IniFilePath = s.SysPath + "\\TOVASK.INI";
}

std::string frmUPDATE::RegistryRead(const std::string& application, const std::string& section,
                                    const std::string& key, const std::string& defaultValue) {
    return ctx_.os.GetAppSetting(application, section, key, defaultValue);
}

// ---- Status line ----------------------------------------------------------

void frmUPDATE::EditMsgline(const std::string& text) {
    lblMsgline.SetCaption(text);
    lblMsgline.Refresh();
}

void frmUPDATE::AdvanceProgress(int steps) { prgInstall.SetValue(prgInstall.Value() + steps); }
