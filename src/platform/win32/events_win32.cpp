// The event log, this program's own resources and account, and what the
// registry says of a file's registrations, on the Windows API.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "platform/win32/machine_win32.h"
#include "platform/win32/os_win32.h"

namespace platform::win32 {

namespace {

// An advapi32 function, looked up: the 95 family's has none of the event
// log's, or only stubs of them.
template <class Function>
Function AdvapiFunction(const char* name) {
    const HMODULE advapi = GetModuleHandleA("advapi32.dll");
    return advapi ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(advapi, name))) : nullptr;
}

std::vector<wchar_t> WideOf(const std::string& text) {
    std::vector<wchar_t> wide(text.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string NarrowOf(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string narrow(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], n, nullptr, nullptr);
    narrow.resize(n - 1);
    return narrow;
}

// The default value of a key below HKEY_CLASSES_ROOT; empty when absent.
std::string ClassesDefault(const std::string& key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return std::string();
    char buffer[1024];
    DWORD size = sizeof buffer - 1, type = 0;
    const bool read = RegQueryValueExA(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) ==
                          ERROR_SUCCESS &&
                      (type == REG_SZ || type == REG_EXPAND_SZ);
    RegCloseKey(handle);
    if (!read) return std::string();
    buffer[size] = '\0';
    return buffer;
}

// The path the system has registered for the type library.
std::string RegisteredLibraryPath(ITypeLib& library) {
    TLIBATTR* attributes = nullptr;
    if (FAILED(library.GetLibAttr(&attributes))) return std::string();
    BSTR path = nullptr;
    const HRESULT hr = QueryPathOfRegTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                             attributes->lcid, &path);
    library.ReleaseTLibAttr(attributes);
    std::string found = SUCCEEDED(hr) && path ? NarrowOf(path) : std::string();
    SysFreeString(path);
    return found;
}

// The server command registered for each class the type library names.
std::vector<std::string> ClassServers(ITypeLib& library, const char* serverKey) {
    std::vector<std::string> servers;
    for (UINT i = 0, n = library.GetTypeInfoCount(); i < n; ++i) {
        TYPEKIND kind;
        ITypeInfo* info = nullptr;
        if (FAILED(library.GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS ||
            FAILED(library.GetTypeInfo(i, &info)))
            continue;
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
            wchar_t clsid[40];
            StringFromGUID2(attributes->guid, clsid, 40);
            servers.push_back(ClassesDefault("CLSID\\" + NarrowOf(clsid) + "\\" + serverKey));
            info->ReleaseTypeAttr(attributes);
        }
        info->Release();
    }
    return servers;
}

}  // namespace

bool Win32Os::WriteEvent(const std::string& source, EventType type, uint32_t id,
                          const std::vector<std::string>& strings, uint32_t& error) {
    using Register = HANDLE(WINAPI*)(LPCSTR, LPCSTR);
    using Report = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID);
    using Deregister = BOOL(WINAPI*)(HANDLE);
    const auto registerSource = AdvapiFunction<Register>("RegisterEventSourceA");
    const auto report = AdvapiFunction<Report>("ReportEventA");
    const auto deregister = AdvapiFunction<Deregister>("DeregisterEventSource");
    error = ERROR_CALL_NOT_IMPLEMENTED;
    if (!registerSource || !report || !deregister) return false;
    const HANDLE log = registerSource(nullptr, source.c_str());
    if (!log) {
        error = GetLastError();
        return false;
    }
    std::vector<LPCSTR> texts;
    for (const std::string& text : strings) texts.push_back(text.c_str());
    Sid user = RunningAccount();
    const BOOL written = report(log, static_cast<WORD>(type), 0, id, user.empty() ? nullptr : user.data(),
                                static_cast<WORD>(texts.size()), 0, texts.data(), nullptr);
    error = written ? 0 : GetLastError();
    deregister(log);
    return written;
}

std::string Win32Os::OwnMessage(uint32_t id, const std::vector<std::string>& strings) {
    std::vector<DWORD_PTR> arguments;
    for (const std::string& text : strings) arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        GetModuleHandleA(nullptr), id, 0, reinterpret_cast<char*>(&text), 0,
        reinterpret_cast<va_list*>(arguments.data()));
    std::string message = n ? std::string(text, n) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}

std::string Win32Os::OwnResourceData(int id) {
    const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
    const HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    return bytes ? std::string(static_cast<const char*>(bytes), SizeofResource(nullptr, found)) : std::string();
}

bool Win32Os::WriteWholeFile(const std::string& path, const std::string& content) { return WriteFileWhole(path, content); }

std::string Win32Os::RunningAccountName() {
    if (Is95Family()) {
        char name[256];
        DWORD size = sizeof name;
        return GetUserNameA(name, &size) ? std::string(name) : std::string();
    }
    Sid account = RunningAccount();
    using Lookup = BOOL(WINAPI*)(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE);
    const auto lookup = AdvapiFunction<Lookup>("LookupAccountSidA");
    char name[256], domain[256];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (account.empty() || !lookup || !lookup(nullptr, account.data(), name, &nameSize, domain, &domainSize, &use))
        return std::string();
    return domain[0] ? std::string(domain) + "\\" + name : std::string(name);
}

std::string Win32Os::GetWindowsFolder() { return WindowsFolder(); }

// Loaded without registering it, for its attributes and classes.
std::vector<std::string> Win32Os::RegisteredPaths(const std::string& file, const std::string& how, bool& known) {
    known = false;
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(WideOf(file).data(), REGKIND_NONE, &library))) return {};
    std::vector<std::string> paths;
    if (how == "type library")
        paths.push_back(RegisteredLibraryPath(*library));
    else
        paths = ClassServers(*library, how == "server" ? "LocalServer32" : "InprocServer32");
    library->Release();
    known = !paths.empty();
    return paths;
}

}  // namespace platform::win32
