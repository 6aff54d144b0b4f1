// Unattended runs: the command line, the refusals and their exit codes,
// quiet and passive installs, the sealed-package refusal and the log's
// safety in a folder that others can write.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/command_line.h"
#include "setup/package_seal.h"
#include "test_support.h"

using fakes::Installer;
using setup::RunMode;

namespace {

setup::Sha256Digest Digest(const std::string& text) {
    setup::Sha256 hash;
    hash.Update(text.data(), text.size());
    return hash.Final();
}

struct ParseCase {
    const char* arguments;
    RunMode mode;
    const char* hostFolder;
    const char* logPath;
    setup::RestartPolicy restart;
    bool help;
    const char* error;  // empty: none
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.arguments; }

class CommandLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineTest, Parses) {
    const auto& c = GetParam();
    const setup::RunOptions o = app::ParseCommandLine(c.arguments);
    EXPECT_EQ(o.mode, c.mode);
    EXPECT_EQ(o.hostFolder, c.hostFolder);
    EXPECT_EQ(o.logPath, c.logPath);
    EXPECT_EQ(o.restart, c.restart);
    EXPECT_EQ(o.help, c.help);
    EXPECT_EQ(o.error, c.error);
}

const auto kAsk = setup::RestartPolicy::kAsk;
INSTANTIATE_TEST_SUITE_P(
    Switches, CommandLineTest,
    ::testing::Values(
        ParseCase{"", RunMode::kAttended, "", "", kAsk, false, ""},
        ParseCase{"/quiet", RunMode::kQuiet, "", "", kAsk, false, ""},
        ParseCase{"-Q", RunMode::kQuiet, "", "", kAsk, false, ""},
        ParseCase{"/qn /norestart", RunMode::kQuiet, "", "", setup::RestartPolicy::kNever, false, ""},
        ParseCase{"/S", RunMode::kQuiet, "", "", kAsk, false, ""},
        ParseCase{"/VERYSILENT /ForceRestart", RunMode::kQuiet, "", "", setup::RestartPolicy::kForce, false, ""},
        ParseCase{"/passive", RunMode::kPassive, "", "", kAsk, false, ""},
        ParseCase{"/qb", RunMode::kPassive, "", "", kAsk, false, ""},
        ParseCase{"/SILENT", RunMode::kPassive, "", "", kAsk, false, ""},
        ParseCase{"/dir \"C:\\Program Files\\Vantrel\" /log C:\\l.txt", RunMode::kAttended,
                  "C:\\Program Files\\Vantrel", "C:\\l.txt", kAsk, false, ""},
        ParseCase{"/DIR=\"C:\\A B\" /LOG=\"C:\\x y.log\"", RunMode::kAttended, "C:\\A B", "C:\\x y.log", kAsk,
                  false, ""},
        ParseCase{"/S /D=C:\\Program Files\\Vantrel ", RunMode::kQuiet, "C:\\Program Files\\Vantrel", "", kAsk,
                  false, ""},
        ParseCase{"-d=C:\\A B\t", RunMode::kAttended, "C:\\A B", "", kAsk, false, ""},
        ParseCase{"/log \"C:\\a /d=x.log\" /D=C:\\A B", RunMode::kAttended, "C:\\A B", "C:\\a /d=x.log", kAsk,
                  false, ""},
        ParseCase{"/D=\"C:\\A B\" /q", RunMode::kQuiet, "C:\\A B", "", kAsk, false, ""},
        ParseCase{"\"/quiet\" /SP- /SuppressMsgBoxes", RunMode::kQuiet, "", "", kAsk, false, ""},
        ParseCase{"/qn REBOOT=ReallySuppress /l*v \"C:\\x y.log\"", RunMode::kQuiet, "", "C:\\x y.log",
                  setup::RestartPolicy::kNever, false, ""},
        ParseCase{"/norestart /promptrestart /L*=x", RunMode::kAttended, "", "x", kAsk, false, ""},
        ParseCase{"\"REBOOT=ReallySuppress\"", RunMode::kAttended, "", "", kAsk, false,
                  "Unexpected argument: REBOOT=ReallySuppress"},
        ParseCase{"/?", RunMode::kAttended, "", "", kAsk, true, ""},
        ParseCase{"-help", RunMode::kAttended, "", "", kAsk, true, ""},
        ParseCase{"/quiet /bogus", RunMode::kQuiet, "", "", kAsk, false, "Unknown switch: /bogus"},
        ParseCase{"/bogus /quiet /dir", RunMode::kQuiet, "", "", kAsk, false, "Unknown switch: /bogus"},
        ParseCase{"/quiet=1", RunMode::kAttended, "", "", kAsk, false, "Unknown switch: /quiet=1"},
        ParseCase{"/dir", RunMode::kAttended, "", "", kAsk, false, "The switch /dir needs a value"},
        ParseCase{"/log /quiet", RunMode::kQuiet, "", "", kAsk, false, "The switch /log needs a value"},
        ParseCase{"/log \"/quiet\" /dir \"-x\"", RunMode::kAttended, "-x", "/quiet", kAsk, false, ""},
        ParseCase{"/dir \"\" /log x", RunMode::kAttended, "", "x", kAsk, false, "The switch /dir needs a value"},
        ParseCase{"/LOG=", RunMode::kAttended, "", "", kAsk, false, "The switch /LOG= needs a value"},
        ParseCase{"/S /D=  ", RunMode::kQuiet, "", "", kAsk, false, "The switch /D= needs a value"},
        ParseCase{"/D=C:\\A B /passive", RunMode::kPassive, "C:\\A", "", kAsk, false, "Unexpected argument: B"},
        ParseCase{"stray", RunMode::kAttended, "", "", kAsk, false, "Unexpected argument: stray"},
        ParseCase{"/verify /uninstall /quiet", RunMode::kQuiet, "", "", kAsk, false,
                  "The switches /uninstall and /verify do not go together"}));

