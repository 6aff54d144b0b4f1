// Control program for the DLL planting test:
//   dll_probe [--restrict] <dll name>
// loads the DLL by name, as the system loads DLLs that a program asks for
// after it has started, optionally after the installer's own search
// restriction. Prints the path of the module that was loaded.
// Exit code: 0 loaded, 3 not loaded, 2 wrong arguments.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/win32/os_win32.h"

int main(int argc, char** argv) {
    bool restrict = false;
    int next = 1;
    if (next < argc && std::strcmp(argv[next], "--restrict") == 0) {
        restrict = true;
        ++next;
    }
    if (next + 1 != argc) {
        std::fprintf(stderr, "usage: dll_probe [--restrict] <dll name>\n");
        return 2;
    }
    if (restrict) platform::win32::RestrictDllSearchToSystem();
    HMODULE module = LoadLibraryA(argv[next]);
    if (!module) {
        std::printf("not loaded: error %lu\n", GetLastError());
        return 3;
    }
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, MAX_PATH);
    std::printf("loaded: %s\n", path);
    return 0;
}
