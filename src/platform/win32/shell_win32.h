#pragma once
// Shell services on the Windows API: the Start menu's Programs folders,
// shortcut files, and progress on the window's taskbar button. shell32 is
// loaded at run time from the system directory, never imported.
#include <windows.h>

#include <string>

struct ITaskbarList3;

namespace platform::win32 {

// The Start menu's Programs folder of all users or of the current user,
// without a trailing backslash; empty where the system has none (the 95
// family without user profiles has no all-users folder).
std::string ProgramsFolder(bool allUsers);

// Creates the folder (its parent exists); true when the path is a folder
// afterwards.
bool CreateFolderPath(const std::string& path);

// Writes (or replaces) a shortcut file at linkPath that starts target in
// workingFolder. COM must be initialised on the calling thread.
bool WriteShortcut(const std::string& linkPath, const std::string& target, const std::string& workingFolder);

// Progress on the window's taskbar button, where the system offers it
// (Windows 7 and later); elsewhere every call does nothing. Created on
// first use on a thread where COM is initialised.
class TaskbarProgress {
public:
    TaskbarProgress() = default;
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    // Shows done out of total (total 0 shows nothing).
    void Set(HWND window, unsigned done, unsigned total);
    // Removes the progress from the button.
    void Clear(HWND window);

private:
    ITaskbarList3* List();

    ITaskbarList3* list_ = nullptr;
    bool tried_ = false;
    unsigned shownStep_ = ~0u;  // the step last shown, to skip repeats
    DWORD shownAt_ = 0;         // when (GetTickCount), to call the shell seldom
};

}  // namespace platform::win32
