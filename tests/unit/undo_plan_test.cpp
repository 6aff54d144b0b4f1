// The install record, written and read back, and the undo planner's
// decisions against what the machine holds now.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "setup/install_record.h"
#include "platform/text.h"
#include "setup/undo_plan.h"
#include "setup/verify.h"

using setup::RecordEntry;
using setup::RecordKind;
using setup::UndoAction;

namespace {

TEST(InstallRecordTest, LinesReadBackAsWritten) {
    const std::vector<RecordEntry> written = {
        {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", "C:\\Program Files\\Vantrel"}},
        {RecordKind::kSetting, {"C:\\V\\Sys\\TOVASK.INI", "WEB", "UPDATEONLINE", "value", "a\tb%0D\r\n", "W"}},
        {RecordKind::kStartMenu, {"Program Manager", "Vantrel - Ver 1.30", "Vantrel - Live Update"}}};
    std::string text = setup::RecordHeading();
    for (const RecordEntry& entry : written) text += setup::FormatRecordLine(entry) + "\r\n";
    const auto read = setup::ParseRecord(text + "unknown kind\tfrom a later version\r\n");
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].kind, written[i].kind);
        EXPECT_EQ(read[i].fields, written[i].fields);
    }
}

// A kill while the last line is written leaves it cut anywhere: the line
// counts only once its line end is there.
TEST(InstallRecordTest, ALastLineCutAnywhereIsLeftOut) {
    const std::string first = setup::FormatRecordLine({RecordKind::kKept, {"C:\\W\\S.DLL"}}) + "\r\n";
    const std::string last = setup::FormatRecordLine({RecordKind::kCreated, {"C:\\V\\A.DLL", "ab12"}}) + "\r\n";
    for (std::size_t cut = 0; cut <= last.size(); ++cut) {
        const auto read = setup::ParseRecord(first + last.substr(0, cut));
        ASSERT_EQ(read.size(), cut == last.size() ? 2u : 1u) << cut;
        if (read.size() == 2) {
            EXPECT_EQ(read[1].fields, (std::vector<std::string>{"C:\\V\\A.DLL", "ab12"}));
        }
    }
}

