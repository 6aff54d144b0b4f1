// The uninstall run: each kind of step carried out on the machine, files in
// use left for the restart, and how the run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/text.h"
#include "setup/deploy.h"
#include "setup/event_report.h"
#include "setup/install_record.h"
#include "setup/sha256.h"
#include "test_support.h"

using setup::RecordEntry;
using setup::RecordKind;

namespace {

const std::string kRecordFolder = "C:\\Program Files\\Vantrel Live Update";
const std::string kKept = kRecordFolder + "\\Kept\\1\\R.TXT";
const std::string kHost = "C:\\Vantrel";
const std::string kIni = kHost + "\\Sys\\TOVASK.INI";
const std::string kSystemFolder = "C:\\WINDOWS\\SYSTEM32";
const std::string kSystemDll = "C:\\WINDOWS\\SYSTEM32\\S.DLL";
const std::string kGroupFolder = "C:\\ProgramData\\Start Menu\\Programs\\Vantrel - Ver 1.30";
const std::string kGroup = "Vantrel - Ver 1.30";
const std::string kLink = kGroupFolder + "\\Vantrel - Live Update.lnk";
const std::string kRegsvr32 = "C:\\WINDOWS\\SYSTEM32\\regsvr32.exe /u /s ";

std::string Digest(const std::string& content) {
    setup::Sha256 hash;
    hash.Update(content.data(), content.size());
    return setup::ToHex(hash.Final());
}

// An install that created a registered DLL in the host folder and a shared
// one in the system directory, replaced a file (its previous content kept),
// wrote the settings value into a section it made, and made a shortcut and
// a Program Manager item. Run from the package folder, as /uninstall.
struct Uninstall : fakes::Installer {
    Uninstall() {
        state.Options.uninstall = true;
        state.Options.mode = setup::RunMode::kQuiet;
        os.folders = {kHost, kHost + "\\Sys", kRecordFolder, kRecordFolder + "\\Kept", kRecordFolder + "\\Kept\\1",
                      kGroupFolder};
        os.AddFile(kHost + "\\A.DLL", "new-a");
        os.AddFile(kSystemDll, "new-s");
        os.AddFile(kHost + "\\R.TXT", "new-r");
        os.AddFile(kKept, "old-r");
        os.AddFile(kLink);
        os.AddFile(kRecordFolder + "\\" + setup::kUninstallerName);
        os.SetIni(kIni, "WEB", "UPDATEONLINE", "WEB130");
        os.machineNumbers[setup::kSharedDllsKey][kSystemDll] = 1;
        os.machineStrings[setup::UninstallKey("Vantrel")]["DisplayName"] = "Vantrel Live Update";
        forms.dde.replies[kGroup] = "\"" + kGroup + "\",C:\\WINDOWS\\VANTREL.GRP,0\r\n";
        WriteRecord({
            {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost}},
            {RecordKind::kReplaced, {kHost + "\\R.TXT", kKept, Digest("old-r"), Digest("new-r")}},
            {RecordKind::kCreated, {kHost + "\\A.DLL", Digest("new-a")}},
            {RecordKind::kCreated, {kSystemDll, Digest("new-s")}},
            {RecordKind::kShared, {kSystemDll, "0"}},
            {RecordKind::kRegistered, {"regsvr32", kHost + "\\A.DLL"}},
            {RecordKind::kSetting, {kIni, "WEB", "UPDATEONLINE", "no section", "", "WEB130"}},
            {RecordKind::kStartMenu, {"shortcut", kLink}},
            {RecordKind::kStartMenu, {"Program Manager", "Vantrel - Ver 1.30", "Vantrel - Live Update"}},
            {RecordKind::kEnded, {"2026-12-07 10:30:05", "0"}},
        });
    }

    void WriteRecord(const std::vector<RecordEntry>& entries) {
        std::string text = setup::RecordHeading();
        for (const RecordEntry& entry : entries) text += setup::FormatRecordLine(entry) + "\r\n";
        os.AddFile(kRecordFolder + "\\" + setup::kRecordFileName, text);
    }

    // The whole run, as WinMain has it: the load, the removal, the exit code.
    int Run() {
        try {
            window->Form_Load();
            forms.RunScheduled();
        } catch (const fakes::ProgramEnded&) {
        }
        return End();
    }

