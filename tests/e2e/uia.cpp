// uia: a small UI-automation tool for the end-to-end tests.
//
// It finds top-level windows by their exact title, reads their controls and
// drives them the way a user would: clicking buttons, typing into the edit
// field, pressing keys and closing the window. It also measures how fast a
// window answers (ping), starts programs to read their full exit codes
// (run), and watches a process for visible windows (watch-run). For the
// scenarios it holds a file without sharing or a mutex (hold) and renames
// as a user could (rename).
// Results go to stdout as JSON (list, dump, ping, watch-*) or as one line
// (wait, run); the exit code tells success:
//   0 done, 1 usage error, 2 window not found / timed out,
//   3 control not found or not usable, 4 the request did not get through.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeoutMs = 10000;
constexpr UINT kMessageTimeoutMs = 2000;

enum Exit { kOk = 0, kUsage = 1, kNotFound = 2, kNoControl = 3, kFailed = 4 };

// ---- Text and output --------------------------------------------------------

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Quote(const std::wstring& text) {
    std::string out = "\"";
    for (unsigned char c : Utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string HexText(ULONG_PTR value) {
    char buf[32];
    snprintf(buf, sizeof buf, "0x%lx", (unsigned long)value);
    return buf;
}

std::string RectJson(const RECT& r) {
    char buf[96];
    snprintf(buf, sizeof buf, "[%ld, %ld, %ld, %ld]", r.left, r.top, r.right, r.bottom);
    return buf;
}

// A JSON object written field by field, in order.
class JsonObject {
public:
    JsonObject& Raw(const char* key, const std::string& json) {
        fields_.push_back("\"" + std::string(key) + "\": " + json);
        return *this;
    }
    JsonObject& Text(const char* key, const std::wstring& text) { return Raw(key, Quote(text)); }
    JsonObject& Flag(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonObject& Number(const char* key, long long value) { return Raw(key, std::to_string(value)); }
    JsonObject& Handle(const char* key, HWND hwnd) { return Raw(key, "\"" + HexText((ULONG_PTR)hwnd) + "\""); }

    // One line, or one field a line with `indent` before each.
    std::string Str(const char* indent = nullptr) const {
        std::string out = "{";
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (i) out += ",";
            out += indent ? "\n" + std::string(indent) : (i ? " " : "");
            out += fields_[i];
        }
        return out + (indent ? "\n}" : "}");
    }

private:
    std::vector<std::string> fields_;
};

std::string JsonArray(const std::vector<std::string>& items, const char* indent) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ",\n" : "\n") + std::string(indent) + items[i];
    return out + "\n" + std::string(indent).substr(2) + "]";
}

void Print(const std::string& text) {
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

int Fail(int code, const std::wstring& message) {
    fprintf(stderr, "uia: %s\n", Utf8(message).c_str());
    return code;
}

// ---- Reading windows --------------------------------------------------------

std::wstring ClassOf(HWND hwnd) {
    wchar_t buf[256] = L"";
    GetClassNameW(hwnd, buf, 256);
    return buf;
}

// WM_GETTEXT crosses process boundaries (and reaches an edit field's text);
// a hung window falls back to the text the system keeps for it.
std::wstring TextOf(HWND hwnd) {
    wchar_t buf[4096] = L"";
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, (LPARAM)buf, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied))
        return std::wstring(buf, copied);
    InternalGetWindowText(hwnd, buf, 4096);
    return buf;
}

// The title the system keeps, without a message: a hidden window's thread
// may be busy, and asking it would stall.
std::wstring KeptTextOf(HWND hwnd) {
    wchar_t buf[1024] = L"";
    InternalGetWindowText(hwnd, buf, 1024);
    return buf;
}

bool HasStyle(HWND hwnd, LONG bits) { return (GetWindowLongW(hwnd, GWL_STYLE) & bits) == bits; }

