// Host discovery: the stored folder, the prompt, "Path not valid", the
// version read from the settings file, and errors inside discovery.
#include <gtest/gtest.h>

#include "test_support.h"

using fakes::Installer;

namespace {

const char kIni[] = "C:\\Vantrel\\Sys\\TOVASK.INI";

TEST(DiscoveryTest, StoredFolderIsUsedWithoutAnyTest) {
    Installer in;
    in.os.settings["Vantrel\\Setup\\CS_Path"] = " D:\\Elsewhere\\";
    in.os.SetIni(" D:\\Elsewhere\\\\Sys\\TOVASK.INI", "Tovask", "Ver", "1.31");
    ASSERT_FALSE(in.Load());
    EXPECT_EQ(in.state.ProductPath, " D:\\Elsewhere\\");
    EXPECT_EQ(in.state.SysPath, " D:\\Elsewhere\\\\Sys");
    EXPECT_EQ(in.state.WebID, "WEB131");
    EXPECT_TRUE(in.forms.prompts.empty());
    for (const auto& entry : in.journal) EXPECT_NE(entry.rfind("find ", 0), 0u) << entry;  // no lookup
}

TEST(DiscoveryTest, StoredFolderWithoutSettingsFileIsUnsupported) {
    Installer in;
    in.os.settings["Vantrel\\Setup\\CS_Path"] = "C:\\Nowhere";
    EXPECT_TRUE(in.Load());
    EXPECT_EQ(in.state.ProductVersion, "?");
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].text, "Live Update supported only in Vantrel 1.20 or higher versions");
}

TEST(DiscoveryTest, AbsentOrZeroSettingAsksTheUser) {
    for (bool stored : {false, true}) {
        Installer in;
        if (stored) in.os.settings["Vantrel\\Setup\\CS_Path"] = "0";
        else in.os.settings.clear();
        in.forms.promptAnswers.push_back("C:\\Vantrel");
        ASSERT_FALSE(in.Load());
        ASSERT_EQ(in.forms.prompts.size(), 1u);
        EXPECT_EQ(in.forms.prompts[0].text, "Enter path where Vantrel installed");
        EXPECT_EQ(in.forms.prompts[0].title, "Install Vantrel Live Update");
        EXPECT_EQ(in.state.ProductPath, "C:\\Vantrel");
        EXPECT_EQ(in.state.IniFilePath, kIni);
        EXPECT_EQ(in.state.WebID, "WEB130");
    }
}

TEST(DiscoveryTest, TypedAnswerKeepsItsSpaces) {
    Installer in;
    in.os.settings.clear();
    in.os.AddFile("  C:\\Vantrel \\Sys\\TOVASK.INI");
    in.os.SetIni("  C:\\Vantrel \\Sys\\TOVASK.INI", "Tovask", "Ver", "1.20");
    in.forms.promptAnswers.push_back("  C:\\Vantrel ");
    ASSERT_FALSE(in.Load());
    EXPECT_EQ(in.state.ProductPath, "  C:\\Vantrel ");
    EXPECT_EQ(in.state.IniFilePath, "  C:\\Vantrel \\Sys\\TOVASK.INI");
    EXPECT_EQ(in.state.WebID, "WEB120");
}

TEST(DiscoveryTest, CancelOrBlankAnswerEndsWithoutMessage) {
    for (const char* answer : {"", "    "}) {
        Installer in;
        in.os.settings.clear();
        in.forms.promptAnswers.push_back(answer);
        EXPECT_TRUE(in.Load());
        EXPECT_TRUE(in.forms.messages.empty());
    }
}

TEST(DiscoveryTest, TypedFolderWithoutSettingsFileIsNotValid) {
    Installer in;
    in.os.settings.clear();
    in.forms.promptAnswers.push_back("C:\\Empty");
    EXPECT_TRUE(in.Load());
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].text, "Path not valid");
    EXPECT_EQ(in.forms.messages[0].flags, 48);
    EXPECT_EQ(in.forms.messages[0].title, "Install Vantrel Live Update");
}

TEST(DiscoveryTest, HiddenSettingsFileIsNotFound) {
    Installer in;
    in.os.settings.clear();
    in.os.files[kIni].hidden = true;
    in.forms.promptAnswers.push_back("C:\\Vantrel");
    EXPECT_TRUE(in.Load());
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].text, "Path not valid");
}

TEST(DiscoveryTest, VersionValues) {
    Installer empty;
    empty.os.SetIni(kIni, "Tovask", "Ver", "");
    EXPECT_TRUE(empty.Load());
    EXPECT_EQ(empty.state.ProductVersion, "");  // present but empty: not "?"

    Installer missingKey;
    missingKey.os.ini[kIni]["Tovask"].erase("Ver");
    EXPECT_TRUE(missingKey.Load());
    EXPECT_EQ(missingKey.state.ProductVersion, "?");

    Installer longValue;
    longValue.os.SetIni(kIni, "Tovask", "Ver", std::string(2000, '9'));
    EXPECT_TRUE(longValue.Load());
    EXPECT_EQ(longValue.state.ProductVersion, std::string(1023, '9'));
}

TEST(DiscoveryTest, ErrorInsideDiscoveryEmptiesPathAndReportsUnsupported) {
    Installer in;
    in.os.throwOnSetting = true;
    EXPECT_TRUE(in.Load());
    EXPECT_EQ(in.state.ProductPath, "");
    EXPECT_EQ(in.state.ProductVersion, "");
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].text, "Live Update supported only in Vantrel 1.20 or higher versions");
}

TEST(DiscoveryTest, EachRunAsksAgain) {
    for (int run = 0; run < 2; ++run) {
        Installer in;
        in.os.settings.clear();
        in.forms.promptAnswers.push_back("C:\\Vantrel");
        ASSERT_FALSE(in.Load());
        EXPECT_EQ(in.forms.prompts.size(), 1u);
        EXPECT_TRUE(in.os.settings.empty());  // the answer is never stored
    }
}

}  // namespace
