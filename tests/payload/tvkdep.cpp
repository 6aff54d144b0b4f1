// A library that TVKNEED.DLL imports. It has no DllRegisterServer, so it
// also stands for a library that cannot be registered. With PAYLOAD_PLANTED,
// as TVKPLANT.DLL, it is what a user plants under a name the installer's
// files load: loading it leaves C:\PLANTED.TXT, naming the process.
#include <windows.h>

extern "C" __declspec(dllexport) int TvkDepAnswer() { return 42; }

#ifdef PAYLOAD_PLANTED
extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() { return S_OK; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char program[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, program, MAX_PATH);
    const HANDLE marker = CreateFileA("C:\\PLANTED.TXT", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return TRUE;
    DWORD written = 0;
    WriteFile(marker, program, n, &written, nullptr);
    WriteFile(marker, "\r\n", 2, &written, nullptr);
    CloseHandle(marker);
    return TRUE;
}
#endif
