#pragma once
// The forms runtime on the Windows API: the window, its labels and buttons as
// real child windows of the standard classes (the picture panel and the
// frame are painted on the window), the message loop, dialogs, pointer and
// the DDE client.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/forms_runtime.h"
#include "platform/win32/dde_win32.h"
#include "platform/win32/picture_win32.h"
#include "platform/win32/shell_win32.h"

namespace platform::win32 {

class Win32Forms : public FormsRuntime {
public:
    explicit Win32Forms(HINSTANCE instance);
    ~Win32Forms() override;

    // Creates the start-up window, raises its load event, shows it and runs
    // the message loop until the window is unloaded or the program ended;
    // false when the window could not be created.
    bool Run(Form& startup);

    int ShowMessage(const std::string& text, int flags, const std::string& title) override;
    std::string AskText(const std::string& prompt, const std::string& title) override;
    void YieldToUI() override;
    void WaitForProgramsOrInput(const std::vector<void*>& programs, uint32_t ms) override;
    void RunAfter(uint32_t ms, std::function<void()> action) override;
    void SetScreenPointer(int pointer) override;
    [[noreturn]] void EndProgram() override;
    double ScreenWidthTwips() override;
    double ScreenHeightTwips() override;
    void UnloadWindow(Form& form) override;
    DdeClient& Dde() override { return dde_; }

    int Pixels(double twips) const;
    HFONT FontFor(const Control& control);
    void SizeLabel(const Control& control, HWND hwnd, POINT origin);
    Control* ControlOf(HWND hwnd) const;

private:
    class Peer;
    void RegisterClasses();
    void CreateFormWindow(Form& form);
    POINT OriginOf(const Form& form, const Control& control) const;
    void CreateChildren(Form& form);
    HWND CreateControlWindow(Control& control, POINT origin, int id);
    void Attach(Control& control, HWND hwnd, POINT origin);
    HWND FirstFocus() const;
    void MoveFocusFrom(HWND hwnd);
    void DestroyFormWindow();
    void ProcessMessage(MSG& msg);
    void RunTimer(UINT_PTR id);
    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD);
    void ShowProgress(const ProgressBar& bar, HWND hwnd);
    // Closes the window and ends the message loop.
    void Close();
    // What EndProgram throws, caught where the event began.
    struct ProgramEnd {};
    bool HandleDialogKeys(const MSG& msg);
    void RunEvent(const std::function<void()>& handler);
    void ShowUnhandledError(const RuntimeError& error);
    void PaintFace(HWND hwnd, HDC dc);
    LRESULT FormMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ColorFor(HWND control, HDC dc);

    static LRESULT CALLBACK FormProc(HWND, UINT, WPARAM, LPARAM);

    // A control painted on the window, and where, in window pixels.
    struct Area {
        const Control* control;
        RECT rect;
    };

    HINSTANCE instance_;
    int dpi_ = 96;
    int pointer_ = 0;
    bool inEvent_ = false;
    bool unloaded_ = false;
    int barStep_ = -1;  // the progress bar's visible step and range, as last sent
    int barMax_ = 0;
    struct Timer {
        UINT_PTR id;
        std::function<void()> action;
    };
    std::vector<Timer> timers_;
    TaskbarProgress taskbar_;
    Form* form_ = nullptr;
    HWND formHwnd_ = nullptr;
    HWND lastFocus_ = nullptr;
    ScaledBitmap banner_;
    std::vector<Area> panels_;
    std::vector<Area> frames_;
    std::map<std::string, HFONT> fonts_;
    std::map<HWND, Control*> controls_;
    std::vector<std::unique_ptr<Peer>> peers_;
    Win32DdeClient dde_;
};

}  // namespace platform::win32