// The same arguments read alike in every order: whatever is wrong, the mode
// and every good value take effect, and the fault is kept.
struct OrderCase {
    std::vector<std::string> arguments;
    RunMode mode;
    const char* hostFolder;
    const char* logPath;
    setup::RestartPolicy restart;
    bool error;
};

void PrintTo(const OrderCase& c, std::ostream* os) {
    for (const auto& argument : c.arguments) *os << argument << ' ';
}

class CommandLineOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(CommandLineOrderTest, ReadsAlikeInEveryOrder) {
    const auto& c = GetParam();
    std::vector<std::string> arguments = c.arguments;
    std::sort(arguments.begin(), arguments.end());
    do {
        std::string line;
        for (const auto& argument : arguments) line += (line.empty() ? "" : " ") + argument;
        SCOPED_TRACE(line);
        const setup::RunOptions o = app::ParseCommandLine(line);
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(o.hostFolder, c.hostFolder);
        EXPECT_EQ(o.logPath, c.logPath);
        EXPECT_EQ(o.restart, c.restart);
        EXPECT_EQ(o.error.empty(), !c.error) << o.error;
    } while (std::next_permutation(arguments.begin(), arguments.end()));
}

const auto kNever = setup::RestartPolicy::kNever;
INSTANTIATE_TEST_SUITE_P(
    Orders, CommandLineOrderTest,
    ::testing::Values(OrderCase{{"/bogus", "/quiet", "/norestart"}, RunMode::kQuiet, "", "", kNever, true},
                      OrderCase{{"/log", "/quiet"}, RunMode::kQuiet, "", "", kAsk, true},
                      OrderCase{{"/SP-", "/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART"}, RunMode::kQuiet, "", "",
                                kNever, false},
                      OrderCase{{"/log \"C:\\a /d=x.log\"", "/q", "-D=C:\\Vantrel"}, RunMode::kQuiet,
                                "C:\\Vantrel", "C:\\a /d=x.log", kAsk, false},
                      OrderCase{{"/dir \"\"", "/S", "/LOG=l.txt"}, RunMode::kQuiet, "", "l.txt", kAsk, true},
                      OrderCase{{"/D=", "/passive", "-sp-"}, RunMode::kPassive, "", "", kAsk, true}));