    std::size_t Position(const std::string& entry) const {
        return std::find(journal.begin(), journal.end(), entry) - journal.begin();
    }
    bool Logged(const std::string& line) const {
        const auto& log = os.LogLines();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
};

TEST(UninstallTest, AQuietRemovalPutsTheMachineBackAsItWas) {
    Uninstall u;
    EXPECT_EQ(u.Run(), 0);
    for (const std::string& gone : {kHost + "\\A.DLL", kSystemDll, kKept, kLink,
                                    kRecordFolder + "\\" + setup::kRecordFileName,
                                    kRecordFolder + "\\" + setup::kUninstallerName})
        EXPECT_EQ(u.os.files.count(gone), 0u) << gone;
    EXPECT_EQ(u.os.files[kHost + "\\R.TXT"].content, "old-r");
    EXPECT_EQ(u.os.ini[kIni].count("WEB"), 0u);
    EXPECT_EQ(u.os.ini[kIni]["Tovask"]["Ver"], "1.30");
    EXPECT_TRUE(u.os.machineNumbers[setup::kSharedDllsKey].empty());
    EXPECT_TRUE(u.os.machineStrings.empty());
    EXPECT_EQ(u.os.folders, (fakes::NoCaseSet{kHost, kHost + "\\Sys"}));
    EXPECT_TRUE(u.os.atRestart.empty());
    EXPECT_EQ(u.forms.dde.executed,
              (std::vector<std::string>{"[ShowGroup(Vantrel - Ver 1.30,1)]", "[DeleteItem(Vantrel - Live Update)]",
                                        "[DeleteGroup(Vantrel - Ver 1.30)]"}));
    // Unregistered, in the system folder, before the file goes.
    EXPECT_LT(u.Position("run " + kRegsvr32 + "\"" + kHost + "\\A.DLL\" style 2"),
              u.Position("delete " + kHost + "\\A.DLL"));
    EXPECT_EQ(u.os.programFolders, std::vector<std::string>{kSystemFolder});
    EXPECT_NE(u.os.LogLines().front().find("; quiet; uninstall"), std::string::npos);
    EXPECT_EQ(u.os.LogLines().back(), "Removed; exit code 0");
}

// Unregistering runs the file's code: where others may change the host
// folder it is not run, and the removal ends with 1603, saying why.
TEST(UninstallTest, NoUnregistrationRunsFromAFolderOthersMayChange) {
    Uninstall u;
    const platform::Sid users = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0};
    u.os.guards[kHost] = {platform::AdministratorsSid(), {users}, false};
    EXPECT_EQ(u.Run(), 1603);
    EXPECT_TRUE(u.os.programs.empty());
    EXPECT_TRUE(u.Logged(kHost + "\\A.DLL: not undone: not run: " + kHost +
                         ": S-1-5-32-545 (Users) may change it" + setup::kCodeRunAdvice));
}

// Files in use go at the next restart, in the order the steps take them,
// each under a name of its own that no later install gives a file; the
// previous content waits in a checked copy beside its file. The uninstaller
// running from the record folder goes then too, with its folder, which
// alone needs no restart.
TEST(UninstallTest, FilesInUseGoAtTheNextRestart) {
    for (const bool inUse : {false, true}) {
        Uninstall u;
        u.os.installerFolder = kRecordFolder;
        u.os.files[kRecordFolder + "\\" + setup::kUninstallerName].inUse = true;
        u.os.files[kHost + "\\A.DLL"].inUse = inUse;
        u.os.files[kHost + "\\R.TXT"].inUse = inUse;
        EXPECT_EQ(u.Run(), inUse ? 3010 : 0);
        using Change = fakes::FakeOs::RestartChange;
        std::vector<Change> expected = {{kHost + "\\A.DLL.1.del~", ""}, {kHost + "\\R.TXT.1.back~", kHost + "\\R.TXT"}};
        if (!inUse) expected.clear();
        expected.push_back({kRecordFolder + "\\" + setup::kUninstallerName + ".1.del~", ""});
        expected.push_back({kRecordFolder, ""});
        EXPECT_EQ(u.os.atRestart, expected) << inUse;
        EXPECT_EQ(u.os.files.count(kKept), 0u);
        EXPECT_EQ(u.os.files.count(kHost + "\\R.TXT.1.back~"), inUse ? 1u : 0u);
        if (inUse) {
            EXPECT_EQ(u.os.files.at(kHost + "\\R.TXT.1.back~").content, "old-r");
        }
        EXPECT_EQ(u.os.files.count(kRecordFolder + "\\" + setup::kUninstallerName), 0u) << "renamed aside";
    }
}

// The settings file is left as it was: a key the install added goes, and
// the section with it when the install made it and nothing else is in it.
TEST(UninstallTest, SettingsGoBackAsTheyWere) {
    struct Case {
        const char* state;
        const char* before;
        bool userKey;  // a key of the user's in the section
        fakes::NoCaseMap<std::string> after;
        bool sectionStays;
    };
    const Case cases[] = {
        {"no section", "", false, {}, false},
        {"no section", "", true, {{"MINE", "1"}}, true},
        {"absent", "", false, {}, true},
        {"value", "WEB110", false, {{"UPDATEONLINE", "WEB110"}}, true},
    };
    for (const Case& c : cases) {
        Uninstall u;
        u.WriteRecord({{RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost}},
                       {RecordKind::kSetting, {kIni, "WEB", "UPDATEONLINE", c.state, c.before, "WEB130"}}});
        if (c.userKey) u.os.SetIni(kIni, "WEB", "MINE", "1");
        EXPECT_EQ(u.Run(), 0) << c.state;
        EXPECT_EQ(u.os.ini[kIni].count("WEB") != 0, c.sectionStays) << c.state;
        if (c.sectionStays) {
            EXPECT_EQ(u.os.ini[kIni]["WEB"], c.after) << c.state;
        }
    }
}

