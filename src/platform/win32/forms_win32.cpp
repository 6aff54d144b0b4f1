#include "platform/win32/forms_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "platform/win32/picture_win32.h"

namespace platform::win32 {

namespace {
const char kFormClass[] = "LiveUpdateSetupForm";
const char kPanelClass[] = "LiveUpdateSetupPanel";
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
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES};
    if (init) init(&classes);
}

template <class T>
T* InstanceOf(HWND hwnd) {
    return reinterpret_cast<T*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}
}  // namespace

// Forwards property changes of one control to its window.
class Win32Forms::Peer : public ControlPeer {
public:
    Peer(Win32Forms& runtime, HWND hwnd) : runtime_(runtime), hwnd_(hwnd) {}

    void Changed(const Control& control, Property property) override {
        switch (property) {
        case Property::Caption:
            SetWindowTextA(hwnd_, control.Caption().c_str());
            runtime_.SizeLabel(control, hwnd_);
            break;
        case Property::Visible: ShowWindow(hwnd_, control.Visible() ? SW_SHOWNA : SW_HIDE); break;
        case Property::Enabled: EnableWindow(hwnd_, control.Enabled()); break;
        case Property::Position:
            SetWindowPos(hwnd_, nullptr, runtime_.Pixels(control.Left()), runtime_.Pixels(control.Top()), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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
};

Win32Forms::Win32Forms(HINSTANCE instance) : instance_(instance) {
    OleInitialize(nullptr);
    LoadCommonControls();
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RegisterClasses();
}

Win32Forms::~Win32Forms() {
    if (banner_) banner_->Release();
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

    WNDCLASSA panel{};
    panel.lpfnWndProc = PanelProc;
    panel.hInstance = instance_;
    panel.hCursor = LoadCursor(nullptr, IDC_ARROW);
    panel.lpszClassName = kPanelClass;
    RegisterClassA(&panel);
}

// ---- Fonts and label sizing ------------------------------------------------

HFONT Win32Forms::FontFor(const Control& control) {
    const FontSpec standard{"MS Sans Serif", kStandardFontPoints100 / 100.0, FW_NORMAL, ANSI_CHARSET};
    const FontSpec& chosen = control.font.face.empty() ? standard : control.font;
    const std::string key =
        chosen.face + "/" + std::to_string(std::lround(chosen.points * 100)) + "/" + std::to_string(chosen.weight);
    auto& font = fonts_[key];
    if (!font) {
        const int height = -static_cast<int>(std::lround(chosen.points * dpi_ / 72.0));
        font = CreateFontA(height, 0, 0, 0, chosen.weight, FALSE, FALSE, FALSE, static_cast<BYTE>(chosen.charset),
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS,
                           chosen.face.c_str());
    }
    return font;
}

void Win32Forms::SizeLabel(const Control& control, HWND hwnd) {
    const auto* label = dynamic_cast<const Label*>(&control);
    if (!label || !label->autoSize) return;
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, FontFor(control));
    RECT box{0, 0, Pixels(control.Width()), 0};
    const std::string& text = control.Caption();
    UINT format = DT_CALCRECT | DT_NOPREFIX | (label->wordWrap ? DT_WORDBREAK : DT_SINGLELINE);
    DrawTextA(dc, text.empty() ? " " : text.c_str(), -1, &box, format);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    const int width = label->wordWrap ? Pixels(control.Width()) : (text.empty() ? 0 : box.right);
    SetWindowPos(hwnd, nullptr, 0, 0, width, box.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
    Attach(form, formHwnd_);
    CreateChildren(form, &form, formHwnd_);
}

// Children are created in tab order, which is also the keyboard order.
void Win32Forms::CreateChildren(Form& form, Control* container, HWND parent) {
    std::vector<Control*> children;
    for (Control* control : form.Controls())
        if (control->Container() == container) children.push_back(control);
    std::stable_sort(children.begin(), children.end(),
                     [](const Control* a, const Control* b) { return a->TabIndex() < b->TabIndex(); });
    const auto& all = form.Controls();
    for (Control* control : children) {
        const int id = kFirstControlId + static_cast<int>(std::find(all.begin(), all.end(), control) - all.begin());
        HWND hwnd = CreateControlWindow(*control, parent, id);
        if (control->Kind() == ControlKind::Frame || control->Kind() == ControlKind::PictureBox)
            CreateChildren(form, control, hwnd);
    }
}

HWND Win32Forms::CreateControlWindow(Control& control, HWND parent, int id) {
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    const char* windowClass = "STATIC";
    switch (control.Kind()) {
    case ControlKind::Label: {
        const auto& label = static_cast<const Label&>(control);
        style |= SS_NOPREFIX | (label.wordWrap || !label.autoSize ? SS_LEFT : SS_LEFTNOWORDWRAP);
        break;
    }
    case ControlKind::CommandButton:
        windowClass = "BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    case ControlKind::Frame:
        windowClass = "BUTTON";
        style |= BS_GROUPBOX | WS_CLIPCHILDREN;
        exStyle = WS_EX_CONTROLPARENT;
        break;
    case ControlKind::PictureBox:
        windowClass = kPanelClass;
        style |= WS_CLIPCHILDREN;
        exStyle = WS_EX_CONTROLPARENT;
        break;
    case ControlKind::Form: break;
    }
    if (control.Visible()) style |= WS_VISIBLE;
    if (!control.Enabled()) style |= WS_DISABLED;
    HWND hwnd = CreateWindowExA(exStyle, windowClass, control.Caption().c_str(), style, Pixels(control.Left()),
                                Pixels(control.Top()), Pixels(control.Width()), Pixels(control.Height()), parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, this);
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control)), FALSE);
    if (control.Kind() == ControlKind::Frame) {  // subclassed: the original procedure is kept in its user data
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FrameProc));
    }
    if (control.Kind() == ControlKind::PictureBox && control.pictureResource && !banner_)
        banner_ = LoadPictureResource(instance_, control.pictureResource);
    Attach(control, hwnd);
    SizeLabel(control, hwnd);
    return hwnd;
}