TEST(ExitCodeTest, MapsTheOutcome) {
    setup::InstallSummary s;
    EXPECT_EQ(setup::ExitCode(s), 1602);  // closed before Install
    s.installStarted = true;
    EXPECT_EQ(setup::ExitCode(s), 1603);  // ended mid-install
    s.installCompleted = true;
    EXPECT_EQ(setup::ExitCode(s), 0);
    s.restartNeeded = true;
    EXPECT_EQ(setup::ExitCode(s), 3010);
    s.restartStarted = true;
    EXPECT_EQ(setup::ExitCode(s), 1641);
    for (int* failures : {&s.fileFailures, &s.registrationFailures}) {
        *failures = 1;
        EXPECT_EQ(setup::ExitCode(s), 1603);
        *failures = 0;
    }
    s.settingsFailed = true;
    EXPECT_EQ(setup::ExitCode(s), 1603);
    const std::pair<setup::Refusal, int> refusals[] = {
        {setup::Refusal::kBadCommandLine, 1639}, {setup::Refusal::kCancelled, 1602},
        {setup::Refusal::kNoHost, 1605},         {setup::Refusal::kAnotherInstall, 1618},
        {setup::Refusal::kPackageUnusable, 1620}, {setup::Refusal::kUnsupportedVersion, 1642}};
    for (const auto& [refusal, code] : refusals) {
        s.refusal = refusal;
        EXPECT_EQ(setup::ExitCode(s), code);
    }
}

// Start-up refusals: exit code, the box an attended run shows, and the
// reason every run logs (the log's last line ends with the code).
struct RefusalCase {
    const char* name;
    const char* arguments;
    std::function<void(Installer&)> arrange;
    int exitCode;
    const char* box;  // attended: the box's text starts so; nullptr: no box
    const char* reason = nullptr;  // when set, the log has "Refused: " and this
    const char* log = "C:\\TEMP\\LiveUpdateSetup.log";
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, EndsWithItsCode) {
    const auto& c = GetParam();
    Installer in;
    in.state.Options = app::ParseCommandLine(c.arguments);
    c.arrange(in);
    ASSERT_TRUE(in.Load());
    EXPECT_EQ(in.End(), c.exitCode);
    if (in.state.Options.Unattended()) {
        EXPECT_TRUE(in.forms.prompts.empty());  // nobody is asked
    }
    if (!c.box) {
        EXPECT_TRUE(in.forms.messages.empty());
    } else {
        ASSERT_EQ(in.forms.messages.size(), 1u);
        EXPECT_EQ(in.forms.messages[0].text.rfind(c.box, 0), 0u) << in.forms.messages[0].text;
    }
    ASSERT_TRUE(in.os.logs.count(c.log));
    const auto& log = in.os.logs.at(c.log);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), "Not installed; exit code " + std::to_string(c.exitCode));
    if (c.reason) {
        const std::string refused = std::string("Refused: ") + c.reason;
        EXPECT_TRUE(std::any_of(log.begin(), log.end(),
                                [&](const std::string& line) { return line.rfind(refused, 0) == 0; }));
    }
    EXPECT_TRUE(in.os.files.count("C:\\Vantrel\\Sys\\TOVASK.INI"));
    EXPECT_TRUE(in.os.ini["C:\\Vantrel\\Sys\\TOVASK.INI"]["WEB"].empty());
}