// A file changed since the install is the user's: it stays, and the run
// still succeeds. What could not be undone fails the run. Both are named
// in the log and in the last message.
// The group is the host's too: it goes only when Program Manager lists
// nothing else in it, or, where it lists nothing at all, when its folder in
// the Start menu is empty.
TEST(UninstallTest, OnlyOurItemLeavesTheStartMenu) {
    const std::string userGroupFolder = "C:\\Users\\u\\Start Menu\\Programs\\" + kGroup;
    struct Case {
        const char* reply;  // null: no answer
        bool hostItem;      // the host's own shortcut in the group's folder
        bool groupDeleted;
    };
    const Case cases[] = {
        {"\"Vantrel - Ver 1.30\",C:\\WINDOWS\\VANTREL.GRP,0\r\n", false, true},
        {"\"Vantrel - Ver 1.30\",C:\\WINDOWS\\VANTREL.GRP,1\r\n\"Vantrel\",\"C:\\VANTREL\\V.EXE\",,,0,0\r\n", false,
         false},
        {nullptr, true, false},
        {nullptr, false, false},
    };
    for (const Case& c : cases) {
        Uninstall u;
        u.os.files.erase(kLink);
        u.os.folders.insert(userGroupFolder);
        if (c.hostItem) u.os.AddFile(userGroupFolder + "\\Vantrel.lnk");
        if (c.reply) u.forms.dde.replies[kGroup] = c.reply; else u.forms.dde.replies.clear();
        EXPECT_EQ(u.Run(), 0);
        const auto& sent = u.forms.dde.executed;
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "[DeleteGroup(" + kGroup + ")]"), c.groupDeleted ? 1 : 0);
        EXPECT_EQ(u.os.folders.count(userGroupFolder), c.reply || c.hostItem ? 1u : 0u)
            << "without a list, an empty folder goes";
        EXPECT_EQ(u.os.files.count(userGroupFolder + "\\Vantrel.lnk"), c.hostItem ? 1u : 0u);
    }
}

TEST(UninstallTest, WhatStaysIsNamedAndOnlyFailuresFailTheRun) {
    Uninstall changed;
    changed.state.Options.mode = setup::RunMode::kAttended;
    changed.forms.messageAnswers = {platform::kAnswerYes};
    changed.os.files[kHost + "\\R.TXT"].content = "the user's";
    EXPECT_EQ(changed.Run(), 0);
    EXPECT_EQ(changed.os.files[kHost + "\\R.TXT"].content, "the user's");
    EXPECT_TRUE(changed.Logged(kHost + "\\R.TXT: left as it is: changed since it was installed"));
    ASSERT_EQ(changed.forms.messages.size(), 2u);
    EXPECT_NE(changed.forms.messages[1].text.find(kHost + "\\R.TXT: changed since it was installed"),
              std::string::npos);

    Uninstall failed;
    failed.os.exitCodes[kRegsvr32 + "\"" + kHost + "\\A.DLL\""] = {5};
    EXPECT_EQ(failed.Run(), 1603);
    EXPECT_TRUE(failed.Logged(kHost + "\\A.DLL: not undone: could not unregister: " + kRegsvr32 + "\"" + kHost +
                              "\\A.DLL\" ended with 5"));
    EXPECT_EQ(failed.os.LogLines().back(), "Removed with failures; exit code 1603");

    // A previous content that does not come back whole stays kept, for
    // another removal; the file stays as it is.
    for (const bool torn : {false, true}) {  // the copy refused, or written but not whole
        Uninstall uncopied;
        (torn ? uncopied.os.tornCopies : uncopied.os.copyRefused).insert(kHost + "\\R.TXT.1.back~");
        EXPECT_EQ(uncopied.Run(), 1603) << torn;
        EXPECT_EQ(uncopied.os.files.at(kHost + "\\R.TXT").content, "new-r") << torn;
        EXPECT_EQ(uncopied.os.files.at(kKept).content, "old-r") << torn;
        EXPECT_EQ(uncopied.os.files.count(kHost + "\\R.TXT.1.back~"), 0u) << torn;
    }
}

// Each path is checked as its step runs, whatever the plan decided: a
// link planted in the host folder since the install, or a record line that
// names a file outside the folders an uninstall may change, stops that step
// and fails the run.
TEST(UninstallTest, EveryPathIsCheckedAsTheStepRuns) {
    Uninstall linked;
    linked.os.reparsePoints.insert(kHost);
    EXPECT_EQ(linked.Run(), 1603);
    EXPECT_EQ(linked.os.files[kHost + "\\A.DLL"].content, "new-a");
    EXPECT_EQ(linked.os.files[kHost + "\\R.TXT"].content, "new-r");
    EXPECT_TRUE(linked.Logged(kHost + "\\R.TXT: not undone: a link or junction leads to it"));

    Uninstall outside;
    const std::string notepad = "C:\\WINDOWS\\NOTEPAD.EXE";
    outside.os.AddFile(notepad, "the system's");
    outside.WriteRecord({{RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost}},
                         {RecordKind::kStartMenu, {"shortcut", notepad}},
                         {RecordKind::kEnded, {"2026-12-07 10:30:05", "0"}}});
    EXPECT_EQ(outside.Run(), 1603);
    EXPECT_EQ(outside.os.files[notepad].content, "the system's");
}