void Win32Forms::Attach(Control& control, HWND hwnd) {
    peers_.push_back(std::make_unique<Peer>(*this, hwnd));
    control.AttachPeer(peers_.back().get());
    controls_[hwnd] = &control;
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

int Win32Forms::Run(Form& startup) {
    CreateFormWindow(startup);
    RunEvent([&] { startup.Form_Load(); });
    if (!formHwnd_) return 0;
    ShowWindow(formHwnd_, SW_SHOW);
    lastFocus_ = GetNextDlgTabItem(formHwnd_, nullptr, FALSE);
    SetFocus(lastFocus_);
    UpdateWindow(formHwnd_);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) ProcessMessage(msg);
    return 0;
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

// Runs an event handler. A click or close that arrives while another handler
// runs (during one of its yields) is ignored, so a running install can't be
// re-entered or have its window taken away. An unhandled runtime error is
// shown and ends the program.
void Win32Forms::RunEvent(const std::function<void()>& handler) {
    if (inEvent_) return;
    inEvent_ = true;
    try {
        handler();
    } catch (const RuntimeError& error) {
        ShowUnhandledError(error);
        EndProgram();
    }
    inEvent_ = false;
}

void Win32Forms::ShowUnhandledError(const RuntimeError& error) {
    const std::string text =
        "Run-time error '" + std::to_string(error.Number()) + "':\r\n\r\n" + error.Description();
    ShowMessage(text, kMsgStop, "LiveUpdateSetup");
}

void Win32Forms::EndProgram() { ExitProcess(0); }

void Win32Forms::UnloadWindow(Form& form) {
    int cancel = 0;
    form.Form_Unload(cancel);
    if (cancel) return;
    DestroyFormWindow();
    PostQuitMessage(0);
}

// ---- Dialogs and pointer -----------------------------------------------------

int Win32Forms::ShowMessage(const std::string& text, int flags, const std::string& title) {
    HWND owner = formHwnd_ && IsWindowVisible(formHwnd_) ? formHwnd_ : nullptr;
    return MessageBoxA(owner, text.c_str(), title.c_str(), static_cast<UINT>(flags) | MB_SETFOREGROUND);
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
            auto* button = dynamic_cast<CommandButton*>(ControlOf(reinterpret_cast<HWND>(lParam)));
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

void Win32Forms::PaintPanel(HWND hwnd) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    const Control* panel = ControlOf(hwnd);
    const int index = panel && panel->backColor != kNoSystemColor ? panel->backColor : COLOR_BTNFACE;
    FillRect(dc, &paint.rcPaint, GetSysColorBrush(index));
    if (banner_) DrawPicture(banner_, dc);
    EndPaint(hwnd, &paint);
}

LRESULT CALLBACK Win32Forms::PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = InstanceOf<Win32Forms>(hwnd);
    if (self) {
        switch (message) {
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: self->PaintPanel(hwnd); return 0;
        case WM_CTLCOLORSTATIC: return self->ColorFor(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

namespace {
// The top-level window that holds a child window (GetAncestor's root, which
// the 95 family may lack).
HWND TopLevelOf(HWND hwnd) {
    while (hwnd && (GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD)) hwnd = GetParent(hwnd);
    return hwnd;
}
}  // namespace

// The frame paints its own face and passes its buttons' notifications and
// colour requests to the window.
LRESULT CALLBACK Win32Forms::FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: return SendMessageA(TopLevelOf(hwnd), message, wParam, lParam);
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    }
    auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return CallWindowProcA(original, hwnd, message, wParam, lParam);
}

}  // namespace platform::win32
