// A stand-in update client for tests and the demo. With /RegServer it
// writes its class (class_keys.h) and ends, with /UnregServer it removes
// it; otherwise it shows a small message.
#include <windows.h>

#include <cstring>

#include "class_keys.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    if (std::strstr(commandLine, "/UnregServer") || std::strstr(commandLine, "-UnregServer")) {
        char path[MAX_PATH];
        if (payload::ModulePath(nullptr, path)) payload::UnregisterClass(path);
        return 0;
    }
    if (std::strstr(commandLine, "/RegServer") || std::strstr(commandLine, "-RegServer")) {
        char path[MAX_PATH];
        return payload::ModulePath(nullptr, path) && payload::RegisterClass(path, "LocalServer32") ? 0 : 1;
    }
    MessageBoxA(nullptr, "Vantrel Live Update is installed.", "Vantrel Live Update", MB_OK | MB_ICONINFORMATION);
    return 0;
}