// How the run ends before anything is removed, and after.
TEST(UninstallTest, ExitCodes) {
    struct Case {
        const char* what;
        std::function<void(Uninstall&)> arrange;
        int code;
        bool removed;
    };
    const Case cases[] = {
        {"no record", [](Uninstall& u) { u.os.files.erase(kRecordFolder + "\\" + setup::kRecordFileName); }, 1605,
         false},
        {"no record, no list",
         [](Uninstall& u) {
             u.os.installerFolder = kRecordFolder;
             u.os.files.erase(kRecordFolder + "\\" + setup::kRecordFileName);
         },
         1605, false},
        {"a record planted beside the installer, none in Program Files",
         [](Uninstall& u) {
             u.os.files[u.server.Path() + "\\" + setup::kRecordFileName] =
                 u.os.files.at(kRecordFolder + "\\" + setup::kRecordFileName);
             u.os.files.erase(kRecordFolder + "\\" + setup::kRecordFileName);
         },
         1605, false},
        {"a system name that leads out of Program Files",
         [](Uninstall& u) { u.WriteList("..\\Program Files\\Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110\r\n"); },
         1605, false},
        {"a record folder that others may change",
         [](Uninstall& u) {
             const platform::Sid users = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0};
             u.os.guards[kRecordFolder] = {platform::AdministratorsSid(), {users}, false};
         },
         1603, false},
        {"a link to the record folder", [](Uninstall& u) { u.os.reparsePoints.insert(kRecordFolder); }, 1603, false},
        {"another run", [](Uninstall& u) { u.os.lockHeldElsewhere = true; }, 1618, false},
        {"answered No",
         [](Uninstall& u) {
             u.state.Options.mode = setup::RunMode::kAttended;
             u.forms.messageAnswers = {7};
         },
         1602, false},
        {"answered Yes",
         [](Uninstall& u) {
             u.state.Options.mode = setup::RunMode::kAttended;
             u.forms.messageAnswers = {platform::kAnswerYes};
         },
         0, true},
        {"passive", [](Uninstall& u) { u.state.Options.mode = setup::RunMode::kPassive; }, 0, true},
    };
    for (const Case& c : cases) {
        Uninstall u;
        c.arrange(u);
        EXPECT_EQ(u.Run(), c.code) << c.what;
        EXPECT_EQ(u.os.files.count(kHost + "\\A.DLL") == 0, c.removed) << c.what;
        const bool attended = u.state.Options.mode == setup::RunMode::kAttended;
        if (attended) {
            ASSERT_FALSE(u.forms.messages.empty()) << c.what;
            EXPECT_EQ(u.forms.messages[0].text, "Remove Vantrel - Live Update from this computer?");
            EXPECT_EQ(u.forms.messages[0].flags, platform::kMsgYesNoQuestion);
            EXPECT_EQ(u.forms.messages[0].title, "Remove Vantrel Live Update");
        } else {
            EXPECT_TRUE(u.forms.messages.empty()) << c.what;
        }
    }
}

// An uninstall before the restart withdraws a replacement waiting for it:
// its registration goes, and the renames the install asked for are followed
// by their reverse: the restart deletes what it moved in and moves the file
// back. The waiting copy keeps its name till then.
TEST(UninstallTest, AReplacementWaitingForTheRestartIsWithdrawn) {
    Uninstall u;
    const std::string exe = kHost + "\\U.EXE";
    const std::string waiting = exe + ".1.new~";
    const std::string kept = kRecordFolder + "\\Kept\\2.OLD";
    u.os.AddFile(exe, "old-u");
    u.os.AddFile(waiting, "new-u");
    u.os.files[exe].inUse = true;
    u.os.machineStrings[setup::kRunOnceKey][exe] = "\"" + exe + "\" /RegServer";
    u.WriteRecord({
        {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost}},
        {RecordKind::kPending, {exe, waiting, kept, Digest("old-u"), Digest("new-u")}},
        {RecordKind::kRegistered, {"server", exe}},
        {RecordKind::kEnded, {"2026-12-07 10:30:05", "3010"}},
    });
    u.os.atRestart = {{exe, kept}, {waiting, exe}};
    EXPECT_EQ(u.Run(), 0);
    EXPECT_EQ(u.os.files.count(waiting), 0u);
    EXPECT_EQ(u.os.files[exe].content, "old-u");
    EXPECT_TRUE(u.os.machineStrings[setup::kRunOnceKey].empty());
    EXPECT_TRUE(u.Logged(exe + ": its replacement at the next restart withdrawn"));
    // The names the renames still use wait with the restart, for an install
    // before it; kept before the waiting copy goes, so that a kill between
    // leaves no name free that a rename still uses.
    const std::string names = kRecordFolder + "\\" + setup::kRestartNamesFileName;
    EXPECT_EQ(u.os.records[names].lines, (std::vector<std::string>{waiting, kept}));
    EXPECT_EQ(u.os.records[names].flushed, 2u);
    EXPECT_LT(u.Position("record line " + kept), u.Position("delete " + waiting));
    u.os.Restart();
    EXPECT_EQ(u.os.files[exe].content, "old-u");
    EXPECT_EQ(u.os.files.count(waiting) + u.os.files.count(kept) + u.os.records.count(names), 0u);
}

