// The install command end to end on the fakes: order of effects, the
// Completed state, the settings write, closing and the reboot offer.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <set>

#include "app/command_line.h"
#include "platform/install_lock.h"
#include "platform/runtime_error.h"
#include "setup/deploy.h"
#include "setup/ini_file.h"
#include "setup/install_record.h"
#include "setup/system_platform.h"
#include "test_support.h"

using fakes::Installer;

namespace {

const char kIni[] = "C:\\Vantrel\\Sys\\TOVASK.INI";
const char kRebootText[] =
    "Live Update may not run properly until you have rebooted your system.\r\n Do you wish to reboot now ? ";

// An installer in the Ready state whose list names one DLL for the SYS folder.
struct ReadyInstaller : Installer {
    ReadyInstaller() {
        WriteList(std::string(kHeader) + "\r\nSTART\r\nFOLDER,Sys\r\nFILE,A.DLL\r\nEND\r\n");
        os.AddFile(ListPath());
        os.AddFile(server.Path() + "\\A.DLL");
        os.folders = {"C:\\Vantrel", "C:\\Vantrel\\SYS"};
        EXPECT_FALSE(Load());
        journal.clear();
    }

    // Position of the first journal entry that starts with the prefix; -1 when none.
    long First(const std::string& prefix) const {
        for (std::size_t i = 0; i < journal.size(); ++i)
            if (journal[i].rfind(prefix, 0) == 0) return static_cast<long>(i);
        return -1;
    }
    long Last(const std::string& prefix) const {
        for (std::size_t i = journal.size(); i-- > 0;)
            if (journal[i].rfind(prefix, 0) == 0) return static_cast<long>(i);
        return -1;
    }
};

// Keeps every caption a control is given.
struct CaptionRecorder : platform::ControlPeer {
    void Changed(const platform::Control& control, platform::Property property) override {
        if (property == platform::Property::Caption) captions.push_back(control.Caption());
    }
    void Refresh() override {}
    std::vector<std::string> captions;
};

TEST(InstallTest, EffectsHappenInOrder) {
    ReadyInstaller in;
    in.window->cmdInstall_Click();
    const long hourglass = in.First("pointer 11");
    const long yield = in.First("yield");
    const long listLookup = in.First("find " + in.ListPath());
    const long copy = in.First("copy ");
    const long registration = in.First("run ");
    const long iniWrite = in.First("ini write ");
    const long arrow = in.Last("pointer 0");
    EXPECT_EQ(hourglass, 0);
    EXPECT_LT(hourglass, yield);
    EXPECT_LT(yield, listLookup);
    EXPECT_LT(listLookup, copy);
    EXPECT_LT(copy, registration);
    EXPECT_LT(registration, iniWrite);
    EXPECT_LT(iniWrite, arrow);
    // The Program Manager conversation comes after the settings write.
    const long dde = in.First("dde ");
    if (dde >= 0) {
        EXPECT_LT(iniWrite, dde);
    }
    EXPECT_EQ(in.forms.pointers.back(), 0);
    EXPECT_EQ(in.journal[in.First("ini write ")], std::string("ini write ") + kIni + " [WEB] UPDATEONLINE=WEB130");
    EXPECT_EQ(in.os.ini[kIni]["WEB"]["UPDATEONLINE"], "WEB130");
    EXPECT_EQ(in.os.files.at("C:\\Vantrel\\SYS\\A.DLL").content, "x");
}

// The completed state. A file that failed leaves its text on the status
// line; when every file arrived, the line is cleared.
TEST(InstallTest, ReachesTheCompletedState) {
    for (bool payloadMissing : {true, false}) {
        ReadyInstaller in;
        if (payloadMissing) in.os.files.erase(in.server.Path() + "\\A.DLL");
        CaptionRecorder status;
        in.window->lblMsgline.AttachPeer(&status);
        in.window->lblUpdate(0).SetVisible(false);
        in.window->lblUpdate(1).SetVisible(false);
        in.window->cmdInstall_Click();
        auto& w = *in.window;
        EXPECT_TRUE(w.lblUpdate(0).Visible());
        EXPECT_EQ(w.lblUpdate(0).Caption(), "Live Update installation is complete, click");
        EXPECT_TRUE(w.lblUpdate(1).Visible());
        EXPECT_EQ(w.lblUpdate(1).Caption(), "Start menu ->programs -> Vantrel 1.30 ->Vantrel -  Live Update");
        EXPECT_EQ(w.InstallCompleted, 1);
        const std::string failure = payloadMissing ? "Source file " + in.server.Path() + "\\A.DLL not found" : "";
        ASSERT_FALSE(status.captions.empty());
        EXPECT_EQ(status.captions.front(), failure);
        EXPECT_EQ(w.lblMsgline.Caption(), failure);
        EXPECT_FALSE(w.cmdInstall.Visible());
        EXPECT_EQ(w.cmdCancel.Caption(), "Finish");
        EXPECT_EQ(in.state.UpdateFiles.size(), 2u);
        EXPECT_TRUE(in.forms.messages.empty());
    }
}

// The install log: a header, a line for each entry with its outcome, the
// settings write, the Program Manager conversation and the end.
TEST(InstallTest, LogNamesEveryEntryWithItsOutcome) {
    ReadyInstaller in;
    in.WriteList(std::string(Installer::kHeader) +
                 "\r\nSTART\r\nFOLDER,SYSTEM\r\nFILE,K.DLL\r\nFOLDER,SERVER\r\n"
                 "FILE,C.EXE,R.TXT,U.EXE,N.DLL,T.TLB\r\nEND\r\n");
    const std::string pkg = in.server.Path() + "\\";
    for (const char* name : {"K.DLL", "C.EXE", "R.TXT", "U.EXE", "T.TLB"}) in.os.AddFile(pkg + name);
    in.os.AddFile("C:\\WINDOWS\\SYSTEM32\\K.DLL");
    in.os.AddFile("C:\\Vantrel\\R.TXT");
    in.os.AddFile("C:\\Vantrel\\U.EXE");
    in.os.files["C:\\Vantrel\\U.EXE"].inUse = true;
    in.os.holders["C:\\Vantrel\\U.EXE"] = "Vantrel";
    in.forms.messageAnswers = {platform::kAnswerIgnore};
    in.os.unstartable.insert("\"C:\\Vantrel\\C.EXE\" /RegServer");
    in.forms.dde.refusedPrefixes = {"[ReplaceItem("};
    in.window->cmdInstall_Click();
    in.window->cmdCancel_Click();
    in.End();

    const std::string sys = "C:\\WINDOWS\\SYSTEM32\\";
    const std::vector<std::string> expected = {
        "2026-12-07 10:30:00 LiveUpdateSetup 1.0.0.0; system Vantrel; host folder C:\\Vantrel; host version 1.30; "
        "web ID WEB130",
        "Run: command line \"\"; account PC\\admin; Windows 5.1.2600 (NT family)",
        "Host folder: C:\\Vantrel, from the current user's setting",
        "Package check: package not sealed (no SHA256SUMS)",
        "Files in use: C:\\Vantrel\\U.EXE; held by Vantrel",
        pkg + "K.DLL -> " + sys + "K.DLL: kept (already there); to register: " + sys + "regsvr32.exe /s \"" + sys +
            "K.DLL\"",
        pkg + "C.EXE -> C:\\Vantrel\\C.EXE: copied; to register: \"C:\\Vantrel\\C.EXE\" /RegServer",
        pkg + "R.TXT -> C:\\Vantrel\\R.TXT: replaced; nothing to register",
        pkg + "U.EXE -> C:\\Vantrel\\U.EXE: in use; replaced at the next restart; waiting as "
              "C:\\Vantrel\\U.EXE.1.new~; to register after the restart: \"C:\\Vantrel\\U.EXE\" /RegServer",
        pkg + "N.DLL -> C:\\Vantrel\\N.DLL: source not found",
        pkg + "T.TLB -> C:\\Vantrel\\T.TLB: copied; to register with the type-library calls",
        "C:\\Vantrel\\C.EXE: could not register: \"C:\\Vantrel\\C.EXE\" /RegServer did not start (error 53, File "
        "not found)",
        "C:\\Vantrel\\T.TLB: not loaded as a type library; trying again after the others",
        "C:\\Vantrel\\T.TLB: could not register: not a type library that loads",
        std::string("Settings: [WEB] UPDATEONLINE=WEB130 in ") + kIni + ": written",
        "Program Manager: conversation: done",
        "Program Manager: [CreateGroup(Vantrel - Ver 1.30)]: done",
        "Program Manager: [ReplaceItem(Vantrel - Live Update)]: failed, error 285, Foreign application won't "
        "perform DDE method or operation",
        "Program Manager: [AddItem(C:\\Vantrel\\TvkUpdt.exe ,Vantrel - Live Update,,,)]: done",
        sys + "K.DLL: registered (" + sys + "regsvr32.exe /s \"" + sys + "K.DLL\" ended with 0)",
        "Completed with failures; last trouble: Could not register file C:\\Vantrel\\T.TLB; files replaced at the "
        "next restart: 1; restart needed; exit code 1603",
    };
    EXPECT_EQ(in.os.LogLines(), expected);
}

// A log that cannot be created changes nothing about the install.
TEST(InstallTest, UnwritableLogChangesNothing) {
    ReadyInstaller written, unwritable;
    unwritable.os.logsUnwritable = true;
    written.window->cmdInstall_Click();
    unwritable.window->cmdInstall_Click();
    auto withoutFolder = [](const ReadyInstaller& in) {  // each has a package folder of its own
        std::vector<std::string> entries;
        for (std::string entry : in.journal) {
            const auto at = entry.find(in.server.Path());
            if (at != std::string::npos) entry.replace(at, in.server.Path().size(), "PKG");
            entries.push_back(entry);
        }
        return entries;
    };
    EXPECT_EQ(withoutFolder(unwritable), withoutFolder(written));
    EXPECT_EQ(unwritable.window->InstallCompleted, 1);
}

TEST(InstallTest, EmptyProductPathSkipsTheFilesOnly) {
    ReadyInstaller in;
    in.state.ProductPath.clear();
    in.window->cmdInstall_Click();
    const long yield = in.First("yield");  // the Program Manager conversation may yield later
    EXPECT_TRUE(yield < 0 || yield > in.First("ini write ")) << yield;
    EXPECT_LT(in.First("find " + in.ListPath()), 0);
    EXPECT_LT(in.First("copy " + in.server.Path() + "\\A.DLL"), 0);
    EXPECT_EQ(in.state.UpdateFiles.size(), 1u);
    EXPECT_EQ(in.os.ini[kIni]["WEB"]["UPDATEONLINE"], "WEB130");
    EXPECT_EQ(in.window->InstallCompleted, 1);
    EXPECT_EQ(in.window->cmdCancel.Caption(), "Finish");
}

// Install, Cancel and the close box, pressed while the install processes
// messages, are ignored: the install runs once and the window stays.
TEST(InstallTest, ClicksDuringTheInstallAreIgnored) {
    ReadyInstaller in;
    int clicks = 0;
    in.forms.onYield = [&] {
        if (clicks++ > 3) return;
        in.window->cmdInstall_Click();
        in.window->cmdCancel_Click();
        in.forms.UnloadWindow(*in.window);
    };
    in.window->cmdInstall_Click();
    EXPECT_GT(clicks, 1);
    EXPECT_EQ(std::count(in.journal.begin(), in.journal.end(),
                         "copy " + in.server.Path() + "\\A.DLL -> C:\\Vantrel\\SYS\\A.DLL"),
              1);
    EXPECT_EQ(in.forms.unloads, 0);
    EXPECT_EQ(in.state.UpdateFiles.size(), 2u);
    EXPECT_EQ(in.window->InstallCompleted, 1);
    in.forms.onYield = nullptr;
    in.window->cmdCancel_Click();  // Finish
    EXPECT_EQ(in.forms.unloads, 1);
}

TEST(InstallTest, FailedSettingsWriteIsShownAndTheInstallCompletes) {
    ReadyInstaller in;
    in.os.unwritableIni.insert(kIni);
    in.window->cmdInstall_Click();
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].text, std::string("Can't create/write to file: ") + kIni);
    EXPECT_EQ(in.forms.messages[0].flags, 48);
    EXPECT_EQ(in.forms.messages[0].title, "");
    EXPECT_EQ(in.window->InstallCompleted, 1);
    EXPECT_EQ(in.window->cmdCancel.Caption(), "Finish");
}