// A copy hashes as it goes: its "copied" line gives the digest to the
// newest line of this install naming the file, in whatever case, and
// never to an earlier install's.
TEST(InstallRecordTest, ACopiedLineGivesItsDigestToItsFilesLine) {
    const std::vector<RecordEntry> written = {
        {RecordKind::kCreated, {"C:\\V\\OLD.DLL", "", "3"}},
        {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", "C:\\V"}},
        {RecordKind::kCreated, {"C:\\V\\A.DLL", "", "3"}},
        {RecordKind::kReplaced, {"C:\\V\\B.DLL", "K\\1-B.DLL", "before", ""}},
        {RecordKind::kCopied, {"c:\\v\\b.dll", "bb"}},
        {RecordKind::kPending, {"C:\\V\\B.DLL", "W", "~LU00001.OLD", "bb", ""}},
        {RecordKind::kCopied, {"C:\\V\\B.DLL", "cc"}},
        {RecordKind::kCopied, {"C:\\V\\OLD.DLL", "dd"}},
        {RecordKind::kCopied, {"C:\\V\\A.DLL"}}};
    std::string text;
    for (const RecordEntry& entry : written) text += setup::FormatRecordLine(entry) + "\r\n";
    const auto read = setup::ParseRecord(text);
    ASSERT_EQ(read.size(), 5u);
    EXPECT_EQ(read[0].fields[1], "") << "another install's line";
    EXPECT_EQ(read[2].fields[1], "") << "a copied line without a digest";
    EXPECT_EQ(read[3].fields[3], "bb");
    EXPECT_EQ(read[4].fields[4], "cc");
}

struct World : setup::UndoWorld {
    std::map<std::string, std::string> files;  // path -> digest
    std::map<std::string, std::string> settings;
    std::map<std::string, uint32_t> counts;
    std::map<std::string, uint64_t> sizes;
    std::string FileDigest(const std::string& path) override { return files.count(path) ? files[path] : ""; }
    uint64_t FileSize(const std::string& path) override { return sizes.count(path) ? sizes[path] : 0; }
    bool SettingValue(const std::string& file, const std::string& section, const std::string& key,
                      std::string& value) override {
        const auto it = settings.find(file + "[" + section + "]" + key);
        if (it == settings.end()) return false;
        value = it->second;
        return true;
    }
    uint32_t SharedCount(const std::string& path) override { return counts.count(path) ? counts[path] : 0; }
};

const std::string kIni = "C:\\V\\Sys\\TOVASK.INI";
const std::string kSys = "C:\\W\\SYSTEM32\\";
const std::string kKept = "C:\\PF\\Vantrel Live Update\\Kept\\";
const std::vector<std::string> kAllowed = {"C:\\V", "C:\\W\\SYSTEM32", "C:\\PF\\Vantrel Live Update", "C:\\SM"};

// An install that left a temporary (killed after it), created a host file and a shared system
// file (both registered), replaced a file, wrote the settings value into a
// section it made, and a shortcut.
const std::vector<RecordEntry> kInstall = {
    {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", "C:\\V"}},
    {RecordKind::kReplaced, {"C:\\V\\R.TXT", kKept + "1\\R.TXT", "old-r", "new-r"}},
    {RecordKind::kCreated, {"C:\\V\\A.DLL", "new-a"}},
    {RecordKind::kCreated, {kSys + "S.DLL", "new-s"}},
    {RecordKind::kShared, {kSys + "S.DLL", "0"}},
    {RecordKind::kRegistered, {"regsvr32", "C:\\V\\A.DLL"}},
    {RecordKind::kRegistered, {"regsvr32", kSys + "S.DLL"}},
    {RecordKind::kSetting, {kIni, "WEB", "UPDATEONLINE", "no section", "", "WEB130"}},
    {RecordKind::kStartMenu, {"shortcut", "C:\\SM\\Vantrel - Ver 1.30\\Vantrel - Live Update.lnk"}},
    {RecordKind::kEnded, {"2026-12-07 10:30:05", "0"}},
};

// The machine as the install left it.
World Installed() {
    World w;
    w.files = {{"C:\\V\\R.TXT.new~", "new-r"}, {"C:\\V\\R.TXT", "new-r"}, {kKept + "1\\R.TXT", "old-r"},
               {"C:\\V\\A.DLL", "new-a"},         {kSys + "S.DLL", "new-s"}};
    w.settings[kIni + "[WEB]UPDATEONLINE"] = "WEB130";
    w.counts[kSys + "S.DLL"] = 1;
    return w;
}

// One line per step: the action and what it names.
std::vector<std::string> Plan(const std::vector<RecordEntry>& record, World& world) {
    static const char* const kWords[] = {"remove temporary", "delete", "restore", "unregister", "set setting",
                                         "remove setting", "lower shared", "remove shared", "remove shortcut",
                                         "remove item", "withdraw", "leave", "register again"};
    std::vector<std::string> lines;
    for (const setup::UndoStep& s : setup::PlanUndo(record, world, kAllowed)) {
        std::string line = std::string(kWords[static_cast<int>(s.action)]) + " " + s.path;
        if (!s.other.empty()) line += " | " + s.other;
        if (s.action == UndoAction::kSetSetting) line += " = " + s.value;
        if (s.action == UndoAction::kLowerShared) line += " to " + std::to_string(s.count);
        lines.push_back(line);
    }
    return lines;
}

TEST(UndoPlanTest, AnUntouchedInstallIsUndoneNewestFirst) {
    World w = Installed();
    EXPECT_EQ(Plan(kInstall, w),
              (std::vector<std::string>{"remove shortcut C:\\SM\\Vantrel - Ver 1.30\\Vantrel - Live Update.lnk",
                                        "remove setting " + kIni + " | WEB", "unregister " + kSys + "S.DLL | regsvr32",
                                        "unregister C:\\V\\A.DLL | regsvr32", "remove shared " + kSys + "S.DLL",
                                        "delete " + kSys + "S.DLL", "delete C:\\V\\A.DLL",
                                        "remove temporary C:\\V\\R.TXT.new~",
                                        "restore C:\\V\\R.TXT | " + kKept + "1\\R.TXT"}));
}

// What changed since the install stays, and is named; what is gone is
// passed over; a file another program still counts stays registered.
TEST(UndoPlanTest, WhatChangedSinceStays) {
    World w = Installed();
    w.files["C:\\V\\A.DLL"] = "a later host update";
    w.files.erase("C:\\V\\R.TXT.new~");
    w.files.erase(kKept + "1\\R.TXT");
    w.settings[kIni + "[WEB]UPDATEONLINE"] = "WEB140";
    w.counts[kSys + "S.DLL"] = 3;
    EXPECT_EQ(Plan(kInstall, w),
              (std::vector<std::string>{"remove shortcut C:\\SM\\Vantrel - Ver 1.30\\Vantrel - Live Update.lnk",
                                        "leave " + kIni + " | [WEB] UPDATEONLINE changed since it was written",
                                        "lower shared " + kSys + "S.DLL to 2",
                                        "leave " + kSys + "S.DLL | other programs still use it",
                                        "leave C:\\V\\A.DLL | changed since it was installed",
                                        "leave C:\\V\\R.TXT | its previous content is no longer kept"}));
}

// A kill can cut short only the last change of an install that never
// ended: a new file that is no larger than it was to be goes, also when a
// later install replaced it; the same file changed after a finished install
// stays. One whose copy never became whole (no digest) and is gone is
// passed over.
TEST(UndoPlanTest, ACopyAKillCutShortGoes) {
    std::vector<RecordEntry> record = {{RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}},
                                       {RecordKind::kCreated, {"C:\\V\\A.DLL", "new-a", "100"}},
                                       {RecordKind::kCreated, {"C:\\V\\C.DLL", "", "100"}},
                                       {RecordKind::kCreated, {"C:\\V\\B.DLL", "new-b", "100"}}};
    World w;
    w.files = {{"C:\\V\\A.DLL", "changed-a"}, {"C:\\V\\B.DLL", "partial-b"}};
    w.sizes = {{"C:\\V\\A.DLL", 10}, {"C:\\V\\B.DLL", 40}};
    EXPECT_EQ(Plan(record, w), (std::vector<std::string>{"delete C:\\V\\B.DLL",
                                                         "leave C:\\V\\A.DLL | changed since it was installed"}));
    // A later install replaced the copy cut short with a larger file: it is
    // judged as that install's undoing leaves it.
    std::vector<RecordEntry> replacedLater = record;
    replacedLater.push_back({RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}});
    replacedLater.push_back({RecordKind::kReplaced, {"C:\\V\\B.DLL", kKept + "1-B.DLL", "partial-b", "newer-b"}});
    World later = w;
    later.files["C:\\V\\B.DLL"] = "newer-b";
    later.files[kKept + "1-B.DLL"] = "partial-b";
    later.sizes = {{"C:\\V\\A.DLL", 10}, {"C:\\V\\B.DLL", 150}, {kKept + "1-B.DLL", 40}};
    EXPECT_EQ(Plan(replacedLater, later),
              (std::vector<std::string>{"restore C:\\V\\B.DLL | " + kKept + "1-B.DLL", "delete C:\\V\\B.DLL",
                                        "leave C:\\V\\A.DLL | changed since it was installed"}));
    record.push_back({RecordKind::kEnded, {"d", "0"}});
    EXPECT_EQ(Plan(record, w), (std::vector<std::string>{"leave C:\\V\\B.DLL | changed since it was installed",
                                                         "leave C:\\V\\A.DLL | changed since it was installed"}));
}

