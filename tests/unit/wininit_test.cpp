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

}  // namespace