void Nothing(Installer&) {}
void NoStoredFolder(Installer& in) { in.os.settings.clear(); }
void LockHeld(Installer& in) { in.os.lockHeldElsewhere = true; }
void NoList(Installer& in) { std::remove(in.ListPath().c_str()); }
void OldHost(Installer& in) { in.os.SetIni("C:\\Vantrel\\Sys\\TOVASK.INI", "Tovask", "Ver", "1.00"); }
void PromptCancelled(Installer& in) { in.os.settings.clear(); }

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalTest,
    ::testing::Values(RefusalCase{"BadSwitch", "/frobnicate", Nothing, 1639, "Unknown switch: /frobnicate"},
                      RefusalCase{"BadSwitchQuiet", "/q /dir", Nothing, 1639, nullptr},
                      RefusalCase{"BadSwitchBeforeQuiet", "/bogus /quiet", Nothing, 1639, nullptr,
                                  "Unknown switch: /bogus"},
                      RefusalCase{"NoLogBeforeQuiet", "/log /quiet", Nothing, 1639, nullptr,
                                  "The switch /log needs a value"},
                      RefusalCase{"EmptyFolderPassive", "/dir \"\" /passive", Nothing, 1639, nullptr,
                                  "The switch /dir needs a value"},
                      RefusalCase{"BadSwitchWithHelp", "/bogus /?", Nothing, 1639, "Unknown switch: /bogus"},
                      RefusalCase{"NoHostQuiet", "/quiet", NoStoredFolder, 1605, nullptr},
                      RefusalCase{"NoHostPassive", "/passive", NoStoredFolder, 1605, nullptr},
                      RefusalCase{"FolderGivenWithoutHost", "/dir C:\\Elsewhere", Nothing, 1605, "Path not valid"},
                      RefusalCase{"AnotherInstall", "", LockHeld, 1618,
                                  "Another Live Update installation is in progress. Try again when it has finished.",
                                  nullptr, "C:\\TEMP\\LiveUpdateSetup-1234.log"},
                      RefusalCase{"AnotherInstallQuiet", "/quiet", LockHeld, 1618, nullptr, nullptr,
                                  "C:\\TEMP\\LiveUpdateSetup-1234.log"},
                      RefusalCase{"NoList", "/quiet", NoList, 1620, nullptr},
                      RefusalCase{"UnsupportedVersion", "", OldHost, 1642, "Live Update supported only in"},
                      RefusalCase{"PromptCancelled", "", PromptCancelled, 1602, nullptr}));

// /? shows the switches and ends with 0; unattended, no box shows and the
// log takes them.
TEST(RunModeTest, HelpShowsTheSwitchesWithoutABoxUnattended) {
    for (const char* arguments : {"/?", "/? /quiet", "-passive -H"}) {
        SCOPED_TRACE(arguments);
        Installer in;
        in.state.Options = app::ParseCommandLine(arguments);
        ASSERT_TRUE(in.Load());
        EXPECT_EQ(in.End(), 0);
        const auto& log = in.os.LogLines();
        if (in.state.Options.Unattended()) {
            EXPECT_TRUE(in.forms.messages.empty());
            ASSERT_EQ(log.size(), 4u);
            EXPECT_EQ(log[1], "Run: command line \"" + std::string(arguments) + "\"; account PC\\admin; Windows "
                              "5.1.2600 (NT family)");
            EXPECT_EQ(log[2], std::string("Message: ") + app::UsageText());
            EXPECT_EQ(log[3], "Not installed; exit code 0");
        } else {
            ASSERT_EQ(in.forms.messages.size(), 1u);
            EXPECT_EQ(in.forms.messages[0].text, app::UsageText());
            EXPECT_TRUE(log.empty());
        }
    }
}

// An installer whose list names one DLL for the host folder.
struct PackageInstaller : Installer {
    explicit PackageInstaller(const std::string& arguments) {
        state.Options = app::ParseCommandLine(arguments);
        WriteList(std::string(kHeader) + "\r\nSTART\r\nFOLDER,SERVER\r\nFILE,A.DLL\r\nEND\r\n");
        os.AddFile(ListPath(), std::string(kHeader) + "\r\nSTART\r\nFOLDER,SERVER\r\nFILE,A.DLL\r\nEND\r\n");
        os.AddFile(server.Path() + "\\A.DLL", "payload");
        os.folders = {"C:\\Vantrel", "C:\\ProgramData\\Start Menu\\Programs"};
    }
};