// What /verify asks beyond the removal: nothing registered, no entry.
struct VerifyView : World, setup::VerifyWorld {
    std::string FileDigest(const std::string& path) override { return World::FileDigest(path); }
    uint64_t FileSize(const std::string& path) override { return World::FileSize(path); }
    bool SettingValue(const std::string& file, const std::string& section, const std::string& key,
                      std::string& value) override {
        return World::SettingValue(file, section, key, value);
    }
    uint32_t SharedCount(const std::string& path) override { return World::SharedCount(path); }
    bool FileExists(const std::string& path) override { return files.count(path) != 0; }
    bool MachineString(const std::string&, const std::string&, std::string&) override { return false; }
    std::vector<std::string> RegisteredPaths(const std::string&, const std::string&, const std::string&,
                                             bool& known) override {
        known = false;
        return {};
    }
};

// A size past 4 GiB keeps every digit through the record line: the removal
// takes a smaller file for a copy cut short, and /verify names both sizes.
TEST(UndoPlanTest, SizesPast4GiBKeepEveryDigit) {
    const uint64_t whole = (5ull << 30) + 7;
    std::string text;
    for (const RecordEntry& entry :
         std::vector<RecordEntry>{{RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}},
                                  {RecordKind::kCreated, {"C:\\V\\BIG.DAT", "", platform::Number64(whole)}}})
        text += setup::FormatRecordLine(entry) + "\r\n";
    const std::vector<RecordEntry> record = setup::ParseRecord(text);
    VerifyView w;
    w.files = {{"C:\\V\\BIG.DAT", "partial"}};
    w.sizes = {{"C:\\V\\BIG.DAT", whole - 1}};
    EXPECT_EQ(Plan(record, w), std::vector<std::string>{"delete C:\\V\\BIG.DAT"});
    std::vector<RecordEntry> ended = record;
    ended[1].fields[1] = "installed";
    ended.push_back({RecordKind::kEnded, {"d", "0"}});
    const auto differences = setup::VerifyRecord(ended, w, {"C:\\PF", {}});
    ASSERT_FALSE(differences.empty());
    EXPECT_EQ(setup::DifferenceLine(differences[0]),
              "C:\\V\\BIG.DAT: the record holds SHA-256 installed, 5368709127 bytes; the machine holds SHA-256 "
              "partial, 5368709126 bytes");
}

