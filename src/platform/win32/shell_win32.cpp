#include "platform/win32/shell_win32.h"

#include "platform/text.h"
#include "platform/win32/machine_win32.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace platform::win32 {

namespace {
// shell32 by its full path: the product does not import it. It stays
// loaded for the life of the process, as the shell expects.
HMODULE Shell32() { return LoadSystemLibrary("shell32.dll"); }

template <class Function>
Function ShellFunction(HMODULE shell, const char* name) {
    return shell ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(shell, name))) : nullptr;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

constexpr unsigned kTaskbarSteps = 100;   // finer steps would not show on a button
constexpr DWORD kTaskbarEveryMs = 250;    // each change is a call into the shell
}  // namespace

// SHGetSpecialFolderPathA came with shell32 4.71, which every supported
// system has (Windows 98 and 2000 on; Windows 95 with the update that also
// brings the C runtime). A user whose profile has no Programs folder yet
// (one the shell has never run for) gets it created; the all-users folder
// is only looked up, so that a system without one reports none.
std::string ProgramsFolder(bool allUsers) {
    const int folder = allUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
    HMODULE shell = Shell32();
    char path[MAX_PATH] = "";
    auto getPath = ShellFunction<decltype(&SHGetSpecialFolderPathA)>(shell, "SHGetSpecialFolderPathA");
    const bool found = getPath && getPath(nullptr, path, folder, !allUsers);
    std::string result = found ? path : "";
    if (result.size() > 3 && result.back() == '\\') result.pop_back();
    return result;
}

bool CreateFolderPath(const std::string& path) {
    CreateDirectoryA(path.c_str(), nullptr);
    return IsFolder(path);
}

// shell32 is loaded by its full path first, so that COM, which may name the
// shortcut class's server without a folder, finds the system's copy.
bool WriteShortcut(const std::string& linkPath, const std::string& target, const std::string& workingFolder) {
    Shell32();
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    const bool saved = SUCCEEDED(link->SetPath(target.c_str())) &&
                       SUCCEEDED(link->SetWorkingDirectory(workingFolder.c_str())) &&
                       SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                       SUCCEEDED(file->Save(reinterpret_cast<LPCOLESTR>(AnsiToWide(linkPath).c_str()), TRUE));
    if (file) file->Release();
    link->Release();
    return saved;
}

TaskbarProgress::~TaskbarProgress() {
    if (list_) list_->Release();
}

// Systems before Windows 7 have no such class, or one without ITaskbarList3.
ITaskbarList3* TaskbarProgress::List() {
    if (tried_) return list_;
    tried_ = true;
    ITaskbarList3* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list))) ||
        !list)
        return nullptr;
    if (SUCCEEDED(list->HrInit()))
        list_ = list;
    else
        list->Release();
    return list_;
}

// Only changes of the shown step reach the taskbar, at most every 250 ms but
// for the last. A call made before the button exists fails and is repeated
// with the next change.
void TaskbarProgress::Set(HWND window, unsigned done, unsigned total) {
    if (total == 0) return;
    const unsigned step = static_cast<unsigned>(MulDiv(done < total ? done : total, kTaskbarSteps, total));
    if (step == shownStep_ || (step < kTaskbarSteps && GetTickCount() - shownAt_ < kTaskbarEveryMs)) return;
    shownAt_ = GetTickCount();
    if (ITaskbarList3* list = List())
        if (SUCCEEDED(list->SetProgressValue(window, step, kTaskbarSteps))) shownStep_ = step;
}

void TaskbarProgress::Clear(HWND window) {
    if (list_) list_->SetProgressState(window, TBPF_NOPROGRESS);
    shownStep_ = ~0u;
}

}  // namespace platform::win32
