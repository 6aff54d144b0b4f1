// The lifecycle model: seeded random sequences of installs (some killed
// part-way), host updates, files held open, restarts and uninstalls on one
// machine. After a last uninstall and a restart one oracle judges it: every
// host file and setting is as before the first install, save what the host
// changed itself; nothing else was touched; nothing of ours is left; and
// every uninstall said 1603 exactly when something was not undone. A failing
// sequence is printed with its seed, then shrunk and printed again.
//
// LU_LIFECYCLE_SEQUENCES (2000) and LU_LIFECYCLE_SEED (the first seed, 1)
// choose the sequences, LU_LIFECYCLE_SECONDS stops them sooner;
// LU_LIFECYCLE_REPORTED says how many failing ones of each kind are printed
// (3), LU_LIFECYCLE_ONLY which kinds; LU_LIFECYCLE_ALLOW lets in what the
// suite leaves out (names from kAllowanceNames, comma-separated);
// LU_LIFECYCLE_TRACE prints the machine before each operation of a shrunk
// failing sequence. Without a first seed, the seeds of failures that longer
// runs found are judged too, with the allowances they were found under.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <tuple>

#include "platform/text.h"
#include "setup/deploy.h"
#include "setup/install_record.h"
#include "test_support.h"

namespace {

using fakes::FakeFile;
using fakes::FakeOs;
using fakes::NoCaseMap;

const std::string kSystemDir = "C:\\WINDOWS\\SYSTEM32";
const std::string kRecordFolder = "C:\\Program Files\\Vantrel Live Update";
const std::string kIni = "\\Sys\\TOVASK.INI";

// ---- The packages and the contents of files

struct Package {
    char name;
    const char* webIds;
    const char* body;
    std::vector<std::string> files;
};

const Package kPackages[] = {
    {'A', "WEB130,WEB131,WEB120,WEB140,WEB110",
     "FOLDER,SERVER\r\nFILE,README.TXT,LIVEUPDT.TXT,TVKUPDT.EXE,TVKCOM.DLL\r\nFOLDER,SYS\r\nFILE,TVKTYPES.TLB\r\n",
     {"README.TXT", "LIVEUPDT.TXT", "TVKUPDT.EXE", "TVKCOM.DLL", "TVKTYPES.TLB", "TVKSYS.DLL"}},
    {'B', "WEB230,WEB231,WEB220,WEB240,WEB210",
     "FOLDER,SERVER\r\nFILE,README.TXT,TVKUPDT.EXE,TVKCOM.DLL,TVKNEW.DLL\r\nFOLDER,SYS\r\n"
     "FILE,TVKTYPES.TLB,VANTREL.HLP\r\n",
     {"README.TXT", "TVKUPDT.EXE", "TVKCOM.DLL", "TVKNEW.DLL", "TVKTYPES.TLB", "VANTREL.HLP", "TVKSYS.DLL"}},
};

// "<origin>|<name>|<padding>$": whose the content is, of which file; a
// copy cut short lacks its '$'. B's TVKUPDT.EXE is A's.
std::string Content(const std::string& origin, const std::string& name, std::size_t padding) {
    return origin + "|" + name + "|" + std::string(padding, '.') + "$";
}

std::string PayloadContent(char package, const std::string& name) {
    if (name == "TVKUPDT.EXE") package = 'A';
    return Content(std::string(1, package), name, 30 + 7 * name.size() + (package == 'B' ? 11 : 0));
}

// The folders (on the host, real ones) that hold each package: UPDATE.LST
// and the payload, which the model adds to the machine.
const std::string kHostProgId = "Software\\Classes\\Vantrel.Host\\CLSID";

const std::string& PackageFolder(char package) {
    struct Folders {
        fakes::TempFolder a, b;
        Folders() {
            for (const Package& p : kPackages) {
                const std::string list = std::string("Vantrel,") + p.webIds + "\r\nSTART\r\n" + p.body +
                                         "FOLDER,SYSTEM\r\nFILE,TVKSYS.DLL\r\nEND\r\n";
                std::FILE* file = std::fopen(((p.name == 'A' ? a : b).Path() + "\\UPDATE.LST").c_str(), "wb");
                std::fwrite(list.data(), 1, list.size(), file);
                std::fclose(file);
            }
        }
    };
    static const Folders folders;
    return package == 'A' ? folders.a.Path() : folders.b.Path();
}

// The COM registrations on the machine: each content registers its keys,
// naming the file. A newer DLL or EXE registers the older one's keys and
// more; a newer type library is a version of its own. Unregistering a
// program takes away what it registers, whatever is there; a type library
// that is not registered can't be unregistered, as the system's call says.
class ComRegistry : public fakes::Registrar {
public:
    NoCaseMap<std::string> keys;  // key -> the file it names

    uint32_t Run(FakeOs& os, const std::string& commandLine) override {
        const auto open = commandLine.find('"');
        const std::string path = commandLine.substr(open + 1, commandLine.find('"', open + 1) - open - 1);
        const auto file = os.files.find(path);
        if (file == os.files.end() || KeysOf(file->second.content).empty()) return setup::kRegsvr32CouldNotLoad;
        const bool unregister =
            commandLine.find(" /u ") != std::string::npos || commandLine.find("/UnregServer") != std::string::npos;
        Change(file->second.content, path, unregister);
        return 0;
    }

    int32_t TypeLibrary(const std::string& content, const std::string& path, bool unregister) override {
        const std::vector<std::string> names = KeysOf(content);
        if (names.empty()) return static_cast<int32_t>(0x80029C4A);  // TYPE_E_CANTLOADLIBRARY
        bool registered = false;
        for (const std::string& key : names) registered |= keys.count(key) != 0;
        if (unregister && !registered) return static_cast<int32_t>(0x8002801C);  // TYPE_E_REGISTRYACCESS
        Change(content, path, unregister);
        return 0;
    }

