// Runtime services on the real system: sequential text input through the
// Windows C runtime, upper-casing by the user's locale, and starting programs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/runtime_error.h"
#include "platform/sequential_files.h"
#include "platform/text.h"
#include "platform/win32/os_win32.h"
#include "win_test_support.h"

namespace {

using platform::RuntimeError;
using wintest::WriteBytes;

// ---- Sequential input -----------------------------------------------------------

class SequentialFilesTest : public wintest::ScratchTest {
protected:
    // Every line of a file with the given bytes, read until the end test says so.
    std::vector<std::string> Lines(const std::string& bytes) {
        const std::string path = At("UPDATE.LST");
        WriteBytes(path, bytes);
        platform::SequentialFiles files;
        const int number = files.FreeFile();
        files.OpenForInput(number, path);
        std::vector<std::string> lines;
        while (!files.Eof(number) && lines.size() < 100000) lines.push_back(files.LineInput(number));
        files.Close(number);
        return lines;
    }
    // The number of the runtime error that `statement` raises, 0 for none.
    template <class Statement>
    static int32_t ErrorOf(Statement&& statement) {
        try {
            statement();
        } catch (const RuntimeError& e) {
            return e.Number();
        }
        return 0;
    }
    using LineList = std::vector<std::string>;
};

TEST_F(SequentialFilesTest, EachTerminatorEndsOneLine) {
    EXPECT_EQ(Lines("START\r\nFOLDER\r\nEND\r\n"), (LineList{"START", "FOLDER", "END"}));
    EXPECT_EQ(Lines("START\nFOLDER\nEND\n"), (LineList{"START", "FOLDER", "END"}));
    EXPECT_EQ(Lines("START\rFOLDER\rEND\r"), (LineList{"START", "FOLDER", "END"}));
    EXPECT_EQ(Lines("a\r\nb\nc\rd"), (LineList{"a", "b", "c", "d"}));
}

TEST_F(SequentialFilesTest, EmptyLinesAreKeptAndCrLfCountsOnce) {
    EXPECT_EQ(Lines("a\r\n\r\nb\n\nc\r\rd"), (LineList{"a", "", "b", "", "c", "", "d"}));
    EXPECT_EQ(Lines("a\n\r\nb"), (LineList{"a", "", "b"}));
}

TEST_F(SequentialFilesTest, LastLineWithoutTerminatorIsRead) {
    EXPECT_EQ(Lines("START\r\nEND"), (LineList{"START", "END"}));
    EXPECT_EQ(Lines("only"), (LineList{"only"}));
    EXPECT_EQ(Lines(""), LineList{});
}

TEST_F(SequentialFilesTest, Utf8ByteOrderMarkIsSkippedOnlyAtTheStart) {
    EXPECT_EQ(Lines("\xEF\xBB\xBFVantrel|1|2\r\nSTART\r\n"), (LineList{"Vantrel|1|2", "START"}));
    EXPECT_EQ(Lines("a\r\n\xEF\xBB\xBF" "b"), (LineList{"a", "\xEF\xBB\xBF" "b"}));
}

TEST_F(SequentialFilesTest, AnsiTextAndControlCharactersPassUnchanged) {
    EXPECT_EQ(Lines("Caf\xE9\t1\x1A" "2\r\n"), (LineList{"Caf\xE9\t1\x1A" "2"}));
}

TEST_F(SequentialFilesTest, LongLinesAndACrLfAcrossTheReadBufferEdge) {
    // 65535 characters put the CR last in a 64 KiB read and the LF first in the next.
    const std::string first(65535, 'a');
    const std::string second(200000, 'b');
    EXPECT_EQ(Lines(first + "\r\n" + second + "\r\nend"), (LineList{first, second, "end"}));
}

TEST_F(SequentialFilesTest, ReadingPastTheEndRaises62) {
    const std::string path = At("UPDATE.LST");
    WriteBytes(path, "only\r\n");
    platform::SequentialFiles files;
    files.OpenForInput(1, path);
    EXPECT_EQ(files.LineInput(1), "only");
    EXPECT_TRUE(files.Eof(1));
    EXPECT_EQ(ErrorOf([&] { files.LineInput(1); }), platform::errnum::kInputPastEnd);
}

TEST_F(SequentialFilesTest, MissingFileRaises53) {
    platform::SequentialFiles files;
    EXPECT_EQ(ErrorOf([&] { files.OpenForInput(1, At("UPDATE.LST")); }), platform::errnum::kFileNotFound);
    EXPECT_EQ(files.FreeFile(), 1) << "a failed open must not use up the number";
}

TEST_F(SequentialFilesTest, FileIsReleasedOnClose) {
    const std::string path = At("UPDATE.LST");
    WriteBytes(path, "x\r\n");
    platform::SequentialFiles files;
    files.OpenForInput(1, path);
    files.Close(1);
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "the file is still held open, error " << GetLastError();
}

// ---- Upper case ---------------------------------------------------------------------

TEST(UCaseTest, AsciiLettersOnly) {
    EXPECT_EQ(platform::UCase("tvkupdt.exe"), "TVKUPDT.EXE");
    EXPECT_EQ(platform::UCase("Sys\\a-b_c 1.30|x"), "SYS\\A-B_C 1.30|X");
    EXPECT_EQ(platform::UCase(""), "");
}

TEST(UCaseTest, AnsiLettersFollowTheCodePage) {
    ASSERT_EQ(GetACP(), 1252u) << "the letters below are those of code page 1252";
    EXPECT_EQ(platform::UCase("caf\xE9"), "CAF\xC9");
    EXPECT_EQ(platform::UCase("\xE0\xF1\xF6\xFE"), "\xC0\xD1\xD6\xDE");
    EXPECT_EQ(platform::UCase("\xFF"), "\x9F") << "y with diaeresis has its capital at 0x9F";
    EXPECT_EQ(platform::UCase("\xDF\xD7\xF7"), "\xDF\xD7\xF7") << "sharp s and the signs have no capital";
}

TEST(UCaseTest, EmbeddedNulDoesNotEndTheText) {
    const std::string text("ab\0cd", 5);
    EXPECT_EQ(platform::UCase(text), std::string("AB\0CD", 5));
}

// ---- Starting programs ----------------------------------------------------------------

class RunProgramTest : public wintest::ScratchTest {
protected:
    static bool WaitFor(const std::string& path, DWORD milliseconds) {
        const DWORD start = GetTickCount();
        while (!wintest::Exists(path)) {
            if (GetTickCount() - start > milliseconds) return false;
            Sleep(50);
        }
        return true;
    }
    std::string Helper() const { return wintest::ExeFolder() + "\\delayed_marker.exe"; }
    platform::win32::Win32Os os;
};

TEST_F(RunProgramTest, ReturnsWithoutWaitingForTheProgram) {
    const std::string marker = At("started.txt");
    const DWORD before = GetTickCount();
    os.RunProgram("\"" + Helper() + "\" 3000 \"" + marker + "\"", platform::kWindowStyleMinimizedFocus, "");
    const DWORD took = GetTickCount() - before;
    EXPECT_FALSE(wintest::Exists(marker)) << "the call waited for the program";
    EXPECT_LT(took, 2500u);
    EXPECT_TRUE(WaitFor(marker, 30000)) << "the program never ran";
}

TEST_F(RunProgramTest, ProgramInAFolderWithSpacesStartsByItsQuotedPath) {
    ASSERT_TRUE(CreateDirectoryA(At("Vantrel Server").c_str(), nullptr));
    const std::string copy = At("Vantrel Server\\Marker Tool.exe");
    ASSERT_TRUE(CopyFileA(Helper().c_str(), copy.c_str(), FALSE));
    const std::string marker = At("Vantrel Server\\started.txt");
    os.RunProgram("\"" + copy + "\" 0 \"" + marker + "\"", platform::kWindowStyleMinimizedFocus, "");
    EXPECT_TRUE(WaitFor(marker, 30000));
}

TEST_F(RunProgramTest, MissingProgramRaises) {
    try {
        os.RunProgram("\"" + At("missing.exe") + "\" /RegServer", platform::kWindowStyleMinimizedFocus, "");
        FAIL() << "no runtime error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), platform::errnum::kFileNotFound);
    }
}

}  // namespace