// Strips the access-key markers: "C&ancel" -> "Cancel", "&&" -> "&".
std::wstring WithoutAccessKeys(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

// ---- Finding windows --------------------------------------------------------

BOOL CALLBACK AddWindow(HWND hwnd, LPARAM found) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevel() {
    std::vector<HWND> found;
    EnumWindows(AddWindow, (LPARAM)&found);
    return found;
}

std::vector<HWND> VisibleTopLevel() {
    std::vector<HWND> visible;
    for (HWND hwnd : TopLevel())
        if (IsWindowVisible(hwnd)) visible.push_back(hwnd);
    return visible;
}

// A title "hwnd:0x1234" names the window by its handle.
HWND FindTopLevel(const std::wstring& title) {
    if (title.rfind(L"hwnd:", 0) == 0) {
        HWND hwnd = (HWND)(ULONG_PTR)wcstoul(title.c_str() + 5, nullptr, 16);
        return IsWindow(hwnd) && IsWindowVisible(hwnd) ? hwnd : nullptr;
    }
    for (HWND hwnd : VisibleTopLevel())
        if (TextOf(hwnd) == title) return hwnd;
    return nullptr;
}

HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND hwnd = FindTopLevel(title)) return hwnd;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(50);
    }
}

// Every descendant in z-order, parents before their children.
void CollectChildren(HWND parent, std::vector<HWND>& out) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        out.push_back(child);
        CollectChildren(child, out);
    }
}

std::vector<HWND> Descendants(HWND top) {
    std::vector<HWND> out;
    CollectChildren(top, out);
    return out;
}

HWND FindButton(HWND top, const std::wstring& caption) {
    for (HWND child : Descendants(top)) {
        if (_wcsicmp(ClassOf(child).c_str(), L"Button") != 0) continue;
        const std::wstring text = TextOf(child);
        if (text == caption || WithoutAccessKeys(text) == WithoutAccessKeys(caption)) return child;
    }
    return nullptr;
}

HWND FindFirstOfClass(HWND top, const wchar_t* className) {
    for (HWND child : Descendants(top))
        if (_wcsicmp(ClassOf(child).c_str(), className) == 0) return child;
    return nullptr;
}

bool IsProgressBar(HWND hwnd) { return _wcsicmp(ClassOf(hwnd).c_str(), PROGRESS_CLASSW) == 0; }

// A progress bar's position and upper limit; false when it does not answer.
bool ReadProgress(HWND bar, int* pos, int* max) {
    DWORD_PTR position = 0, limit = 0;
    if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &position) ||
        !SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &limit))
        return false;
    *pos = (int)position;
    *max = (int)limit;
    return true;
}

// ---- dump -------------------------------------------------------------------

HWND FocusOf(HWND top, HWND* active) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    *active = nullptr;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info)) return nullptr;
    *active = info.hwndActive;
    return info.hwndFocus;
}

RECT ClientOnScreen(HWND hwnd) {
    RECT r{};
    GetClientRect(hwnd, &r);
    MapWindowPoints(hwnd, HWND_DESKTOP, (POINT*)&r, 2);
    return r;
}

bool HasIcon(HWND hwnd, WPARAM which) {
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(hwnd, WM_GETICON, which, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &icon);
    return icon != 0;
}

// true/false, or null where the system can't tell (Wine doesn't read the
// class icon of another process's window).
std::string ClassIconJson(HWND hwnd) {
    SetLastError(0);
    if (GetClassLongPtrW(hwnd, GCLP_HICON)) return "true";
    return GetLastError() ? "null" : "false";
}

