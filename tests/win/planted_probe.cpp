// A DLL that reveals that it was loaded: on process attach it appends a line
// "<its own path>|<the program's path>" to the file named by the environment
// variable LU_PLANTED_MARKER. The test plants it under the name of a system
// DLL beside a program and looks for the marker.
#include <windows.h>

namespace {

void AppendMarker(HINSTANCE self) {
    char marker[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("LU_PLANTED_MARKER", marker, sizeof marker);
    if (n == 0 || n >= sizeof marker) return;
    char line[2 * MAX_PATH + 4];
    DWORD length = GetModuleFileNameA(self, line, MAX_PATH);
    line[length++] = '|';
    length += GetModuleFileNameA(nullptr, line + length, MAX_PATH);
    line[length++] = '\r';
    line[length++] = '\n';
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, length, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) AppendMarker(instance);
    return TRUE;
}
