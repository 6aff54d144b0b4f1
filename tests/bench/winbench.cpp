// Windows-side helper of wine_bench.py, in four modes:
//
//   winbench            a minimal window: the installer's title, an Install
//                       and a Cancel button, a message loop. The yardstick
//                       for the installer's start to its Ready window.
//                       Either button closes it.
//   winbench ready TITLE PROGRAM
//                       starts PROGRAM, looks every millisecond for a
//                       visible window of it titled TITLE, and takes the
//                       milliseconds until that window first answers a
//                       message (it has painted and waits for input). Then
//                       clicks its Cancel button, waits for the program to
//                       end, so that the next start meets no one, and
//                       prints the milliseconds.
//   winbench run CMD... starts every command line at once, waits until all
//                       have ended, and prints the milliseconds that took:
//                       the run time of registration programs started as
//                       the installer starts them, without the installer.
//   winbench copy PATTERN FOLDER
//                       copies every file that PATTERN matches (a
//                       FindFirstFile pattern, e.g. C:\pkg\*.TXT) into
//                       FOLDER with CopyFileA, one after the other,
//                       overwriting, and prints the milliseconds: the plain
//                       copy loop that the installer's copying is set beside.
//                       Exit code 2 when nothing matches, 3 when a copy fails.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) DestroyWindow(hwnd);
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int Window(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "winbench";
    RegisterClassA(&windowClass);
    // About the installer's size at 96 DPI.
    HWND window = CreateWindowA("winbench", "Install Vantrel Live Update", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                CW_USEDEFAULT, CW_USEDEFAULT, 462, 368, nullptr, nullptr, instance, nullptr);
    CreateWindowA("Button", "&Install", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 294, 310, 75, 23, window, (HMENU)1,
                  instance, nullptr);
    CreateWindowA("Button", "C&ancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 374, 310, 75, 23, window, (HMENU)2,
                  instance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

double MsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

void PrintMs(double ms) {
    char text[32];
    const int length = snprintf(text, sizeof text, "%.1f\n", ms);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, nullptr);
}

bool Start(char* command, PROCESS_INFORMATION* info) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, info))
        return false;
    CloseHandle(info->hThread);
    return true;
}

int Ready(const char* title, char* program) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    PROCESS_INFORMATION info{};
    if (!Start(program, &info)) return 2;
    for (;;) {
        for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, nullptr, title));) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            DWORD_PTR ignored;
            if (pid == info.dwProcessId && IsWindowVisible(window) &&
                SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored)) {
                const double ms = MsSince(start);
                HWND cancel = FindWindowExA(window, nullptr, "Button", "C&ancel");
                if (!cancel || !PostMessageA(cancel, BM_CLICK, 0, 0)) return 4;
                if (WaitForSingleObject(info.hProcess, 30000) != WAIT_OBJECT_0) return 5;
                PrintMs(ms);
                return 0;
            }
        }
        if (WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0) return 3;
    }
}

int RunAll(int count, char** commands) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    HANDLE processes[MAXIMUM_WAIT_OBJECTS];
    int started = 0;
    for (int i = 0; i < count && started < MAXIMUM_WAIT_OBJECTS; ++i) {
        PROCESS_INFORMATION info{};
        if (!Start(commands[i], &info)) return 2;
        processes[started++] = info.hProcess;
    }
    if (started) WaitForMultipleObjects(started, processes, TRUE, INFINITE);
    PrintMs(MsSince(start));
    return 0;
}

int CopyAll(const char* pattern, const char* folder) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const char* slash = strrchr(pattern, '\\');
    const int sourceLength = slash ? static_cast<int>(slash + 1 - pattern) : 0;  // the folder, with its backslash
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 2;
    int copied = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        char source[2 * MAX_PATH], target[2 * MAX_PATH];
        snprintf(source, sizeof source, "%.*s%s", sourceLength, pattern, found.cFileName);
        snprintf(target, sizeof target, "%s\\%s", folder, found.cFileName);
        if (!CopyFileA(source, target, FALSE)) {
            FindClose(search);
            return 3;
        }
        ++copied;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    if (!copied) return 2;
    PrintMs(MsSince(start));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "ready") == 0) return Ready(argv[2], argv[3]);
    if (argc >= 2 && strcmp(argv[1], "run") == 0) return RunAll(argc - 2, argv + 2);
    if (argc == 4 && strcmp(argv[1], "copy") == 0) return CopyAll(argv[2], argv[3]);
    return Window(GetModuleHandleA(nullptr));
}
