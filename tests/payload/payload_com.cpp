// A component library for installation tests: registering it writes a
// class for the module (class_keys.h), as a real component does, and
// unregistering removes it. Built as TVKCOM.DLL; with PAYLOAD_NEEDS_DEP as
// TVKNEED.DLL, which imports a function of TVKDEP.DLL and so loads only
// where that is found, and whose registration takes seconds (regsvr32 holds
// both files meanwhile); with PAYLOAD_OUTSIDE_CLASSES as TVKOUT.DLL, which
// also writes a setting outside the class keys, as the harvest refuses.
#include <windows.h>

#include "class_keys.h"

#ifdef PAYLOAD_NEEDS_DEP
extern "C" __declspec(dllimport) int TvkDepAnswer();
#endif

namespace {
HMODULE self = nullptr;

#ifdef PAYLOAD_OUTSIDE_CLASSES
void WriteSetting(const char* path) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\LiveUpdateTest", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, payload::FileName(path), 0, REG_SZ, reinterpret_cast<const BYTE*>(path), lstrlenA(path) + 1);
    RegCloseKey(key);
}
#endif
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
#ifdef PAYLOAD_NEEDS_DEP
    if (TvkDepAnswer() != 42) return E_FAIL;
    Sleep(4000);
#endif
    char path[MAX_PATH];
    if (!payload::ModulePath(self, path)) return E_FAIL;
#ifdef PAYLOAD_OUTSIDE_CLASSES
    WriteSetting(path);
#endif
    return payload::RegisterClass(path, "InprocServer32") ? S_OK : E_FAIL;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
    char path[MAX_PATH];
    if (!payload::ModulePath(self, path)) return E_FAIL;
    payload::UnregisterClass(path);
    return S_OK;
}