    static std::vector<std::string> KeysOf(const std::string& content) {
        const auto bar = content.find('|');
        if (content.empty() || content.back() != '$' || bar == std::string::npos) return {};
        const std::string origin = content.substr(0, bar);
        const std::string name = content.substr(bar + 1, content.find('|', bar + 1) - bar - 1);
        const std::string extension = name.substr(name.rfind('.') + 1);
        if (extension != "DLL" && extension != "EXE" && extension != "TLB") return {};
        if (origin == "A") return {name + " 1"};
        if (origin == "B") return extension == "TLB" ? std::vector<std::string>{name + " 2"}
                                                     : std::vector<std::string>{name + " 1", name + " 2"};
        // The host's own TVKCOM.DLL has the classes the packages' have: one
        // registration, which unregistering either takes away.
        if (origin == "HOST") return {name + (name == "TVKCOM.DLL" ? " 1" : " of the host")};
        return {};
    }

private:
    void Change(const std::string& content, const std::string& path, bool unregister) {
        for (const std::string& key : KeysOf(content)) {
            if (unregister)
                keys.erase(key);
            else
                keys[key] = path;
        }
    }
};

// ---- Sequences

// The situations a sequence may hold; those off are left out, each for the
// reason above it, and LU_LIFECYCLE_ALLOW lets them in by these names.
struct Allowances {
    bool otherVolume = true;               // the host folder on D:, Program Files on C:
    bool readOnlyOriginal = true;          // a host file the packages replace is read-only
    bool installBeforeRestart = true;  // an install after an uninstall, before the restart
    // An install or host update while a kill left a replacement half done: a
    // set-aside copy, or a waiting copy whose move was never asked for (else
    // the install does not run; the host update leaves that file alone while
    // it is missing, for a host that writes and then deletes it leaves what
    // no product can tell from the tear). Off: the install does not finish such a
    // replacement before it touches the file. It copies the missing file anew
    // and a later replacement removes the set-aside copy, the only sign of
    // the tear, so the host's content is lost (the copying's part to mend).
    bool changeOverHalfDone = false;
    // A host update while changes wait for the restart (else the restart
    // comes first). Off: no product can handle it soundly. A restart rename
    // asked for before cannot be made to depend on what the file holds then,
    // and once the uninstall has gone nothing looks afterwards: the previous
    // content it put back at the restart lands over the host's newer file or
    // brings back one the host deleted.
    bool hostUpdateBeforeRestart = false;
    // A host update writing over the new file that a killed install recorded
    // last. Off: not soundly decidable. The record has only the whole copy's
    // digest and size, so a host file no larger than ours there can't be told
    // from a copy that the kill cut short, which the uninstall must delete.
    bool hostOverCutShortCopy = false;
    bool registeredHeldAtUninstall = true;  // a registered file held open during an uninstall
    bool killBeforeRecord = true;           // a kill before the install's record has its first line
    bool killAtShortcut = true;             // a kill as the Start-menu shortcut is written
    bool killAtTypeLibrary = true;          // a kill as a type library is loaded or registered
    bool killAtSystemFile = true;           // a kill as a new system file is copied or counted
    bool powerCuts = true;                  // the power cut in a run (else a kill)
};

const std::pair<const char*, bool Allowances::*> kAllowanceNames[] = {
    {"othervolume", &Allowances::otherVolume},
    {"readonlyoriginal", &Allowances::readOnlyOriginal},
    {"installbeforerestart", &Allowances::installBeforeRestart},
    {"changeoverhalfdone", &Allowances::changeOverHalfDone},
    {"hostupdatebeforerestart", &Allowances::hostUpdateBeforeRestart},
    {"hostovercutshortcopy", &Allowances::hostOverCutShortCopy},
    {"registeredheldatuninstall", &Allowances::registeredHeldAtUninstall},
    {"killbeforerecord", &Allowances::killBeforeRecord},
    {"killatshortcut", &Allowances::killAtShortcut},
    {"killattypelibrary", &Allowances::killAtTypeLibrary},
    {"killatsystemfile", &Allowances::killAtSystemFile},
    {"powercuts", &Allowances::powerCuts},
};

// The machine a sequence starts from.
struct Machine {
    bool otherVolume = false;
    bool win9x = false;          // the 95 family: no one-step replace
    bool systemDllThere = false;  // TVKSYS.DLL in the system directory before the first install
    bool systemDllCounted = false;  // and another program's shared count of it
    int settings = 0;            // before: no [WEB] section, another key in it, an earlier value
    bool readOnlyReadme = false;
    bool hostComDll = false;  // the host's own TVKCOM.DLL, registered, with the packages' classes
};

enum class Kind { kInstall, kHostUpdate, kRestart, kUninstall };

const char* const kHeld[] = {"README.TXT", "SYS\\VANTREL.HLP", "LIVEUPDT.TXT",  // then the registered ones
                             "TVKCOM.DLL", "SYS\\TVKTYPES.TLB", "TVKUPDT.EXE"};
constexpr int kFirstRegisteredHeld = 3;
const char* const kSpellings[] = {"Vantrel", "VANTREL", "vantrel"};
const char* const kHostUpdated[] = {"README.TXT", "SYS\\VANTREL.HLP", "LIVEUPDT.TXT", "NOTES.TXT"};

// What may befall an install or a removal between two of its steps: a
// kill; a power cut (what was not flushed is lost, and the machine starts
// again); or an ordinary user acting in the host folder, which they may
// write: swapping its Sys folder for a link to the Windows folder, holding
// a host file open without sharing for the rest of the run, or putting
// files of their own at names like the installer's.
enum class Fate { kNone, kKill, kPowerCut, kSwapFolder, kLockFile, kPlant };
const char* const kFates[] = {"", "killed", "power cut", "Sys swapped for a link", "a file locked", "files planted"};

// The journal entries a fate is aimed at: the nth of the run's calls of
// one kind, so that a stored seed keeps its meaning when calls are added.
const char* const kAims[] = {"record line", "record flush", "copy ",   "write copy ", "rename ",      "move ",
                             "delete ",     "clear ",       "machine ", "at restart ", "run ",        "ini write ",
                             "hold folders ", "open checked ", "shortcut ", "register type library ", "find "};
const char* const kLocked[] = {"README.TXT", "LIVEUPDT.TXT", "SYS\\VANTREL.HLP"};
const char* const kPlanted[] = {"README.TXT.old~", "~LU00007.OLD", "README.TXT.1.del~"};

struct Op {
    Kind kind = Kind::kRestart;
    char package = 'A';
    int spelling = 0;     // how the install's /dir spells the host folder
    int held = -1;        // the host file (of kHeld) held open during the run; -1: none
    Fate fate = Fate::kNone;  // of an install or a removal
    int aim = 0;          // of kAims
    int nth = 0;          // the aimed entry's number among its kind, from 1
    uint32_t update = 0;  // the host update's choices
};

struct Sequence {
    Machine machine;
    std::vector<Op> ops;  // a last uninstall and a restart follow
};

// What a host update does: each file written (the content) or deleted
// (none), and the settings value it writes.
struct HostUpdate {
    std::vector<std::pair<std::string, std::optional<std::string>>> files;
    std::optional<std::string> value;
};

HostUpdate HostUpdateOf(uint32_t choices) {
    std::mt19937 random(choices);
    HostUpdate update;
    const std::string origin = "HOST" + std::to_string(choices % 1000);
    for (const char* name : kHostUpdated) {
        const uint32_t choice = random() % 4;
        if (choice == 2) update.files.push_back({name, Content(origin, name, random() % 90)});
        if (choice == 3) update.files.push_back({name, std::nullopt});
    }
    if (random() % 2) update.value = origin;
    return update;
}

bool Allowed(const std::vector<Op>& ops, const Allowances& allow) {
    bool uninstalledBeforeRestart = false;
    for (const Op& op : ops) {
        if (op.kind == Kind::kInstall && uninstalledBeforeRestart && !allow.installBeforeRestart) return false;
        const bool holdsRegistered = op.held >= kFirstRegisteredHeld;
        if (op.kind == Kind::kUninstall && holdsRegistered && !allow.registeredHeldAtUninstall) return false;
        if (op.kind == Kind::kUninstall) uninstalledBeforeRestart = true;
        if (op.kind == Kind::kRestart) uninstalledBeforeRestart = false;
    }
    return true;
}

Op RandomOp(std::mt19937& random, const Allowances& allow) {
    Op op;
    const uint32_t pick = random() % 20;
    op.kind = pick < 8 ? Kind::kInstall : pick < 11 ? Kind::kHostUpdate : pick < 14 ? Kind::kRestart : Kind::kUninstall;
    op.package = random() % 2 ? 'A' : 'B';
    op.spelling = static_cast<int>(random() % 3);
    op.held = random() % 5 == 0 ? static_cast<int>(random() % std::size(kHeld)) : -1;
    const uint32_t fate = random() % 30;  // a third of the runs meet one
    op.fate = fate < 4 ? Fate::kKill : fate < 6 ? Fate::kPowerCut : fate < 7 ? Fate::kSwapFolder
              : fate < 9 ? Fate::kLockFile : fate < 10 ? Fate::kPlant : Fate::kNone;
    op.aim = static_cast<int>(random() % std::size(kAims));
    op.nth = 1 + static_cast<int>(random() % (op.aim + 1 == static_cast<int>(std::size(kAims)) ? 40 : 12));
    if (op.kind != Kind::kInstall && op.kind != Kind::kUninstall) op.fate = Fate::kNone;
    // A removal whose folder a user swapped away before it looked finds the
    // files gone, and leaves them: the model swaps during installs only.
    if (op.fate == Fate::kSwapFolder && op.kind != Kind::kInstall) op.fate = Fate::kKill;
    if (op.fate == Fate::kPowerCut && !allow.powerCuts) op.fate = Fate::kKill;
    op.update = random();
    return op;
}

Sequence Generate(uint32_t seed, const Allowances& allow) {
    std::mt19937 random(seed);
    Sequence s;
    const bool otherVolume = random() % 2;  // drawn whatever is allowed, so that a seed means one sequence
    s.machine.otherVolume = allow.otherVolume && otherVolume;
    s.machine.win9x = random() % 4 == 0;
    s.machine.systemDllThere = random() % 2;
    s.machine.systemDllCounted = s.machine.systemDllThere && random() % 2;
    s.machine.settings = static_cast<int>(random() % 3);
    const bool readOnlyReadme = random() % 2;
    s.machine.readOnlyReadme = allow.readOnlyOriginal && readOnlyReadme;
    const std::size_t length = 1 + random() % 8;
    while (s.ops.size() < length) {
        s.ops.push_back(RandomOp(random, allow));
        if (!Allowed(s.ops, allow)) s.ops.pop_back();
    }
    s.machine.hostComDll = random() % 2;  // drawn last: the sequences above stay what their seeds were
    return s;
}

std::string Describe(const Machine& m) {
    static const char* const kSettings[] = {"no [WEB] section", "[WEB] with another key", "an earlier value"};
    return std::string("host on ") + (m.otherVolume ? "D:" : "C:") + (m.win9x ? ", 95 family" : ", NT family") +
           (m.systemDllThere ? (m.systemDllCounted ? ", TVKSYS.DLL there and counted" : ", TVKSYS.DLL there")
                             : ", no TVKSYS.DLL") +
           ", settings: " + kSettings[m.settings] + (m.readOnlyReadme ? ", README.TXT read-only" : "") +
           (m.hostComDll ? ", the host's TVKCOM.DLL registered" : "");
}

std::string Describe(const Op& op) {
    std::string text;
    switch (op.kind) {
    case Kind::kInstall: text = std::string("install ") + op.package + " /dir ?:\\" + kSpellings[op.spelling]; break;
    case Kind::kUninstall: text = "uninstall"; break;
    case Kind::kRestart: return "restart";
    case Kind::kHostUpdate: {
        const HostUpdate update = HostUpdateOf(op.update);
        text = "host update";
        for (const auto& [name, content] : update.files)
            text += content ? ", " + name + " written (" + std::to_string(content->size()) + " bytes)"
                            : ", " + name + " deleted";
        if (update.value) text += ", value " + *update.value;
        return text;
    }
    }
    if (op.held >= 0) text += std::string(", ") + kHeld[op.held] + " held open";
    if (op.fate == Fate::kLockFile) text += std::string(", ") + kLocked[op.update % std::size(kLocked)];
    if (op.fate != Fate::kNone)
        text += std::string(", ") + kFates[static_cast<int>(op.fate)] + " at its " + std::to_string(op.nth) + ". `" +
                kAims[op.aim] + "`";
    return text;
}

// ---- One machine through one sequence

// The machine settings' keys that hold values.
template <class Keys>
Keys NonEmpty(Keys keys) {
    for (auto it = keys.begin(); it != keys.end();) it = it->second.empty() ? keys.erase(it) : std::next(it);
    return keys;
}

bool SameFile(const FakeFile& a, const FakeFile& b) {
    return a.content == b.content && a.readOnly == b.readOnly && a.hidden == b.hidden && a.system == b.system;
}

class Lifecycle {
public:
    Lifecycle(const Machine& machine, const Allowances& allow)
        : allow_(allow),
          host_(std::string(machine.otherVolume ? "D:" : "C:") + "\\Vantrel"),
          uncountedSystemDll_(machine.systemDllThere && !machine.systemDllCounted) {
        os_.registrar = &com_;
        os_.killable = [this](const std::string& call) { return Killable(call); };
        os_.platformId = machine.win9x ? 1 : 2;
        os_.moveFileExStub = machine.win9x;
        os_.settings["Vantrel\\Setup\\CS_Path"] = host_;
        os_.folders = {host_, host_ + "\\Sys", "C:\\Program Files", os_.commonPrograms, os_.userPrograms,
                       os_.commonPrograms + "\\Other"};
        SetUpHost(machine);
        SetUpSystem(machine);
        // B registers TVKNEW.DLL as data, over a value the host has already.
        os_.machineValues[kHostProgId][""] = {1, std::string("{HOST}\0", 7)};
        os_.AddFile(PackageFolder('B') + "\\CLASSES.TXT",
                    "[TVKNEW.DLL]\r\nCLSID\\{B}\\InprocServer32\t\tREG_SZ\t<file>\r\n"
                    "CLSID\\{B}\\Implemented Categories\\{C}\r\nVantrel.Host\\CLSID\t\tREG_SZ\t{B}\r\n");
        for (const Package& p : kPackages) {
            os_.AddFile(PackageFolder(p.name) + "\\UPDATE.LST");
            os_.AddFile(PackageFolder(p.name) + "\\LiveUpdateSetup.exe", "the installer");
            for (const std::string& name : p.files)
                os_.AddFile(PackageFolder(p.name) + "\\" + name, PayloadContent(p.name, name));
        }
        expectedFiles_ = os_.files;
        expectedIni_ = os_.ini;
        initial_ = {os_.folders, NonEmpty(os_.machineStrings), NonEmpty(os_.machineNumbers), com_.keys,
                    os_.machineValues};
    }