TEST(RunModeTest, QuietInstallShowsNothingAndWritesTheShortcut) {
    PackageInstaller in("/quiet /dir C:\\Vantrel");
    in.os.settings.clear();  // the folder comes from /dir
    ASSERT_FALSE(in.Load());
    ASSERT_EQ(in.forms.scheduled.size(), 1u);  // Install starts by itself
    // Whoever may write the package folder puts another program at the
    // installer's name meanwhile: the uninstaller is still the running one.
    in.os.files[in.os.GetInstallerFile()].content = "another program";
    in.forms.RunScheduled();
    const std::string recordFolder = "C:\\Program Files\\Vantrel Live Update";
    EXPECT_EQ(in.os.files.at(recordFolder + "\\LiveUpdateSetup.exe").content, "the installer");
    const std::string begun = in.os.records.at(recordFolder + "\\Install record.txt").lines.at(1);
    EXPECT_EQ(begun.substr(begun.rfind('\t') + 1), setup::ToHex(Digest("the installer"))) << begun;
    EXPECT_EQ(in.os.files.at("C:\\Vantrel\\A.DLL").content, "payload");
    EXPECT_EQ(in.os.ini["C:\\Vantrel\\Sys\\TOVASK.INI"]["WEB"]["UPDATEONLINE"], "WEB130");
    const auto& link = in.os.shortcuts.at(
        "C:\\ProgramData\\Start Menu\\Programs\\Vantrel - Ver 1.30\\Vantrel - Live Update.lnk");
    EXPECT_EQ(link.target, "C:\\Vantrel\\TvkUpdt.exe");
    EXPECT_EQ(link.workingFolder, "C:\\Vantrel");
    EXPECT_TRUE(in.forms.dde.executed.empty());  // no conversation with a shell
    EXPECT_TRUE(in.forms.messages.empty());
    EXPECT_EQ(in.forms.unloads, 1);
    EXPECT_EQ(in.End(), 0);
    EXPECT_EQ(in.os.LogLines().back(), "Completed; exit code 0");
}

// Passive: a message box's text goes to the status line and the log, and
// the completed window closes by itself after a moment.
TEST(RunModeTest, PassiveInstallRoutesMessagesAndClosesItself) {
    PackageInstaller in("/passive");
    in.os.unwritableIni.insert("C:\\Vantrel\\Sys\\TOVASK.INI");
    ASSERT_FALSE(in.Load());
    in.forms.RunScheduled();  // Install, then the close a second later
    in.End();
    EXPECT_TRUE(in.forms.messages.empty());
    EXPECT_EQ(in.forms.unloads, 1);
    const auto& log = in.os.LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Message: Can't create/write to file: C:\\Vantrel\\Sys\\TOVASK.INI"),
              log.end());
    EXPECT_EQ(log.back(), "Completed with failures; exit code 1603");
    EXPECT_FALSE(in.window->prgInstall.Visible());
    EXPECT_EQ(in.window->prgInstall.Value(), in.window->prgInstall.Max());
}

// A list that ends after its header (a download cut off there) changes
// nothing unattended and ends with 1620; attended, the install goes on as
// it always has.
TEST(RunModeTest, ListWithoutBodyIsRefusedUnattended) {
    for (const char* arguments : {"/quiet", "/passive", ""}) {
        SCOPED_TRACE(arguments);
        PackageInstaller in(arguments);
        in.WriteList(std::string(Installer::kHeader) + "\r\n");
        ASSERT_FALSE(in.Load());
        in.journal.clear();
        if (in.state.Options.Unattended()) {
            EXPECT_THROW(in.forms.RunScheduled(), fakes::ProgramEnded);
            EXPECT_EQ(in.End(), 1620);
            for (const char* effect : {"copy ", "ini write ", "dde ", "run ", "shortcut "})
                for (const auto& entry : in.journal) EXPECT_NE(entry.rfind(effect, 0), 0u) << entry;
        } else {
            in.window->cmdInstall_Click();
            EXPECT_EQ(in.os.ini["C:\\Vantrel\\Sys\\TOVASK.INI"]["WEB"]["UPDATEONLINE"], "WEB130");
            EXPECT_EQ(in.End(), 0);
        }
    }
}