std::string ControlJson(HWND child, HWND top, HWND focus) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, top, (POINT*)&r, 2);  // relative to the top-level client area
    JsonObject json;
    json.Handle("hwnd", child)
        .Handle("parent", GetParent(child))
        .Text("class", ClassOf(child))
        .Number("id", GetDlgCtrlID(child))
        .Raw("style", "\"" + HexText((DWORD)GetWindowLongW(child, GWL_STYLE)) + "\"")
        .Text("text", TextOf(child))
        .Flag("visible", IsWindowVisible(child))
        .Flag("own_visible", HasStyle(child, WS_VISIBLE))
        .Flag("enabled", IsWindowEnabled(child))
        .Flag("focused", child == focus)
        .Raw("rect", RectJson(r));
    int pos = 0, max = 0;
    if (IsProgressBar(child) && ReadProgress(child, &pos, &max)) json.Number("pos", pos).Number("max", max);
    return json.Str();
}

int Dump(HWND top) {
    HWND active = nullptr;
    HWND focus = FocusOf(top, &active);
    RECT outer{};
    GetWindowRect(top, &outer);
    DWORD pid = 0;
    GetWindowThreadProcessId(top, &pid);
    std::vector<std::string> controls;
    for (HWND child : Descendants(top)) controls.push_back(ControlJson(child, top, focus));
    const std::string screen = "[" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + ", " +
                               std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "]";
    Print(JsonObject()
              .Handle("hwnd", top)
              .Number("pid", pid)
              .Text("title", TextOf(top))
              .Text("class", ClassOf(top))
              .Raw("style", "\"" + HexText((DWORD)GetWindowLongW(top, GWL_STYLE)) + "\"")
              .Raw("screen", screen)
              .Raw("rect", RectJson(outer))
              .Raw("client", RectJson(ClientOnScreen(top)))
              .Flag("minimizebox", HasStyle(top, WS_MINIMIZEBOX))
              .Flag("maximizebox", HasStyle(top, WS_MAXIMIZEBOX))
              .Flag("thickframe", HasStyle(top, WS_THICKFRAME))
              .Flag("sysmenu", HasStyle(top, WS_SYSMENU))
              .Flag("icon_big", HasIcon(top, ICON_BIG))
              .Flag("icon_small", HasIcon(top, ICON_SMALL))
              .Raw("class_icon", ClassIconJson(top))
              .Flag("enabled", IsWindowEnabled(top))
              .Flag("foreground", GetForegroundWindow() == top)
              .Handle("active", active)
              .Handle("focus", focus)
              .Raw("controls", JsonArray(controls, "    "))
              .Str("  ") +
          "\n");
    return kOk;
}

// ---- list -------------------------------------------------------------------

// Every top-level window, hidden ones included.
int List() {
    std::vector<std::string> windows;
    for (HWND hwnd : TopLevel()) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        windows.push_back(JsonObject()
                              .Handle("hwnd", hwnd)
                              .Number("pid", pid)
                              .Text("class", ClassOf(hwnd))
                              .Text("title", IsWindowVisible(hwnd) ? TextOf(hwnd) : KeptTextOf(hwnd))
                              .Flag("visible", IsWindowVisible(hwnd))
                              .Str());
    }
    Print(JsonArray(windows, "  ") + "\n");
    return kOk;
}

// ---- Keys ---------------------------------------------------------------------

