// Program entry: the command line says how to run; the forms runtime runs
// the one window, whose load event runs the start-up sequence. The exit
// code comes from what became of the run.
#include <windows.h>

#include "app/command_line.h"
#include "app/frmUPDATE.h"
#include "platform/win32/forms_win32.h"
#include "platform/win32/os_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    platform::win32::RestrictDllSearchToSystem();
    setup::InstallerState state;
    state.Options = app::ParseCommandLine(arguments ? arguments : "");
    platform::win32::Win32Os os;
    platform::win32::Win32Forms forms(instance);
    forms.exitCode = [&state] { return setup::ExitCode(state.Summary); };
    forms.showWindow = state.Options.mode != setup::RunMode::kQuiet;  // quiet: no window at any moment
    frmUPDATE window(setup::Context{state, os, forms});
    const int exitCode = forms.Run(window);
    return exitCode == platform::win32::Win32Forms::kNoWindow ? setup::exitcode::kFailures : exitCode;
}

