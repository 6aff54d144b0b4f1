#pragma once
// Forms-runtime services: dialogs, pointer, yielding, ending the program,
// screen metrics, sequential file input, the current runtime error, the DDE
// client behind labels, and unloading the window.
#include <string>

#include "platform/controls.h"
#include "platform/dde_client.h"
#include "platform/runtime_error.h"
#include "platform/sequential_files.h"

namespace platform {

constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;

constexpr int kMsgOkOnly = 0;
constexpr int kMsgStop = 16;
constexpr int kMsgExclamation = 48;
constexpr int kMsgYesNoInformation = 68;
constexpr int kAnswerYes = 6;

class FormsRuntime {
public:
    virtual ~FormsRuntime() = default;

    virtual int ShowMessage(const std::string& text, int flags, const std::string& title) = 0;
    // The typed text; empty when the user cancels.
    virtual std::string AskText(const std::string& prompt, const std::string& title) = 0;
    // Processes every pending message once.
    virtual void YieldToUI() = 0;
    virtual void SetScreenPointer(int pointer) = 0;
    // Stops the program at once; no unload handler runs.
    [[noreturn]] virtual void EndProgram() = 0;
    virtual double ScreenWidthTwips() = 0;
    virtual double ScreenHeightTwips() = 0;
    // Runs the window's unload handler and, unless it cancels, closes it.
    virtual void UnloadWindow(Form& form) = 0;
    virtual DdeClient& Dde() = 0;

    ErrObject& Err() { return err_; }
    SequentialFiles& Files() { return files_; }

private:
    ErrObject err_;
    SequentialFiles files_;
};

}  // namespace platform