// A host file that two installs replaced and registered: each content is
// unregistered while it is in place, and the host's own, once back, is
// registered again, as ours took its registration. Content whose previous
// one cannot come back stays registered.
TEST(UndoPlanTest, AReplacedHostFileIsRegisteredAgainOnceItIsBack) {
    const std::vector<RecordEntry> record = {
        {RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}},
        {RecordKind::kReplaced, {"C:\\V\\H.DLL", kKept + "1-H.DLL", "host-h", "new-h"}},
        {RecordKind::kRegistered, {"regsvr32", "C:\\V\\H.DLL"}},
        {RecordKind::kEnded, {"d", "0"}},
        {RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}},
        {RecordKind::kReplaced, {"C:\\V\\H.DLL", kKept + "2-H.DLL", "new-h", "newer-h"}},
        {RecordKind::kRegistered, {"regsvr32", "C:\\V\\H.DLL"}},
        {RecordKind::kEnded, {"d", "0"}}};
    World w;
    w.files = {{"C:\\V\\H.DLL", "newer-h"}, {kKept + "1-H.DLL", "host-h"}, {kKept + "2-H.DLL", "new-h"}};
    EXPECT_EQ(Plan(record, w),
              (std::vector<std::string>{"unregister C:\\V\\H.DLL | regsvr32", "restore C:\\V\\H.DLL | " + kKept + "2-H.DLL",
                                        "unregister C:\\V\\H.DLL | regsvr32", "restore C:\\V\\H.DLL | " + kKept + "1-H.DLL",
                                        "register again C:\\V\\H.DLL | regsvr32"}));
    w.files.erase(kKept + "1-H.DLL");
    EXPECT_EQ(Plan(record, w),
              (std::vector<std::string>{"unregister C:\\V\\H.DLL | regsvr32", "restore C:\\V\\H.DLL | " + kKept + "2-H.DLL",
                                        "leave C:\\V\\H.DLL | its previous content is no longer kept"}));
}

