#include "win_test_support.h"

#include <vector>

namespace wintest {

std::string ExeFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of('\\'));
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << path << ", error " << GetLastError();
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok && written == bytes.size()) << "cannot write " << path;
}

std::string ReadBytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open " << path << ", error " << GetLastError();
        return std::string();
    }
    std::string bytes;
    char chunk[1024];
    DWORD n = 0;
    while (ReadFile(file, chunk, sizeof chunk, &n, nullptr) && n > 0) bytes.append(chunk, n);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

void SetAttributes(const std::string& path, DWORD attributes) {
    // Wine keeps hidden and system in an extended attribute of the Unix file,
    // which it cannot write once the file is read-only (as a user other than
    // root); so the other attributes go first, read-only last.
    const DWORD others = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (others != attributes && others != 0) {
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), others));
    }
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes))
        << "cannot set attributes of " << path << ", error " << GetLastError();
    ASSERT_EQ(GetFileAttributesA(path.c_str()) & attributes, attributes)
        << "the file system did not keep the attributes of " << path;
}

bool RunningOnWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

bool ReadOnlyIsEnforced(const std::string& folder) {
    const std::string probe = folder + "\\read-only-probe.tmp";
    WriteBytes(probe, "probe");
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool enforced = file == INVALID_HANDLE_VALUE;
    if (!enforced) CloseHandle(file);
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe.c_str());
    return enforced;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

void ScratchTest::SetUp() {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::string(temp) + "lu-win-" + std::to_string(GetCurrentProcessId()) + "-" + test->test_suite_name() +
              "-" + test->name();
    for (char& c : folder_)
        if (c == '/') c = '_';  // parameterised tests carry slashes in their names
    RemoveTree(folder_);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_ << ", error " << GetLastError();
}

void ScratchTest::TearDown() {
    if (!folder_.empty()) RemoveTree(folder_);
}

}  // namespace wintest