    // The operation, then /verify of what it left.
    void Apply(const Op& op) {
        if (trace) Trace(op);
        lastCode_ = kDidNotStart;
        switch (op.kind) {
        case Kind::kInstall: Install(op); break;
        case Kind::kUninstall: Uninstall(op); break;
        case Kind::kHostUpdate: Update(HostUpdateOf(op.update)); break;
        case Kind::kRestart: os_.Restart(); break;
        }
        if (op.kind == Kind::kInstall || op.kind == Kind::kUninstall) runLog_ = lastLog_;
        Verify(op);
    }

    // What is wrong with the machine once the last uninstall and a restart
    // are done: none when all is well.
    std::vector<std::string> Verdict() {
        std::vector<std::string> wrong;
        for (const std::string& call : os_.throughLink) wrong.push_back("through a link: " + call);
        CompareFiles(wrong);
        if (os_.folders != initial_.folders) wrong.push_back("folders: one made or removed");
        if (os_.ini != expectedIni_) wrong.push_back("settings file: not as it was, or as the host left it");
        if (NonEmpty(os_.machineStrings) != initial_.strings || NonEmpty(Counts()) != initial_.numbers)
            wrong.push_back("machine settings: an entry, RunOnce value or shared count left or lost");
        if (os_.machineValues != initial_.values) wrong.push_back("class values: not as they were before");
        if (!ranDataFile_.empty()) wrong.push_back(ranDataFile_);
        for (const auto& [key, path] : com_.keys)
            if (!initial_.keys.count(key)) wrong.push_back("registration " + key + ": left, naming " + path);
        for (const auto& [key, path] : initial_.keys)
            if (!com_.keys.count(key)) wrong.push_back("registration " + key + ": lost");
        if (!missingUninstaller_.empty()) wrong.insert(wrong.begin(), missingUninstaller_);
        JudgeExitCodes(wrong);
        if (!verifyWrong_.empty()) wrong.insert(wrong.begin(), verifyWrong_);
        return wrong;
    }

