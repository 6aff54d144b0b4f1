#pragma once
// Forms-runtime services: dialogs, pointer, yielding, ending the program,
// screen metrics, sequential file input, the current runtime error, the DDE
// client behind labels, and unloading the window.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/dde_client.h"
#include "platform/runtime_error.h"
#include "platform/sequential_files.h"

namespace platform {

constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;

constexpr int kMsgOkOnly = 0;
constexpr int kMsgAbortRetryIgnore = 2;
constexpr int kMsgStop = 16;
constexpr int kMsgExclamation = 48;
constexpr int kMsgYesNoInformation = 68;
constexpr int kMsgYesNoQuestion = 36;
constexpr int kMsgInformation = 64;
constexpr int kAnswerYes = 6;
constexpr int kAnswerAbort = 3;
constexpr int kAnswerRetry = 4;
constexpr int kAnswerIgnore = 5;

class FormsRuntime {
public:
    virtual ~FormsRuntime() = default;

    virtual int ShowMessage(const std::string& text, int flags, const std::string& title) = 0;
    // The typed text; empty when the user cancels.
    virtual std::string AskText(const std::string& prompt, const std::string& title) = 0;
    // Processes every pending message once.
    virtual void YieldToUI() = 0;
    // Waits until one of the programs ends, input arrives or `ms` pass,
    // then processes every pending message once.
    virtual void WaitForProgramsOrInput(const std::vector<void*>& programs, uint32_t ms) = 0;
    // Runs `action` as an event of its own once `ms` have passed and the
    // current event is over.
    virtual void RunAfter(uint32_t ms, std::function<void()> action) = 0;
    virtual void SetScreenPointer(int pointer) = 0;
    // Ends the program: the running event stops at once and the window
    // closes without its unload handler; control returns to the program's
    // entry point, which writes the log's last line and returns the exit code.
    [[noreturn]] virtual void EndProgram() = 0;
    virtual double ScreenWidthTwips() = 0;
    virtual double ScreenHeightTwips() = 0;
    // Runs the window's unload handler and, unless it cancels, closes it.
    virtual void UnloadWindow(Form& form) = 0;
    virtual DdeClient& Dde() = 0;

    ErrObject& Err() { return err_; }

    // When set, no message box is ever shown: its text goes here instead,
    // and the answer is OK. A program that runs unattended sets it.
    std::function<void(const std::string& text)> unattendedMessages;
    // When false, the start-up window is never created or shown.
    bool showWindow = true;
    SequentialFiles& Files() { return files_; }

private:
    ErrObject err_;
    SequentialFiles files_;
};

}  // namespace platform