// A damaged sealed package, and a list naming a file that the installer
// keeps for itself, are refused before anything is copied, written or sent
// to the shell.
struct UnusablePackageCase {
    const char* name;
    const char* body;  // the list after its header; empty: A.DLL's, sealed with other content
    const char* message;
};

void PrintTo(const UnusablePackageCase& c, std::ostream* os) { *os << c.name; }

class UnusablePackageTest : public ::testing::TestWithParam<UnusablePackageCase> {};

TEST_P(UnusablePackageTest, IsRefusedBeforeAnyEffect) {
    PackageInstaller in("");
    if (*GetParam().body) {
        in.WriteList(std::string(Installer::kHeader) + "\r\n" + GetParam().body);
    } else {
        const std::string list = in.os.files.at(in.ListPath()).content;
        in.os.AddFile(in.server.Path() + "\\SHA256SUMS",
                      setup::SealLine("UPDATE.LST", Digest(list)) +
                          setup::SealLine("A.DLL", Digest("the payload as sealed")));
    }
    ASSERT_FALSE(in.Load());
    in.journal.clear();
    EXPECT_THROW(in.window->cmdInstall_Click(), fakes::ProgramEnded);
    for (const char* effect : {"copy ", "ini write ", "dde ", "run ", "shortcut ", "create folder ", "machine "})
        for (const auto& entry : in.journal) EXPECT_NE(entry.rfind(effect, 0), 0u) << entry;
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].text, GetParam().message);
    EXPECT_EQ(in.forms.messages[0].flags, 16);
    EXPECT_EQ(in.forms.messages[0].title, "Install Vantrel Live Update");
    EXPECT_EQ(setup::ExitCode(in.state.Summary), 1620);
}

INSTANTIATE_TEST_SUITE_P(
    Packages, UnusablePackageTest,
    ::testing::Values(
        UnusablePackageCase{"DamagedSeal", "",
                            "The update package is damaged: A.DLL does not match its checksum. Nothing was "
                            "installed; obtain the package again."},
        UnusablePackageCase{"InstallersOwnName", "START\r\nFOLDER,SERVER\r\nFILE,A.DLL,LiveUpdateSetup.exe\r\nEND\r\n",
                            "UPDATE.LST line 4: LIVEUPDATESETUP.EXE is the installer's own name. Nothing was "
                            "installed; a package must not list it."},
        UnusablePackageCase{"EventMessageFile", "START\r\nFOLDER,SYSTEM\r\nFILE,liveupdateevents.DLL\r\n",
                            "UPDATE.LST line 4: LIVEUPDATEEVENTS.DLL is the name of the installer's event message "
                            "file. Nothing was installed; a package must not list it."},
        UnusablePackageCase{"TemporaryName", "START\r\nFILE,A.DLL\r\n\r\nFILE,B.TXT,A.DLL.Del~,C.NEW~\r\n",
                            "UPDATE.LST line 5: A.DLL.DEL~ ends in .del~, as the installer's temporary files do. "
                            "Nothing was installed; a package must not list it."},
        UnusablePackageCase{"AsideAtRestart", "START\r\nFILE,~lu00001.old\r\n",
                            "UPDATE.LST line 3: ~LU00001.OLD is named as the installer names a file it moves aside "
                            "at a restart (~LU*.OLD). Nothing was installed; a package must not list it."}));

// Something at the log's name that cannot be removed is never written
// through: the log goes under another name.
TEST(RunModeTest, LogAvoidsWhatStandsAtItsName) {
    PackageInstaller in("/quiet");
    in.os.blockedLogs.insert("C:\\TEMP\\LiveUpdateSetup.log");
    ASSERT_FALSE(in.Load());
    in.forms.RunScheduled();
    in.End();
    EXPECT_FALSE(in.os.logs.count("C:\\TEMP\\LiveUpdateSetup.log"));
    EXPECT_EQ(in.os.logs.at("C:\\TEMP\\LiveUpdateSetup-1234.log").back(), "Completed; exit code 0");
}

