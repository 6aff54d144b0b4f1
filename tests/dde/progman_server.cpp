// A Program Manager stand-in for tests: a DDE server for service and topic
// PROGMAN that appends every execute request it receives to a log file, one
// per line. Options: --refuse PREFIX (commands starting with it are not
// processed), --hang (never answers an execute request), --seconds N (runs
// that long; default 120). Writes "<log>.ready" once registered.
#include <windows.h>
#include <ddeml.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

DWORD instance = 0;
HSZ progman = nullptr;
std::string logPath;
std::string refusePrefix;
bool hang = false;

void Record(const std::string& command) {
    if (FILE* log = std::fopen(logPath.c_str(), "ab")) {
        std::fprintf(log, "%s\n", command.c_str());
        std::fclose(log);
    }
}

std::string CommandText(HDDEDATA data) {
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    std::string text(reinterpret_cast<const char*>(bytes), size);
    DdeUnaccessData(data);
    return text.substr(0, text.find('\0'));
}

HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ topic, HSZ service, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(DdeCmpStringHandles(topic, progman) == 0 &&
                                          DdeCmpStringHandles(service, progman) == 0);
    case XTYP_EXECUTE: {
        const std::string command = CommandText(data);
        Record(command);
        if (hang) return CBR_BLOCK;
        if (!refusePrefix.empty() && command.compare(0, refusePrefix.size(), refusePrefix) == 0)
            return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 120;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--refuse") && i + 1 < argc) refusePrefix = argv[++i];
        else if (!std::strcmp(argv[i], "--hang")) hang = true;
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atoi(argv[++i]);
        else logPath = argv[i];
    }
    if (logPath.empty()) {
        std::fprintf(stderr, "usage: progman_server [--refuse PREFIX] [--hang] [--seconds N] LOG\n");
        return 2;
    }
    if (DdeInitializeA(&instance, Callback, APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                       0) != DMLERR_NO_ERROR)
        return 1;
    progman = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    if (!DdeNameService(instance, progman, nullptr, DNS_REGISTER)) return 1;
    if (FILE* ready = std::fopen((logPath + ".ready").c_str(), "wb")) std::fclose(ready);

    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    MSG msg;
    while (GetTickCount() < end) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    DdeNameService(instance, progman, nullptr, DNS_UNREGISTER);
    DdeUninitialize(instance);
    return 0;
}