    const std::vector<std::string>& LastLog() const { return runLog_; }
    bool trace = false;  // print the machine before each operation

private:
    // The log of the run before, then the record, the files (but the
    // packages'), the restart's renames and the registrations before the
    // operation.
    void Trace(const Op& op) const {
        for (const std::string& line : runLog_) std::printf("    log: %s\n", line.c_str());
        std::printf("  before %s:\n", Describe(op).c_str());
        for (const auto& [path, record] : os_.records)
            for (const std::string& line : record.lines) std::printf("    record: %s\n", line.c_str());
        for (const auto& [path, file] : os_.files)
            if (path.rfind("C:\\", 0) == 0 || path.rfind("D:\\", 0) == 0)
                std::printf("    %s: %s%s\n", path.c_str(), file.content.substr(0, 30).c_str(),
                            file.readOnly ? " (read-only)" : "");
        for (const auto& change : os_.atRestart)
            std::printf("    at the restart: %s -> %s\n", change.source.c_str(), change.destination.c_str());
        for (const auto& [key, path] : com_.keys) std::printf("    registered: %s, %s\n", key.c_str(), path.c_str());
    }

    // The machine's numbers; the count of 1 that an uncounted system file
    // keeps is its earlier, unknown owner's, not ours.
    decltype(FakeOs::machineNumbers) Counts() const {
        auto numbers = os_.machineNumbers;
        const std::string dll = kSystemDir + "\\TVKSYS.DLL";
        auto& shared = numbers[setup::kSharedDllsKey];
        if (uncountedSystemDll_ && shared.count(dll) && shared[dll] == 1) shared.erase(dll);
        return numbers;
    }

    // The calls at which a kill finds a fault outside the planner, unless
    // that is let in: the kill falls on the next call instead.
    bool Killable(const std::string& call) const {
        auto starts = [&](const char* prefix) { return call.rfind(prefix, 0) == 0; };
        if (!allow_.killAtShortcut && starts("shortcut ")) return false;
        if (!allow_.killAtTypeLibrary && (starts("load type library ") || starts("register type library ")))
            return false;
        const bool systemCopy = starts("copy ") && call.find("-> " + kSystemDir) != std::string::npos;
        return allow_.killAtSystemFile || !(systemCopy || starts("record line shared"));
    }

    // Whether the path's creation is the last change of an install that
    // never ended: a file there no larger than ours then counts as the copy
    // that the kill cut short.
    bool CreationCutShort(const std::string& path) const {
        const auto record = os_.records.find(kRecordFolder + "\\" + setup::kRecordFileName);
        if (record == os_.records.end()) return false;
        std::string text;
        for (const std::string& line : record->second.lines) text += line + "\r\n";
        const std::vector<setup::RecordEntry> entries = setup::ParseRecord(text);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const bool last = i + 1 == entries.size() || entries[i + 1].kind == setup::RecordKind::kBegun;
            const auto& e = entries[i];
            if (last && e.kind == setup::RecordKind::kCreated && platform::UCase(e.fields[0]) == platform::UCase(path))
                return true;
        }
        return false;
    }

    static bool EndsWith(const std::string& path, const std::string& suffix) {
        return path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    }