INPUT KeyInput(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = (WORD)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

WORD NamedKey(const std::wstring& name) {
    static const struct {
        const wchar_t* name;
        WORD vk;
    } keys[] = {
        {L"enter", VK_RETURN}, {L"return", VK_RETURN}, {L"space", VK_SPACE}, {L"escape", VK_ESCAPE},
        {L"esc", VK_ESCAPE},   {L"tab", VK_TAB},       {L"alt", VK_MENU},    {L"ctrl", VK_CONTROL},
        {L"shift", VK_SHIFT},  {L"f1", VK_F1},         {L"f4", VK_F4},       {L"left", VK_LEFT},
        {L"right", VK_RIGHT},  {L"up", VK_UP},         {L"down", VK_DOWN},   {L"backspace", VK_BACK},
    };
    for (const auto& key : keys)
        if (_wcsicmp(name.c_str(), key.name) == 0) return key.vk;
    if (name.size() == 1 && iswalnum(name[0])) return (WORD)towupper(name[0]);
    return 0;
}

// One chord such as "alt+i" or "shift+tab": modifiers down, key, all up.
bool ChordInputs(const std::wstring& chord, std::vector<INPUT>& out) {
    std::vector<WORD> vks;
    size_t start = 0;
    for (;;) {
        const size_t plus = chord.find(L'+', start);
        const WORD vk = NamedKey(chord.substr(start, plus == std::wstring::npos ? std::wstring::npos : plus - start));
        if (!vk) return false;
        vks.push_back(vk);
        if (plus == std::wstring::npos) break;
        start = plus + 1;
    }
    for (WORD vk : vks) out.push_back(KeyInput(vk, false));
    for (auto it = vks.rbegin(); it != vks.rend(); ++it) out.push_back(KeyInput(*it, true));
    return true;
}

bool BringToFront(HWND top) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (GetForegroundWindow() == top) return true;
        SetForegroundWindow(top);
        Sleep(25);
    }
    return GetForegroundWindow() == top;
}

// Sends each chord of "keys" (separated by spaces) as real keystrokes.
int SendKeys(HWND top, const std::wstring& keys) {
    std::vector<std::vector<INPUT>> chords;
    for (size_t start = 0; start < keys.size();) {
        size_t end = keys.find(L' ', start);
        if (end == std::wstring::npos) end = keys.size();
        if (end > start) {
            chords.emplace_back();
            if (!ChordInputs(keys.substr(start, end - start), chords.back()))
                return Fail(kUsage, L"unknown key in: " + keys);
        }
        start = end + 1;
    }
    if (!BringToFront(top)) return Fail(kFailed, L"could not bring the window to the foreground");
    for (auto& chord : chords) {
        if (SendInput((UINT)chord.size(), chord.data(), sizeof(INPUT)) != chord.size())
            return Fail(kFailed, L"SendInput refused the keys");
        Sleep(30);
    }
    return kOk;
}

// ---- Actions ------------------------------------------------------------------

// Posted, so that a modal dialog opened by the click does not block us.
int Click(HWND top, const std::wstring& caption) {
    HWND button = FindButton(top, caption);
    if (!button) return Fail(kNoControl, L"no button " + caption);
    if (!IsWindowVisible(button) || !IsWindowEnabled(button))
        return Fail(kNoControl, L"button " + caption + L" is hidden or disabled");
    return PostMessageW(button, BM_CLICK, 0, 0) ? kOk : Fail(kFailed, L"PostMessage failed");
}

int Type(HWND top, const std::wstring& text) {
    HWND edit = FindFirstOfClass(top, L"Edit");
    if (!edit) return Fail(kNoControl, L"no edit field");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(edit, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result))
        return Fail(kFailed, L"WM_SETTEXT timed out");
    return TextOf(edit) == text ? kOk : Fail(kFailed, L"the edit field did not take the text");
}

int Close(HWND top) {
    return PostMessageW(top, WM_SYSCOMMAND, SC_CLOSE, 0) ? kOk : Fail(kFailed, L"PostMessage failed");
}

int WaitGone(const std::wstring& title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (FindTopLevel(title)) {
        if (GetTickCount() - start >= timeoutMs) return Fail(kNotFound, L"still there: " + title);
        Sleep(50);
    }
    return kOk;
}

// ---- ping ---------------------------------------------------------------------

constexpr UINT kPingTimeoutMs = 10000;

// Milliseconds since construction, from the performance counter.
class Clock {
public:
    Clock() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
    }
    double Ms() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return (now.QuadPart - start_.QuadPart) * 1000.0 / frequency_.QuadPart;
    }

private:
    LARGE_INTEGER frequency_, start_;
};

