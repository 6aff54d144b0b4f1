// Host discovery: the stored folder, the prompt, "Path not valid", the
// version read from the settings file, errors inside discovery, and the
// settings of the machine's users in unattended runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/command_line.h"
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

// Unattended runs without the current user's setting take the folder that
// the machine's users have stored, when they agree on one holding the host.
struct HiveCase {
    const char* name;
    const char* arguments;
    const char* currentSetting;  // nullptr: none stored
    std::vector<platform::UserSetting> others;
    const char* folder;                 // nullptr: refused with 1605
    std::vector<std::string> logLines;  // among the log's lines
    bool othersRead;
    const char* userOwned = nullptr;    // a folder that an ordinary user owns
};

void PrintTo(const HiveCase& c, std::ostream* os) { *os << c.name; }

platform::UserSetting Hive(const std::string& sid, const char* value) {
    return {platform::UserSetting::Source::kLoadedHive, "HKEY_USERS\\" + sid, value, ""};
}

platform::UserSetting Profile(const char* folder, const char* value, const char* trouble = "") {
    return {platform::UserSetting::Source::kProfile, folder, value, trouble};
}

class HiveDiscoveryTest : public ::testing::TestWithParam<HiveCase> {};

TEST_P(HiveDiscoveryTest, TakesTheOneFolderTheUsersAgreeOn) {
    const auto& c = GetParam();
    Installer in;
    in.state.Options = app::ParseCommandLine(c.arguments);
    in.os.settings.clear();
    if (c.currentSetting) in.os.settings["Vantrel\\Setup\\CS_Path"] = c.currentSetting;
    in.os.otherUsersSettings = c.others;
    for (const std::string folder : {"D:\\Vantrel", "C:\\VANTREL"}) {
        in.os.AddFile(folder + "\\Sys\\TOVASK.INI");
        in.os.SetIni(folder + "\\Sys\\TOVASK.INI", "Tovask", "Ver", "1.30");
    }
    in.forms.promptAnswers.push_back("C:\\Vantrel");
    const platform::Sid user = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE9, 3, 0, 0};
    if (c.userOwned) in.os.guards[c.userOwned] = {user, {user}, false};

    EXPECT_EQ(in.Load(), c.folder == nullptr);
    if (c.folder) {
        EXPECT_EQ(in.state.ProductPath, c.folder);
        EXPECT_EQ(in.state.WebID, "WEB130");
    } else {
        EXPECT_EQ(setup::ExitCode(in.state.Summary), 1605);
    }
    if (in.state.Options.Unattended()) {
        EXPECT_TRUE(in.forms.prompts.empty());
        EXPECT_TRUE(in.forms.messages.empty());
    }
    setup::Context ctx{in.state, in.os, in.forms};
    in.state.Log.Open(ctx);
    const auto& log = in.os.LogLines();
    for (const auto& line : c.logLines) EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
    const bool othersRead = std::find(in.journal.begin(), in.journal.end(),
                                      "other users' setting Vantrel\\Setup\\CS_Path") != in.journal.end();
    EXPECT_EQ(othersRead, c.othersRead);
}

const char kBob[] = "C:\\Users\\bob";
const char kSid[] = "S-1-5-21-1-2-3-1001";

INSTANTIATE_TEST_SUITE_P(
    Hives, HiveDiscoveryTest,
    ::testing::Values(
        HiveCase{"OnlyAnotherUser", "/quiet", "0", {Hive(kSid, "C:\\Vantrel")}, "C:\\Vantrel",
                 {"Host folder: C:\\Vantrel, from the setting of HKEY_USERS\\S-1-5-21-1-2-3-1001"}, true},
        HiveCase{"AProfileLoadedForTheMoment", "/passive", nullptr,
                 {Profile("C:\\Users\\carol", "", "error 32"), Profile(kBob, "D:\\Vantrel")}, "D:\\Vantrel",
                 {"Skipped the profile C:\\Users\\carol: its hive cannot be loaded (error 32)",
                  "Host folder: D:\\Vantrel, from the profile C:\\Users\\bob (its hive loaded for the moment)"},
                 true},
        // Case and a trailing backslash aside, the same folder; the first spelling is kept.
        HiveCase{"TwoUsersAgree", "/quiet", nullptr,
                 {Hive(kSid, "C:\\VANTREL\\"), Hive("S-1-5-21-1-2-3-1002", "0"), Profile(kBob, "C:\\Vantrel")},
                 "C:\\VANTREL", {"Host folder: C:\\VANTREL, from the setting of HKEY_USERS\\S-1-5-21-1-2-3-1001"},
                 true},
        HiveCase{"TwoUsersDisagree", "/quiet", nullptr, {Hive(kSid, "C:\\Vantrel"), Profile(kBob, "D:\\Vantrel")},
                 nullptr,
                 {"Refused: Several Vantrel folders are stored: C:\\Vantrel, from the setting of "
                  "HKEY_USERS\\S-1-5-21-1-2-3-1001; D:\\Vantrel, from the profile C:\\Users\\bob (its hive "
                  "loaded for the moment); give the folder with /dir"},
                 true},
        HiveCase{"SettingNamingNoHost", "/quiet", nullptr, {Hive(kSid, "C:\\Old")}, nullptr,
                 {"Not a Vantrel folder: C:\\Old, from the setting of HKEY_USERS\\S-1-5-21-1-2-3-1001",
                  "Refused: No Vantrel folder: none of the stored folders holds Sys\\TOVASK.INI; give the folder "
                  "with /dir"},
                 true},
        HiveCase{"NoSettingAnywhere", "/quiet", nullptr, {Profile(kBob, "", "error 1314")}, nullptr,
                 {"Refused: No Vantrel folder: none is stored and none was given"}, true},
        HiveCase{"CurrentUsersSettingWins", "/quiet", "C:\\Vantrel", {Hive(kSid, "D:\\Vantrel")}, "C:\\Vantrel",
                 {"Host folder: C:\\Vantrel, from the current user's setting"}, false},
        HiveCase{"DirWins", "/quiet /dir D:\\Vantrel", "C:\\Vantrel", {Hive(kSid, "C:\\Vantrel")}, "D:\\Vantrel",
                 {"Host folder: D:\\Vantrel, from /dir"}, false},
        HiveCase{"AFolderAnyUserCouldHaveMade", "/quiet", nullptr,
                 {Hive(kSid, "C:\\Vantrel"), Profile(kBob, "D:\\Vantrel")}, "C:\\Vantrel",
                 {"Skipped D:\\Vantrel, from the profile C:\\Users\\bob (its hive loaded for the moment): it is not "
                  "owned by Administrators, the system account or TrustedInstaller, so any user could have made it; "
                  "give the folder with /dir"},
                 true, "D:\\Vantrel"},
        HiveCase{"AttendedAsksAsBefore", "", nullptr, {Hive(kSid, "D:\\Vantrel")}, "C:\\Vantrel",
                 {"Host folder: C:\\Vantrel, from the prompt"}, false}));

}  // namespace