// Two installs: the second replaced the file again and wrote the value
// again. One uninstall goes back to before the first; a killed install's
// file set aside between its renames (both temporaries beside it) comes
// back too, but not a file gone since for any other reason.
TEST(UndoPlanTest, TwoInstallsGoBackToBeforeTheFirst) {
    std::vector<RecordEntry> record = {
        {RecordKind::kReplaced, {"C:\\V\\R.TXT", kKept + "1\\R.TXT", "old-r", "new-r"}},
        {RecordKind::kSetting, {kIni, "WEB", "UPDATEONLINE", "value", "WEB110", "WEB130"}},
        {RecordKind::kReplaced, {"C:\\V\\R.TXT", kKept + "2\\R.TXT", "new-r", "newer-r"}},
        {RecordKind::kSetting, {kIni, "WEB", "UPDATEONLINE", "value", "WEB130", "WEB140"}},
        {RecordKind::kReplaced, {"C:\\V\\B.TXT", kKept + "2\\B.TXT", "old-b", "new-b"}}};
    World w;
    w.files = {{"C:\\V\\R.TXT", "newer-r"}, {kKept + "1\\R.TXT", "old-r"}, {kKept + "2\\R.TXT", "new-r"},
               {kKept + "2\\B.TXT", "old-b"},  // B.TXT set aside when the install was killed
               {"C:\\V\\B.TXT.old~", "old-b"}, {"C:\\V\\B.TXT.new~", "new-b"}};
    w.settings[kIni + "[WEB]UPDATEONLINE"] = "WEB140";
    const std::vector<std::string> rest = {"set setting " + kIni + " | WEB = WEB130",
                                           "restore C:\\V\\R.TXT | " + kKept + "2\\R.TXT",
                                           "set setting " + kIni + " | WEB = WEB110",
                                           "restore C:\\V\\R.TXT | " + kKept + "1\\R.TXT"};
    // Torn between its renames: the restore comes before the temporaries go.
    std::vector<std::string> expected = {"restore C:\\V\\B.TXT | " + kKept + "2\\B.TXT",
                                         "remove temporary C:\\V\\B.TXT.new~", "remove temporary C:\\V\\B.TXT.old~"};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(Plan(record, w), expected);
    w.files.erase("C:\\V\\B.TXT.new~");  // the new content was in place: the file was deleted since
    expected = {"remove temporary C:\\V\\B.TXT.old~",
                "leave C:\\V\\B.TXT | gone since it was installed; not put back"};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(Plan(record, w), expected);
}

// A value two installs wrote, each naming the settings file as the host
// folder was spelt then, is undone once (the first was killed before it
// wrote it), or set back to what it was before the first.
TEST(UndoPlanTest, AValueIsUndoneOnceHoweverItsFileIsSpelt) {
    const std::string upper = "C:\\V\\SYS\\TOVASK.INI";
    World w;
    w.settings[kIni + "[WEB]UPDATEONLINE"] = w.settings[upper + "[WEB]UPDATEONLINE"] = "WEB130";
    std::vector<RecordEntry> record = {{RecordKind::kSetting, {kIni, "WEB", "UPDATEONLINE", "absent", "", "WEB130"}},
                                       {RecordKind::kSetting, {upper, "WEB", "UPDATEONLINE", "absent", "", "WEB130"}}};
    EXPECT_EQ(Plan(record, w), std::vector<std::string>{"remove setting " + upper + " | WEB"});
    w.settings[kIni + "[WEB]UPDATEONLINE"] = w.settings[upper + "[WEB]UPDATEONLINE"] = "WEB140";
    record[0].fields = {kIni, "WEB", "UPDATEONLINE", "value", "WEB110", "WEB130"};
    record[1].fields = {upper, "WEB", "UPDATEONLINE", "value", "WEB130", "WEB140"};
    EXPECT_EQ(Plan(record, w), (std::vector<std::string>{"set setting " + upper + " | WEB = WEB130",
                                                         "set setting " + kIni + " | WEB = WEB110"}));
}