    // A copy that a killed install set aside (<name>.old~) and left.
    bool SetAsideCopyLeft() const {
        for (const auto& file : os_.files)
            if (EndsWith(file.first, setup::kSetAsideSuffix)) return true;
        return false;
    }

    // Whether the file is missing, set aside by a killed install that did
    // not move anything in its place.
    bool SetAsideFileMissing(const std::string& path) const {
        return !os_.files.count(path) && os_.files.count(path + setup::kSetAsideSuffix);
    }

    // A copy waiting for the restart (<name>.<n>.new~) whose move into
    // place was never asked for: a kill came between the two renames. Of
    // the file `of` only, when it is given.
    bool MoveNeverAsked(const std::string& of = std::string()) const {
        const std::string suffix = setup::kReplacementSuffix;
        for (const auto& [path, file] : os_.files) {
            if (!EndsWith(path, suffix)) continue;
            const std::string stem = path.substr(0, path.size() - suffix.size());
            const std::size_t dot = stem.rfind('.');
            const bool numbered = dot != std::string::npos && dot + 1 < stem.size() &&
                                  stem.find_first_not_of("0123456789", dot + 1) == std::string::npos;
            const auto asked = [&](const FakeOs::RestartChange& c) { return c.source == path; };
            const bool itsFile = of.empty() || platform::UCase(stem.substr(0, dot)) == platform::UCase(of);
            if (numbered && itsFile && std::none_of(os_.atRestart.begin(), os_.atRestart.end(), asked)) return true;
        }
        return false;
    }

    // Whether the file is missing, moved aside by a restart whose rename
    // of the new content into place a kill kept the install from asking.
    bool MovedAsideFileMissing(const std::string& path) const {
        return !os_.files.count(path) && MoveNeverAsked(path);
    }

    void SetUpHost(const Machine& machine) {
        os_.AddFile(host_ + kIni, "the host's settings");
        os_.SetIni(host_ + kIni, "Tovask", "Ver", "1.30");
        if (machine.settings == 1) os_.SetIni(host_ + kIni, "WEB", "PROXY", "none");
        if (machine.settings == 2) os_.SetIni(host_ + kIni, "WEB", "UPDATEONLINE", "WEB110");
        for (const char* name : {"README.TXT", "VANTREL.EXE", "Sys\\VANTREL.HLP"})
            os_.AddFile(host_ + "\\" + name, Content("HOST", name, 50));
        os_.files[host_ + "\\README.TXT"].readOnly = machine.readOnlyReadme;
        if (!machine.hostComDll) return;
        const std::string dll = host_ + "\\TVKCOM.DLL";
        os_.AddFile(dll, Content("HOST", "TVKCOM.DLL", 50));
        for (const std::string& key : ComRegistry::KeysOf(os_.files[dll].content)) com_.keys[key] = dll;
    }

    void SetUpSystem(const Machine& machine) {
        os_.AddFile(kSystemDir + "\\OTHER.DLL", "another program's");
        os_.AddFile("C:\\WINDOWS\\WIN.INI", "the system's");
        os_.AddFile(os_.commonPrograms + "\\Other\\Other.lnk", "another program's shortcut");
        if (!machine.systemDllThere) return;
        const std::string dll = kSystemDir + "\\TVKSYS.DLL";
        os_.AddFile(dll, Content("HOST", "TVKSYS.DLL", 40));
        for (const std::string& key : ComRegistry::KeysOf(os_.files[dll].content)) com_.keys[key] = dll;
        if (machine.systemDllCounted) os_.machineNumbers[setup::kSharedDllsKey][dll] = 1;
    }

    void Install(const Op& op) {
        if (!allow_.changeOverHalfDone && (SetAsideCopyLeft() || MoveNeverAsked())) return;
        os_.installerFolder = PackageFolder(op.package);
        const std::string folder = host_.substr(0, 3) + kSpellings[op.spelling];
        lastCode_ = RunHolding("/quiet /dir \"" + folder + "\"", {HeldFile(op)}, op);
    }

    // /verify changes nothing, and says 0, 1605 or 1610: not installed right
    // after a removal, and whole right after an install that ended well
    // while the host has not changed anything (a host update may change or
    // delete a file an earlier install made and the later one does not list).
    void Verify(const Op& op) {
        hostUpdated_ = hostUpdated_ || op.kind == Kind::kHostUpdate;
        const auto machineBefore = std::make_tuple(os_.files, os_.folders, os_.ini, os_.machineStrings,
                                                   os_.machineNumbers, os_.atRestart, com_.keys, os_.machineValues);
        os_.installerFolder = PackageFolder('A');
        const int code = RunHolding("/verify /quiet", {});
        const bool installed = op.kind == Kind::kInstall && (lastCode_ == 0 || lastCode_ == 3010) && !hostUpdated_;
        const bool removed = op.kind == Kind::kUninstall && (lastCode_ == 0 || lastCode_ == 3010);
        std::string wrong;
        if (machineBefore != std::make_tuple(os_.files, os_.folders, os_.ini, os_.machineStrings, os_.machineNumbers,
                                             os_.atRestart, com_.keys, os_.machineValues))
            wrong = "verify: it changed the machine";
        else if ((installed && code != 0) || (removed && code != 1605) || (code != 0 && code != 1605 && code != 1610) ||
                 (op.kind == Kind::kInstall && lastCode_ == 1603 && code == 0))
            wrong = "verify: it said " + std::to_string(code) + " after " + Describe(op) + " ended with " +
                    std::to_string(lastCode_);
        if (verifyWrong_.empty() && !wrong.empty()) verifyWrong_ = wrong + "; " + JoinedLog();
    }

    std::string JoinedLog() const {
        std::string text;
        for (const std::string& line : lastLog_) text += line.rfind("Differs: ", 0) == 0 ? line + " | " : "";
        return text;
    }

    // As the Add/Remove Programs entry's quiet command starts it: the
    // uninstaller it names, running (so in use). Without an entry, from a
    // package folder, as a user may.
    void Uninstall(const Op& op) {
        const auto entry = os_.machineStrings.find(setup::UninstallKey("Vantrel"));
        const bool listed = entry != os_.machineStrings.end() && entry->second.count("QuietUninstallString");
        const std::string command = listed ? entry->second.at("QuietUninstallString") : "\"\"";
        const std::string uninstaller = command.substr(1, command.find('"', 1) - 1);
        if (listed && !os_.files.count(uninstaller)) {
            missingUninstaller_ = "uninstall: the entry's uninstaller " + uninstaller + " is missing";
            return uninstallCodes_.push_back(kDidNotStart);
        }
        os_.installerFolder = listed ? uninstaller.substr(0, uninstaller.rfind('\\')) : PackageFolder('A');
        lastCode_ = RunHolding("/uninstall /quiet", {HeldFile(op), uninstaller}, op);
        uninstallCodes_.push_back(lastCode_);
    }

