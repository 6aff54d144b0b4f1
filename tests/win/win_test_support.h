#pragma once
// Shared helpers for the Windows-side tests: a private scratch folder per
// test, and plain file access through the Windows API (not through the code
// under test).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace wintest {

// Folder of the running test program, without a trailing backslash; the
// helper programs and the type library are built beside it.
std::string ExeFolder();

void WriteBytes(const std::string& path, const std::string& bytes);
// The whole file; an empty string and a test failure when it cannot be read.
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
DWORD Attributes(const std::string& path);
void SetAttributes(const std::string& path, DWORD attributes);
// Deletes a folder and everything in it, whatever the files' attributes.
void RemoveTree(const std::string& path);

// True under Wine, which reports every regular file as archived.
bool RunningOnWine();
// Whether the file system refuses to open a read-only file for writing in
// `folder`. Wine run by root does not: Unix permissions do not bind root.
bool ReadOnlyIsEnforced(const std::string& folder);

// A fresh, empty folder under the user's temporary folder for every test,
// removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Path of `name` inside the scratch folder.
    std::string At(const std::string& name) const { return folder_ + "\\" + name; }
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
};

}  // namespace wintest
