// A stand-in update client for tests and the demo. With /RegServer it
// records its own path under HKCU\Software\LiveUpdateTest (value = file
// name) and ends, with /UnregServer it removes that value; otherwise it
// shows a small message.
#include <windows.h>

#include <cstring>

namespace {
void RecordRegistration() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* name = std::strrchr(path, '\\') ? std::strrchr(path, '\\') + 1 : path;
    char value[MAX_PATH + 16];
    wsprintfA(value, "/RegServer %s", path);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\LiveUpdateTest", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
    RegCloseKey(key);
}

void ForgetRegistration() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* name = std::strrchr(path, '\\') ? std::strrchr(path, '\\') + 1 : path;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\LiveUpdateTest", 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    if (std::strstr(commandLine, "/UnregServer") || std::strstr(commandLine, "-UnregServer")) {
        ForgetRegistration();
        return 0;
    }
    if (std::strstr(commandLine, "/RegServer") || std::strstr(commandLine, "-RegServer")) {
        RecordRegistration();
        return 0;
    }
    MessageBoxA(nullptr, "Vantrel Live Update is installed.", "Vantrel Live Update", MB_OK | MB_ICONINFORMATION);
    return 0;
}
