// Installing the listed files: destinations, replacement, registration and
// the status texts for missing and failed files.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "fakes.h"
#include "platform/install_lock.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "setup/deploy.h"

namespace {

const std::string kServer = "C:\\PKG";
const std::string kProduct = "C:\\Vantrel";
const std::string kSystem = "C:\\WINDOWS\\SYSTEM32";
const std::string kRegsvr32 = kSystem + "\\regsvr32.exe /s ";

// A window that keeps every status text it is given.
class RecordingWindow : public setup::MainWindow {
public:
    RecordingWindow() : setup::MainWindow("frmTest") {}
    void EditMsgline(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

struct Deployment {
    fakes::Journal journal;
    fakes::FakeOs os{journal};
    fakes::FakeForms forms{journal};
    setup::InstallerState state;
    RecordingWindow window;

    Deployment() {
        forms.os = &os;
        state.ServerPath = kServer;
        state.SystemDirectory = kSystem;
        state.UpdateFiles.assign(1, setup::UpdateFileEntry{});
        os.folders = {kProduct, kProduct + "\\SYS"};
    }

    // Lists a file and puts its payload beside the installer.
    void List(const std::string& folder, const std::string& name, const std::string& extension) {
        state.UpdateFiles.push_back({folder, name, extension});
        os.AddFile(kServer + "\\" + name, "new " + name);
    }

    // The walk, then the registrations' start, as the install command runs them.
    void Deploy(const std::string& productFolder = kProduct) {
        setup::Context ctx{state, os, forms};
        setup::DeployUpdateFiles(ctx, window, productFolder);
        setup::StartRegistrations(ctx, window);
    }

    void Wait() {
        setup::Context ctx{state, os, forms};
        setup::WaitForRegistrations(ctx, window);
    }

    bool Journaled(const std::string& entry) const {
        return std::find(journal.begin(), journal.end(), entry) != journal.end();
    }
    bool JournalMentions(const std::string& text) const {
        return std::any_of(journal.begin(), journal.end(),
                           [&](const std::string& e) { return e.find(text) != std::string::npos; });
    }
    const std::string& Content(const std::string& path) { return os.files.at(path).content; }
    bool LeftoverTemporary() const {
        return std::any_of(os.files.begin(), os.files.end(), [](const auto& file) {
            return file.first.find(setup::kReplacementSuffix) != std::string::npos;
        });
    }
};

struct DestinationCase {
    const char* name;
    std::string productFolder;
    std::string folder;
    std::string expected;
};

void PrintTo(const DestinationCase& c, std::ostream* os) { *os << c.name; }

class DestinationTest : public ::testing::TestWithParam<DestinationCase> {};

TEST_P(DestinationTest, CopiesToTheSelectedFolder) {
    const auto& c = GetParam();
    Deployment d;
    d.List(c.folder, "A.HLP", "HLP");
    d.Deploy(c.productFolder);
    // Copied there; or, where the fixture lacks its folder, refused on the way there.
    const std::string folder = c.expected.substr(0, c.expected.rfind('\\'));
    const bool heldOnTheWay = !d.Journaled("copy C:\\PKG\\A.HLP -> " + c.expected) &&
                              d.journal.back().size() > folder.size() &&
                              d.journal.back().compare(d.journal.back().size() - folder.size(), folder.size(), folder) == 0;
    EXPECT_TRUE(d.Journaled("copy C:\\PKG\\A.HLP -> " + c.expected) || heldOnTheWay)
        << ::testing::PrintToString(d.journal);
}

const std::string kPadded = " C:\\Vantrel\\ ";

INSTANTIATE_TEST_SUITE_P(
    Selectors, DestinationTest,
    ::testing::Values(DestinationCase{"System", kProduct, "SYSTEM\\", kSystem + "\\A.HLP"},
                      DestinationCase{"Server", kProduct, "SERVER\\", "C:\\Vantrel\\A.HLP"},
                      DestinationCase{"Sys", kProduct, "SYS\\", "C:\\Vantrel\\SYS\\A.HLP"},
                      DestinationCase{"Empty", kProduct, "", "C:\\Vantrel\\A.HLP"},
                      DestinationCase{"TwoNames", kProduct, "HELP\\EN\\", "C:\\Vantrel\\HELP\\EN\\A.HLP"},
                      DestinationCase{"SystemSubfolder", kProduct, "SYSTEM\\X\\", "C:\\Vantrel\\SYSTEM\\X\\A.HLP"},
                      DestinationCase{"LoneBackslash", kProduct, "\\", "C:\\Vantrel\\\\A.HLP"},
                      DestinationCase{"PaddedProductSys", kPadded, "SYS\\", "C:\\Vantrel\\SYS\\A.HLP"},
                      DestinationCase{"PaddedProductServer", kPadded, "SERVER\\", "C:\\Vantrel\\A.HLP"},
                      DestinationCase{"PaddedProductEmpty", kPadded, "", "C:\\Vantrel\\A.HLP"}));

// The install's decision for one file, as data: what wins when several
// facts hold at once.
TEST(PlanFileTest, DecidesInOrderOfPrecedence) {
    using setup::FileChange;
    using setup::FileResult;
    struct Row {
        const char* facts;  // s: source found, l: leaves host, e: exists, y: system file,
                            // c: cut short, h: held, n: long name lost
        FileChange change;
        FileResult refusal;
    };
    const Row rows[] = {
        {"lehn", FileChange::kNone, FileResult::kSourceMissing},
        {"slehn", FileChange::kNone, FileResult::kOutsideHost},
        {"shn", FileChange::kCreate, FileResult::kSourceMissing},
        {"syhn", FileChange::kCreate, FileResult::kSourceMissing},
        {"seyh", FileChange::kKeep, FileResult::kSourceMissing},
        {"seych", FileChange::kFinishCutShort, FileResult::kSourceMissing},
        {"sec", FileChange::kReplace, FileResult::kSourceMissing},
        {"sen", FileChange::kReplace, FileResult::kSourceMissing},
        {"seh", FileChange::kReplaceAtRestart, FileResult::kSourceMissing},
        {"sehn", FileChange::kNone, FileResult::kInUse},
    };
    for (const Row& row : rows) {
        const std::string f = row.facts;
        const auto has = [&f](char c) { return f.find(c) != std::string::npos; };
        setup::FileFacts facts;
        facts.sourceFound = has('s');
        facts.sourceSize = 42;
        facts.leavesHost = has('l');
        facts.exists = has('e');
        facts.systemFile = has('y');
        facts.cutShort = has('c');
        facts.held = has('h');
        facts.longNameLost = has('n');
        const setup::InstallStep step = setup::PlanFile(facts, "C:\\PKG\\A.DLL", "C:\\Vantrel\\A.DLL");
        EXPECT_EQ(step.change, row.change) << f;
        if (row.change == FileChange::kNone) {
            EXPECT_EQ(step.refusal, row.refusal) << f;
        }
        EXPECT_EQ(step.shared, facts.systemFile) << f;
        EXPECT_EQ(step.size, 42u) << f;
        EXPECT_EQ(step.destination, "C:\\Vantrel\\A.DLL");
    }
}

TEST(DeployTest, SystemFileThatExistsStaysAndIsRegisteredInPlace) {
    Deployment d;
    d.List("SYSTEM\\", "A.DLL", "DLL");
    d.os.AddFile(kSystem + "\\A.DLL", "old");
    d.Deploy();
    EXPECT_EQ(d.Content(kSystem + "\\A.DLL"), "old");
    EXPECT_FALSE(d.JournalMentions("copy "));
    EXPECT_FALSE(d.JournalMentions("delete "));
    EXPECT_EQ(d.os.programs, std::vector<std::string>{kRegsvr32 + "\"" + kSystem + "\\A.DLL\""});
    EXPECT_TRUE(d.window.texts.empty());
}

TEST(DeployTest, AbsentSystemFileIsCopiedAndRegistered) {
    Deployment d;
    d.List("SYSTEM\\", "A.OCX", "OCX");
    d.Deploy();
    EXPECT_EQ(d.Content(kSystem + "\\A.OCX"), "new A.OCX");
    EXPECT_EQ(d.os.programs, std::vector<std::string>{kRegsvr32 + "\"" + kSystem + "\\A.OCX\""});
}

// How the system replaces a file: in one step (NT family), through renames
// because the one-step call is only a stub, or through renames because the
// system is of the 95 family.
enum class Replacing { kOneStep, kStubbedCall, kWindows9x };

void PrintTo(Replacing r, std::ostream* os) {
    *os << (r == Replacing::kOneStep ? "OneStep" : r == Replacing::kStubbedCall ? "StubbedCall" : "Windows9x");
}

class ReplaceTest : public ::testing::TestWithParam<Replacing> {
protected:
    void SetUp() override { Configure(d); }
    void Configure(Deployment& deployment) const {
        deployment.os.moveFileExStub = GetParam() == Replacing::kStubbedCall;
        if (GetParam() == Replacing::kWindows9x) deployment.os.platformId = 1;
    }
    // No temporary and no set-aside file is left beside the destination.
    bool LeftoverFiles() const {
        return d.LeftoverTemporary() || std::any_of(d.os.files.begin(), d.os.files.end(), [](const auto& file) {
                   return file.first.find(setup::kSetAsideSuffix) != std::string::npos;
               });
    }
    Deployment d;
};

// A read-only temporary left by an interrupted run does not get in the way.
TEST_P(ReplaceTest, ReadOnlyProductFileIsReplaced) {
    d.List("SYS\\", "A.DLL", "DLL");
    const std::string dest = kProduct + "\\SYS\\A.DLL";
    d.os.AddFile(dest, "old");
    d.os.files[dest].readOnly = true;
    d.os.AddFile(dest + setup::kReplacementSuffix, "stale");
    d.os.files[dest + setup::kReplacementSuffix].readOnly = true;
    d.Deploy();
    EXPECT_EQ(d.Content(dest), "new A.DLL");
    EXPECT_FALSE(d.os.files[dest].readOnly);
    EXPECT_FALSE(LeftoverFiles());
    EXPECT_EQ(d.os.programs, std::vector<std::string>{kRegsvr32 + "\"" + dest + "\""});
    EXPECT_TRUE(d.window.texts.empty());
    // The 95 family is never asked for the one-step call it only has as a stub.
    EXPECT_EQ(d.JournalMentions("move "), GetParam() != Replacing::kWindows9x);
}

// A replacement that cannot be copied leaves the old file where it was.
TEST_P(ReplaceTest, FailedReplacementKeepsTheOldFile) {
    d.List("SYS\\", "A.DLL", "DLL");
    const std::string dest = kProduct + "\\SYS\\A.DLL";
    d.os.AddFile(dest, "old");
    d.os.diskFull = true;
    d.Deploy();
    ASSERT_EQ(d.os.files.count(dest), 1u);
    EXPECT_EQ(d.Content(dest), "old");
    EXPECT_FALSE(LeftoverFiles());
    EXPECT_TRUE(d.os.programs.empty());
    EXPECT_EQ(d.window.texts, std::vector<std::string>{"Could not copy file (Source: C:\\PKG\\A.DLL - Destnation: " +
                                                       dest + ")"});
}

// A file in use, found so before the walk (read-only here) or only during
// it, stays exactly as it is until the restart: the new content waits
// beside it, the rename is asked for, and the file is registered after the
// restart, not now. When the system takes no rename, the file is reported
// as not copied, and nothing waits.
TEST_P(ReplaceTest, FileInUseIsReplacedAtTheRestart) {
    for (const bool refused : {false, true}) {
        Deployment d;
        Configure(d);
        d.List("", "A.EXE", "EXE");
        const std::string dest = kProduct + "\\A.EXE";
        const std::string waiting = dest + ".1" + setup::kReplacementSuffix;
        d.os.AddFile(dest, "old");
        d.os.files[dest].inUse = true;
        d.os.files[dest].readOnly = !refused;
        if (!refused) d.state.FilesInUse = {dest};
        d.os.restartRefused = refused;
        d.Deploy();
        EXPECT_EQ(d.Content(dest), "old");
        EXPECT_EQ(d.os.files[dest].readOnly, !refused);
        EXPECT_TRUE(d.os.programs.empty());
        EXPECT_EQ(d.state.Summary.replacedAtRestart, refused ? 0 : 1);
        if (refused) {
            EXPECT_EQ(d.os.files.count(waiting), 0u);
            EXPECT_EQ(d.window.texts, std::vector<std::string>{"Could not copy file (Source: C:\\PKG\\A.EXE - "
                                                               "Destnation: " + dest + ")"});
            continue;
        }
        EXPECT_EQ(d.Content(waiting), "new A.EXE");
        EXPECT_EQ(d.os.atRestart, (std::vector<fakes::FakeOs::RestartChange>{{waiting, dest}}));
        EXPECT_EQ(d.os.machineStrings[setup::kRunOnceKey][dest], "\"" + dest + "\" /RegServer");
        EXPECT_TRUE(d.window.texts.empty());
    }
}

// The 95 family's restart renames know short names only: a file in use
// with a long name is reported as not replaced rather than left under its
// short name by the restart.
TEST_P(ReplaceTest, ALongNameInUseKeepsItsName) {
    Deployment d;
    Configure(d);
    d.List("", "HELDLONGNAME.DAT", "DAT");
    const std::string dest = kProduct + "\\HELDLONGNAME.DAT";
    d.os.AddFile(dest, "old");
    d.os.files[dest].inUse = true;
    d.state.FilesInUse = {dest};
    d.os.shortNames[dest] = kProduct + "\\HELDLO~1.DAT";
    d.Deploy();
    const bool replaced = GetParam() != Replacing::kWindows9x;
    EXPECT_EQ(d.state.Summary.replacedAtRestart, replaced ? 1 : 0);
    EXPECT_EQ(d.os.atRestart.empty(), !replaced);
    EXPECT_EQ(d.Content(dest), "old");
    if (!replaced) {
        EXPECT_EQ(d.window.texts, std::vector<std::string>{"Could not copy file (Source: C:\\PKG\\HELDLONGNAME.DAT - "
                                                           "Destnation: " + dest + ")"});
    }
}

class RenameTest : public ReplaceTest {};

// Renaming: when the old file cannot be set aside (in use on the 95 family)
// or the new one cannot be moved in, the old one stays or goes back, and the
// new one waits for the restart; a set-aside file left by an interrupted
// run does not get in the way.
TEST_P(RenameTest, OldFileStaysWhenARenameFails) {
    const std::string dest = kProduct + "\\A.EXE";
    for (const std::string& refused : {dest, dest + setup::kReplacementSuffix}) {
        Deployment d;
        Configure(d);
        d.List("", "A.EXE", "EXE");
        d.os.AddFile(dest, "old");
        d.os.AddFile(dest + setup::kSetAsideSuffix, "stale");
        d.os.renameRefused = {refused};
        d.Deploy();
        EXPECT_EQ(d.Content(dest), "old") << refused;
        EXPECT_EQ(d.os.files.size(), 3u) << "the payload, the old file and the waiting one: " << refused;
        EXPECT_EQ(d.Content(dest + ".1" + setup::kReplacementSuffix), "new A.EXE");
        EXPECT_TRUE(d.os.programs.empty());
        EXPECT_TRUE(d.window.texts.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, ReplaceTest,
                         ::testing::Values(Replacing::kOneStep, Replacing::kStubbedCall, Replacing::kWindows9x),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });
INSTANTIATE_TEST_SUITE_P(Systems, RenameTest, ::testing::Values(Replacing::kStubbedCall, Replacing::kWindows9x),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

TEST(DeployTest, HiddenDestinationIsNotSeenAndTheCopyIsRefused) {
    for (bool hidden : {true, false}) {
        Deployment d;
        d.List("SYS\\", "A.DLL", "DLL");
        const std::string dest = kProduct + "\\SYS\\A.DLL";
        d.os.AddFile(dest, "old");
        d.os.files[dest].hidden = hidden;
        d.os.files[dest].system = !hidden;
        d.Deploy();
        EXPECT_FALSE(d.Journaled("clear " + dest));
        EXPECT_TRUE(d.Journaled("copy C:\\PKG\\A.DLL -> " + dest));
        EXPECT_EQ(d.Content(dest), "old");
        EXPECT_TRUE(d.os.programs.empty());
        EXPECT_EQ(d.window.texts.size(), 1u);
    }
}

TEST(DeployTest, MissingSubfolderFailsTheCopy) {
    Deployment d;
    d.List("HELP\\EN\\", "A.HLP", "HLP");
    d.Deploy();
    EXPECT_EQ(d.window.texts, std::vector<std::string>{
                                  "Could not copy file (Source: C:\\PKG\\A.HLP - Destnation: C:\\Vantrel\\HELP\\EN\\A.HLP)"});
    EXPECT_EQ(d.os.files.count("C:\\Vantrel\\HELP\\EN\\A.HLP"), 0u);
}

TEST(DeployTest, MissingPayloadLeavesTheDestinationAlone) {
    Deployment d;
    d.state.UpdateFiles.push_back({"SYS\\", "NONE.DLL", "DLL"});
    d.os.AddFile(kProduct + "\\SYS\\NONE.DLL", "old");
    d.Deploy();
    EXPECT_EQ(d.window.texts, std::vector<std::string>{"Source file C:\\PKG\\NONE.DLL not found"});
    EXPECT_FALSE(d.JournalMentions("SYS\\NONE.DLL"));
    EXPECT_TRUE(d.os.programs.empty());
}

TEST(DeployTest, EmptyFileNameIsAMissingPayload) {
    Deployment d;
    d.state.UpdateFiles.push_back({"SYS\\", "", ""});
    d.Deploy();
    EXPECT_EQ(d.window.texts, std::vector<std::string>{"Source file C:\\PKG\\ not found"});
    EXPECT_FALSE(d.JournalMentions("copy "));
}

TEST(DeployTest, WalkGoesOnAfterTroubleAndSkipsElementZero) {
    Deployment d;
    d.state.UpdateFiles[0] = {"", "ZERO.DLL", "DLL"};
    d.os.AddFile(kServer + "\\ZERO.DLL");
    d.state.UpdateFiles.push_back({"", "NONE.DLL", "DLL"});
    d.List("HELP\\", "B.HLP", "HLP");
    d.List("", "C.DLL", "DLL");
    d.Deploy();
    EXPECT_FALSE(d.JournalMentions("ZERO.DLL"));
    ASSERT_EQ(d.window.texts.size(), 2u);
    EXPECT_EQ(d.window.texts[0], "Source file C:\\PKG\\NONE.DLL not found");
    EXPECT_EQ(d.window.texts[1].rfind("Could not copy file (Source: C:\\PKG\\B.HLP", 0), 0u);
    EXPECT_EQ(d.os.programs, std::vector<std::string>{kRegsvr32 + "\"C:\\Vantrel\\C.DLL\""});
}

TEST(DeployTest, ProgramThatCannotStartIsReportedAndTheWalkGoesOn) {
    Deployment d;
    d.List("", "A.DLL", "DLL");
    d.List("", "B.EXE", "EXE");
    d.List("", "C.DLL", "DLL");
    d.os.unstartable = {kRegsvr32 + "\"C:\\Vantrel\\A.DLL\"", "\"C:\\Vantrel\\B.EXE\" /RegServer"};
    d.Deploy();
    EXPECT_EQ(d.window.texts,
              (std::vector<std::string>{"Could not register file C:\\Vantrel\\A.DLL", "Could not register file C:\\Vantrel\\B.EXE"}));
    EXPECT_EQ(d.os.programs, std::vector<std::string>{kRegsvr32 + "\"C:\\Vantrel\\C.DLL\""});
    EXPECT_EQ(d.state.LastFileFailure, "Could not register file C:\\Vantrel\\B.EXE");
}

// A file registered as an administrator is checked, on a handle that keeps
// writers out until its registration is settled, to hold what was
// installed: one changed since (by anyone who may write the host folder)
// is never run or loaded.
TEST(DeployTest, AFileChangedSinceItsCopyIsNotRegistered) {
    for (const char* name : {"A.DLL", "B.EXE", "T.TLB"}) {
        Deployment d;
        const std::string path = std::string("C:\\Vantrel\\") + name;
        d.os.AddFile(path, "planted");
        d.os.typeLibraries.insert(platform::AnsiToWide(path));
        d.state.Registrations.push_back({path, "", false, nullptr, 0, 1, "", "digest of what was installed", nullptr});
        if (name[0] == 'A') d.state.Registrations.back().command = kRegsvr32 + "\"" + path + "\"";
        if (name[0] == 'B') d.state.Registrations.back().command = "\"" + path + "\" /RegServer";
        d.Wait();
        EXPECT_TRUE(d.os.programs.empty()) << name;
        EXPECT_TRUE(d.os.registeredTypeLibraries.empty()) << name;
        EXPECT_EQ(d.window.texts, std::vector<std::string>{"Could not register file " + path}) << name;
    }
}

// Code runs as an administrator only from a file and a folder that nobody
// else may change: where others may, neither regsvr32 nor the server runs,
// now or at the next logon, and the log says why and what to do. The 95
// family has no accounts: there it registers as before.
TEST(DeployTest, NoCodeRunsFromAFileOrFolderOthersMayChange) {
    const platform::Sid everyone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    const platform::Sid someUser = {1, 2, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xE9, 3, 0, 0};
    const platform::Sid admins = platform::AdministratorsSid();
    const struct {
        std::string guarded;
        platform::Guard guard;
        std::string why;
    } cases[] = {
        {kProduct, {admins, {admins, everyone}, false}, kProduct + ": S-1-1-0 (Everyone) may change it"},
        {kProduct + "\\A.EXE", {someUser, {admins}, false}, ": its owner S-1-5-21-1001 may change it"},
        {kProduct, {{}, {}, true}, kProduct + ": anyone (it has no access list) may change it"},
        {kProduct + "\\A.EXE", {}, ": who may change it cannot be read"},
    };
    for (const auto& c : cases)
        for (const bool inUse : {false, true})
            for (const bool family95 : {false, true}) {
                Deployment d;
                d.List("", "A.EXE", "EXE");
                const std::string dest = kProduct + "\\A.EXE";
                if (family95) d.os.platformId = 1;
                if (inUse) {
                    d.os.AddFile(dest, "old");
                    d.state.FilesInUse = {dest};
                    if (c.guarded != kProduct) d.os.guards[dest + ".1" + setup::kReplacementSuffix] = c.guard;
                }
                d.os.guards[c.guarded] = c.guard;
                setup::Context ctx{d.state, d.os, d.forms};
                d.state.Log.Open(ctx);
                d.Deploy();
                d.Wait();
                const std::string trace = c.why + (inUse ? " in use" : "") + (family95 ? " 95" : "");
                const bool runs = family95;
                EXPECT_EQ(d.os.programs.size(), runs && !inUse ? 1u : 0u) << trace;
                EXPECT_EQ(d.os.machineStrings[setup::kRunOnceKey].count(dest), runs && inUse ? 1u : 0u) << trace;
                if (runs) continue;
                EXPECT_EQ(d.window.texts, std::vector<std::string>{"Could not register file " +
                                                                   (inUse ? dest + ".1" + setup::kReplacementSuffix
                                                                          : dest) +
                                                                   ": others may change it; the package needs class data"})
                    << trace;
                EXPECT_EQ(d.state.Summary.registrationFailures, 1) << trace;
                EXPECT_TRUE(std::any_of(d.os.LogLines().begin(), d.os.LogLines().end(), [&](const std::string& l) {
                    return l.find(c.why) != std::string::npos && l.find("lucheck --harvest") != std::string::npos;
                })) << trace;
            }
}

struct RegistrationCase {
    std::string extension;
    std::vector<std::string> programs;
    bool typeLibrary;
};

void PrintTo(const RegistrationCase& c, std::ostream* os) { *os << c.extension; }

class RegistrationTest : public ::testing::TestWithParam<RegistrationCase> {};

TEST_P(RegistrationTest, ByExtension) {
    const auto& c = GetParam();
    Deployment d;
    d.List("", "X." + c.extension, c.extension);
    d.os.typeLibraries.insert(u"C:\\Vantrel\\X.TLB");
    d.Deploy();
    EXPECT_EQ(d.Content("C:\\Vantrel\\X." + c.extension), "new X." + c.extension);
    EXPECT_EQ(d.os.programs, c.programs);
    EXPECT_EQ(d.os.registeredTypeLibraries.size(), c.typeLibrary ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Extensions, RegistrationTest,
    ::testing::Values(RegistrationCase{"DLL", {kRegsvr32 + "\"C:\\Vantrel\\X.DLL\""}, false},
                      RegistrationCase{"OCX", {kRegsvr32 + "\"C:\\Vantrel\\X.OCX\""}, false},
                      RegistrationCase{"EXE", {"\"C:\\Vantrel\\X.EXE\" /RegServer"}, false},
                      RegistrationCase{"TLB", {}, true}, RegistrationCase{"HLP", {}, false},
                      RegistrationCase{"TXT", {}, false}, RegistrationCase{"dll", {}, false}));

// Minimised, and in the system folder, so that a DLL it needs is never
// taken from the package folder.
TEST(DeployTest, RegistrationProgramsStartMinimisedInTheSystemFolder) {
    Deployment d;
    d.List("", "A.DLL", "DLL");
    d.List("SYS\\", "B.EXE", "EXE");
    d.Deploy();
    EXPECT_TRUE(d.Journaled("run " + kRegsvr32 + "\"C:\\Vantrel\\A.DLL\" style 2"));
    EXPECT_TRUE(d.Journaled("run \"C:\\Vantrel\\SYS\\B.EXE\" /RegServer style 2"));
    EXPECT_EQ(d.os.programFolders, (std::vector<std::string>{kSystem, kSystem}));
}

// Registrations start in list order, a few at a time, and the rest as
// programs end.
TEST(DeployTest, AtMostEightRegistrationsRunAtOnce) {
    Deployment d;
    std::vector<std::string> commands;
    for (int i = 10; i < 22; ++i) {
        const std::string name = "D" + std::to_string(i) + ".DLL";
        d.List("", name, "DLL");
        commands.push_back(kRegsvr32 + "\"C:\\Vantrel\\" + name + "\"");
        d.os.runMs[commands.back()] = 1000;
    }
    d.Deploy();
    EXPECT_EQ(d.os.programs, std::vector<std::string>(commands.begin(), commands.begin() + 8));
    d.Wait();
    EXPECT_EQ(d.os.programs, commands);
    EXPECT_EQ(d.os.openPrograms, 0);
}

TEST(DeployTest, Regsvr32IsQuotedWhenItsFolderHasASpace) {
    Deployment d;
    d.state.SystemDirectory = "D:\\My Windows\\System ";
    d.List("", "A.DLL", "DLL");
    d.Deploy();
    EXPECT_EQ(d.os.programs,
              std::vector<std::string>{"\"D:\\My Windows\\System\\regsvr32.exe\" /s \"C:\\Vantrel\\A.DLL\""});
}

TEST(RegisterTypeLibraryTest, LoadsThePlainPath) {
    Deployment d;
    setup::Context ctx{d.state, d.os, d.forms};
    d.os.typeLibraries.insert(u"C:\\Vantrel\\A B.TLB");
    EXPECT_EQ(setup::RegisterTypeLibraryResult(ctx, "\"C:\\Vantrel\\A B.TLB\""), setup::TypeLibResult::kRegistered);
    ASSERT_EQ(d.os.registeredTypeLibraries.size(), 1u);
    EXPECT_EQ(d.os.registeredTypeLibraries[0], u"C:\\Vantrel\\A B.TLB");
    EXPECT_EQ(d.os.openTypeLibraries, 0);  // released
    EXPECT_EQ(setup::RegisterTypeLibraryResult(ctx, "\"C:\\Vantrel\\BROKEN.TLB\""), setup::TypeLibResult::kNotLoaded);
    EXPECT_EQ(d.os.registeredTypeLibraries.size(), 1u);
    EXPECT_EQ(d.os.openTypeLibraries, 0);
}

// What a registration program's end means, and when it is tried again.
struct ResultCase {
    const char* name;
    std::string extension;
    std::deque<uint32_t> exitCodes;
    uint32_t runMs;
    std::size_t runs;          // how often the program is started
    std::string logFragment;   // in the file's last log line; empty: registered
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

class RegistrationResultTest : public ::testing::TestWithParam<ResultCase> {};

TEST_P(RegistrationResultTest, IsKnownBeforeTheInstallGoesOn) {
    const auto& c = GetParam();
    Deployment d;
    d.List("SERVER\\", "A." + c.extension, c.extension);
    d.List("SERVER\\", "B.TXT", "TXT");  // listed after: in place before any registration
    const std::string file = kProduct + "\\A." + c.extension;
    const std::string command =
        c.extension == "EXE" ? "\"" + file + "\" /RegServer" : kRegsvr32 + "\"" + file + "\"";
    d.os.exitCodes[command] = c.exitCodes;
    d.os.runMs[command] = c.runMs;
    d.Deploy();
    setup::Context ctx{d.state, d.os, d.forms};
    d.state.Log.Open(ctx);
    d.Wait();

    EXPECT_EQ(d.os.programs.size(), c.runs);
    EXPECT_EQ(d.os.openPrograms, 0);  // every handle closed, a program still running included
    const std::string failure = "Could not register file " + file;
    const bool failed = !c.logFragment.empty();
    EXPECT_EQ(d.window.texts, failed ? std::vector<std::string>{failure} : std::vector<std::string>{});
    EXPECT_EQ(d.state.Summary.registrationFailures, failed ? 1 : 0);
    const std::string last = d.os.LogLines().back();
    EXPECT_NE(last.find(failed ? c.logFragment : ": registered ("), std::string::npos) << last;
    // Registrations start only once every file is in place.
    const auto copyB =
        std::find(d.journal.begin(), d.journal.end(), "copy " + kServer + "\\B.TXT -> " + kProduct + "\\B.TXT");
    EXPECT_EQ(std::count_if(copyB, d.journal.end(), [](const std::string& e) { return e.rfind("run ", 0) == 0; }),
              static_cast<std::ptrdiff_t>(c.runs));
    if (c.runMs == fakes::FakeOs::kRunsForever) {
        EXPECT_GE(d.os.now, setup::kRegistrationLimitMs);
        EXPECT_GT(d.forms.waits, 1);  // the window answered meanwhile
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RegistrationResultTest,
    ::testing::Values(ResultCase{"Registered", "DLL", {0}, 300, 1, ""},
                      ResultCase{"EntryPointFails", "DLL", {5}, 0, 1, "ended with 5 (DllRegisterServer failed)"},
                      ResultCase{"NoEntryPoint", "OCX", {4}, 0, 1, "ended with 4 (no DllRegisterServer)"},
                      ResultCase{"ServerExitsNonZero", "EXE", {7}, 0, 1, "/RegServer ended with 7"},
                      ResultCase{"LoadsOnTheSecondTry", "DLL", {3, 0}, 0, 2, ""},
                      ResultCase{"NeverLoads", "DLL", {3, 3}, 0, 2,
                                 "ended with 3 (could not load the file or a DLL it needs)"},
                      ResultCase{"StillRunning", "DLL", {0}, fakes::FakeOs::kRunsForever, 1,
                                 "still running after 60 s; result unknown"}));

}  // namespace