// The shared count is lowered once for this product, however many lines
// name the file: another program's count stays, and so does the file; nor
// is a count lowered that the kill cutting the install short kept from
// being raised (it is still what the line says it was).
TEST(UndoPlanTest, ASharedCountIsLoweredOnceAndOnlyWhenRaised) {
    const std::string dll = kSys + "S.DLL";
    std::vector<RecordEntry> record = {{RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}},
                                       {RecordKind::kCreated, {dll, "new-s", "5"}},
                                       {RecordKind::kShared, {dll, "0"}},
                                       {RecordKind::kShared, {dll, "1"}},
                                       {RecordKind::kEnded, {"d", "0"}}};
    World w;
    w.files[dll] = "new-s";
    w.counts[dll] = 2;  // this product's, and another program's since
    EXPECT_EQ(Plan(record, w), (std::vector<std::string>{"lower shared " + dll + " to 1",
                                                         "leave " + dll + " | other programs still use it"}));
    record = {{RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}},
              {RecordKind::kKept, {dll}},
              {RecordKind::kShared, {dll, "1"}}};  // killed before it raised the count
    w.counts[dll] = 1;
    EXPECT_EQ(Plan(record, w), std::vector<std::string>{});
}

// A removal killed after its `lowered` line: run again, it lowers nothing
// twice and leaves another program's file, counted and registered, alone;
// killed before the change, it makes the change. A reinstall since counts
// again, and its removal lowers once.
TEST(UndoPlanTest, ARemovalRunAgainLowersNoCountTwice) {
    const std::string dll = kSys + "S.DLL";
    std::vector<RecordEntry> record = {{RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}},
                                       {RecordKind::kCreated, {dll, "new-s", "5"}},
                                       {RecordKind::kShared, {dll, "0"}},
                                       {RecordKind::kRegistered, {"regsvr32", dll}},
                                       {RecordKind::kEnded, {"d", "0"}},
                                       {RecordKind::kRemoving, {"d"}},
                                       {RecordKind::kLowered, {dll, "2", "1"}}};
    World w;
    w.files[dll] = "new-s";
    w.counts[dll] = 1;  // the other program's, once the count was lowered
    const std::vector<std::string> leftAlone = {"leave " + dll + " | other programs still use it"};
    EXPECT_EQ(Plan(record, w), leftAlone);
    w.counts[dll] = 2;  // killed before the change
    EXPECT_EQ(Plan(record, w), (std::vector<std::string>{"lower shared " + dll + " to 1", leftAlone[0]}));
    record.push_back({RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}});
    record.push_back({RecordKind::kKept, {dll}});
    record.push_back({RecordKind::kShared, {dll, "1"}});
    record.push_back({RecordKind::kEnded, {"d", "0"}});
    EXPECT_EQ(Plan(record, w), (std::vector<std::string>{"lower shared " + dll + " to 1", leftAlone[0]}));
    EXPECT_TRUE(setup::SharedCounted(record, dll, 2));
    record.resize(7);
    EXPECT_FALSE(setup::SharedCounted(record, dll, 1)) << "a reinstall counts it again";
    EXPECT_TRUE(setup::SharedCounted(record, dll, 2)) << "the kill came before the count was lowered";
    EXPECT_TRUE(setup::RemovalInterrupted(record));
}

