// Reading the body of UPDATE.LST into UpdateFiles: the keywords, selectors,
// names and extensions, and lists that are malformed or large.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/runtime_error.h"
#include "setup/update_list.h"
#include "test_support.h"

using namespace std::string_literals;

namespace {

// An installer before Install: UpdateFiles holds its unused element 0.
struct ListReader : fakes::Installer {
    ListReader() {
        state.ServerPath = server.Path();
        state.UpdateFiles.assign(1, setup::UpdateFileEntry{});
        os.AddFile(ListPath());  // so that the lookup finds the list on disk
    }

    // Writes the header and the given lines, reads them, and returns the
    // entries from 1 as "Folder|FileName|Extension".
    std::vector<std::string> Read(const std::string& lines) {
        WriteList(std::string(kHeader) + "\r\n" + lines);
        setup::Context ctx{state, os, forms};
        setup::ReadUpdateList(ctx);
        std::vector<std::string> entries;
        for (std::size_t i = 1; i < state.UpdateFiles.size(); ++i) {
            const auto& e = state.UpdateFiles[i];
            entries.push_back(e.Folder + "|" + e.FileName + "|" + e.Extension);
        }
        return entries;
    }
};

using Entries = std::vector<std::string>;

TEST(UpdateListTest, WorkedExample) {
    ListReader list;
    const Entries entries = list.Read(
        "FILE,EARLY.DLL\r\n"
        "START\r\n"
        "FOLDER,System\r\n"
        "FILE,Alpha.dll, beta.ocx\r\n"
        "\r\n"
        "FOLDER, Sys\r\n"
        "file,OMEGA.DLL\r\n"
        "FILE,GAMMA.TLB,README\r\n"
        "END\r\n"
        "FILE,LATE.DLL\r\n");
    EXPECT_EQ(entries, (Entries{"SYSTEM\\|ALPHA.DLL|DLL", "SYSTEM\\|BETA.OCX|OCX", "SYS\\|GAMMA.TLB|TLB",
                                "SYS\\|README|README"}));
    EXPECT_EQ(list.state.UpdateFiles[0].FileName, "");  // element 0 stays unused
}

struct BodyCase {
    const char* name;
    std::string lines;
    Entries expected;
};

void PrintTo(const BodyCase& c, std::ostream* os) { *os << c.name; }

class BodyTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(BodyTest, Entries) {
    ListReader list;
    EXPECT_EQ(list.Read(GetParam().lines), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, BodyTest,
    ::testing::Values(
        BodyCase{"NoStart", "FOLDER,SYS\nFILE,A.DLL\n", {}},
        BodyCase{"EndBeforeStart", "END\nSTART\nFILE,A.DLL\n", {}},
        BodyCase{"PaddedKeywordsCount", "   START  \nFILE,A.DLL\n  END \nFILE,B.DLL\n", {"|A.DLL|DLL"}},
        BodyCase{"LowerCaseStart", "start\nFILE,A.DLL\n", {}},
        BodyCase{"MixedCaseEnd", "START\nEnd\nFILE,A.DLL\n", {"|A.DLL|DLL"}},
        BodyCase{"EndWithOperandDoesNotEnd", "START\nEND,X\nFILE,A.DLL\n", {"|A.DLL|DLL"}},
        BodyCase{"StartWithOperandDoesNotOpen", "START,X\nFILE,A.DLL\n", {}},
        BodyCase{"RepeatedStart", "START\nFILE,A\nSTART\nFILE,B\n", {"|A|A", "|B|B"}},
        BodyCase{"KeywordFieldTrimmed", "START\nFILE , a.dll\n", {"|A.DLL|DLL"}},
        BodyCase{"OperandsUpperCased", "START\nFOLDER,system\nFILE,a\nFOLDER,SYSTEM\nFILE,b\nfolder,X\nFILE,c\n",
                 {"SYSTEM\\|A|A", "SYSTEM\\|B|B", "SYSTEM\\|C|C"}},
        BodyCase{"TwoNameSelector", "START\nFOLDER,Sys,Sub\nFILE,A\n", {"SYS\\SUB\\|A|A"}},
        BodyCase{"TrailingCommaSelector", "START\nFOLDER,\nFILE,A\n", {"\\|A|A"}},
        BodyCase{"TwoCommasSelector", "START\nFOLDER,,\nFILE,A\n", {"\\\\|A|A"}},
        BodyCase{"FolderWithoutCommaKeepsSelector", "START\nFOLDER,SYS\nFOLDER\nFILE,A\n", {"SYS\\|A|A"}},
        BodyCase{"FileWithoutCommaIgnored", "START\nFILE\nFILE,A\n", {"|A|A"}},
        BodyCase{"SelectorReplacedWhole", "START\nFOLDER,A,B\nFOLDER,C\nFILE,X\n", {"C\\|X|X"}},
        BodyCase{"TrailingCommaAddsEmptyEntry", "START\nFILE,A.DLL,\n", {"|A.DLL|DLL", "||"}},
        BodyCase{"TwoCommasInARow", "START\nFILE,,B\n", {"||", "|B|B"}},
        BodyCase{"Extensions", "START\nFILE,A.B.C,README,NAME.,a . dll\n",
                 {"|A.B.C|C", "|README|README", "|NAME.|", "|A . DLL|DLL"}},
        BodyCase{"UnknownKeywordIgnored", "START\nCOPY,A.DLL\nFILE,B\n", {"|B|B"}},
        BodyCase{"ListedTwiceGivesTwoEntries", "START\nFILE,A\nFILE,A\n", {"|A|A", "|A|A"}},
        BodyCase{"TabsAreNotTrimmed", "START\n\tEND\nFILE,\tA\n", {"|\tA|\tA"}},
        BodyCase{"BlankLinesAnywhere", "\n   \nSTART\n\n  \nFILE,A\n\n", {"|A|A"}}));

// The names the installer keeps for itself, in any case, and names that
// only resemble them.
TEST(UpdateListTest, OwnNamesAndTheirNeighbours) {
    for (const char* own : {"LIVEUPDATESETUP.EXE", "LiveUpdateSetup.exe", "LIVEUPDATEEVENTS.DLL", "A.DLL.NEW~",
                            "A.old~", "A.1.BACK~", "A.DLL.1.DEL~", "~LU00001.OLD", "~LU.OLD"})
        EXPECT_NE(setup::OwnNameReason(own), "") << own;
    for (const char* other : {"LIVEUPDATESETUP.EXE.TXT", "XLIVEUPDATESETUP.EXE", "LIVEUPDATESETUP", "A.NEW",
                              "A.DLL~", "NEW~", "A~LU00001.OLD", "~LU00001.OLDX", "TVKUPDT.EXE"})
        EXPECT_EQ(setup::OwnNameReason(other), "") << other;
}

TEST(UpdateListTest, HeaderIsNeverInterpreted) {
    for (const char* header : {"START", "END"}) {
        ListReader list;
        list.WriteList(std::string(header) + "\nFILE,A\nSTART\nFILE,B\n");
        setup::Context ctx{list.state, list.os, list.forms};
        setup::ReadUpdateList(ctx);
        ASSERT_EQ(list.state.UpdateFiles.size(), 2u) << header;
        EXPECT_EQ(list.state.UpdateFiles[1].FileName, "B");
    }
}

TEST(UpdateListTest, MissingListAddsNothing) {
    ListReader list;
    list.os.files.erase(list.ListPath());  // the lookup decides, not the disk
    list.Read("START\nFILE,A\n");
    EXPECT_EQ(list.state.UpdateFiles.size(), 1u);
}

TEST(UpdateListTest, ListPathGainsOneBackslash) {
    ListReader list;
    list.state.ServerPath = " " + list.server.Path() + "\\ ";
    EXPECT_EQ(list.Read("START\nFILE,A\n").size(), 1u);
    EXPECT_NE(std::find(list.journal.begin(), list.journal.end(), "find " + list.ListPath()), list.journal.end());
}

TEST(UpdateListTest, SecondReadingAppendsAgain) {
    ListReader list;
    list.Read("START\nFILE,A\n");
    EXPECT_EQ(list.Read("START\nFILE,A\n").size(), 2u);
}

TEST(UpdateListTest, EmptyListRaisesAndIsClosed) {
    ListReader list;
    list.WriteList("");
    setup::Context ctx{list.state, list.os, list.forms};
    try {
        setup::ReadUpdateList(ctx);
        FAIL() << "no error";
    } catch (const platform::RuntimeError& e) {
        EXPECT_EQ(e.Number(), 62);  // input past end of file
    }
    EXPECT_EQ(list.forms.Files().FreeFile(), 1);  // the file number was given back
}

// Line ends and content that a damaged or hand-edited list may hold.
TEST(UpdateListTest, LineEnds) {
    const std::pair<std::string, Entries> cases[] = {
        {"START\rFILE,A\rFILE,B", {"|A|A", "|B|B"}},       // CR only, no final line end
        {"START\nFILE,A\nFILE,B\n", {"|A|A", "|B|B"}},     // LF only
        {"START\r\n\r\nFILE,A\n\rFILE,B", {"|A|A", "|B|B"}},  // mixed
    };
    for (const auto& [lines, expected] : cases) {
        ListReader list;
        EXPECT_EQ(list.Read(lines), expected) << lines;
    }
    ListReader headerOnly;
    headerOnly.WriteList(fakes::Installer::kHeader);  // no line end at all
    setup::Context ctx{headerOnly.state, headerOnly.os, headerOnly.forms};
    setup::ReadUpdateList(ctx);
    EXPECT_EQ(headerOnly.state.UpdateFiles.size(), 1u);
}

TEST(UpdateListTest, NulBytesStayInNames) {
    ListReader list;
    EXPECT_EQ(list.Read("START\nFILE,a\0b.dll\n\0\nFILE,C\n"s), (Entries{"|A\0B.DLL|DLL"s, "|C|C"}));
}

TEST(UpdateListTest, MegabyteLine) {
    ListReader list;
    const std::string name(1 << 20, 'n');
    const Entries entries = list.Read("START\nFILE," + name + ".dll\nFILE,B\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(list.state.UpdateFiles[1].FileName, std::string(1 << 20, 'N') + ".DLL");
    EXPECT_EQ(list.state.UpdateFiles[2].FileName, "B");
}

// Lines of keywords, random bytes and random line ends.
std::string RandomLines(std::mt19937& random, int count) {
    const char* starts[] = {"FILE,", "FOLDER,", "START", "", " FILE ,", "\xEF\xBB\xBF"};
    const char* ends[] = {"\r\n", "\n", "\r", ""};
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += starts[random() % 6];
        for (unsigned n = random() % 24; n > 0; --n) lines += static_cast<char>(random());
        lines += ends[random() % 4];
    }
    return lines;
}

TEST(UpdateListTest, RandomContentGivesWellFormedEntries) {
    std::mt19937 random(20240601);
    std::size_t total = 0;
    for (int round = 0; round < 50; ++round) {
        ListReader list;
        list.Read("START\n" + RandomLines(random, 200));
        for (std::size_t i = 1; i < list.state.UpdateFiles.size(); ++i) {
            const auto& e = list.state.UpdateFiles[i];
            EXPECT_EQ(e.FileName.find_first_of(",\r\n"), std::string::npos);
            EXPECT_TRUE(e.FileName.empty() || (e.FileName.front() != ' ' && e.FileName.back() != ' '));
            EXPECT_TRUE(e.Folder.empty() || e.Folder.back() == '\\');
            EXPECT_EQ(e.Extension.find('.'), std::string::npos);
        }
        total += list.state.UpdateFiles.size() - 1;
    }
    EXPECT_GT(total, 1000u);  // the content really reached the body
}

TEST(UpdateListTest, HundredThousandEntries) {
    ListReader list;
    std::string lines = "START\nFOLDER,SYS\n";
    for (int i = 0; i < 100000; ++i) lines += "FILE,F" + std::to_string(i) + ".DLL\r\n";
    const Entries entries = list.Read(lines);
    ASSERT_EQ(entries.size(), 100000u);
    EXPECT_EQ(entries.front(), "SYS\\|F0.DLL|DLL");
    EXPECT_EQ(entries.back(), "SYS\\|F99999.DLL|DLL");
}

}  // namespace
