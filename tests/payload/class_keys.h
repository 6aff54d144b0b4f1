// What the payload fixtures write when they register themselves: a class
// whose CLSID comes from the module's file name (so that copies under other
// names are other classes), its server key naming the module's path, and
// the ProgID "Vantrel.<name without extension>". The harvest turns exactly
// this into CLASSES.TXT; the tests read it back through the ProgID.
#pragma once
#include <windows.h>

namespace payload {

inline const char* FileName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\') name = p + 1;
    return name;
}

// "{5A1D3B2E-7C41-4F0B-9E61-0000XXXXXXXX}", X: FNV-1a of the upper-cased name.
inline void ClassIdOf(const char* path, char* classId) {
    DWORD hash = 2166136261u;
    for (const char* p = FileName(path); *p; ++p) {
        char c = *p;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    wsprintfA(classId, "{5A1D3B2E-7C41-4F0B-9E61-0000%08lX}", hash);
}

inline void ProgIdOf(const char* path, char* progId) {
    char stem[MAX_PATH];
    lstrcpynA(stem, FileName(path), MAX_PATH);
    for (char* p = stem; *p; ++p)
        if (*p == '.') *p = '\0';
    wsprintfA(progId, "Vantrel.%s", stem);
}

inline bool SetString(const char* key, const char* name, const char* value) {
    HKEY opened;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
    RegCloseKey(opened);
    return result == ERROR_SUCCESS;
}

// `server`: "InprocServer32" for a library, "LocalServer32" for a program.
inline bool RegisterClass(const char* path, const char* server) {
    char classId[64], progId[MAX_PATH + 8], key[MAX_PATH + 64];
    ClassIdOf(path, classId);
    ProgIdOf(path, progId);
    wsprintfA(key, "CLSID\\%s", classId);
    bool done = SetString(key, nullptr, "Vantrel test component");
    wsprintfA(key, "CLSID\\%s\\%s", classId, server);
    done = done && SetString(key, nullptr, path);
    if (lstrcmpA(server, "InprocServer32") == 0) done = done && SetString(key, "ThreadingModel", "Apartment");
    wsprintfA(key, "%s\\CLSID", progId);
    return done && SetString(key, nullptr, classId);
}

inline void UnregisterClass(const char* path) {
    char classId[64], progId[MAX_PATH + 8], key[MAX_PATH + 64];
    ClassIdOf(path, classId);
    ProgIdOf(path, progId);
    const char* const servers[] = {"InprocServer32", "LocalServer32"};
    for (const char* server : servers) {
        wsprintfA(key, "CLSID\\%s\\%s", classId, server);
        RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
    }
    wsprintfA(key, "CLSID\\%s", classId);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
    wsprintfA(key, "%s\\CLSID", progId);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, progId);
}

inline bool ModulePath(HMODULE module, char* path) { return GetModuleFileNameA(module, path, MAX_PATH) != 0; }

}  // namespace payload
