// Runs the installer's Program Manager conversation against whatever server
// answers on PROGMAN: the worked example's group, command line and title,
// or those given on the command line. Prints the time the conversation took
// and the runtime error left pending (always 0 when it behaves).
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/forms_win32.h"
#include "platform/win32/os_win32.h"
#include "setup/progman.h"

namespace {

// The window's part in the conversation: the hidden DDE client label.
class ConversationWindow : public setup::MainWindow {
public:
    explicit ConversationWindow(platform::DdeClient& dde) : setup::MainWindow("frmUPDATE") {
        Label1.AttachDde(&dde);
        Register(Label1);
    }
    void EditMsgline(const std::string&) override {}
    platform::Label Label1{"Label1"};
};

}  // namespace

int main(int argc, char** argv) {
    const std::string group = argc > 1 ? argv[1] : "Vantrel - Ver 1.30";
    const std::string commandLine = argc > 2 ? argv[2] : "C:\\VANTREL\\TVKUPDT.EXE ";
    const std::string title = argc > 3 ? argv[3] : "Vantrel - Live Update";

    setup::InstallerState state;
    platform::win32::Win32Os os;
    platform::win32::Win32Forms forms(GetModuleHandleA(nullptr));
    setup::Context ctx{state, os, forms};
    ConversationWindow window(forms.Dde());

    const DWORD start = GetTickCount();
    setup::PerformDDE(ctx, window, group, commandLine, title, setup::kCreateGroupAndItem);
    const DWORD elapsed = GetTickCount() - start;
    std::printf("elapsed_ms %lu\npending_error %d\nlink_mode %d\nbusy_nesting %d\n",
                static_cast<unsigned long>(elapsed), static_cast<int>(forms.Err().Number()),
                window.Label1.LinkMode(), static_cast<int>(state.BusyNesting));
    return forms.Err().Number() == 0 && window.Label1.LinkMode() == 0 ? 0 : 1;
}
