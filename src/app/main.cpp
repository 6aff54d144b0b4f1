// Program entry: no arguments are read; the forms runtime runs the one
// window, whose load event runs the start-up sequence.
#include <windows.h>

#include "app/frmUPDATE.h"
#include "platform/win32/forms_win32.h"
#include "platform/win32/os_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    platform::win32::RestrictDllSearchToSystem();
    setup::InstallerState state;
    platform::win32::Win32Os os;
    platform::win32::Win32Forms forms(instance);
    frmUPDATE window(setup::Context{state, os, forms});
    return forms.Run(window);
}

