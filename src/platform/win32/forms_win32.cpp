#include "platform/win32/forms_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "platform/text.h"
#include "platform/win32/fonts_win32.h"

namespace platform::win32 {

namespace {
const char kFormClass[] = "LiveUpdateSetupForm";
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr int kFirstControlId = 1000;  // clear of IDOK and IDCANCEL
constexpr int kStandardFontPoints100 = 825;

// The standard text colour, or white where a colour scheme makes the
// background too dark for it (some schemes use black for title-bar text).
COLORREF ReadableTextColor(COLORREF back) {
    const int luminance = (GetRValue(back) * 299 + GetGValue(back) * 587 + GetBValue(back) * 114) / 1000;
    return luminance < 96 ? RGB(255, 255, 255) : GetSysColor(COLOR_WINDOWTEXT);
}

// The common controls are loaded at run time, after the DLL search has been
// restricted to the system directory: as an import they would be loaded
// before the program starts, together with what they load by name.
void LoadCommonControls() {
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE library = LoadLibraryA("comctl32.dll");
    auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    if (init) init(&classes);
}

// The one runtime of the program, for its thread timers' callback.
Win32Forms* running = nullptr;

template <class T>
T* InstanceOf(HWND hwnd) {
    return reinterpret_cast<T*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}
}  // namespace

// Forwards property changes of one control to its window.
class Win32Forms::Peer : public ControlPeer {
public:
    // origin: the top-left corner of the control's container, in window pixels.
    Peer(Win32Forms& runtime, HWND hwnd, POINT origin) : runtime_(runtime), hwnd_(hwnd), origin_(origin) {}