// A file held open without sharing can't be read: it is in use, not gone;
// ours is restored or deleted (at the restart), and its kept copy is used.
// Temporaries go only while they hold what their run wrote there: a
// user's own <name>.old~ and <name>.new~ stay.
TEST(UndoPlanTest, UnreadableIsInUseAndTemporariesAreJudgedByContent) {
    World w = Installed();
    w.files["C:\\V\\R.TXT"] = setup::kUnreadable;
    w.files["C:\\V\\A.DLL"] = setup::kUnreadable;
    w.files["C:\\V\\R.TXT.new~"] = "the user's";
    w.files["C:\\V\\R.TXT.old~"] = "the user's too";
    const std::vector<std::string> plan = Plan(kInstall, w);
    const auto has = [&](const std::string& step) { return std::count(plan.begin(), plan.end(), step) == 1; };
    EXPECT_TRUE(has("restore C:\\V\\R.TXT | " + kKept + "1\\R.TXT"));
    EXPECT_TRUE(has("delete C:\\V\\A.DLL"));
    for (const std::string& step : plan) EXPECT_EQ(step.find("remove temporary"), std::string::npos) << step;
    w.files["C:\\V\\R.TXT.old~"] = "old-r";  // the previous content, set aside by a killed rename
    EXPECT_EQ(Plan(kInstall, w).back(), "restore C:\\V\\R.TXT | " + kKept + "1\\R.TXT");
    const std::vector<RecordEntry> removal = {{RecordKind::kRemoving, {"d"}},
                                              {RecordKind::kTemporary, {"C:\\V\\R.TXT.1.back~", "old-r"}},
                                              {RecordKind::kTemporary, {"C:\\V\\B.TXT.1.back~", "old-b"}}};
    w.files["C:\\V\\R.TXT.1.back~"] = "old-r";
    w.files["C:\\V\\B.TXT.1.back~"] = "a user's";
    EXPECT_EQ(Plan(removal, w), std::vector<std::string>{"remove temporary C:\\V\\R.TXT.1.back~"});
    // Its size, from its folder, tells a host's change of it all the same.
    const std::vector<RecordEntry> sized = {
        {RecordKind::kBegun, {"d", "1.0.0.0", "Vantrel", "C:\\V"}},
        {RecordKind::kReplaced, {"C:\\V\\R.TXT", kKept + "1\\R.TXT", "old-r", "new-r", "5"}}};
    const auto planned = [&](const std::string& step) {
        const std::vector<std::string> steps = Plan(sized, w);
        return std::find(steps.begin(), steps.end(), step) != steps.end();
    };
    w.sizes["C:\\V\\R.TXT"] = 5;
    EXPECT_TRUE(planned("restore C:\\V\\R.TXT | " + kKept + "1\\R.TXT"));
    w.sizes["C:\\V\\R.TXT"] = 73;
    EXPECT_TRUE(planned("leave C:\\V\\R.TXT | changed since it was installed"));
}

// A record naming files outside the host, system, Start-menu and record
// folders changes nothing there, a way up out of the host folder and a kept
// copy outside included, while its files inside are undone as usual.
TEST(UndoPlanTest, NothingOutsideTheAllowedFoldersIsTouched) {
    const std::string outside = " | outside the folders an uninstall may change";
    const std::vector<RecordEntry> record = {
        {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", "C:\\V"}},
        {RecordKind::kReplaced, {"C:\\V\\R.TXT", kKept + "1\\R.TXT", "old-r", "new-r"}},
        {RecordKind::kCreated, {"C:\\Windows\\WIN.INI", "x"}},
        {RecordKind::kCreated, {"C:\\V\\A.DLL", "new-a"}},
        {RecordKind::kCreated, {"C:\\V\\..\\Windows\\B.INI", "y"}},
        {RecordKind::kReplaced, {"C:\\Windows\\SYSTEM.INI", kKept + "2\\W", "z", "x"}},
        {RecordKind::kReplaced, {"C:\\V\\S.TXT", "C:\\Windows\\S.TXT", "old-s", "new-s"}},
        {RecordKind::kTemporary, {"C:\\Windows\\T.TMP"}},
        {RecordKind::kEnded, {"2026-12-07 10:30:05", "0"}}};
    // Every file holds what the record says the install left.
    World w;
    w.files = {{"C:\\V\\R.TXT", "new-r"},          {"C:\\V\\R.TXT.new~", "new-r"},
               {kKept + "1\\R.TXT", "old-r"},      {"C:\\Windows\\WIN.INI", "x"},
               {"C:\\V\\A.DLL", "new-a"},          {"C:\\V\\..\\Windows\\B.INI", "y"},
               {"C:\\Windows\\SYSTEM.INI", "x"},  {kKept + "2\\W", "z"},
               {"C:\\V\\S.TXT", "new-s"},          {"C:\\Windows\\S.TXT", "old-s"},
               {"C:\\Windows\\T.TMP", "t"}};
    EXPECT_EQ(Plan(record, w), (std::vector<std::string>{"leave C:\\V\\S.TXT" + outside,
                                                         "leave C:\\Windows\\SYSTEM.INI" + outside,
                                                         "leave C:\\V\\..\\Windows\\B.INI" + outside,
                                                         "delete C:\\V\\A.DLL",
                                                         "leave C:\\Windows\\WIN.INI" + outside,
                                                         "remove temporary C:\\V\\R.TXT.new~",
                                                         "restore C:\\V\\R.TXT | " + kKept + "1\\R.TXT"}));
}

}  // namespace