// What may stand at the log's name, in the temporary folder or at the path
// given with /log: a file or a link is replaced by a rename (a link's target
// never written), anything else stays and the log gets a name of its own
// beside it. Files left by earlier runs never change where the log goes.
struct LogPlacementCase {
    const char* name;
    const char* arguments;
    std::function<void(fakes::FakeOs&)> arrange;
    const char* landsAt;
};

void PrintTo(const LogPlacementCase& c, std::ostream* os) { *os << c.name; }

class LogPlacementTest : public ::testing::TestWithParam<LogPlacementCase> {};

TEST_P(LogPlacementTest, LandsWithoutWritingThroughAnything) {
    const auto& c = GetParam();
    PackageInstaller in(c.arguments);
    c.arrange(in.os);
    const auto before = in.os.files;
    ASSERT_FALSE(in.Load());
    in.forms.RunScheduled();
    in.End();
    ASSERT_EQ(in.os.logs.size(), 1u) << "a temporary or a second log is left";
    EXPECT_EQ(in.os.logs.begin()->first, c.landsAt);
    EXPECT_EQ(in.os.logs.begin()->second.back().rfind("Completed; ", 0), 0u);  // the 95 family: restart needed
    EXPECT_FALSE(in.os.links.count(c.landsAt));
    for (const auto& [path, file] : before) {
        if (path != c.landsAt) {
            EXPECT_EQ(in.os.files.at(path).content, file.content) << path;
        }
    }
}

const char kTempLog[] = "C:\\TEMP\\LiveUpdateSetup.log";
const char kOwnName[] = "C:\\TEMP\\LiveUpdateSetup-1234.log";

void StaleTemporaries(fakes::FakeOs& os) {
    os.AddFile("C:\\TEMP\\LiveUpdateSetup.log.new~", "killed before its rename");
    os.AddFile("C:\\TEMP\\LiveUpdateSetup-1234.log.new~", "killed, and its process id used again");
}
void EarlierLog(fakes::FakeOs& os) { os.AddFile(kTempLog, "an earlier run"); }
void HeldOpen(fakes::FakeOs& os) {
    os.AddFile(kTempLog, "a run still writing");
    os.files[kTempLog].inUse = true;
}
void FolderAndOwnNameTaken(fakes::FakeOs& os) {
    os.folders.insert(kTempLog);
    os.AddFile(kOwnName, "an earlier run with the same process id");
}
void LinkToSystemFile(fakes::FakeOs& os) {
    os.AddFile("C:\\WINDOWS\\WIN.INI", "precious");
    os.links[kTempLog] = "C:\\WINDOWS\\WIN.INI";
}
void LinkAtGivenPath(fakes::FakeOs& os) {
    os.AddFile("C:\\WINDOWS\\WIN.INI", "precious");
    os.links["C:\\WINDOWS\\Temp\\setup.txt"] = "C:\\WINDOWS\\WIN.INI";
}
void FolderAtGivenPath(fakes::FakeOs& os) { os.folders.insert("C:\\WINDOWS\\Temp\\setup.txt"); }
void HeldAtGivenPath(fakes::FakeOs& os) {
    os.AddFile("C:\\WINDOWS\\Temp\\setup", "a run still writing");
    os.files["C:\\WINDOWS\\Temp\\setup"].inUse = true;
}
void Windows9xEarlierLog(fakes::FakeOs& os) {
    os.platformId = 1;
    os.moveFileExStub = true;
    EarlierLog(os);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LogPlacementTest,
    ::testing::Values(
        LogPlacementCase{"StaleTemporaries", "/quiet", StaleTemporaries, kTempLog},
        LogPlacementCase{"EarlierLog", "/quiet", EarlierLog, kTempLog},
        LogPlacementCase{"HeldByAnotherRun", "/quiet", HeldOpen, kOwnName},
        LogPlacementCase{"FolderAndOwnNameTaken", "/quiet", FolderAndOwnNameTaken,
                         "C:\\TEMP\\LiveUpdateSetup-1234-2.log"},
        LogPlacementCase{"Link", "/quiet", LinkToSystemFile, kTempLog},
        LogPlacementCase{"GivenPathLink", "/quiet /log C:\\WINDOWS\\Temp\\setup.txt", LinkAtGivenPath,
                         "C:\\WINDOWS\\Temp\\setup.txt"},
        LogPlacementCase{"GivenPathFolder", "/quiet /log C:\\WINDOWS\\Temp\\setup.txt", FolderAtGivenPath,
                         "C:\\WINDOWS\\Temp\\setup-1234.txt"},
        LogPlacementCase{"GivenPathWithoutExtensionHeld", "/quiet /log C:\\WINDOWS\\Temp\\setup", HeldAtGivenPath,
                         "C:\\WINDOWS\\Temp\\setup-1234"},
        LogPlacementCase{"Windows9x", "/quiet", Windows9xEarlierLog, kTempLog}));