// [t_ms, answer_ms, progress_pos, progress_max, progress_visible]; the
// progress bar is read only from a window that answered.
std::string PingSample(HWND top, double t, double answer, bool answered) {
    HWND bar = answered ? FindFirstOfClass(top, PROGRESS_CLASSW) : nullptr;
    int pos = 0, max = 0;
    char buf[96];
    if (bar && ReadProgress(bar, &pos, &max))
        snprintf(buf, sizeof buf, "[%.0f, %.2f, %d, %d, %s]", t, answer, pos, max,
                 IsWindowVisible(bar) ? "true" : "false");
    else
        snprintf(buf, sizeof buf, "[%.0f, %.2f, null, null, false]", t, answer);
    return buf;
}

// Sends WM_NULL every intervalMs (or at once after a late answer) until the
// window is gone or maxMs have passed; each sample gives the answer time.
int Ping(HWND top, DWORD intervalMs, DWORD maxMs) {
    const Clock clock;
    std::vector<std::string> samples;
    for (double due = 0; IsWindow(top) && clock.Ms() < maxMs; due += intervalMs) {
        const double wait = due - clock.Ms();
        if (wait > 0) Sleep((DWORD)wait);
        due = clock.Ms();
        DWORD_PTR ignored = 0;
        const bool answered = SendMessageTimeoutW(top, WM_NULL, 0, 0, SMTO_NORMAL, kPingTimeoutMs, &ignored);
        const double answer = clock.Ms() - due;
        if (!answered && !IsWindow(top)) break;
        samples.push_back(PingSample(top, due, answer, answered));
    }
    Print(JsonObject().Raw("samples", JsonArray(samples, "  ")).Str() + "\n");
    return kOk;
}

// ---- run, watch -------------------------------------------------------------------

// Quotes an argument for the C runtime's parser: backslashes before a quote
// (or before the closing quote) are doubled.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        out += c;
        slashes = 0;
    }
    return out.append(2 * slashes, L'\\') + L"\"";
}

HANDLE InheritableCopy(DWORD which) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetStdHandle(which), GetCurrentProcess(), &copy, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
}

