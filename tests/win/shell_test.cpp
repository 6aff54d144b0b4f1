// The shell services against the real shell: the Start menu's Programs
// folders, folder creation and shortcut files read back through the shell.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "platform/win32/shell_win32.h"
#include "win_test_support.h"

namespace {

using namespace platform::win32;

struct Shortcut {
    std::string target;
    std::string folder;
};

// What the shell reads from a shortcut file.
Shortcut ReadShortcut(const std::string& path) {
    Shortcut read;
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char text[MAX_PATH] = "";
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(wide, STGM_READ))) {
        if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0))) read.target = text;
        if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) read.folder = text;
    }
    if (file) file->Release();
    if (link) link->Release();
    return read;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class ShellTest : public wintest::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    }
    void TearDown() override {
        OleUninitialize();
        ScratchTest::TearDown();
    }
};

TEST_F(ShellTest, ProgramsFoldersAreExistingFoldersWithoutTrailingBackslash) {
    const std::string mine = ProgramsFolder(false);
    const std::string everyone = ProgramsFolder(true);
    for (const std::string& folder : {mine, everyone}) {
        ASSERT_FALSE(folder.empty());
        EXPECT_TRUE(IsFolder(folder)) << folder;
        EXPECT_NE(folder.back(), '\\') << folder;
    }
    EXPECT_NE(mine, everyone);
}

TEST_F(ShellTest, CreateFolderPathMakesTheFolderOrFindsIt) {
    const std::string group = At("Vantrel - Ver 1.30");
    EXPECT_TRUE(CreateFolderPath(group));
    EXPECT_TRUE(IsFolder(group));
    EXPECT_TRUE(CreateFolderPath(group)) << "an existing folder";
    wintest::WriteBytes(At("file"), "x");
    EXPECT_FALSE(CreateFolderPath(At("file")));
    EXPECT_FALSE(CreateFolderPath(At("file\\below")));
}

TEST_F(ShellTest, ShortcutNamesItsTargetAndFolderAndReplacesAnOldOne) {
    const std::string link = At("Vantrel - Live Update.lnk");
    wintest::WriteBytes(At("old.exe"), "MZ");
    wintest::WriteBytes(At("TvkUpdt.exe"), "MZ");
    ASSERT_TRUE(WriteShortcut(link, At("old.exe"), "C:\\"));
    ASSERT_TRUE(WriteShortcut(link, At("TvkUpdt.exe"), Folder()));

    ASSERT_TRUE(wintest::Exists(link));
    const Shortcut read = ReadShortcut(link);
    EXPECT_EQ(read.target, At("TvkUpdt.exe"));
    EXPECT_EQ(read.folder, Folder());
}

// The euro sign is 0x80 in code page 1252: a name not widened through the
// code page gets another character, and the file is not found by its name.
TEST_F(ShellTest, ShortcutNameFollowsTheCodePage) {
    const std::string link = At("Vantrel \x80 Live Update.lnk");
    HANDLE probe = CreateFileA(At("\x80").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) GTEST_SKIP() << "Wine's Unix locale cannot name files with a euro sign";
    CloseHandle(probe);
    wintest::WriteBytes(At("TvkUpdt.exe"), "MZ");
    ASSERT_TRUE(WriteShortcut(link, At("TvkUpdt.exe"), Folder()));
    EXPECT_TRUE(wintest::Exists(link));
}

TEST_F(ShellTest, ShortcutInAMissingFolderFails) {
    wintest::WriteBytes(At("TvkUpdt.exe"), "MZ");
    EXPECT_FALSE(WriteShortcut(At("missing\\item.lnk"), At("TvkUpdt.exe"), Folder()));
}

}  // namespace
