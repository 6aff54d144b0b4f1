// The Start-menu entry for the update client: a Program Manager group named
// after the host and its version, holding one item that starts TvkUpdt.exe.
#include "app/frmUPDATE.h"
#include "setup/progman.h"

void frmUPDATE::CreateProgramManagerIcon() {
    auto& s = ctx_.state;
    const std::string group = setup::ProgramGroupName(s.SystemName, s.ProductVersion);
    const std::string client = s.ProductPath + "\\" + "TvkUpdt.exe";
    const std::string arguments;
    const std::string title = setup::ProgramItemTitle(s.SystemName);
    // Unattended runs may have no shell to talk to (a deployment tool's
    // service session): the shortcut file is written directly.
    if (s.Options.Unattended())
        s.Summary.startMenuFailed = !setup::CreateStartMenuShortcut(ctx_, group, client, s.ProductPath, title);
    else
        setup::CreateShortcutItem(ctx_, *this, group, "\"" + client + "\"", arguments, title);
}