// After the restart, before anyone logged on: the previous content, moved
// aside beside the file, is first taken into the record folder (users may
// write the host folder), then comes back; the registration still waiting
// in RunOnce goes, so that it never registers the restored file again. A
// copy a user rewrote since is theirs: it stays, and so does the file.
TEST(UninstallTest, AfterTheRestartThePreviousContentComesBackAndRunOnceGoes) {
    for (const bool rewritten : {false, true}) {
        Uninstall u;
        const std::string exe = kHost + "\\U.EXE";
        const std::string kept = kHost + "\\~LU00001.OLD";
        u.os.AddFile(exe, "new-u");
        u.os.AddFile(kept, rewritten ? "user's" : "old-u");
        u.os.files[kept].readOnly = true;
        u.os.machineStrings[setup::kRunOnceKey][exe] = "\"" + exe + "\" /RegServer";
        u.WriteRecord({
            {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost}},
            {RecordKind::kPending, {exe, exe + ".1.new~", kept, Digest("old-u"), Digest("new-u")}},
            {RecordKind::kEnded, {"2026-12-07 10:30:05", "3010"}},
        });
        const std::string taken = kRecordFolder + "\\Kept\\1-U.EXE";
        EXPECT_EQ(u.Run(), 0);
        EXPECT_EQ(u.os.files[exe].content, rewritten ? "new-u" : "old-u");
        EXPECT_EQ(u.os.files[exe].readOnly, !rewritten) << "restored with its attributes";
        EXPECT_EQ(u.os.files.count(kept), rewritten ? 1u : 0u);
        EXPECT_EQ(u.Logged(kept + ": taken into " + taken), !rewritten);
        EXPECT_EQ(u.Logged(exe + ": left as it is: its previous content is no longer kept"), rewritten);
        if (!rewritten) {
            const RecordEntry moved{RecordKind::kMoved, {kept, taken, Digest("old-u")}};
            EXPECT_LT(u.Position("record line " + setup::FormatRecordLine(moved)), u.Position("delete " + kept));
        }
        EXPECT_TRUE(u.os.machineStrings[setup::kRunOnceKey].empty());
    }
}

// ---- verifying, and each run's event

// The same machine, verified: /verify, quiet unless a test says otherwise.
struct Verify : Uninstall {
    Verify() {
        state.Options.uninstall = false;
        state.Options.verify = true;
        os.machineStrings[setup::UninstallKey("Vantrel")]["UninstallString"] =
            "\"" + kRecordFolder + "\\" + setup::kUninstallerName + "\" /uninstall";
        os.AddFile(forms.os->commonPrograms + "\\" + kGroup + "\\Vantrel - Live Update.lnk");
        os.registeredPaths["regsvr32\t" + platform::UCase(kHost + "\\A.DLL")] = {kHost + "\\A.DLL"};
    }
    std::vector<std::string> Differences() const {
        std::vector<std::string> lines;
        for (const std::string& line : os.LogLines())
            if (line.rfind("Differs: ", 0) == 0) lines.push_back(line.substr(9));
        return lines;
    }
};

TEST(VerifyTest, AnInstallAsItWasLeftIsWholeAndNothingChanges) {
    Verify v;
    const auto files = v.os.files;
    const auto strings = v.os.machineStrings;
    EXPECT_EQ(v.Run(), 0);
    EXPECT_EQ(v.Differences(), std::vector<std::string>{});
    EXPECT_EQ(v.os.LogLines().back(), "Whole; exit code 0");
    EXPECT_EQ(v.os.logs.begin()->first, "C:\\TEMP\\LiveUpdateSetup-verify.log");
    EXPECT_EQ(v.os.files.size(), files.size());
    for (const auto& [path, file] : files) EXPECT_EQ(v.os.files[path].content, file.content) << path;
    EXPECT_EQ(v.os.machineStrings, strings);
    EXPECT_TRUE(v.forms.dde.executed.empty());
    EXPECT_TRUE(v.forms.messages.empty());
    EXPECT_TRUE(v.os.programs.empty());
}

