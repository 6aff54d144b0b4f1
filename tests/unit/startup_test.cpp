// Start-up: the list header, web ID choice, host discovery, the Ready
// state and the ways start-up ends the program.
#include <gtest/gtest.h>

#include "test_support.h"

using fakes::Installer;

namespace {

TEST(StartupTest, ReadyStateShowsSystemTextsAndEnablesButtons) {
    Installer in;
    ASSERT_FALSE(in.Load());
    auto& w = *in.window;
    EXPECT_EQ(w.Caption(), "Install Vantrel Live Update");
    EXPECT_EQ(w.lblMainHead(0).Caption(), "Install Vantrel Live Update");
    EXPECT_EQ(w.lblUpdate(0).Caption(), "This will install Vantrel Live Update on your system");
    EXPECT_EQ(w.lblUpdate(1).Caption(), "Close Vantrel before continuing");
    EXPECT_EQ(w.lblMsgline.Caption(), "Click Install to continue or Cancel to Exit");
    EXPECT_TRUE(w.cmdInstall.Enabled());
    EXPECT_TRUE(w.cmdHelp.Enabled());
    EXPECT_FALSE(w.cmdHelp.Visible());
    EXPECT_EQ(w.cmdCancel.Caption(), "C&ancel");
    EXPECT_EQ(w.InstallCompleted, 0);
    EXPECT_TRUE(in.forms.messages.empty());
    EXPECT_EQ(in.state.WebID, "WEB130");
    EXPECT_EQ(in.state.ServerPath, in.server.Path());
    EXPECT_EQ(in.state.SystemDirectory, "C:\\WINDOWS\\SYSTEM32");
    EXPECT_EQ(in.state.ProductVersion, "1.30");
    EXPECT_EQ(in.state.IniFilePath, "C:\\Vantrel\\Sys\\TOVASK.INI");
    ASSERT_EQ(in.state.UpdateFiles.size(), 1u);
}

TEST(StartupTest, CentresByInnerSizeKeepingHalfTwips) {
    Installer in;
    in.forms.screenWidth = 15361;
    in.forms.screenHeight = 11520;
    ASSERT_FALSE(in.Load());
    EXPECT_DOUBLE_EQ(in.window->Left(), 15361 / 2.0 - 6840 / 2.0);  // 4260.5
    EXPECT_DOUBLE_EQ(in.window->Top(), 5760 - 2542.5);              // inner height 5085 is odd
}

struct VersionCase {
    const char* version;
    const char* systemName;
    const char* expectedWebId;  // nullptr: the program ends
};

void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.systemName << " '" << c.version << "'"; }

class WebIdTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(WebIdTest, ChoosesFieldByVersion) {
    const auto& c = GetParam();
    Installer in;
    in.WriteList(std::string(c.systemName) + ",F1,F2,F3,F4,F5,F6\n");
    in.os.settings[std::string(c.systemName) + "\\Setup\\CS_Path"] = "C:\\Vantrel";
    in.os.SetIni("C:\\Vantrel\\Sys\\TOVASK.INI", "Tovask", "Ver", c.version);
    const bool ended = in.Load();
    if (c.expectedWebId) {
        EXPECT_FALSE(ended);
        EXPECT_EQ(in.state.WebID, c.expectedWebId);
    } else {
        EXPECT_TRUE(ended);
        ASSERT_EQ(in.forms.messages.size(), 1u);
        EXPECT_EQ(in.forms.messages[0].text, "Live Update supported only in Vantrel 1.20 or higher versions");
        EXPECT_EQ(in.forms.messages[0].flags, 16);
        EXPECT_EQ(in.forms.messages[0].title, c.systemName);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, WebIdTest,
    ::testing::Values(VersionCase{"1.30", "Vantrel", "F1"}, VersionCase{"  1.30  ", "Vantrel", "F1"},
                      VersionCase{"1.31", "Vantrel", "F2"}, VersionCase{"1.20", "Vantrel", "F3"},
                      VersionCase{"1.40", "Vantrel", "F4"}, VersionCase{"1.10", "Palomire", "F5"},
                      VersionCase{"1.10", "PALOMIRE", "F5"}, VersionCase{"1.10", "Vantrel", nullptr},
                      VersionCase{"1.3", "Vantrel", nullptr}, VersionCase{"v1.30", "Vantrel", nullptr},
                      VersionCase{"1.300", "Vantrel", nullptr}, VersionCase{"\t1.30", "Vantrel", nullptr},
                      VersionCase{"?", "Vantrel", nullptr}));

TEST(StartupTest, HeaderFieldsAreTrimmedOfSpacesOnly) {
    Installer in;
    in.WriteList("  Vantrel  ,  web id  ,x\n");
    ASSERT_FALSE(in.Load());
    EXPECT_EQ(in.state.SystemName, "Vantrel");
    EXPECT_EQ(in.state.WebID, "web id");

    Installer tabs;
    tabs.WriteList("Vantrel,\tWEB\t\n");
    ASSERT_FALSE(tabs.Load());
    EXPECT_EQ(tabs.state.WebID, "\tWEB\t");
}

TEST(StartupTest, EmptySelectedFieldIsUnsupported) {
    Installer in;
    in.WriteList("Vantrel,A,B,C, ,E\n");
    in.os.SetIni("C:\\Vantrel\\Sys\\TOVASK.INI", "Tovask", "Ver", "1.40");
    EXPECT_TRUE(in.Load());
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].title, "Vantrel");
}

// Lists that end the program at start-up without any message.
TEST(StartupTest, BadListsEndSilently) {
    const char* lists[] = {
        "",                                 // empty file: no first line
        "\r\n",                             // empty header: no field 0
        "Vantrel\r\n",                      // one field: no field 1
        "Vantrel,A,B,C\r\n",                // version 1.40 selects the missing field 4
    };
    for (const char* list : lists) {
        Installer in;
        in.WriteList(list);
        in.os.SetIni("C:\\Vantrel\\Sys\\TOVASK.INI", "Tovask", "Ver", "1.40");
        EXPECT_TRUE(in.Load()) << list;
        EXPECT_TRUE(in.forms.messages.empty()) << list;
    }
    Installer missing;
    std::remove(missing.ListPath().c_str());
    EXPECT_TRUE(missing.Load());
    EXPECT_TRUE(missing.forms.messages.empty());
    EXPECT_TRUE(missing.forms.prompts.empty());
}

TEST(StartupTest, PalomireWithoutFieldFiveEndsSilently) {
    Installer in;
    in.WriteList("palomire,A,B,C,D\n");
    in.os.settings["palomire\\Setup\\CS_Path"] = "C:\\Vantrel";
    in.os.SetIni("C:\\Vantrel\\Sys\\TOVASK.INI", "Tovask", "Ver", "1.10");
    EXPECT_TRUE(in.Load());
    EXPECT_TRUE(in.forms.messages.empty());
}

TEST(StartupTest, SystemDirectoryKeepsExactLengthAndLongPaths) {
    Installer in;
    in.os.systemDirectory = std::string(200, 'D');  // longer than the first buffer
    ASSERT_FALSE(in.Load());
    EXPECT_EQ(in.state.SystemDirectory, std::string(200, 'D'));

    Installer exact;
    exact.os.systemDirectory = "C:\\windows\\system32";
    ASSERT_FALSE(exact.Load());
    EXPECT_EQ(exact.state.SystemDirectory.size(), 19u);
}

}  // namespace
