// Helper for the RunProgram tests: `delayed_marker <milliseconds> <marker path>`
// waits, then creates the marker file. The file is written under a temporary
// name and renamed, so a poller never sees it half written. A GUI program, so
// that starting it opens no console.
#include <windows.h>

#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc != 3) return 2;
    Sleep(static_cast<DWORD>(std::atoi(__argv[1])));
    const std::string marker = __argv[2];
    const std::string partial = marker + ".partial";
    HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const char text[] = "started\r\n";
    DWORD written = 0;
    WriteFile(file, text, sizeof text - 1, &written, nullptr);
    CloseHandle(file);
    return MoveFileExA(partial.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
