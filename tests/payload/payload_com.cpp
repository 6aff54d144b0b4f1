// A component library for installation tests: registering it records the
// module's own path under HKCU\Software\LiveUpdateTest, value = file name.
// Built as TVKCOM.DLL, and with PAYLOAD_NEEDS_DEP as TVKNEED.DLL, which
// imports a function of TVKDEP.DLL and so loads only where that is found,
// and whose registration takes seconds (regsvr32 holds both files meanwhile).
// With PAYLOAD_CLASS_KEYS, as TVKCLS.DLL, it writes a class's keys instead,
// as a real component does: what the harvest turns into data.
#include <windows.h>

#ifdef PAYLOAD_NEEDS_DEP
extern "C" __declspec(dllimport) int TvkDepAnswer();
#endif

namespace {
HMODULE self = nullptr;

[[maybe_unused]] HRESULT Record(const char* what) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\') name = p + 1;
    char value[MAX_PATH + 32];
    wsprintfA(value, "%s %s", what, path);
    HKEY key;
    if (n == 0 || RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\LiveUpdateTest", 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
    RegCloseKey(key);
    return S_OK;
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

#ifdef PAYLOAD_CLASS_KEYS
namespace {
const char kClassKey[] = "CLSID\\{5A1D3B2E-7C41-4F0B-9E61-2D8B7A3C9F10}";

void SetString(const char* key, const char* name, const char* value) {
    HKEY opened;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
    RegCloseKey(opened);
}
}  // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
    char path[MAX_PATH], key[160];
    if (GetModuleFileNameA(self, path, MAX_PATH) == 0) return E_FAIL;
    SetString(kClassKey, nullptr, "Vantrel Probe");
    wsprintfA(key, "%s\\InprocServer32", kClassKey);
    SetString(key, nullptr, path);
    SetString(key, "ThreadingModel", "Apartment");
    wsprintfA(key, "%s\\Implemented Categories\\{40FC6ED5-2438-11CF-A3DB-080036F12502}", kClassKey);
    SetString(key, nullptr, "");
    SetString("Vantrel.Probe.1\\CLSID", nullptr, kClassKey + 6);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() { return S_OK; }
#else
extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
#ifdef PAYLOAD_NEEDS_DEP
    if (TvkDepAnswer() != 42) return E_FAIL;
    Sleep(4000);
#endif
    return Record("DllRegisterServer");
}

// Removes what DllRegisterServer recorded.
extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
    char path[MAX_PATH];
    if (GetModuleFileNameA(self, path, MAX_PATH) == 0) return E_FAIL;
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\') name = p + 1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\LiveUpdateTest", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
    return S_OK;
}
#endif
