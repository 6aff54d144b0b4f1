// uia: a small UI-automation tool for the end-to-end tests.
//
// It finds top-level windows by their exact title, reads their controls and
// drives them the way a user would: clicking buttons, typing into the edit
// field, pressing keys and closing the window. Results go to stdout as JSON
// (list, dump) or as one line (wait); the exit code tells success:
//   0 done, 1 usage error, 2 window not found / timed out,
//   3 control not found or not usable, 4 the request did not get through.
#include <windows.h>

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

BOOL CALLBACK AddIfVisible(HWND hwnd, LPARAM found) {
    if (IsWindowVisible(hwnd)) reinterpret_cast<std::vector<HWND>*>(found)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> VisibleTopLevel() {
    std::vector<HWND> found;
    EnumWindows(AddIfVisible, (LPARAM)&found);
    return found;
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
    return JsonObject()
        .Handle("hwnd", child)
        .Handle("parent", GetParent(child))
        .Text("class", ClassOf(child))
        .Number("id", GetDlgCtrlID(child))
        .Raw("style", "\"" + HexText((DWORD)GetWindowLongW(child, GWL_STYLE)) + "\"")
        .Text("text", TextOf(child))
        .Flag("visible", IsWindowVisible(child))
        .Flag("own_visible", HasStyle(child, WS_VISIBLE))
        .Flag("enabled", IsWindowEnabled(child))
        .Flag("focused", child == focus)
        .Raw("rect", RectJson(r))
        .Str();
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

int List() {
    std::vector<std::string> windows;
    for (HWND hwnd : VisibleTopLevel()) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        windows.push_back(JsonObject()
                              .Handle("hwnd", hwnd)
                              .Number("pid", pid)
                              .Text("class", ClassOf(hwnd))
                              .Text("title", TextOf(hwnd))
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
    return OnWindow(command, argc, argv);
}
