// The [rename] lines added to WININIT.INI's text for the next start.
#include <gtest/gtest.h>

#include "platform/wininit.h"

namespace {

struct RenameCase {
    const char* name;
    const char* before;
    const char* after;
};

class WininitTest : public ::testing::TestWithParam<RenameCase> {};

TEST_P(WininitTest, LineGoesLastIntoTheRenameSection) {
    EXPECT_EQ(platform::WithRenameLine(GetParam().before, "C:\\WINDOWS\\SYSTEM\\TVKCOM.DLL=C:\\WINDOWS\\SYSTEM\\TVKCOM~1.NEW"),
              GetParam().after);
}

// What the section says is done in the same order, the new line last.
TEST_P(WininitTest, TheLinesReadBackAsTheChangesInOrder) {
    const auto before = platform::RenameSectionChanges(GetParam().before);
    const auto after = platform::RenameSectionChanges(GetParam().after);
    ASSERT_EQ(after.size(), before.size() + 1);
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].source, before[i].source);
        EXPECT_EQ(after[i].destination, before[i].destination);
    }
    EXPECT_EQ(after.back().source, "C:\\WINDOWS\\SYSTEM\\TVKCOM~1.NEW");
    EXPECT_EQ(after.back().destination, "C:\\WINDOWS\\SYSTEM\\TVKCOM.DLL");
}

#define LINE "C:\\WINDOWS\\SYSTEM\\TVKCOM.DLL=C:\\WINDOWS\\SYSTEM\\TVKCOM~1.NEW\r\n"
const RenameCase kCases[] = {
    {"NoFile", "", "[rename]\r\n" LINE},
    {"OtherSectionsOnly", "[Misc]\r\nA=1\r\n", "[Misc]\r\nA=1\r\n[rename]\r\n" LINE},
    {"LastLineWithoutItsEnd", "[Misc]\r\nA=1", "[Misc]\r\nA=1\r\n[rename]\r\n" LINE},
    {"HeaderAloneWithoutItsEnd", "[rename]", "[rename]\r\n" LINE},
    {"AfterSeveralNulLinesInOrder", "[rename]\r\nNUL=C:\\A.TMP\r\nNUL=C:\\B.TMP\r\n",
     "[rename]\r\nNUL=C:\\A.TMP\r\nNUL=C:\\B.TMP\r\n" LINE},
    {"BeforeTheNextSectionAndItsBlankLine", "[Rename]\r\nNUL=C:\\A.TMP\r\n\r\n[Other]\r\nNUL=x\r\n",
     "[Rename]\r\nNUL=C:\\A.TMP\r\n" LINE "\r\n[Other]\r\nNUL=x\r\n"},
    {"SectionBetweenOthers", "[A]\r\nk=v\r\n [RENAME] \r\n[B]\r\n", "[A]\r\nk=v\r\n [RENAME] \r\n" LINE "[B]\r\n"},
    {"PlainLineEndsKept", "[rename]\nNUL=C:\\A.TMP\n[B]\nk=v\n", "[rename]\nNUL=C:\\A.TMP\n" LINE "[B]\nk=v\n"},
    {"SectionNamedLikeItIsNotIt", "[renamed]\r\nNUL=C:\\A.TMP\r\n", "[renamed]\r\nNUL=C:\\A.TMP\r\n[rename]\r\n" LINE},
};
#undef LINE

INSTANTIATE_TEST_SUITE_P(Texts, WininitTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The NT family's list, and what it leaves of a file by its last change
// naming it: the system's own list holds other programs' changes as well.
TEST(RestartChangesTest, AFileIsGoneOnlyWhenItsLastChangeTakesItAway) {
    using platform::GoneAfterChanges;
    const std::string list = std::string("\\??\\C:\\V\\A.TXT\0\0", 16) +
                             std::string("\\??\\C:\\V\\B.TXT.1.back~\0!\\??\\C:\\V\\B.TXT\0", 39) +
                             std::string("\\??\\C:\\V\\C.TXT\0\\??\\C:\\V\\~LU00001.OLD\0\0", 38);
    const auto changes = platform::PendingRenameChanges(list);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].source, "C:\\V\\A.TXT");
    EXPECT_EQ(changes[0].destination, "");
    EXPECT_EQ(changes[1].destination, "C:\\V\\B.TXT");
    EXPECT_TRUE(GoneAfterChanges(changes, {"c:\\v\\a.txt"}));       // deleted, any case
    EXPECT_FALSE(GoneAfterChanges(changes, {"C:\\V\\B.TXT"}));      // something moves in
    EXPECT_TRUE(GoneAfterChanges(changes, {"X", "C:\\V\\C.TXT"}));  // moved away, by another name
    EXPECT_FALSE(GoneAfterChanges(changes, {"C:\\V\\D.TXT"}));      // not named
    auto again = changes;
    again.push_back({"C:\\V\\A.TXT.1.new~", "C:\\V\\A.TXT"});
    EXPECT_FALSE(GoneAfterChanges(again, {"C:\\V\\A.TXT"}));  // deleted, then made anew
}

}  // namespace
