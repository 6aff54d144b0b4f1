// Path and text helpers: folder separator, short paths, NUL terminators and
// enclosing quotes.
#include <gtest/gtest.h>

#include "fakes.h"
#include "platform/runtime_error.h"
#include "setup/paths.h"

using namespace std::string_literals;

namespace {

struct TextCase {
    std::string input;
    std::string expected;
};

// Names the case after its input, in characters that test names can carry.
void PrintTo(const TextCase& c, std::ostream* os) {
    if (c.input.empty()) *os << "empty";
    for (char ch : c.input) {
        switch (ch) {
        case ' ': *os << '_'; break;
        case '\\': *os << "bs"; break;
        case '"': *os << 'Q'; break;
        case '\t': *os << "tab"; break;
        case '\0': *os << "nul"; break;
        case ':': case '/': break;
        default: *os << ch;
        }
    }
}

class AddDirSepTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(AddDirSepTest, RewritesInPlace) {
    std::string folder = GetParam().input;
    setup::AddDirSep(folder);
    EXPECT_EQ(folder, GetParam().expected) << "from " << ::testing::PrintToString(GetParam().input);
}

INSTANTIATE_TEST_SUITE_P(Folders, AddDirSepTest,
                         ::testing::Values(TextCase{"C:\\A", "C:\\A\\"}, TextCase{"C:\\A\\", "C:\\A\\"},
                                           TextCase{"  C:\\A  ", "C:\\A\\"}, TextCase{" C:\\A\\ ", "C:\\A\\"},
                                           TextCase{"", "\\"}, TextCase{"   ", "\\"},
                                           TextCase{"C:/A/", "C:/A/\\"}, TextCase{"\\\\", "\\\\"},
                                           TextCase{"\tC:\\A\t", "\tC:\\A\t\\"}));

class StripQuotesTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(StripQuotesTest, DropsOneEnclosingPair) {
    EXPECT_EQ(setup::StripQuotes(GetParam().input), GetParam().expected) << ::testing::PrintToString(GetParam().input);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StripQuotesTest,
    ::testing::Values(TextCase{"  \"C:\\A B\\X.EXE\"  ", "C:\\A B\\X.EXE"}, TextCase{"\" in side \"", " in side "},
                      TextCase{"\"\"", ""}, TextCase{"\"C:\\A", "\"C:\\A"}, TextCase{" C:\\A\" ", "C:\\A\""},
                      TextCase{"\"\"x\"\"", "\"x\""}, TextCase{"", ""}, TextCase{"plain", "plain"},
                      TextCase{"\"", "\""}, TextCase{"  \"  ", "\""}));

class StripTerminatorTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(StripTerminatorTest, CutsAtFirstNul) {
    EXPECT_EQ(setup::StripTerminator(GetParam().input), GetParam().expected) << ::testing::PrintToString(GetParam().input);
}

INSTANTIATE_TEST_SUITE_P(Texts, StripTerminatorTest,
                         ::testing::Values(TextCase{"C:\\A", "C:\\A"}, TextCase{"\0C:\\A"s, ""},
                                           TextCase{"C:\\A\0B\0C"s, "C:\\A"}, TextCase{"", ""},
                                           TextCase{"AB\0\0\0"s, "AB"}));

TEST(StripTerminatorTest, NulPositionIsASixteenBitNumber) {
    std::string atLimit(32766, 'a');
    atLimit += '\0';  // position 32,767
    EXPECT_EQ(setup::StripTerminator(atLimit), std::string(32766, 'a'));

    std::string beyond(32767, 'a');
    beyond += '\0';  // position 32,768
    try {
        setup::StripTerminator(beyond);
        FAIL() << "no overflow";
    } catch (const platform::RuntimeError& e) {
        EXPECT_EQ(e.Number(), 6);
        EXPECT_EQ(e.Description(), "Overflow");
    }

    EXPECT_EQ(setup::StripTerminator(std::string(40000, 'a')).size(), 40000u);  // no NUL at all
}

TEST(GetShortPathTest, SystemAnswerOrUnchangedInput) {
    fakes::Journal journal;
    fakes::FakeOs os(journal);
    os.shortNames["C:\\Program Files\\Vantrel\\TvkUpdt.exe"] = "C:\\PROGRA~1\\VANTREL\\TVKUPDT.EXE";
    EXPECT_EQ(setup::GetShortPath(os, "C:\\Program Files\\Vantrel\\TvkUpdt.exe"), "C:\\PROGRA~1\\VANTREL\\TVKUPDT.EXE");
    EXPECT_EQ(setup::GetShortPath(os, "  C:\\No Such\\File.exe "), "  C:\\No Such\\File.exe ");
}

TEST(GetShortPathTest, OffersAThreeHundredCharacterBuffer) {
    fakes::Journal journal;
    fakes::FakeOs os(journal);
    os.shortNames["fits"] = std::string(299, 'F');      // with its NUL: 300
    os.shortNames["too long"] = std::string(300, 'T');  // needs 301
    EXPECT_EQ(setup::GetShortPath(os, "fits"), std::string(299, 'F'));
    EXPECT_EQ(setup::GetShortPath(os, "too long"), "too long");
}

}  // namespace