TEST(InstallTest, WriteErrorTitleIsTheCurrentRuntimeError) {
    Installer in;
    setup::Context ctx{in.state, in.os, in.forms};
    in.forms.Err().Set(platform::RuntimeError(53));
    setup::ShowIniWriteError(ctx, "D:\\X.INI");
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].text, "Can't create/write to file: D:\\X.INI");
    EXPECT_EQ(in.forms.messages[0].title, "File not found");
}

// The list vanished between start-up and Install: it cannot be opened.
TEST(InstallTest, ErrorDuringInstallLeavesItIncompleteAndOffersNoReboot) {
    ReadyInstaller in;
    in.os.platformId = 1;
    std::remove(in.ListPath().c_str());
    EXPECT_THROW(in.window->cmdInstall_Click(), platform::RuntimeError);
    EXPECT_LT(in.First("ini write "), 0);
    EXPECT_EQ(in.window->InstallCompleted, 0);
    EXPECT_TRUE(in.window->cmdInstall.Visible());
    in.window->cmdCancel_Click();
    EXPECT_TRUE(in.forms.messages.empty());
}

struct RebootCase {
    const char* name;
    uint32_t platformId;
    bool versionQueryFails;
    int answer;
    bool prompted;
    bool rebooted;
    int exitCode;
    setup::RunMode mode = setup::RunMode::kAttended;
    setup::RestartPolicy restart = setup::RestartPolicy::kAsk;
};

