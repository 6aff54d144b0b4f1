#pragma once
// What setup routines need of the installer's window: its controls by name
// (the DDE client label) and its status line.
#include <string>

#include "platform/controls.h"

namespace setup {

class MainWindow : public platform::Form {
public:
    using platform::Form::Form;
    // Sets the status text and repaints it at once.
    virtual void EditMsgline(const std::string& text) = 0;
    // Moves the progress bar on by `steps` of the install's work.
    virtual void AdvanceProgress(int steps) { (void)steps; }
};

}  // namespace setup