// Starts argv[first..] as a program and its arguments; the process handle,
// or null. The program's output goes to our error output, so that our
// output holds only the result.
HANDLE StartProgram(int argc, wchar_t** argv, int first, DWORD* pid) {
    std::wstring line;
    for (int i = first; i < argc; ++i) line += (i > first ? L" " : L"") + QuoteArgument(argv[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritableCopy(STD_INPUT_HANDLE);
    startup.hStdOutput = InheritableCopy(STD_ERROR_HANDLE);
    startup.hStdError = InheritableCopy(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const BOOL started =
        CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (handle) CloseHandle(handle);
    if (!started) {
        Fail(kFailed, L"cannot start " + line + L", error " + std::to_wstring(GetLastError()));
        return nullptr;
    }
    CloseHandle(info.hThread);
    *pid = info.dwProcessId;
    return info.hProcess;
}

// Waits for the program and prints its whole exit code (Wine gives a Linux
// parent only the low 8 bits).
int Run(int argc, wchar_t** argv) {
    DWORD pid = 0, code = 0;
    HANDLE process = StartProgram(argc, argv, 2, &pid);
    if (!process) return kFailed;
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    Print(std::to_string(code) + "\n");
    return kOk;
}

struct Watched {
    DWORD pid;
    std::vector<std::wstring> titles;
};

BOOL CALLBACK NoteVisibleWindow(HWND hwnd, LPARAM param) {
    auto* watched = reinterpret_cast<Watched*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != watched->pid || !IsWindowVisible(hwnd)) return TRUE;
    const std::wstring title = KeptTextOf(hwnd);
    for (const std::wstring& seen : watched->titles)
        if (seen == title) return TRUE;
    watched->titles.push_back(title);
    return TRUE;
}

// Polls every 20 ms for visible top-level windows of the process until it
// ends or maxMs have passed; prints their titles and the exit code (null
// while it runs; the process is left running).
int Watch(HANDLE process, DWORD pid, DWORD maxMs) {
    Watched watched{pid, {}};
    const DWORD start = GetTickCount();
    bool ended = false;
    while (!ended && GetTickCount() - start < maxMs) {
        EnumWindows(NoteVisibleWindow, (LPARAM)&watched);
        ended = WaitForSingleObject(process, 20) == WAIT_OBJECT_0;
    }
    DWORD code = 0;
    const bool known = ended && GetExitCodeProcess(process, &code);
    CloseHandle(process);
    std::vector<std::string> titles;
    for (const std::wstring& title : watched.titles) titles.push_back(Quote(title));
    Print(JsonObject()
              .Raw("visible", titles.empty() ? "[]" : JsonArray(titles, "    "))
              .Raw("exit", known ? std::to_string(code) : "null")
              .Number("pid", pid)
              .Str() +
          "\n");
    return kOk;
}

int WatchRun(DWORD maxMs, int argc, wchar_t** argv) {
    DWORD pid = 0;
    HANDLE process = StartProgram(argc, argv, 3, &pid);
    return process ? Watch(process, pid, maxMs) : kFailed;
}

// ---- hold, rename -----------------------------------------------------------------

// Waits until our standard input ends (the test closes its end of the pipe,
// or ends us).
void WaitForInputEnd() {
    char buf[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &read, nullptr) && read) {
    }
}

// Holds a file open with no sharing at all, as a program that wants it to
// itself does, or a mutex of the given name, as any program may make one;
// prints "held" once it has it and keeps it until its input ends.
int Hold(const std::wstring& kind, const std::wstring& name) {
    HANDLE handle = nullptr;
    if (kind == L"file") {
        handle = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) handle = nullptr;
    } else if (kind == L"mutex") {
        handle = CreateMutexW(nullptr, FALSE, name.c_str());
        if (handle && GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(handle);
            return Fail(kFailed, L"the mutex exists already: " + name);
        }
    } else {
        return Fail(kUsage, L"hold what? " + kind);
    }
    if (!handle) return Fail(kFailed, L"cannot hold " + name + L", error " + std::to_wstring(GetLastError()));
    Print("held\n");
    WaitForInputEnd();
    CloseHandle(handle);
    return kOk;
}

// Tries to rename a file or folder up to `tries` times, intervalMs apart,
// until one succeeds; prints {"renamed", "tries", "errors": the distinct
// error codes of the failed tries}.
int Rename(const std::wstring& from, const std::wstring& to, DWORD tries, DWORD intervalMs) {
    std::vector<DWORD> errors;
    bool renamed = false;
    DWORD tried = 0;
    while (!renamed && tried < (tries ? tries : 1)) {
        if (tried++) Sleep(intervalMs);
        renamed = MoveFileW(from.c_str(), to.c_str()) != FALSE;
        const DWORD error = GetLastError();
        bool seen = renamed;
        for (DWORD known : errors) seen = seen || known == error;
        if (!seen) errors.push_back(error);
    }
    std::string list = "[";
    for (size_t i = 0; i < errors.size(); ++i) list += (i ? ", " : "") + std::to_string(errors[i]);
    Print(JsonObject().Flag("renamed", renamed).Number("tries", tried).Raw("errors", list + "]").Str() + "\n");
    return kOk;
}

int Usage();

// The event message's text from a message file, the strings inserted, as
// Event Viewer reads it: the file loaded as data, never run.
int Message(int argc, wchar_t** argv) {
    if (argc < 4) return Usage();
    HMODULE file = LoadLibraryExW(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!file) return Fail(kFailed, std::wstring(L"cannot load ") + argv[2]);
    std::vector<DWORD_PTR> strings;
    for (int i = 4; i < argc; ++i) strings.push_back((DWORD_PTR)argv[i]);
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                       FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                   file, wcstoul(argv[3], nullptr, 10), 0, (wchar_t*)&text, 0, (va_list*)strings.data());
    FreeLibrary(file);
    if (!n) return Fail(kFailed, L"no such message");
    Print(Utf8(std::wstring(text, n)));
    LocalFree(text);
    return kOk;
}

