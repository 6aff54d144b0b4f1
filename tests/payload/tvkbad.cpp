// A server whose registration fails: with /RegServer it ends with exit code
// 7 and records nothing.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    return std::strstr(commandLine, "RegServer") ? 7 : 0;
}