// A run refused because another one is running writes beside that one's
// log, which stays as it is even where it could be replaced.
TEST(RunModeTest, RefusalForAnotherInstallLeavesTheRunningLogAlone) {
    PackageInstaller in("/quiet");
    in.os.lockHeldElsewhere = true;
    EarlierLog(in.os);
    ASSERT_TRUE(in.Load());
    EXPECT_EQ(in.End(), 1618);
    EXPECT_EQ(in.os.files.at(kTempLog).content, "an earlier run");
    EXPECT_EQ(in.os.logs.at(kOwnName).back(), "Not installed; exit code 1618");
}

// A lock of the installer's name refuses the install only when an installer
// made it (owned by Administrators or the system account). Any other
// program's is logged, and the lock is then a file in the record folder,
// which refuses the install when another run holds it.
struct LockOwnerCase {
    const char* name;
    platform::Sid owner;
    int exitCode;
    bool fileHeld = false;
};

void PrintTo(const LockOwnerCase& c, std::ostream* os) { *os << c.name; }

class InstallLockTest : public ::testing::TestWithParam<LockOwnerCase> {};

TEST_P(InstallLockTest, OnlyAnInstallersLockRefuses) {
    const auto& c = GetParam();
    PackageInstaller in("/quiet");
    in.os.lockHeldElsewhere = true;
    in.os.lockOwner = c.owner;
    in.os.lockFileHeldElsewhere = c.fileHeld;
    if (!in.Load()) in.forms.RunScheduled();
    EXPECT_EQ(in.End(), c.exitCode);
    const bool squatted = c.exitCode != 1618 || c.fileHeld;
    EXPECT_EQ(in.os.lockFolder, squatted ? "C:\\Program Files\\Vantrel Live Update" : "");
    const auto& log = in.os.logs.at(c.exitCode == 1618 ? kOwnName : kTempLog);
    const bool stoodIn = std::count(log.begin(), log.end(),
        "Install lock: its name is taken by a program that is not an installation; the lock is "
        "C:\\Program Files\\Vantrel Live Update\\Install lock instead");
    EXPECT_EQ(stoodIn, c.exitCode != 1618);
}

INSTANTIATE_TEST_SUITE_P(
    Owners, InstallLockTest,
    ::testing::Values(LockOwnerCase{"Administrators", platform::AdministratorsSid(), 1618},
                      LockOwnerCase{"System", platform::SystemSid(), 1618},
                      // S-1-5-32-545, the Users group
                      LockOwnerCase{"Users", {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0}, 0},
                      LockOwnerCase{"NotOpenable", {}, 0},
                      LockOwnerCase{"UsersWhileAnotherRunHoldsTheFile",
                                    {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0}, 1618, true},
                      LockOwnerCase{"NotOpenableWhileAnotherRunHoldsTheFile", {}, 1618, true}));

}  // namespace