// Every kind of thing an install leaves, changed or gone since; the log
// names each, the record's holding beside the machine's.
TEST(VerifyTest, EachDifferenceIsNamedWithWhatTheRecordAndTheMachineHold) {
    Verify v;
    v.state.Options.mode = setup::RunMode::kAttended;
    v.os.files[kHost + "\\R.TXT"].content = "the host's own";
    v.os.files.erase(kSystemDll);
    v.os.files.erase(kLink);
    v.os.files.erase(v.os.commonPrograms + "\\" + kGroup + "\\Vantrel - Live Update.lnk");
    v.os.files.erase(kRecordFolder + "\\" + setup::kUninstallerName);
    v.os.SetIni(kIni, "WEB", "UPDATEONLINE", "WEB999");
    v.os.machineNumbers[setup::kSharedDllsKey].clear();
    v.os.registeredPaths["regsvr32\t" + platform::UCase(kHost + "\\A.DLL")] = {"C:\\ELSEWHERE\\A.DLL", ""};
    v.os.machineStrings[setup::UninstallKey("Vantrel")].erase("UninstallString");
    EXPECT_EQ(v.Run(), 1610);
    const std::string entry = "HKEY_LOCAL_MACHINE\\" + setup::UninstallKey("Vantrel");
    EXPECT_EQ(v.Differences(),
              (std::vector<std::string>{
                  kHost + "\\R.TXT: the record holds SHA-256 " + Digest("new-r") + "; the machine holds SHA-256 " +
                      Digest("the host's own") + ", 14 bytes",
                  kSystemDll + ": the record holds SHA-256 " + Digest("new-s") + "; the machine holds missing",
                  "shared count of " + kSystemDll + ": the record holds at least 1; the machine holds none",
                  kHost + "\\A.DLL: the record holds registered (regsvr32); the machine holds registered for "
                          "C:\\ELSEWHERE\\A.DLL",
                  kHost + "\\A.DLL: the record holds registered (regsvr32); the machine holds not registered",
                  kIni + " [WEB] UPDATEONLINE: the record holds WEB130; the machine holds WEB999",
                  kLink + ": the record holds a Start-menu shortcut; the machine holds missing",
                  "Start menu: " + kGroup + "\\Vantrel - Live Update.lnk: the record holds a Program Manager item; "
                  "the machine holds missing",
                  kRecordFolder + "\\LiveUpdateSetup.exe: the record holds the uninstaller; the machine holds missing",
                  entry + ": the record holds the Add/Remove Programs entry; the machine holds missing",
              }));
    EXPECT_EQ(v.os.LogLines().back(), "Not whole; differences: 10; exit code 1610");
    ASSERT_EQ(v.forms.messages.size(), 1u);  // attended: one message sums it up, and asks nothing
    EXPECT_EQ(v.forms.messages[0].flags, platform::kMsgExclamation);
    EXPECT_EQ(v.forms.messages[0].text.rfind("Vantrel Live Update differs from what was installed:\r\n" + kHost +
                                                 "\\R.TXT: changed since it was installed\r\n" + kSystemDll +
                                                 ": missing\r\n", 0),
              0u);
    EXPECT_NE(v.forms.messages[0].text.find("\r\n\r\nThe log: C:\\TEMP\\LiveUpdateSetup-verify.log"), std::string::npos);
}

// A killed install is not whole. Its last change may or may not have been
// made: a replacement holds either content; a copy cut short is the
// removal's to take away. A later install that ends makes it whole again.
TEST(VerifyTest, AnInterruptedInstallIsNotWholeUntilAnotherEnds) {
    for (const bool endedLater : {false, true}) {
        Verify v;
        v.os.files[kHost + "\\A.DLL"].content = "new-";  // cut short
        std::vector<RecordEntry> record = {
            {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost}},
            {RecordKind::kReplaced, {kHost + "\\R.TXT", kKept, Digest("old-r"), Digest("newer-r")}},
            {RecordKind::kBegun, {"2026-12-07 10:31:00", "1.0.0.0", "Vantrel", kHost}},
            {RecordKind::kCreated, {kSystemDll, Digest("new-s"), "5"}},
            {RecordKind::kCreated, {kHost + "\\A.DLL", "", "5"}},
        };
        if (endedLater) {
            record.push_back({RecordKind::kBegun, {"2026-12-07 10:32:00", "1.0.0.0", "Vantrel", kHost}});
            record.push_back({RecordKind::kEnded, {"2026-12-07 10:32:05", "0"}});
        }
        v.WriteRecord(record);
        v.os.files[kHost + "\\R.TXT"].content = "old-r";  // the first kill came before its move
        const std::vector<std::string> neverEnded = {
            "the install begun 2026-12-07 10:31:00: the record holds ended; the machine holds it never ended "
            "(it was interrupted)"};
        EXPECT_EQ(v.Run(), endedLater ? 0 : 1610);
        EXPECT_EQ(v.Differences(), endedLater ? std::vector<std::string>{} : neverEnded);
    }
}

// An install that ended with a failure is not whole, and says what it could
// not do (a new file whose copy failed is missing); after a removal that a
// kill ended, /verify says what it says once a removal is done, and judges
// only the installs since; the Program Manager item is looked for in the
// Start menu of the user who installed it.
TEST(VerifyTest, AFailedInstallAKilledRemovalAndTheInstallersItem) {
    const RecordEntry begun = {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost}};
    const RecordEntry created = {RecordKind::kCreated, {kHost + "\\A.DLL", Digest("new-a"), "5"}};
    const RecordEntry ended = {RecordKind::kEnded, {"2026-12-07 10:30:05", "0"}};
    const RecordEntry item = {RecordKind::kStartMenu,
                              {"Program Manager", kGroup, "Vantrel - Live Update", "C:\\Users\\u\\Programs"}};
    const std::string itemLink = "C:\\Users\\u\\Programs\\" + kGroup + "\\Vantrel - Live Update.lnk";
    const struct {
        std::vector<RecordEntry> record;
        int code;
        std::vector<std::string> differences;
    } cases[] = {
        {{begun, created, {RecordKind::kFailed, {"Source file C:\\PKG\\B.DLL not found"}},
          {RecordKind::kEnded, {"2026-12-07 10:30:05", "1603"}}},
         1610,
         {"the install begun 2026-12-07 10:30:00: the record holds done whole; the machine holds Source file "
          "C:\\PKG\\B.DLL not found"}},
        {{begun, {RecordKind::kCreated, {kHost + "\\B.DLL", "", "5"}},
          {RecordKind::kFailed, {"Could not copy B.DLL"}}, {RecordKind::kEnded, {"2026-12-07 10:30:05", "1603"}}},
         1610,
         {kHost + "\\B.DLL: the record holds a copy that was cut short; the machine holds missing",
          "the install begun 2026-12-07 10:30:00: the record holds done whole; the machine holds Could not copy "
          "B.DLL"}},
        {{begun, created, ended, {RecordKind::kRemoving, {"d"}}}, 1605, {}},
        {{begun, created, ended, {RecordKind::kRemoving, {"d"}}, begun, created, ended}, 0, {}},
        {{begun, created, item, ended}, 1610,
         {"Start menu: " + itemLink + ": the record holds a Program Manager item; the machine holds missing"}},
    };
    for (const auto& c : cases) {
        Verify v;
        v.WriteRecord(c.record);
        EXPECT_EQ(v.Run(), c.code);
        EXPECT_EQ(v.Differences(), c.differences);
        if (c.code != 1610 || c.record.size() != 4 || c.record[2].kind != RecordKind::kStartMenu) continue;
        Verify found;  // there, though not in the Programs folders of whoever verifies
        found.WriteRecord(c.record);
        found.os.AddFile(itemLink);
        EXPECT_EQ(found.Run(), 0);
    }
}