    std::string HeldFile(const Op& op) const { return op.held < 0 ? "" : host_ + "\\" + kHeld[op.held]; }

    // One process, meeting the operation's fate; files held open while it
    // runs. Its exit code (-1 when it was killed or the power went, after
    // which the machine starts again).
    int RunHolding(const std::string& arguments, const std::vector<std::string>& held, const Op& op = Op{}) {
        Hold(held, true);
        Arm(op);
        int code = -1;
        {
            fakes::Process process(os_, journal_, arguments);
            try {
                code = process.Run();
            } catch (const fakes::Killed&) {
            }
        }
        os_.aim = FakeOs::Aim{};
        for (const std::string& call : journal_)
            if (call.rfind("run ", 0) == 0 && call.find("TVKNEW.DLL") != std::string::npos && ranDataFile_.empty())
                ranDataFile_ = "started for a file registered as data: " + call;
        Hold(held, false);
        UndoUsersActs();
        lastLog_ = os_.LogLines();
        journal_.clear();
        os_.logs.clear();
        os_.programs.clear();
        os_.programFolders.clear();
        if (powerWent_) os_.Restart();
        powerWent_ = false;
        return code;
    }

    void Arm(const Op& op) {
        os_.aimSeen = 0;
        if (op.fate == Fate::kNone) return;
        const bool cut = op.fate == Fate::kKill || op.fate == Fate::kPowerCut;
        os_.aim = FakeOs::Aim{kAims[op.aim], "", op.nth, cut, [this, op] { Befall(op); }};
    }

    void Befall(const Op& op) {
        switch (op.fate) {
        case Fate::kNone: return;
        case Fate::kKill: throw fakes::Killed{};
        case Fate::kPowerCut:
            os_.PowerCut();
            powerWent_ = true;
            throw fakes::Killed{};
        case Fate::kSwapFolder: return SwapSys();
        case Fate::kLockFile: return Lock(host_ + "\\" + kLocked[op.update % std::size(kLocked)]);
        case Fate::kPlant: return Plant();
        }
    }

    // The user renames the Sys folder aside and puts a link to the Windows
    // folder at its name, unless the run holds it (or the host folder).
    void SwapSys() {
        const std::string sys = host_ + "\\Sys";
        if (os_.Held(sys) || os_.Held(host_) || os_.platformId == 1) return;  // the 95 family has no links
        MoveTree(sys, sys + "~");
        os_.reparsePoints.insert(sys);
        swapped_ = true;
    }

    // After the run the user puts the folder back; what went through the
    // link went to the Windows folder, and the fake names it as a fault.
    void UndoUsersActs() {
        if (swapped_) {
            const std::string sys = host_ + "\\Sys";
            for (auto it = os_.files.lower_bound(sys + "\\"); it != os_.files.end() && Below(it->first, sys);)
                it = os_.files.erase(it);
            os_.reparsePoints.erase(sys);
            MoveTree(sys + "~", sys);
            swapped_ = false;
        }
        if (!locked_.empty() && os_.files.count(locked_)) os_.files[locked_].locked = os_.files[locked_].inUse = false;
        locked_.clear();
    }

    static bool Below(const std::string& path, const std::string& folder) {
        return path.size() > folder.size() + 1 && platform::UCase(path.substr(0, folder.size() + 1)) ==
                                                       platform::UCase(folder + "\\");
    }

    void MoveTree(const std::string& from, const std::string& to) {
        NoCaseMap<FakeFile> moved;
        for (auto it = os_.files.begin(); it != os_.files.end();) {
            if (!Below(it->first, from)) {
                ++it;
                continue;
            }
            moved[to + it->first.substr(from.size())] = it->second;
            it = os_.files.erase(it);
        }
        for (auto& [path, file] : moved) os_.files[path] = file;
        auto ini = os_.ini.begin();
        while (ini != os_.ini.end() && !Below(ini->first, from)) ++ini;
        if (ini != os_.ini.end()) {
            auto sections = ini->second;
            const std::string path = to + ini->first.substr(from.size());
            os_.ini.erase(ini);
            os_.ini[path] = sections;
        }
        os_.folders.erase(from);
        os_.folders.insert(to);
    }

    // Held open without sharing for the rest of the run.
    void Lock(const std::string& path) {
        const auto file = os_.files.find(path);
        if (file == os_.files.end()) return;
        file->second.locked = file->second.inUse = true;
        locked_ = path;
    }

    // Files of the user's own, at names like the installer's temporaries
    // and kept copies, which every run must leave alone. A name a rename at
    // the restart already moves a file to is the restart's: it replaces
    // what is there, as Windows does.
    void Plant() {
        const auto promised = [this](const std::string& path) {
            for (const auto& change : os_.atRestart)
                if (platform::UCase(change.destination) == platform::UCase(path)) return true;
            return false;
        };
        for (const char* name : kPlanted) {
            const std::string path = host_ + "\\" + name;
            if (os_.files.count(path) || promised(path) ||
                (os_.platformId == 1 && std::string(name).find(".old~") != std::string::npos))
                continue;
            os_.files[path] = expectedFiles_[path] = FakeFile{Content("USER", name, 3)};
        }
    }

    // Held while the run lasts: released after it under whatever name the
    // run renamed it to (<name>.<n>.del~), as a process that ends lets go.
    void Hold(const std::vector<std::string>& paths, bool inUse) {
        for (const std::string& path : paths) {
            if (path.empty()) continue;
            for (auto file = os_.files.lower_bound(path); file != os_.files.end(); ++file) {
                if (platform::UCase(file->first.substr(0, path.size())) != platform::UCase(path)) break;
                if (file->first.size() == path.size() || !inUse) file->second.inUse = inUse;
            }
        }
    }