void PrintTo(const RebootCase& c, std::ostream* os) { *os << c.name; }

class RebootTest : public ::testing::TestWithParam<RebootCase> {};

TEST_P(RebootTest, FinishAfterInstall) {
    const auto& c = GetParam();
    ReadyInstaller in;
    in.os.platformId = c.platformId;
    in.os.versionQueryFails = c.versionQueryFails;
    in.forms.messageAnswers.push_back(c.answer);
    in.state.Options.mode = c.mode;
    in.state.Options.restart = c.restart;
    in.window->cmdInstall_Click();
    if (c.mode == setup::RunMode::kAttended) in.window->cmdCancel_Click();
    in.forms.RunScheduled();  // a passive run closes by itself
    EXPECT_EQ(in.forms.unloads, 1);
    EXPECT_EQ(setup::ExitCode(in.state.Summary), c.exitCode);
    EXPECT_TRUE(in.state.UpdateFiles.empty());
    if (c.prompted) {
        ASSERT_EQ(in.forms.messages.size(), 1u);
        EXPECT_EQ(in.forms.messages[0].text, kRebootText);
        EXPECT_EQ(in.forms.messages[0].flags, 68);
        EXPECT_EQ(in.forms.messages[0].title, "Install");
    } else {
        EXPECT_TRUE(in.forms.messages.empty());
    }
    EXPECT_EQ(in.os.exitRequests, c.rebooted ? std::vector<uint32_t>{2} : std::vector<uint32_t>{});
    if (c.rebooted) {
        EXPECT_GE(in.First("exit windows 2 0"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, RebootTest,
                         ::testing::Values(RebootCase{"NtFamily", 2, false, 6, false, false, 0},
                                           RebootCase{"Win95Yes", 1, false, 6, true, true, 1641},
                                           RebootCase{"Win95No", 1, false, 7, true, false, 3010},
                                           RebootCase{"Win32s", 0, false, 6, false, false, 0},
                                           RebootCase{"FailedVersionQuery", 1, true, 6, false, false, 0},
                                           RebootCase{"Win95NoRestart", 1, false, 6, false, false, 3010,
                                                      setup::RunMode::kAttended, setup::RestartPolicy::kNever},
                                           RebootCase{"Win95ForceRestart", 1, false, 7, false, true, 1641,
                                                      setup::RunMode::kAttended, setup::RestartPolicy::kForce},
                                           RebootCase{"Win95Quiet", 1, false, 6, false, false, 3010,
                                                      setup::RunMode::kQuiet},
                                           RebootCase{"Win95PassiveForced", 1, false, 7, false, true, 1641,
                                                      setup::RunMode::kPassive, setup::RestartPolicy::kForce}));

TEST(RebootTest, CloseCommandAfterInstallPromptsLikeFinish) {
    ReadyInstaller in;
    in.os.platformId = 1;
    in.forms.messageAnswers.push_back(6);
    in.window->cmdInstall_Click();
    in.forms.UnloadWindow(*in.window);
    ASSERT_EQ(in.forms.messages.size(), 1u);
    EXPECT_EQ(in.forms.messages[0].text, kRebootText);
    EXPECT_EQ(in.os.exitRequests, std::vector<uint32_t>{2});
}

TEST(RebootTest, CancelBeforeInstallNeverPrompts) {
    for (uint32_t platformId : {1u, 2u}) {
        ReadyInstaller in;
        in.os.platformId = platformId;
        in.window->cmdCancel_Click();
        EXPECT_EQ(in.forms.unloads, 1);
        EXPECT_TRUE(in.forms.messages.empty());
        EXPECT_TRUE(in.state.UpdateFiles.empty());
        EXPECT_TRUE(in.os.exitRequests.empty());
    }
}

// A file in use before the install: attended, the question's answer
// decides (Abort changes nothing, Retry looks again, Ignore replaces it at
// the restart and Finish asks for the restart on every system); unattended,
// nobody is asked and it is replaced at the restart. A second library, not
// in use, is registered while the install finishes: the install waits for
// it after the Program Manager conversation.
struct InUseCase {
    const char* name;
    std::deque<int> answers;  // to the files-in-use question, then to the reboot question
    int questions;            // files-in-use questions asked
    bool releasedOnRetry;     // the program lets go while the question shows
    int exitCode;
    setup::RunMode mode = setup::RunMode::kAttended;
    setup::RestartPolicy restart = setup::RestartPolicy::kAsk;
};

void PrintTo(const InUseCase& c, std::ostream* os) { *os << c.name; }

class FilesInUseTest : public ::testing::TestWithParam<InUseCase> {};

// The pointer the user sees at each step of the journal: the arrow while
// a question shows, else the hourglass from the install's start to its
// completion, and the arrow once it is over.
void ExpectHourglassUntilTheEnd(const fakes::Journal& journal) {
    const std::string question = "message These programs are using files";
    std::size_t last = journal.size();
    for (std::size_t i = journal.size(); i-- > 0;)
        if (journal[i].rfind("pointer ", 0) == 0 && last == journal.size()) last = i;
    ASSERT_LT(last, journal.size()) << "the pointer was never set";
    EXPECT_EQ(journal[last], "pointer 0") << "the arrow is back at the end";
    std::string shown;
    for (std::size_t i = 0; i < journal.size(); ++i) {
        const std::string& entry = journal[i];
        if (entry.rfind("pointer ", 0) == 0) {
            shown = entry;
        } else if (entry.rfind(question, 0) == 0) {
            EXPECT_EQ(shown, "pointer 0") << "the question shows over the arrow";
        } else if (i < last) {
            EXPECT_EQ(shown, "pointer 11") << "while the install goes on, at step " << i << ": " << entry;
        }
    }
}

TEST_P(FilesInUseTest, TheAnswerDecides) {
    const auto& c = GetParam();
    const std::string dll = "C:\\Vantrel\\SYS\\A.DLL";
    ReadyInstaller in;
    in.WriteList(std::string(Installer::kHeader) + "\r\nSTART\r\nFOLDER,Sys\r\nFILE,A.DLL,B.DLL\r\nEND\r\n");
    in.os.AddFile(in.server.Path() + "\\B.DLL");
    in.os.AddFile(dll, "old");
    in.os.files[dll].inUse = true;
    in.forms.messageAnswers = c.answers;
    if (c.releasedOnRetry) in.forms.onMessage = [&] { in.os.files[dll].inUse = false; };
    in.state.Options.mode = c.mode;
    in.state.Options.restart = c.restart;
    try {
        in.window->cmdInstall_Click();
        if (c.mode == setup::RunMode::kAttended) in.window->cmdCancel_Click();
        in.forms.RunScheduled();
    } catch (const fakes::ProgramEnded&) {
    }
    EXPECT_EQ(in.End(), c.exitCode);
    const auto asked = std::count_if(in.forms.messages.begin(), in.forms.messages.end(), [](const fakes::Message& m) {
        return m.text == "These programs are using files that this update replaces:\r\n\r\nC:\\Vantrel\\SYS\\A.DLL"
                         "\r\n\r\nClose them and click Retry. Ignore finishes the update when Windows restarts. Abort "
                         "cancels it." &&
               m.flags == platform::kMsgAbortRetryIgnore + platform::kMsgExclamation &&
               m.title == "Install Vantrel Live Update";
    });
    EXPECT_EQ(asked, c.questions);
    const bool waits = c.exitCode == 3010 || c.exitCode == 1641;
    EXPECT_EQ(in.os.files[dll].content, c.exitCode == 0 ? "x" : "old") << "the new content, or the old until then";
    EXPECT_EQ(in.os.atRestart.size(), waits ? 2u : 0u) << "aside, then into place";
    if (c.exitCode != 1602) {
        EXPECT_EQ(in.window->lblMsgline.Caption(), waits ? "Restart Windows to finish the update" : "");
    }
    const bool rebootAsked = waits && c.mode == setup::RunMode::kAttended && c.restart == setup::RestartPolicy::kAsk;
    EXPECT_EQ(in.forms.messages.size(), static_cast<std::size_t>(c.questions) + rebootAsked);
    EXPECT_EQ(in.os.exitRequests.size(), c.exitCode == 1641 ? 1u : 0u);
    if (c.exitCode == 1602) {
        EXPECT_TRUE(in.os.records.empty()) << "nothing was changed";
    } else {
        EXPECT_TRUE(std::any_of(in.journal.begin(), in.journal.end(), [](const std::string& entry) {
            return entry.rfind("close program ", 0) == 0 && entry.find("\\B.DLL") != std::string::npos;
        })) << "the install waited for B.DLL's registration";
    }
    ExpectHourglassUntilTheEnd(in.journal);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FilesInUseTest,
    ::testing::Values(InUseCase{"Abort", {platform::kAnswerAbort}, 1, false, 1602},
                      InUseCase{"RetryAfterTheProgramEnded", {platform::kAnswerRetry}, 1, true, 0},
                      InUseCase{"RetryIgnoreNo", {platform::kAnswerRetry, platform::kAnswerIgnore, 7}, 2, false, 3010},
                      InUseCase{"IgnoreYes", {platform::kAnswerIgnore, platform::kAnswerYes}, 1, false, 1641},
                      InUseCase{"Quiet", {}, 0, false, 3010, setup::RunMode::kQuiet},
                      InUseCase{"PassiveForced", {}, 0, false, 1641, setup::RunMode::kPassive,
                                setup::RestartPolicy::kForce}),
    [](const auto& info) { return std::string(info.param.name); });

// The question names the programs the system names, else the files; ten
// at most, then how many more.
TEST(FilesInUseTest, TheQuestionNamesTenAtMost) {
    ReadyInstaller in;
    std::string list = std::string(Installer::kHeader) + "\r\nSTART\r\nFOLDER,SERVER\r\nFILE";
    for (int i = 1; i <= 12; ++i) {
        const std::string name = "F" + std::to_string(i) + ".DLL";
        list += "," + name;
        in.os.AddFile(in.server.Path() + "\\" + name);
        in.os.AddFile("C:\\Vantrel\\" + name, "old");
        in.os.files["C:\\Vantrel\\" + name].inUse = true;
    }
    in.WriteList(list + "\r\nEND\r\n");
    in.os.holders = {{"C:\\Vantrel\\F3.DLL", "Vantrel"}, {"C:\\Vantrel\\F7.DLL", "Vantrel"}};
    in.forms.messageAnswers = {platform::kAnswerRetry};
    in.forms.onMessage = [&] { in.os.holders.clear(); };
    in.window->cmdInstall_Click();
    ASSERT_GE(in.forms.messages.size(), 2u);
    const std::string head = "These programs are using files that this update replaces:\r\n\r\n";
    const std::string tail = "\r\n\r\nClose them and click Retry. Ignore finishes the update when Windows restarts. "
                             "Abort cancels it.";
    EXPECT_EQ(in.forms.messages[0].text, head + "Vantrel" + tail);
    std::string files;
    for (int i = 1; i <= 10; ++i)
        files += (i > 1 ? "\r\n" : "") + std::string("C:\\Vantrel\\F") + std::to_string(i) + ".DLL";
    EXPECT_EQ(in.forms.messages[1].text, head + files + "\r\nand 2 more" + tail);
}

TEST(PlatformTest, IdentifierAndFamily) {
    fakes::Journal journal;
    fakes::FakeOs os(journal);
    for (uint32_t id : {0u, 1u, 2u, 3u}) {
        os.platformId = id;
        EXPECT_EQ(setup::GetPlatformId(os), static_cast<int32_t>(id));  // the fake insists on size 148
        EXPECT_EQ(setup::IsWin9X(os), (id & 1) != 0) << id;
    }
    os.versionQueryFails = true;
    EXPECT_EQ(setup::GetPlatformId(os), 0);
    EXPECT_FALSE(setup::IsWin9X(os));
}

// The SHA extensions run only where the system saves the SSE registers.
TEST(PlatformTest, SseStateSavedWhereTheSystemSaysSo) {
    struct System {
        uint32_t platform, major, minor, build;
        bool sseReported;
        bool saves;
    };
    const System systems[] = {
        {2, 5, 1, 2600, true, true},                  // XP on a processor with SSE
        {2, 5, 0, 2195, false, false},                // 2000 that reports none
        {1, 4, 0, 950, true, false},                  // Windows 95
        {1, 4, 10, 1998, true, false},                // the first Windows 98
        {1, 4, 10, (4u << 24 | 10u << 16 | 2222u), false, true},  // 98 SE, version in the high word
        {1, 4, 90, 3000, false, true},                // ME
        {0, 3, 10, 0, true, false},                   // Win32s
    };
    for (const System& system : systems) {
        fakes::Journal journal;
        fakes::FakeOs os(journal);
        os.platformId = system.platform;
        os.versionMajor = system.major;
        os.versionMinor = system.minor;
        os.versionBuild = system.build;
        if (!system.sseReported) os.processorFeatures.clear();
        EXPECT_EQ(setup::SystemSavesSseState(os), system.saves) << system.major << "." << system.minor << "."
                                                                << (system.build & 0xFFFF);
    }
    fakes::Journal journal;
    fakes::FakeOs failing(journal);
    failing.versionQueryFails = true;
    EXPECT_FALSE(setup::SystemSavesSseState(failing));
}

}  // namespace

namespace {

// A quiet install that replaces, copies, keeps and registers files of every
// kind, for the fault-injection sweep.
struct SweptInstaller : Installer {
    static constexpr const char* kOld = "old";
    const std::string host = "C:\\Vantrel\\";
    const std::string system = "C:\\WINDOWS\\SYSTEM32\\";

    explicit SweptInstaller(uint32_t platform) {
        state.Options = app::ParseCommandLine("/quiet");
        os.platformId = platform;
        WriteList(std::string(kHeader) + "\r\nSTART\r\nFOLDER,SERVER\r\nFILE,A.DLL,B.EXE,T.TLB,R.TXT\r\n"
                                         "FOLDER,SYSTEM\r\nFILE,S.DLL\r\nEND\r\n");
        os.AddFile(ListPath());
        for (const char* name : {"A.DLL", "B.EXE", "T.TLB", "R.TXT", "S.DLL"})
            os.AddFile(server.Path() + "\\" + name, std::string("new ") + name);
        for (const std::string& path : Existing()) os.AddFile(path, kOld);
        os.files[host + "A.DLL"].readOnly = true;
        os.typeLibraries.insert(u"C:\\Vantrel\\T.TLB");
        os.folders = {"C:\\Vantrel", "C:\\ProgramData\\Start Menu\\Programs"};
    }
    std::vector<std::string> Existing() const { return {host + "A.DLL", host + "R.TXT", system + "S.DLL"}; }

    // Runs the whole program as its entry point does; the exit code.
    int Run() {
        try {
            if (!Load()) forms.RunScheduled();
        } catch (const fakes::ProgramEnded&) {
        }
        return End();
    }

    // Every file holds the new content (the system file its own), or, where
    // the restart is counted on, waits to be moved there then; the settings
    // value and the shortcut are written; every registration ran, or runs
    // after the restart.
    bool Whole(bool afterRestart) {
        for (const char* name : {"A.DLL", "B.EXE", "T.TLB", "R.TXT"}) {
            const std::string content = std::string("new ") + name;
            if (!Holds(host + name, content) && !(afterRestart && WaitsFor(host + name, content))) return false;
        }
        const std::size_t registrations = os.programs.size() + (afterRestart ? os.machineStrings[kRunOnce].size() : 0);
        return os.files.at(system + "S.DLL").content == kOld && os.ini[kIni]["WEB"]["UPDATEONLINE"] == "WEB130" &&
               os.shortcuts.size() == 1 && registrations == 3 && os.registeredTypeLibraries.size() == 1;
    }
    bool Holds(const std::string& path, const std::string& content) const {
        const auto file = os.files.find(path);
        return file != os.files.end() && file->second.content == content;
    }
    bool WaitsFor(const std::string& path, const std::string& content) const {
        for (const auto& change : os.atRestart)
            if (change.destination == path && Holds(change.source, content)) return true;
        return false;
    }
    const std::string kRunOnce = setup::kRunOnceKey;
};

}  // namespace

// A journal entry that changes the machine.
bool IsChange(const std::string& entry) {
    for (const char* change : {"copy ", "move ", "rename ", "delete ", "run ", "ini write ", "ini remove ", "shortcut ",
                               "machine ", "at restart ", "dde execute "})
        if (entry.rfind(change, 0) == 0) return true;
    return false;
}

// Each call the install makes fails in turn, as the system's call can. Every
// run ends through the entry point with its last log line; a run that ends
// as a clean one does installed everything, and a file that was there is
// never lost.
TEST(FaultInjectionTest, EveryFailedCallEndsTheRunWithItsOutcome) {
    for (const uint32_t platform : {2u, 1u}) {
        SweptInstaller clean(platform);
        const int cleanCode = clean.Run();
        ASSERT_EQ(cleanCode, platform == 1u ? 3010 : 0);  // the 95 family needs a restart
        ASSERT_TRUE(clean.Whole(false));
        const int callsInAll = clean.os.calls;
        for (int failCall = 1; failCall <= callsInAll; ++failCall) {
            SCOPED_TRACE("platform " + std::to_string(platform) + ", call " + std::to_string(failCall));
            SweptInstaller in(platform);
            in.os.failCall = failCall;
            const int code = in.Run();
            const auto& log = in.os.LogLines();
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(log.back().substr(log.back().rfind("; exit code ")), "; exit code " + std::to_string(code));
            const auto fault = std::find(in.journal.begin(), in.journal.end(), "fault injected in the call above");
            ASSERT_NE(fault, in.journal.begin());
            // A file that could not be replaced now waits for the restart.
            EXPECT_EQ(code == cleanCode || code == 3010, in.Whole(true))
                << "failed: " << fault[-1] << "; " << log.back();
            if (platform == 2u) {
                EXPECT_EQ(code == 0, in.Whole(false)) << "failed: " << fault[-1];
            }
            const std::string unwritten = fault + 1 != in.journal.end() ? fault[1] : std::string();
            if (unwritten.rfind("record line not written: ", 0) == 0 && unwritten.find(": ended\t") == std::string::npos) {
                EXPECT_EQ(code, 1603) << unwritten;
                EXPECT_EQ(std::find_if(fault, in.journal.end(), IsChange), in.journal.end())
                    << "a change made without its line: " << unwritten;
            }
            for (const std::string& path : in.Existing()) {
                const auto file = in.os.files.find(path);
                ASSERT_NE(file, in.os.files.end()) << path << " lost";
                EXPECT_NE(file->second.content.rfind("new ", 0) == 0, file->second.content == SweptInstaller::kOld);
            }
        }
    }
}

namespace {

const std::string kRecordFolder = "C:\\Program Files\\Vantrel Live Update";

std::vector<setup::RecordEntry> RecordOf(fakes::FakeOs& os) {
    std::string text;
    EXPECT_TRUE(os.ReadWholeFile(kRecordFolder + "\\Install record.txt", text));
    return setup::ParseRecord(text);
}

}  // namespace

// A new system file whose copy a kill cut short is this product's, not
// another's that was there: the next install copies it whole and counts it
// once. A copy that fails again is not counted: nothing of ours arrived.
TEST(InstallRecordingTest, ACopyAKillCutShortIsFinished) {
    for (const bool refused : {false, true}) {
        SweptInstaller in(2);
        const std::string dll = in.system + "S.DLL";
        in.os.files[dll].content = "new S";  // torn
        if (refused) in.os.copyRefused.insert(dll);
        in.os.folders.insert(kRecordFolder);
        in.os.records[kRecordFolder + "\\Install record.txt"].lines = {
            setup::FormatRecordLine(
                {setup::RecordKind::kBegun, {"2026-12-07 10:00:00", "1.0.0.0", "Vantrel", "C:\\Vantrel"}}),
            setup::FormatRecordLine({setup::RecordKind::kCreated, {dll, "digest of new S.DLL", "9"}})};
        ASSERT_EQ(in.Run(), refused ? 1603 : 0);
        EXPECT_EQ(in.os.files.at(dll).content, refused ? "new S" : "new S.DLL");
        const auto& counts = in.os.machineNumbers[setup::kSharedDllsKey];
        EXPECT_EQ(counts.count(dll) ? counts.at(dll) : 0u, refused ? 0u : 1u) << "counted";
    }
}

// What a user can point elsewhere is never written, or read to be kept,
// through it: a file that is a link, a file with another name (a hard link
// to a file only administrators may read), the settings file's folder
// swapped for a link. Each is reported (1603), and what it leads to stays
// as it was and out of the kept contents.
TEST(InstallRecordingTest, NothingIsWrittenOrKeptThroughALink) {
    const struct {
        const char* what;
        std::string why;
    } cases[] = {{"A.DLL", "(a link or junction leads to it)"},
                 {"hard A.DLL", "(it has another name (a hard link))"},
                 {"Sys", "could not be written: a link or junction leads to it"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SweptInstaller in(2);
        const std::string a = in.host + "A.DLL";
        if (c.what == std::string("hard A.DLL"))
            in.os.hardLinked.insert(a);
        else
            in.os.reparsePoints.insert(in.host + c.what);
        EXPECT_EQ(in.Run(), 1603);
        EXPECT_EQ(in.os.throughLink, std::vector<std::string>{});
        if (c.what == std::string("Sys")) {
            EXPECT_FALSE(in.os.ini[in.host + "Sys\\TOVASK.INI"].count("WEB"));
        } else {
            EXPECT_EQ(in.os.files.at(a).content, SweptInstaller::kOld);
            EXPECT_FALSE(in.os.files.count(a + ".new~"));
            for (const auto& [path, file] : in.os.files) {
                const bool kept = path.rfind(kRecordFolder + "\\Kept\\", 0) == 0;
                EXPECT_TRUE(!kept || path.find("R.TXT") != std::string::npos) << path;
            }
        }
        EXPECT_NE(std::find_if(in.os.LogLines().begin(), in.os.LogLines().end(),
                               [&](const std::string& line) { return line.find(c.why) != std::string::npos; }),
                  in.os.LogLines().end());
    }
}

// Each change is in the record before it is made, the previous content of
// a replaced file is kept, and the entry and the shared count are written.
// A second install extends the record and counts the shared file once.
TEST(InstallRecordingTest, EveryChangeIsRecordedAndAReinstallExtendsTheRecord) {
    SweptInstaller in(2);
    ASSERT_EQ(in.Run(), 0);
    std::vector<std::string> kinds;
    for (const auto& entry : RecordOf(in.os)) kinds.push_back(setup::FormatRecordLine({entry.kind, {}}));
    EXPECT_EQ(kinds, (std::vector<std::string>{"begun", "temporary", "replaced", "created", "created", "replaced",
                                               "kept", "shared", "registered", "registered", "registered",
                                               "registered", "setting", "start menu", "ended"}));
    const auto& record = in.os.records.at(kRecordFolder + "\\Install record.txt");
    EXPECT_EQ(record.flushed, record.lines.size());
    EXPECT_EQ(in.os.files.at(kRecordFolder + "\\Kept\\1-A.DLL").content, SweptInstaller::kOld);
    EXPECT_TRUE(in.os.files.at(kRecordFolder + "\\Kept\\1-A.DLL").readOnly) << "kept with its attributes";
    EXPECT_EQ(in.os.files.at(kRecordFolder + "\\LiveUpdateSetup.exe").content, "the installer");
    const auto& entry = in.os.machineStrings.at(setup::UninstallKey("Vantrel"));
    EXPECT_EQ(entry.at("DisplayName"), "Vantrel - Live Update");
    EXPECT_EQ(entry.at("QuietUninstallString"), "\"" + kRecordFolder + "\\LiveUpdateSetup.exe\" /uninstall /quiet");
    EXPECT_EQ(entry.at("InstallLocation"), "C:\\Vantrel");
    EXPECT_EQ(in.os.machineNumbers.at(setup::kSharedDllsKey).at(in.system + "S.DLL"), 2u);  // it was there: 2

    SweptInstaller again(2);
    for (const auto& [path, file] : in.os.files) again.os.files[path] = file;  // the host as the first left it
    again.os.records = in.os.records;
    again.os.machineNumbers = in.os.machineNumbers;
    again.os.folders = in.os.folders;
    ASSERT_EQ(again.Run(), 0);
    const auto both = RecordOf(again.os);
    EXPECT_EQ(std::count_if(both.begin(), both.end(), [](const auto& e) { return e.kind == setup::RecordKind::kBegun; }),
              2);
    EXPECT_EQ(again.os.machineNumbers.at(setup::kSharedDllsKey).at(in.system + "S.DLL"), 2u);
    EXPECT_TRUE(again.os.files.count(kRecordFolder + "\\Kept\\3-A.DLL"));  // after the first install's two
}

// Each change's line is on the disk before the change: the power cut as
// the first file's new content is copied leaves a record that names it, and
// a kill at a registration's line for after the restart leaves no RunOnce
// value that the record does not name, for the removal to withdraw.
TEST(InstallRecordingTest, ARecordLineIsOnTheDiskBeforeItsChange) {
    SweptInstaller cut(2);
    cut.os.aim = {"copy ", "", 1, false, [&] {
                      cut.os.PowerCut();
                      throw fakes::Killed{};
                  }};
    EXPECT_THROW(cut.Run(), fakes::Killed);
    const auto lines = RecordOf(cut.os);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().kind, setup::RecordKind::kReplaced);
    EXPECT_EQ(lines.back().fields[0], cut.host + "A.DLL");

    SweptInstaller killed(2);
    killed.os.files[killed.host + "A.DLL"].inUse = true;
    killed.os.aim = {"record line registered", "A.DLL", 1, false, [] { throw fakes::Killed{}; }};
    EXPECT_THROW(killed.Run(), fakes::Killed);
    std::set<std::string> named;
    for (const auto& entry : RecordOf(killed.os))
        if (entry.kind == setup::RecordKind::kRegistered) named.insert(entry.fields[1]);
    for (const auto& [value, command] : killed.os.machineStrings[setup::kRunOnceKey])
        EXPECT_EQ(named.count(value), 1u) << command;
}

// What the system does at the restart: the changes asked for, in order;
// one whose file is gone is passed over.
void Restart(fakes::FakeOs& os) {
    for (const auto& change : os.atRestart) {
        const auto from = os.files.find(change.source);
        if (from == os.files.end()) continue;
        const fakes::FakeFile file = from->second;
        os.files.erase(from);
        if (!change.destination.empty()) os.files[change.destination] = file;
    }
    os.atRestart.clear();
}

// An install again before the restart, the file no longer in use: its
// replacement waits for the restart too, after the first one's, so that the
// restart leaves the newest content in place and both previous ones kept.
TEST(InstallRecordingTest, AReplacementWaitingForTheRestartIsNeverUndoneByIt) {
    const std::string dll = "C:\\Vantrel\\A.DLL";
    SweptInstaller in(2);
    in.os.files[dll].inUse = true;
    ASSERT_EQ(in.Run(), 3010);
    SweptInstaller again(2);
    for (const auto& [path, file] : in.os.files) again.os.files[path] = file;
    again.os.files[dll].inUse = false;
    again.os.files[again.server.Path() + "\\A.DLL"].content = "newer A.DLL";
    again.os.records = in.os.records;
    again.os.folders = in.os.folders;
    again.os.atRestart = in.os.atRestart;
    ASSERT_EQ(again.Run(), 3010);
    EXPECT_EQ(again.os.files.at(dll).content, SweptInstaller::kOld) << "nothing changes before the restart";
    Restart(again.os);
    EXPECT_EQ(again.os.files.at(dll).content, "newer A.DLL");
    EXPECT_EQ(again.os.files.at("C:\\Vantrel\\~LU00001.OLD").content, SweptInstaller::kOld);
    EXPECT_EQ(again.os.files.at("C:\\Vantrel\\~LU00002.OLD").content, "new A.DLL");
}

// Without a record folder that only administrators may change, nothing of
// the host is changed: none at all, one that others own or may write, one
// that a link leads to. An earlier record there is never read.
TEST(InstallRecordingTest, NoTrustworthyRecordFolderChangesNothing) {
    const platform::Sid users = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0};
    const std::function<void(fakes::FakeOs&)> arrangements[] = {
        [](fakes::FakeOs& os) { os.programFilesFolder.clear(); },
        [&](fakes::FakeOs& os) { os.guards[kRecordFolder] = {users, {}, false}; },
        [&](fakes::FakeOs& os) { os.guards[kRecordFolder] = {platform::AdministratorsSid(), {users}, false}; },
        [](fakes::FakeOs& os) { os.guards[kRecordFolder] = {platform::AdministratorsSid(), {}, true}; },
        [](fakes::FakeOs& os) { os.reparsePoints.insert(kRecordFolder); },
    };
    for (const auto& arrange : arrangements) {
        SweptInstaller in(2);
        arrange(in.os);
        EXPECT_EQ(in.Run(), 1603);
        EXPECT_EQ(in.os.files.at(in.host + "A.DLL").content, SweptInstaller::kOld);
        EXPECT_FALSE(in.os.files.count(in.host + "B.EXE"));
        EXPECT_TRUE(in.os.ini[kIni]["WEB"].empty());
        EXPECT_TRUE(in.os.records.empty());
        EXPECT_TRUE(in.os.machineStrings.empty());
        EXPECT_EQ(in.os.LogLines().back(), "Not installed; exit code 1603");
    }
    SweptInstaller guarded(2);
    ASSERT_EQ(guarded.Run(), 0);
    EXPECT_EQ(guarded.os.guardedFolders, std::set<std::string>{kRecordFolder});
}

// A package that carries its class registrations as data: the install
// writes them (what a value held before is in the record) and starts no
// registration program for those files; the removal puts each value back
// as it was and the keys it made go; /verify names a value deleted since.
// A rule the data breaks refuses the package, naming the line, before any change.
TEST(InstallRecordingTest, ClassDataIsWrittenAsValuesAndUndoneAsData) {
    const std::string data = "[A.DLL]\r\nCLSID\\{1}\\InprocServer32\t\tREG_SZ\t<file>\r\n"
                             "CLSID\\{1}\\InprocServer32\tThreadingModel\tREG_SZ\tBoth\r\n"
                             "[B.EXE]\r\nCLSID\\{2}\\LocalServer32\t\tREG_SZ\t\"<file>\" /automation\r\n";
    SweptInstaller in(2);
    in.os.AddFile(in.server.Path() + "\\CLASSES.TXT", data);
    const std::string a = "Software\\Classes\\CLSID\\{1}\\InprocServer32", b = "Software\\Classes\\CLSID\\{2}";
    const platform::RegistryValue apartment{1, std::string("Apartment\0", 10)};
    in.os.machineValues[a]["ThreadingModel"] = apartment;  // the host's own registration
    const auto before = in.os.machineValues;
    ASSERT_EQ(in.Run(), 0) << in.os.LogLines()[in.os.LogLines().size() - 2];
    for (const std::string& entry : in.journal)
        EXPECT_FALSE(entry.rfind("run ", 0) == 0 && (entry.find("A.DLL") != std::string::npos ||
                                                     entry.find("B.EXE") != std::string::npos))
            << entry;
    EXPECT_EQ(in.os.machineValues[a][""].data, std::string("C:\\Vantrel\\A.DLL\0", 17));
    EXPECT_EQ(in.os.machineValues[b + "\\LocalServer32"][""].data, std::string("\"C:\\Vantrel\\B.EXE\" /automation\0", 31));
    std::vector<std::string> lines;
    for (const auto& e : RecordOf(in.os))
        if (e.kind == setup::RecordKind::kKey || e.kind == setup::RecordKind::kValue) lines.push_back(setup::FormatRecordLine(e));
    EXPECT_EQ(lines, (std::vector<std::string>{"value\t" + a + "\t\t\t\t1\t433A5C56616E7472656C5C412E444C4C00",
                                               "value\t" + a + "\tThreadingModel\t1\t41706172746D656E7400\t1\t426F746800",
                                               "key\t" + b, "key\t" + b + "\\LocalServer32",
                                               "value\t" + b + "\\LocalServer32\t\t\t\t1\t22433A5C56616E7472656C5C422E45584522202F6175746F6D6174696F6E00"}));

    in.os.installerFolder = kRecordFolder;
    fakes::Process verify(in.os, in.journal, "/verify /quiet");
    in.os.machineValues[b + "\\LocalServer32"].erase("");
    EXPECT_EQ(verify.Run(), 1610);
    fakes::Process removal(in.os, in.journal, "/uninstall /quiet");
    EXPECT_EQ(removal.Run(), 0);
    EXPECT_EQ(in.os.machineValues, before) << "ThreadingModel back to Apartment, the rest gone";

    SweptInstaller refused(2);
    refused.os.AddFile(refused.server.Path() + "\\CLASSES.TXT",
                       "[A.DLL]\r\nSoftware\\Microsoft\\Windows\\CurrentVersion\\Run\tx\tREG_SZ\ty\r\n");
    EXPECT_EQ(refused.Run(), 1620);
    EXPECT_EQ(refused.os.files.at("C:\\Vantrel\\A.DLL").content, SweptInstaller::kOld);
    const auto& log = refused.os.LogLines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.find("CLASSES.TXT line 2: \"Software\\Microsoft\\Windows\\CurrentVersion\\Run\" is not a class key") !=
               std::string::npos;
    }));
}