// A replacement that waits for the restart is whole while its waiting copy
// holds what was installed; a later install's content is the one checked.
TEST(VerifyTest, TheNewestInstallAndAWaitingReplacementCount) {
    Verify v;
    const std::string waiting = kHost + "\\R.TXT.1.new~";
    v.os.AddFile(waiting, "newer-r");
    v.os.files[kHost + "\\A.DLL"].content = "newer-a";
    v.WriteRecord({
        {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost}},
        {RecordKind::kCreated, {kHost + "\\A.DLL", Digest("new-a"), "5"}},
        {RecordKind::kEnded, {"2026-12-07 10:30:05", "0"}},
        {RecordKind::kBegun, {"2026-12-08 10:30:00", "1.0.0.0", "Vantrel", kHost}},
        {RecordKind::kCreated, {kHost + "\\A.DLL", Digest("newer-a"), "7"}},
        {RecordKind::kPending, {kHost + "\\R.TXT", waiting, kHost + "\\~LU00001.OLD", Digest("new-r"), Digest("newer-r")}},
        {RecordKind::kEnded, {"2026-12-08 10:30:05", "3010"}},
    });
    EXPECT_EQ(v.Run(), 0);
    EXPECT_EQ(v.Differences(), std::vector<std::string>{});
}

// The uninstaller holds what the newest install copied from itself, and
// the entry starts it by its whole path, never by a name that only begins so.
TEST(VerifyTest, TheUninstallerIsTheOneCopiedAndTheEntryStartsIt) {
    const std::string uninstaller = kRecordFolder + "\\" + setup::kUninstallerName;
    const std::string entry = "HKEY_LOCAL_MACHINE\\" + setup::UninstallKey("Vantrel");
    const struct {
        const char* content;
        std::string command;
        std::string difference;  // empty: whole
    } cases[] = {
        {"the installer", "\"" + uninstaller + "\" /uninstall", ""},
        {"the installer", uninstaller + " /uninstall", ""},
        {"another program", "\"" + uninstaller + "\" /uninstall",
         uninstaller + ": the record holds the uninstaller, SHA-256 " + Digest("the installer") +
             "; the machine holds SHA-256 " + Digest("another program") + ", 15 bytes"},
        {"the installer", "\"" + uninstaller + ".bak\" /uninstall",
         entry + ": the record holds UninstallString starting " + uninstaller + "; the machine holds \"" +
             uninstaller + ".bak\" /uninstall"},
        {"the installer", "\"" + uninstaller + " /uninstall\"",
         entry + ": the record holds UninstallString starting " + uninstaller + "; the machine holds \"" +
             uninstaller + " /uninstall\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Verify v;
        v.WriteRecord({
            {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", kHost, Digest("the installer")}},
            {RecordKind::kCreated, {kHost + "\\A.DLL", Digest("new-a"), "5"}},
            {RecordKind::kEnded, {"2026-12-07 10:30:05", "0"}},
        });
        v.os.files[uninstaller].content = c.content;
        v.os.machineStrings[setup::UninstallKey("Vantrel")]["UninstallString"] = c.command;
        EXPECT_EQ(v.Run(), c.difference.empty() ? 0 : 1610);
        EXPECT_EQ(v.Differences(), c.difference.empty() ? std::vector<std::string>{}
                                                        : std::vector<std::string>{c.difference});
    }
}

TEST(VerifyTest, NoRecordIsNotInstalled) {
    Verify v;
    v.os.files.erase(kRecordFolder + "\\" + setup::kRecordFileName);
    EXPECT_EQ(v.Run(), 1605);
    ASSERT_EQ(v.os.events.size(), 1u);
    EXPECT_EQ(v.os.events[0].id, setup::kVerifyEvent);
    EXPECT_EQ(v.os.events[0].type, platform::EventType::kError);
    EXPECT_EQ(v.os.events[0].strings[8], "Live Update is not installed");
}

// One event a run: its number says what ran, its type how it ended, and
// its strings stand where Windows Installer's have theirs.
TEST(EventTest, EachRunHasItsNumberTypeAndStrings) {
    struct Case {
        bool uninstall, verify;
        int code;
        uint32_t id;
        platform::EventType type;
        const char* meaning;
    };
    using platform::EventType;
    const Case cases[] = {
        {false, false, 0, 1033, EventType::kInformation, "installed"},
        {false, false, 3010, 1033, EventType::kInformation, "installed; restart needed"},
        {false, false, 1641, 1033, EventType::kInformation, "installed; restart started"},
        {false, false, 1602, 1033, EventType::kWarning, "cancelled"},
        {false, false, 1605, 1033, EventType::kError, "no host product"},
        {false, false, 1603, 1033, EventType::kError, "installed with failures, or not installed"},
        {true, false, 0, 1034, EventType::kInformation, "removed"},
        {true, false, 1605, 1034, EventType::kError, "not installed"},
        {false, true, 0, 1050, EventType::kInformation, "whole"},
        {false, true, 1610, 1050, EventType::kError, "not whole"},
    };
    for (const Case& c : cases) {
        setup::InstallerState s;
        s.Options.uninstall = c.uninstall;
        s.Options.verify = c.verify;
        s.SystemName = "Vantrel";
        s.ProductPath = "C:\\Vantrel";
        s.LastFileFailure = "C:\\Vantrel\\A.DLL: could not copy\r\nsecond line";
        const setup::RunEvent event = setup::EventOfRun(s, c.code, "PC\\admin", "C:\\TEMP\\LiveUpdateSetup.log");
        EXPECT_EQ(event.id, c.id) << c.code;
        EXPECT_EQ(event.type, c.type) << c.code;
        EXPECT_EQ(event.strings, (std::vector<std::string>{"Vantrel Live Update", "1.0.0.0", "1033",
                                                            std::to_string(c.code), "Vantrel", c.meaning, "C:\\Vantrel",
                                                            "not known", "C:\\Vantrel\\A.DLL: could not copy",
                                                            "PC\\admin", "C:\\TEMP\\LiveUpdateSetup.log"}));
    }
}

// The source registered with the installer's own message file, kept in the
// record folder; the removal keeps both, with the folder, and its own event
// is written. A refused event write is logged and changes nothing; an older
// message file that Event Viewer holds open still serves; without any
// message file there, the source is not registered.
TEST(EventTest, TheMessageFileOutlivesTheRemovalAndAFailedWriteChangesNothing) {
    for (const bool refused : {false, true}) {
        Uninstall u;
        const std::string messages = kRecordFolder + "\\LiveUpdateEvents.dll";
        u.os.ownResources[102] = "MZ messages";
        u.os.AddFile(messages + ".new~", "MZ mess");  // a killed run's
        if (refused) u.os.files[messages] = fakes::FakeFile{"MZ older", false, false, false, true};
        u.os.eventLogRefuses = refused;
        EXPECT_EQ(u.Run(), 0);
        EXPECT_EQ(u.os.files.count(messages + ".new~"), 0u);
        EXPECT_EQ(u.os.files[messages].content, refused ? "MZ older" : "MZ messages");
        EXPECT_EQ(u.Logged(messages + ": could not be written"), refused);
        const std::string key = std::string(setup::kEventLogKey) + "Vantrel Live Update";
        EXPECT_EQ(u.os.machineStrings[key]["EventMessageFile"], messages);
        EXPECT_EQ(u.os.machineNumbers[key]["TypesSupported"], 7u);
        EXPECT_EQ(u.os.folders.count(kRecordFolder), 1u);
        EXPECT_EQ(u.os.files.count(kRecordFolder + "\\" + setup::kRecordFileName), 0u);
        EXPECT_EQ(u.os.events.size(), refused ? 0u : 1u);
        const auto& log = u.os.LogLines();
        EXPECT_EQ(log.back(), "Removed; exit code 0");
        EXPECT_EQ(log[log.size() - 2] == "Event: could not be written to the Application event log (error 1502)",
                  refused);
    }
    Uninstall none;
    none.os.ownResources[102] = "MZ messages";
    none.os.copyRefused.insert(kRecordFolder + "\\LiveUpdateEvents.dll.new~");
    EXPECT_EQ(none.Run(), 0);
    EXPECT_EQ(none.os.files.count(kRecordFolder + "\\LiveUpdateEvents.dll"), 0u);
    EXPECT_EQ(none.os.machineStrings.count(std::string(setup::kEventLogKey) + "Vantrel Live Update"), 0u);
}

// The 95 family has no event log: the event's text is a line of its own.
TEST(EventTest, The95FamilyAppendsTheEventsTextToAFile) {
    Uninstall u;
    u.os.platformId = 1;
    u.os.versionMajor = 4;
    u.os.versionMinor = 10;
    u.os.folders.insert("C:\\WINDOWS");
    EXPECT_EQ(u.Run(), 0);
    EXPECT_TRUE(u.os.events.empty());
    const auto& lines = u.os.records["C:\\WINDOWS\\LiveUpdateSetup-events.log"].lines;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("2026-12-07 10:30:00  Information  1034  Vantrel Live Update: 1034: Vantrel Live Update |", 0),
              0u)
        << lines[0];
}

}  // namespace