int Usage() {
    fputs(
        "usage: uia list\n"
        "       uia wait <title> [timeout_ms]\n"
        "       uia wait-gone <title> [timeout_ms]\n"
        "       uia dump <title> [timeout_ms]\n"
        "       uia click <title> <button caption>\n"
        "       uia type <title> <text>\n"
        "       uia key <title> <keys, e.g. \"alt+i\" or \"tab enter\">\n"
        "       uia close <title>\n"
        "       uia ping <title> <interval_ms> <max_ms>\n"
        "       uia run <program> [args...]          prints the exit code\n"
        "       uia watch-run <max_ms> <program> [args...]\n"
        "       uia message <message file> <id> [strings...]   prints the event message's text\n"
        "       uia hold file|mutex <path or name>   holds it (a file with no sharing) until input ends\n"
        "       uia rename <from> <to> [tries] [interval_ms]   MoveFile until it succeeds; prints JSON\n"
        "A title of the form hwnd:0x1234 names a window by its handle.\n",
        stderr);
    return kUsage;
}

DWORD TimeoutArg(int argc, wchar_t** argv, int index) {
    return argc > index ? (DWORD)wcstoul(argv[index], nullptr, 10) : kDefaultTimeoutMs;
}

// Commands that act on an existing window; they wait for it briefly first.
int OnWindow(const std::wstring& command, int argc, wchar_t** argv) {
    const DWORD timeout = command == L"dump" ? TimeoutArg(argc, argv, 3) : 3000;
    HWND top = WaitForWindow(argv[2], timeout);
    if (!top) return Fail(kNotFound, std::wstring(L"no window titled ") + argv[2]);
    if (command == L"dump") return Dump(top);
    if (command == L"close") return Close(top);
    if (argc < 4) return Usage();
    if (command == L"click") return Click(top, argv[3]);
    if (command == L"type") return Type(top, argv[3]);
    if (command == L"key") return SendKeys(top, argv[3]);
    return Usage();
}

int PingCommand(int argc, wchar_t** argv) {
    if (argc < 5) return Usage();
    HWND top = WaitForWindow(argv[2], kDefaultTimeoutMs);
    if (!top) return Fail(kNotFound, std::wstring(L"no window titled ") + argv[2]);
    return Ping(top, wcstoul(argv[3], nullptr, 10), wcstoul(argv[4], nullptr, 10));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    if (command == L"list") return List();
    if (argc < 3) return Usage();
    if (command == L"wait") {
        HWND hwnd = WaitForWindow(argv[2], TimeoutArg(argc, argv, 3));
        if (!hwnd) return Fail(kNotFound, std::wstring(L"timed out waiting for ") + argv[2]);
        Print(HexText((ULONG_PTR)hwnd) + "\n");
        return kOk;
    }
    if (command == L"wait-gone") return WaitGone(argv[2], TimeoutArg(argc, argv, 3));
    if (command == L"run") return Run(argc, argv);
    if (command == L"watch-run") {
        if (argc < 4) return Usage();
        return WatchRun(wcstoul(argv[2], nullptr, 10), argc, argv);
    }
    if (command == L"ping") return PingCommand(argc, argv);
    if (command == L"message") return Message(argc, argv);
    if (command == L"hold") return argc < 4 ? Usage() : Hold(argv[2], argv[3]);
    if (command == L"rename")
        return argc < 4 ? Usage()
                        : Rename(argv[2], argv[3], argc > 4 ? wcstoul(argv[4], nullptr, 10) : 1,
                                 argc > 5 ? wcstoul(argv[5], nullptr, 10) : 10);
    return OnWindow(command, argc, argv);
}
