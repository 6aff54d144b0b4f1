// Program entry: the command line says how to run; the forms runtime runs
// the one window, whose load event runs the start-up sequence. However the
// run ends, it comes back here: the log's last line and the exit code say
// what became of it.
#include <windows.h>

#include "app/command_line.h"
#include "app/frmUPDATE.h"
#include "platform/win32/forms_win32.h"
#include "platform/win32/os_win32.h"
#include "setup/install_log.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    platform::win32::RestrictDllSearchToSystem();
    setup::InstallerState state;
    state.Options = app::ParseCommandLine(arguments ? arguments : "");
    platform::win32::Win32Os os;
    platform::win32::Win32Forms forms(instance);
    forms.showWindow = state.Options.mode != setup::RunMode::kQuiet;  // quiet: no window at any moment
    setup::Context ctx{state, os, forms};
    frmUPDATE window(ctx);
    if (!forms.Run(window)) state.Summary.noDesktop = true;
    return setup::EndRun(ctx);
}