namespace {

// Two installs before a restart, each finding C:\V\U.EXE in use: the
// second one's rename moves the first one's content aside.
const std::vector<RecordEntry> kPendingTwice = {
    {RecordKind::kBegun, {"2026-12-07 10:30:00", "1.0.0.0", "Vantrel", "C:\\V"}},
    {RecordKind::kPending, {"C:\\V\\U.EXE", "C:\\V\\U.EXE.1.new~", kKept + "1.OLD", "old-u", "new-u"}},
    {RecordKind::kBegun, {"2026-12-07 10:31:00", "1.0.0.0", "Vantrel", "C:\\V"}},
    {RecordKind::kPending, {"C:\\V\\U.EXE", "C:\\V\\U.EXE.2.new~", kKept + "2.OLD", "old-u", "newer-u"}},
};

}  // namespace

// Before the restart the replacements are withdrawn; after it, the
// previous contents go back newest first, to the one before the installs,
// also when the second install was killed between asking for its two
// renames, so that the restart moved the file aside and nothing in: the
// registration that restart ran against nothing is then made again.
TEST(UndoPlanTest, AReplacementAtTheRestartIsWithdrawnOrUndone) {
    World before;
    before.files = {{"C:\\V\\U.EXE", "old-u"}, {"C:\\V\\U.EXE.1.new~", "new-u"}, {"C:\\V\\U.EXE.2.new~", "newer-u"}};
    EXPECT_EQ(Plan(kPendingTwice, before),
              (std::vector<std::string>{"withdraw C:\\V\\U.EXE | C:\\V\\U.EXE.2.new~",
                                        "withdraw C:\\V\\U.EXE | C:\\V\\U.EXE.1.new~"}));
    World after;
    after.files = {{"C:\\V\\U.EXE", "newer-u"}, {kKept + "1.OLD", "old-u"}, {kKept + "2.OLD", "new-u"}};
    EXPECT_EQ(Plan(kPendingTwice, after),
              (std::vector<std::string>{"restore C:\\V\\U.EXE | " + kKept + "2.OLD",
                                        "restore C:\\V\\U.EXE | " + kKept + "1.OLD"}));
    World halfway;
    halfway.files = {{kKept + "1.OLD", "old-u"}, {kKept + "2.OLD", "new-u"}, {"C:\\V\\U.EXE.2.new~", "newer-u"}};
    EXPECT_EQ(Plan(kPendingTwice, halfway),
              (std::vector<std::string>{"remove temporary C:\\V\\U.EXE.2.new~",
                                        "restore C:\\V\\U.EXE | " + kKept + "2.OLD",
                                        "restore C:\\V\\U.EXE | " + kKept + "1.OLD",
                                        "register again C:\\V\\U.EXE | server"}));
    after.files.erase(kKept + "1.OLD");
    after.files["C:\\V\\U.EXE"] = "changed since";
    EXPECT_EQ(Plan(kPendingTwice, after),
              (std::vector<std::string>{"leave C:\\V\\U.EXE | changed since it was installed",
                                        "leave C:\\V\\U.EXE | changed since it was installed"}));
}