    // The host's own update writes its files over whatever is there, and
    // deletes those that are there.
    void Update(const HostUpdate& update) {
        if (!allow_.hostUpdateBeforeRestart && !os_.atRestart.empty()) os_.Restart();
        for (const auto& [name, content] : update.files) {
            const std::string path = host_ + "\\" + name;
            if (content && !allow_.hostOverCutShortCopy && CreationCutShort(path)) continue;
            if (!allow_.changeOverHalfDone && (SetAsideFileMissing(path) || MovedAsideFileMissing(path))) continue;
            if (content) {
                os_.files[path] = FakeFile{*content};
                expectedFiles_[path] = FakeFile{*content};
            } else if (os_.files.erase(path)) {
                expectedFiles_.erase(path);
            }
        }
        if (!update.value) return;
        os_.SetIni(host_ + kIni, "WEB", "UPDATEONLINE", *update.value);
        expectedIni_[host_ + kIni]["WEB"]["UPDATEONLINE"] = *update.value;
    }

    void CompareFiles(std::vector<std::string>& wrong) const {
        for (const auto& [path, file] : os_.files) {
            const auto expected = expectedFiles_.find(path);
            if (expected == expectedFiles_.end())
                wrong.push_back(path + ": left (" + file.content.substr(0, 40) + ")");
            else if (!SameFile(file, expected->second))
                wrong.push_back(path + ": holds " + file.content.substr(0, 40) + (file.readOnly ? " read-only" : "") +
                                ", not " + expected->second.content.substr(0, 40) +
                                (expected->second.readOnly ? " read-only" : ""));
        }
        for (const auto& [path, file] : expectedFiles_)
            if (!os_.files.count(path)) wrong.push_back(path + ": lost (" + file.content.substr(0, 40) + ")");
    }

    // The last uninstall says 1603 exactly when something is left; an
    // earlier one that said so left something too.
    void JudgeExitCodes(std::vector<std::string>& wrong) const {
        const bool clean = wrong.empty();
        const int last = uninstallCodes_.back();  // kDidNotStart: judged as missing already
        if (!clean && last != 1603 && last != kDidNotStart)
            wrong.push_back("exit code: the last uninstall said " + std::to_string(last));
        if (clean && last == 1603) wrong.push_back("exit code: the last uninstall said 1603, but all was undone");
        for (std::size_t i = 0; clean && i + 1 < uninstallCodes_.size(); ++i)
            if (uninstallCodes_[i] == 1603)
                wrong.push_back("exit code: uninstall " + std::to_string(i + 1) + " said 1603, yet nothing is left");
    }

    const Allowances allow_;
    fakes::Journal journal_;
    FakeOs os_{journal_};
    ComRegistry com_;
    const std::string host_;
    const bool uncountedSystemDll_;
    NoCaseMap<FakeFile> expectedFiles_;
    decltype(FakeOs::ini) expectedIni_;
    struct Snapshot {
        fakes::NoCaseSet folders;
        decltype(FakeOs::machineStrings) strings;
        decltype(FakeOs::machineNumbers) numbers;
        NoCaseMap<std::string> keys;
        decltype(FakeOs::machineValues) values;
    } initial_;
    std::string ranDataFile_;  // a registration program started for a file the package has data for
    static constexpr int kDidNotStart = -2;
    std::vector<int> uninstallCodes_;  // each uninstall's exit code; kDidNotStart when it could not start
    std::string missingUninstaller_;
    int lastCode_ = kDidNotStart;  // the exit code of the operation's run
    std::string verifyWrong_;      // the first /verify that went wrong
    bool hostUpdated_ = false;     // the host has changed its files or value since the machine was set up
    std::vector<std::string> lastLog_;
    std::vector<std::string> runLog_;  // the last install's or removal's
    bool powerWent_ = false;
    bool swapped_ = false;
    std::string locked_;
};

struct Outcome {
    std::vector<std::string> wrong;
    std::vector<std::string> lastLog;
};

Outcome Judge(const Sequence& sequence, const Allowances& allow, bool trace = false) {
    Lifecycle life(sequence.machine, allow);
    life.trace = trace;
    for (const Op& op : sequence.ops) life.Apply(op);
    Op uninstall;
    uninstall.kind = Kind::kUninstall;
    life.Apply(uninstall);
    life.Apply(Op{});  // a restart
    return {life.Verdict(), life.LastLog()};
}

// What a failure is about, so that shrinking keeps to the same one: the
// first thing wrong, up to its colon.
std::string Signature(const Outcome& outcome) {
    if (outcome.wrong.empty()) return std::string();
    return platform::UCase(outcome.wrong.front().substr(0, outcome.wrong.front().find(": ")));
}

// Drops operations one at a time, then the kill and the held file of each,
// while the sequence still fails the same way.
Sequence Shrink(Sequence s, const Allowances& allow) {
    const std::string signature = Signature(Judge(s, allow));
    auto stillFails = [&](const Sequence& candidate) {
        return Allowed(candidate.ops, allow) && Signature(Judge(candidate, allow)) == signature;
    };
    for (std::size_t i = 0; i < s.ops.size();) {
        Sequence candidate = s;
        candidate.ops.erase(candidate.ops.begin() + static_cast<std::ptrdiff_t>(i));
        if (stillFails(candidate))
            s = candidate;
        else
            ++i;
    }
    for (Op& op : s.ops) {
        const int held = op.held;
        op.held = -1;
        if (held == op.held || !stillFails(s)) op.held = held;
        const Fate fate = op.fate;
        op.fate = Fate::kNone;
        if (fate == op.fate || !stillFails(s)) op.fate = fate;
    }
    return s;
}

void Print(const char* heading, const Sequence& s, const Outcome& outcome) {
    std::printf("%s: %s\n", heading, Describe(s.machine).c_str());
    for (std::size_t i = 0; i < s.ops.size(); ++i) std::printf("  %zu. %s\n", i + 1, Describe(s.ops[i]).c_str());
    std::printf("  then uninstall, restart\n");
    for (const std::string& line : outcome.wrong) std::printf("  wrong: %s\n", line.c_str());
}

void Report(uint32_t seed, const Sequence& sequence, const Outcome& outcome, const Allowances& allow) {
    std::printf("Lifecycle sequence with seed %u fails\n", seed);
    Print("sequence", sequence, outcome);
    const Sequence shrunk = Shrink(sequence, allow);
    const Outcome shrunkOutcome = Judge(shrunk, allow, std::getenv("LU_LIFECYCLE_TRACE") != nullptr);
    Print("shrunk to", shrunk, shrunkOutcome);
    std::printf("  the last run's log:\n");
    for (const std::string& line : shrunkOutcome.lastLog) std::printf("    %s\n", line.c_str());
}

struct Config {
    uint32_t sequences = 2000;
    uint32_t firstSeed = 1;
    double seconds = 1e9;
    uint32_t reported = 3;  // failing sequences printed and shrunk, of each kind
    std::string only;       // only failures whose first wrong thing names this are printed
    Allowances allow;
    bool found = true;      // the found seeds are judged too
};