    void Changed(const Control& control, Property property) override {
        switch (property) {
        case Property::Caption:
            SetWindowTextA(hwnd_, control.Caption().c_str());
            runtime_.SizeLabel(control, hwnd_, origin_);
            break;
        case Property::Visible:
            if (!control.Visible()) runtime_.MoveFocusFrom(hwnd_);
            ShowWindow(hwnd_, control.Visible() ? SW_SHOWNA : SW_HIDE);
            if (control.Kind() == ControlKind::ProgressBar)
                runtime_.ShowProgress(static_cast<const ProgressBar&>(control), hwnd_);
            break;
        case Property::Enabled: EnableWindow(hwnd_, control.Enabled()); break;
        case Property::Value: runtime_.ShowProgress(static_cast<const ProgressBar&>(control), hwnd_); break;
        case Property::Position:
            SetWindowPos(hwnd_, nullptr, origin_.x + runtime_.Pixels(control.Left()),
                         origin_.y + runtime_.Pixels(control.Top()), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        }
    }

    void Refresh() override {
        InvalidateRect(hwnd_, nullptr, TRUE);
        UpdateWindow(hwnd_);
    }

private:
    Win32Forms& runtime_;
    HWND hwnd_;
    POINT origin_;
};

Win32Forms::Win32Forms(HINSTANCE instance) : instance_(instance) {
    running = this;
    OleInitialize(nullptr);
    LoadCommonControls();
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RegisterClasses();
}

Win32Forms::~Win32Forms() {
    if (banner_.bitmap) DeleteObject(banner_.bitmap);
    for (auto& font : fonts_) DeleteObject(font.second);
    OleUninitialize();
}

int Win32Forms::Pixels(double twips) const { return static_cast<int>(std::lround(twips * dpi_ / 1440.0)); }

double Win32Forms::ScreenWidthTwips() { return GetSystemMetrics(SM_CXSCREEN) * 1440.0 / dpi_; }

double Win32Forms::ScreenHeightTwips() { return GetSystemMetrics(SM_CYSCREEN) * 1440.0 / dpi_; }

void Win32Forms::RegisterClasses() {
    WNDCLASSA form{};
    form.lpfnWndProc = FormProc;
    form.hInstance = instance_;
    form.hCursor = LoadCursor(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = kFormClass;
    RegisterClassA(&form);

}

// ---- Fonts and label sizing ------------------------------------------------

HFONT Win32Forms::FontFor(const Control& control) {
    const FontSpec standard{"MS Sans Serif", kStandardFontPoints100 / 100.0, FW_NORMAL, ANSI_CHARSET};
    const FontSpec& chosen = control.font.face.empty() ? standard : control.font;
    const std::string key =
        chosen.face + "/" + platform::Number(std::lround(chosen.points * 100)) + "/" + platform::Number(chosen.weight);
    auto& font = fonts_[key];
    if (!font) font = CreateTextFont(chosen, dpi_);
    return font;
}

void Win32Forms::SizeLabel(const Control& control, HWND hwnd, POINT origin) {
    if (control.Kind() != ControlKind::Label) return;
    const auto* label = static_cast<const Label*>(&control);
    if (!label->autoSize) return;
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, FontFor(control));
    RECT box{0, 0, Pixels(control.Width()), 0};
    const char* text = control.Caption().empty() ? " " : control.Caption().c_str();
    UINT format = DT_CALCRECT | DT_NOPREFIX | (label->wordWrap ? DT_WORDBREAK : DT_SINGLELINE);
    DrawTextA(dc, text, -1, &box, format);
    const bool wraps = !label->wordWrap && label->wrapWidth > 0 && box.right > Pixels(label->wrapWidth);
    if (wraps) {
        box = RECT{0, 0, Pixels(label->wrapWidth), 0};
        DrawTextA(dc, text, -1, &box, DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK);
    }
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    const int width = label->wordWrap ? Pixels(control.Width()) : (control.Caption().empty() ? 0 : box.right);
    if (label->wrapWidth <= 0)
        return void(SetWindowPos(hwnd, nullptr, 0, 0, width, box.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    // One line in its place, or wrapped and grown upward from its bottom.
    const LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
    SetWindowLongPtrA(hwnd, GWL_STYLE, style | (wraps ? SS_LEFT : SS_LEFTNOWORDWRAP));
    const int top = origin.y + Pixels(control.Top()) + (wraps ? Pixels(control.Height()) - box.bottom : 0);
    SetWindowPos(hwnd, nullptr, origin.x + Pixels(control.Left()), top, width, box.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- Creating the window ---------------------------------------------------

void Win32Forms::CreateFormWindow(Form& form) {
    form_ = &form;
    RECT outer{0, 0, Pixels(form.Width()), Pixels(form.Height())};
    AdjustWindowRectEx(&outer, kFormStyle, FALSE, 0);
    formHwnd_ = CreateWindowExA(0, kFormClass, form.Caption().c_str(), kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance_,
                                this);
    auto icon = [&](int size) {
        return reinterpret_cast<LPARAM>(LoadImageA(instance_, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, 0));
    };
    SendMessageA(formHwnd_, WM_SETICON, ICON_BIG, icon(GetSystemMetrics(SM_CXICON)));
    SendMessageA(formHwnd_, WM_SETICON, ICON_SMALL, icon(GetSystemMetrics(SM_CXSMICON)));
    Attach(form, formHwnd_, POINT{0, 0});
    CreateChildren(form);
}

// The top-left corner of the control's container, in window pixels.
POINT Win32Forms::OriginOf(const Form& form, const Control& control) const {
    const Control* container = control.Container();
    if (!container || container == &form) return POINT{0, 0};
    const POINT outer = OriginOf(form, *container);
    return POINT{outer.x + Pixels(container->Left()), outer.y + Pixels(container->Top())};
}

// The picture panel and the frame are painted on the window itself instead
// of being windows: the window's children are then only its texts and
// buttons, which screen readers meet in the order they are created, top to
// bottom and left to right (the tab order decides only the first focus).
void Win32Forms::CreateChildren(Form& form) {
    struct Placed {
        Control* control;
        POINT origin;
        int id;
    };
    std::vector<Placed> windows;
    const auto& all = form.Controls();
    for (std::size_t i = 0; i < all.size(); ++i) {
        Control& control = *all[i];
        const POINT origin = OriginOf(form, control);
        const RECT area{origin.x + Pixels(control.Left()), origin.y + Pixels(control.Top()),
                        origin.x + Pixels(control.Left()) + Pixels(control.Width()),
                        origin.y + Pixels(control.Top()) + Pixels(control.Height())};
        if (control.Kind() == ControlKind::PictureBox) {
            panels_.push_back({&control, area});
            if (control.pictureResource && !banner_.bitmap)
                banner_ = LoadScaledPicture(instance_, control.pictureResource, dpi_);
        } else if (control.Kind() == ControlKind::Frame) {
            frames_.push_back({&control, area});
        } else {
            windows.push_back({&control, origin, kFirstControlId + static_cast<int>(i)});
        }
    }
    auto readingKey = [this](const Placed& p) {
        return std::make_pair(p.origin.y + Pixels(p.control->Top()), p.origin.x + Pixels(p.control->Left()));
    };
    std::stable_sort(windows.begin(), windows.end(),
                     [&](const Placed& a, const Placed& b) { return readingKey(a) < readingKey(b); });
    for (const Placed& placed : windows) CreateControlWindow(*placed.control, placed.origin, placed.id);
}

HWND Win32Forms::CreateControlWindow(Control& control, POINT origin, int id) {
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    const char* windowClass = "STATIC";
    if (control.Kind() == ControlKind::Label) {
        const auto& label = static_cast<const Label&>(control);
        style |= SS_NOPREFIX | (label.wordWrap || !label.autoSize ? SS_LEFT : SS_LEFTNOWORDWRAP);
    } else if (control.Kind() == ControlKind::CommandButton) {
        windowClass = "BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
    } else if (control.Kind() == ControlKind::ProgressBar) {
        windowClass = PROGRESS_CLASSA;
    }
    if (control.Visible()) style |= WS_VISIBLE;
    if (!control.Enabled()) style |= WS_DISABLED;
    HWND hwnd = CreateWindowExA(0, windowClass, control.Caption().c_str(), style, origin.x + Pixels(control.Left()),
                                origin.y + Pixels(control.Top()), Pixels(control.Width()), Pixels(control.Height()),
                                formHwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, this);
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control)), FALSE);
    Attach(control, hwnd, origin);
    SizeLabel(control, hwnd, origin);
    if (control.Kind() == ControlKind::ProgressBar) ShowProgress(static_cast<const ProgressBar&>(control), hwnd);
    return hwnd;
}

void Win32Forms::Attach(Control& control, HWND hwnd, POINT origin) {
    peers_.push_back(std::make_unique<Peer>(*this, hwnd, origin));
    control.AttachPeer(peers_.back().get());
    controls_[hwnd] = &control;
}

// The control of the lowest tab position that can take the focus.
HWND Win32Forms::FirstFocus() const {
    HWND first = nullptr;
    int firstTab = 0;
    for (const auto& [hwnd, control] : controls_) {
        const bool focusable = control->Kind() == ControlKind::CommandButton && IsWindowVisible(hwnd) &&
                               IsWindowEnabled(hwnd);
        if (focusable && (!first || control->TabIndex() < firstTab)) {
            first = hwnd;
            firstTab = control->TabIndex();
        }
    }
    return first;
}

// A control that is hidden while it has the focus hands it on to the next
// control that can take it, as the tab order has it.
void Win32Forms::MoveFocusFrom(HWND hwnd) {
    if (GetFocus() != hwnd) return;
    HWND next = GetNextDlgTabItem(formHwnd_, hwnd, FALSE);
    if (next && next != hwnd) {
        SetFocus(next);
        lastFocus_ = next;
    }
}

Control* Win32Forms::ControlOf(HWND hwnd) const {
    auto it = controls_.find(hwnd);
    return it == controls_.end() ? nullptr : it->second;
}

void Win32Forms::DestroyFormWindow() {
    for (auto& entry : controls_) entry.second->AttachPeer(nullptr);
    controls_.clear();
    HWND hwnd = formHwnd_;
    formHwnd_ = nullptr;
    if (hwnd) DestroyWindow(hwnd);
}

// ---- Running ---------------------------------------------------------------

// Without a window (an unattended run), the load event and what it
// schedules run all the same; the program ends when the form is unloaded
// or an event ends it.
bool Win32Forms::Run(Form& startup) {
    if (showWindow) CreateFormWindow(startup);
    RunEvent([&] { startup.Form_Load(); });
    if (unloaded_) return true;
    if (showWindow && !formHwnd_) return false;  // no desktop to show it on
    if (formHwnd_) {
        ShowWindow(formHwnd_, SW_SHOW);
        lastFocus_ = FirstFocus();
        SetFocus(lastFocus_);
        UpdateWindow(formHwnd_);
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) ProcessMessage(msg);
    return true;
}

// Enter acts only on the push button that has the focus; Escape on nothing.
bool Win32Forms::HandleDialogKeys(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || (msg.wParam != VK_RETURN && msg.wParam != VK_ESCAPE)) return false;
    if (!formHwnd_ || (msg.hwnd != formHwnd_ && !IsChild(formHwnd_, msg.hwnd))) return false;
    if (msg.wParam == VK_RETURN) {
        HWND focus = GetFocus();
        const Control* control = ControlOf(focus);
        if (control && control->Kind() == ControlKind::CommandButton) SendMessageA(focus, BM_CLICK, 0, 0);
    }
    return true;
}

void Win32Forms::ProcessMessage(MSG& msg) {
    if (HandleDialogKeys(msg)) return;
    if (formHwnd_ && IsDialogMessageA(formHwnd_, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void Win32Forms::YieldToUI() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        ProcessMessage(msg);
    }
}

// Waits on at most the first 63 programs (the system's limit beside the
// message queue); the rest are looked at when the caller polls.
void Win32Forms::WaitForProgramsOrInput(const std::vector<void*>& programs, uint32_t ms) {
    const DWORD count = static_cast<DWORD>(std::min<std::size_t>(programs.size(), MAXIMUM_WAIT_OBJECTS - 1));
    MsgWaitForMultipleObjects(count, count ? const_cast<HANDLE*>(programs.data()) : nullptr, FALSE, ms,
                              QS_ALLINPUT);
    YieldToUI();
}

// A thread timer, so that it works without a window. It fires again until
// no other event is running, then runs its action once.
void Win32Forms::RunAfter(uint32_t ms, std::function<void()> action) {
    const UINT_PTR id = SetTimer(nullptr, 0, ms ? ms : USER_TIMER_MINIMUM, TimerProc);
    if (id) timers_.push_back({id, std::move(action)});
}

void CALLBACK Win32Forms::TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    if (running) running->RunTimer(id);
}

void Win32Forms::RunTimer(UINT_PTR id) {
    auto timer = std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
    if (inEvent_ || timer == timers_.end()) return;
    KillTimer(nullptr, id);
    const std::function<void()> action = std::move(timer->action);
    timers_.erase(timer);
    RunEvent(action);
}

// Runs an event handler. A click or close that arrives while another handler
// runs (during one of its yields) is ignored, so a running install can't be
// re-entered or have its window taken away. An unhandled runtime error is
// shown and ends the program, as EndProgram does: the window closes and the
// message loop returns to the program's entry point.
void Win32Forms::RunEvent(const std::function<void()>& handler) {
    if (inEvent_) return;
    inEvent_ = true;
    try {
        handler();
    } catch (const ProgramEnd&) {
        Close();
    } catch (const RuntimeError& error) {
        ShowUnhandledError(error);
        Close();
    }
    inEvent_ = false;
}

void Win32Forms::ShowUnhandledError(const RuntimeError& error) {
    const std::string text =
        "Run-time error '" + platform::Number(error.Number()) + "':\r\n\r\n" + error.Description();
    ShowMessage(text, kMsgStop, "LiveUpdateSetup");
}

// Unwinds to RunEvent, which every event handler runs under.
void Win32Forms::EndProgram() { throw ProgramEnd{}; }

void Win32Forms::Close() {
    if (formHwnd_) taskbar_.Clear(formHwnd_);
    DestroyFormWindow();
    if (!unloaded_) PostQuitMessage(0);
    unloaded_ = true;
}

void Win32Forms::UnloadWindow(Form& form) {
    int cancel = 0;
    form.Form_Unload(cancel);
    if (!cancel) Close();
}

// ---- Dialogs and pointer -----------------------------------------------------

int Win32Forms::ShowMessage(const std::string& text, int flags, const std::string& title) {
    if (unattendedMessages) {
        unattendedMessages(text);
        return IDOK;
    }
    HWND owner = formHwnd_ && IsWindowVisible(formHwnd_) ? formHwnd_ : nullptr;
    return MessageBoxA(owner, text.c_str(), title.c_str(), static_cast<UINT>(flags) | MB_SETFOREGROUND);
}

// The bar, and the taskbar button where the system can show progress there.
// The bar moves in at most kBarSteps visible steps; finer ones would only
// repaint it.
void Win32Forms::ShowProgress(const ProgressBar& bar, HWND hwnd) {
    constexpr int kBarSteps = 200;
    const int step = MulDiv(bar.Value(), kBarSteps, bar.Max());
    if (step != barStep_ || bar.Max() != barMax_) {
        barStep_ = step;
        barMax_ = bar.Max();
        SendMessageA(hwnd, PBM_SETRANGE32, 0, bar.Max());
        SendMessageA(hwnd, PBM_SETPOS, static_cast<WPARAM>(bar.Value()), 0);
    }
    if (!formHwnd_) return;
    if (bar.Visible())
        taskbar_.Set(formHwnd_, static_cast<unsigned>(bar.Value()), static_cast<unsigned>(bar.Max()));
    else
        taskbar_.Clear(formHwnd_);
}

void Win32Forms::SetScreenPointer(int pointer) {
    pointer_ = pointer;
    SetCursor(LoadCursor(nullptr, pointer == kPointerHourglass ? IDC_WAIT : IDC_ARROW));
}

// ---- Window procedures -------------------------------------------------------

LRESULT Win32Forms::ColorFor(HWND control, HDC dc) {
    const Control* owner = ControlOf(control);
    const int index = owner && owner->backColor != kNoSystemColor ? owner->backColor : COLOR_BTNFACE;
    const COLORREF back = GetSysColor(index);
    SetBkColor(dc, back);
    SetTextColor(dc, ReadableTextColor(back));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(index));
}

LRESULT Win32Forms::FormMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            Control* control = ControlOf(reinterpret_cast<HWND>(lParam));
            auto* button = control && control->Kind() == ControlKind::CommandButton
                               ? static_cast<CommandButton*>(control) : nullptr;
            if (button && button->OnClick) RunEvent(button->OnClick);
        }
        return 0;
    case WM_CLOSE:
        if (form_) RunEvent([this] { UnloadWindow(*form_); });
        return 0;
    case WM_SETCURSOR:
        if (pointer_ == kPointerHourglass) {
            SetCursor(LoadCursor(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: return ColorFor(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
    case WM_ERASEBKGND: return 1;  // all painted at once below
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        PaintFace(hwnd, dc);
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) lastFocus_ = GetFocus();
        break;
    case WM_SETFOCUS:
        if (lastFocus_ && IsChild(hwnd, lastFocus_)) SetFocus(lastFocus_);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32Forms::FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = InstanceOf<Win32Forms>(hwnd);
    return self ? self->FormMessage(hwnd, message, wParam, lParam) : DefWindowProcA(hwnd, message, wParam, lParam);
}

// The window's face: the standard dialog colour, the picture panel in its
// colour with its picture, and the frame's etched edge, which lies a half
// text line below the frame's top, as a caption-less group box's does. All
// of it inside the client area, which the panel and frame overhang.
void Win32Forms::PaintFace(HWND hwnd, HDC dc) {
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    for (const Area& panel : panels_) {
        RECT visible;
        IntersectRect(&visible, &panel.rect, &client);
        const int index = panel.control->backColor != kNoSystemColor ? panel.control->backColor : COLOR_BTNFACE;
        FillRect(dc, &visible, GetSysColorBrush(index));
        if (panel.control->pictureResource) DrawBitmap(dc, banner_, panel.rect.left, panel.rect.top, visible);
    }
    for (const Area& frame : frames_) {
        RECT edge;
        IntersectRect(&edge, &frame.rect, &client);
        TEXTMETRICA metrics{};
        HGDIOBJ old = SelectObject(dc, FontFor(*frame.control));
        GetTextMetricsA(dc, &metrics);
        SelectObject(dc, old);
        edge.top += metrics.tmHeight / 2;
        DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
    }
}

}  // namespace platform::win32