// The allowances named (comma-separated), on top of `allow`; on top of none
// when `allow` is not given.
Allowances Allow(std::optional<Allowances> allow, const std::string& names) {
    Allowances result = allow.value_or(Allowances{});
    for (const auto& [name, member] : kAllowanceNames) {
        if (!allow) result.*member = false;
        if (("," + names + ",").find(std::string(",") + name + ",") != std::string::npos) result.*member = true;
    }
    return result;
}

Config ConfigFromEnvironment() {
    Config config;
    if (const char* n = std::getenv("LU_LIFECYCLE_SEQUENCES")) config.sequences = std::strtoul(n, nullptr, 10);
    if (const char* seed = std::getenv("LU_LIFECYCLE_SEED")) config.firstSeed = std::strtoul(seed, nullptr, 10);
    if (const char* n = std::getenv("LU_LIFECYCLE_SECONDS")) config.seconds = std::strtod(n, nullptr);
    if (const char* n = std::getenv("LU_LIFECYCLE_REPORTED")) config.reported = std::strtoul(n, nullptr, 10);
    if (const char* only = std::getenv("LU_LIFECYCLE_ONLY")) config.only = platform::UCase(only);
    config.found = std::getenv("LU_LIFECYCLE_SEED") == nullptr;
    config.allow = Allow(config.allow, std::getenv("LU_LIFECYCLE_ALLOW") ? std::getenv("LU_LIFECYCLE_ALLOW") : "");
    return config;
}

// Failures that longer runs found: the seed, and every allowance it was
// found under (the sequence a seed means depends on them).
const std::pair<uint32_t, const char*> kFoundSeeds[] = {
    {72633, "othervolume,killatsystemfile"},   // a file deleted by the host after a kill came back
    {783957, "othervolume,killatsystemfile"},  // the same, through a later install's kill
    {896360, "othervolume,killatsystemfile"},  // a registration after the restart, of a killed install's copy
    {3527, "othervolume,killatsystemfile,installbeforerestart"},  // a withdrawn copy's name taken again
    {344, "othervolume,killatsystemfile,readonlyoriginal"},  // a kill once the attributes were cleared
    {527, "othervolume,killatsystemfile,registeredheldatuninstall"},  // unregistered while its restore waits
    {552, "othervolume,killatsystemfile,killatshortcut"},  // a Start-menu folder made, its link never written
    {205, "othervolume,killatsystemfile,killattypelibrary"},  // a type library never registered
    {221, "othervolume,killatsystemfile,killbeforerecord"},  // a record folder of no install
    // A withdrawn copy's name freed, then taken again by a reinstall before the restart.
    {88038, "othervolume,readonlyoriginal,installbeforerestart,registeredheldatuninstall,killbeforerecord,"
            "killatshortcut,killattypelibrary,killatsystemfile"},
    // The host's registration, withdrawn with ours, while an earlier removal's restore waits.
    {37698, "othervolume,readonlyoriginal,installbeforerestart,registeredheldatuninstall,killbeforerecord,"
            "killatshortcut,killattypelibrary,killatsystemfile"},
    // A withdrawn copy's name freed with its file, then taken by a second reinstall before the restart.
    {378687, "othervolume,readonlyoriginal,installbeforerestart,registeredheldatuninstall,killbeforerecord,"
             "killatshortcut,killattypelibrary,killatsystemfile"},
    // A restart that left a file torn ran its registration for the next logon against nothing.
    {427391, "othervolume,readonlyoriginal,installbeforerestart,registeredheldatuninstall,killbeforerecord,"
             "killatshortcut,killattypelibrary,killatsystemfile"},
    {6052, ""},    // the host's registration, after a killed removal withdrew our replacement
    {68469, ""},   // the same, once a reinstall made the file the killed removal had set aside
    {128885, ""},  // a shared count raised again after a lowering that a power cut did not undo
    {519481, ""},  // the 95 family: a set-aside file that could neither be deleted nor put back
    {83110, ""},   // a kept content's attributes cleared for its delete, then a kill
    {500197, ""},  // a withdrawal killed before it asked the restart to move the previous content back
    {576002, ""},  // a restore waiting for the restart, one of two kept contents deleted
    {520639, ""},  // a file moved over one whose copy was never flushed
    {554455, ""},  // an install before the restart, of a file the restart deletes
    {149578, ""},  // the same, then /verify after the restart
    {239055, ""},  // a created file a user holds, which the host changed
    {273412, ""},  // the host's registration at the next logon, of the next install's content
    {367153, ""},  // the 95 family: a file torn between renames, its temporaries deleted first
    {751703, ""},  // the same, torn by a removal's restore
    {977035, ""},  // a user's <file>.old~ taken for a removal's set-aside file
    {256383, ""},  // moved aside at the restart: a copy of ours a kill cut short and a power cut tore
    {624426, ""},  // the host's registration at the next logon, from a restore copy past a deleted one
};

// Judges the seed's sequence; true when it fails, after printing it if
// it is among the first of its kind.
bool Fails(uint32_t seed, const Allowances& allow, const Config& config, std::map<std::string, uint32_t>& byWhat) {
    const Sequence sequence = Generate(seed, allow);
    const Outcome outcome = Judge(sequence, allow);
    if (outcome.wrong.empty()) return false;
    const std::string what = Signature(outcome);
    if (what.find(config.only) != std::string::npos && ++byWhat[what] <= config.reported)
        Report(seed, sequence, outcome, allow);
    return true;
}

TEST(LifecycleTest, RandomSequencesLeaveTheHostAsItWas) {
    const Config config = ConfigFromEnvironment();
    const auto start = std::chrono::steady_clock::now();
    uint32_t failures = 0, run = 0;
    std::map<std::string, uint32_t> byWhatIsWrong;
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    for (uint32_t i = 0; i < config.sequences && (i % 1000 || elapsed() < config.seconds); ++i, ++run)
        failures += Fails(config.firstSeed + i, config.allow, config, byWhatIsWrong);
    for (const auto& [seed, allowed] : kFoundSeeds)
        failures += config.found && Fails(seed, Allow(std::nullopt, allowed), config, byWhatIsWrong);
    const double seconds = elapsed();
    std::printf("lifecycle: %u sequences from seed %u, %.2f s (%.0f a second), %u failing\n", run, config.firstSeed,
                seconds, run / seconds, failures);
    for (const auto& [what, count] : byWhatIsWrong) std::printf("  %u first wrong in: %s\n", count, what.c_str());
    EXPECT_EQ(failures, 0u);
}

}  // namespace
