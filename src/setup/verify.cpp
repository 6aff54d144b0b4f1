#include "setup/verify.h"

#include <cstdlib>
#include <map>
#include <set>

#include "platform/text.h"
#include "setup/class_data.h"
#include "setup/ini_file.h"
#include "setup/package_seal.h"
#include "setup/sha256.h"

namespace setup {

using platform::Cat;

std::string MachineWorld::FileDigest(const std::string& path) {
    const auto file = os_.OpenBesideWriters(path);
    Sha256Digest digest;
    if (file) return HashOpenFile(os_, *file, digest) ? ToHex(digest) : kUnreadable;
    return os_.FindFile(path).empty() ? std::string() : kUnreadable;
}

// A file held open without sharing has its size from its folder.
uint64_t MachineWorld::FileSize(const std::string& path) {
    const auto file = os_.OpenBesideWriters(path);
    uint64_t size = 0;
    return file ? file->Size() : os_.NormalFileSize(path, size) ? size : 0;
}

bool MachineWorld::SettingValue(const std::string& file, const std::string& section, const std::string& key,
                                std::string& value) {
    return ReadIniValue(os_, file, section, key, value);
}

uint32_t MachineWorld::SharedCount(const std::string& path) {
    uint32_t count = 0;
    return os_.GetMachineNumber(kSharedDllsKey, path, count) ? count : 0;
}

bool MachineWorld::FileExists(const std::string& path) { return !os_.FindFile(path).empty(); }

bool MachineWorld::MachineValue(const std::string& key, const std::string& name, platform::RegistryValue& value) {
    return os_.GetMachineValue(key, name, value);
}

bool MachineWorld::MachineString(const std::string& key, const std::string& name, std::string& value) {
    return os_.GetMachineString(key, name, value);
}

// The type library inside is read as an administrator: only from the
// content that was installed, which nobody can change meanwhile.
std::vector<std::string> MachineWorld::RegisteredPaths(const std::string& file, const std::string& how,
                                                       const std::string& digest, bool& known) {
    known = false;
    const auto held = HoldIfItHolds(os_, file, digest);
    return held ? os_.RegisteredPaths(file, how, known) : std::vector<std::string>();
}

namespace {

std::string Upper(const std::string& text) { return platform::UCase(text); }

// Whether a registered command (a path, quoted or not, perhaps with
// arguments) starts the file.
bool CommandNamesFile(const std::string& command, const std::string& file) {
    const std::string upper = Upper(command), wanted = Upper(file);
    const std::size_t quoted = !upper.empty() && upper[0] == '"';
    if (upper.compare(quoted, wanted.size(), wanted) != 0) return false;
    const std::size_t after = quoted + wanted.size();  // the whole path: its quote, or its end or arguments next
    return quoted ? after < upper.size() && upper[after] == '"' : after == upper.size() || upper[after] == ' ';
}

class Verifier {
public:
    Verifier(const std::vector<RecordEntry>& record, VerifyWorld& world, const VerifyPlaces& places)
        : record_(record), world_(world), places_(places) {}

    std::vector<Difference> Run() {
        NewestOfEach();
        const std::set<std::size_t> cutShort = CutShortEntries(record_);
        for (const bool files : {true, false})  // files first: a registration needs its file whole
            for (std::size_t i = 0; i < record_.size(); ++i)
                if (newest_.count(i) && NamesFile(record_[i].kind) == files)
                    cutShort.count(i) ? CheckPerhapsMade(record_[i]) : Check(record_[i]);
        CheckEntry();
        CheckEnded();
        return std::move(differences_);
    }

private:
    // The newest entry for each file, setting, item, count and registration:
    // an older one says what a later install changed again.
    void NewestOfEach() {
        std::map<std::string, std::size_t> newest;
        for (std::size_t i = 0; i < record_.size(); ++i) {
            const std::string key = KeyOf(record_[i]);
            if (!key.empty()) newest[key] = i;
        }
        for (const auto& [key, index] : newest) newest_.insert(index);
    }

    static std::string KeyOf(const RecordEntry& e) {
        switch (e.kind) {
        case RecordKind::kCreated:
        case RecordKind::kReplaced:
        case RecordKind::kKept:
        case RecordKind::kPending: return "file\t" + Upper(Field(e, 0));
        case RecordKind::kRegistered: return Cat({"registered\t", Field(e, 0), "\t", Upper(Field(e, 1))});
        case RecordKind::kShared:
        case RecordKind::kLowered: return "shared\t" + Upper(Field(e, 0));
        case RecordKind::kSetting:
            return Upper(Cat({"setting\t", Field(e, 0), "\t", Field(e, 1), "\t", Field(e, 2)}));
        case RecordKind::kStartMenu: return Upper(Cat({"item\t", Field(e, 0), "\t", Field(e, 1), "\t", Field(e, 2)}));
        case RecordKind::kValue: return Upper(Cat({"value\t", Field(e, 0), "\t", Field(e, 1)}));
        default: return std::string();
        }
    }

    void Check(const RecordEntry& e) {
        switch (e.kind) {
        case RecordKind::kCreated: return CheckFile(Field(e, 0), Field(e, 1), Field(e, 2));
        case RecordKind::kReplaced: return CheckFile(Field(e, 0), Field(e, 3), std::string());
        case RecordKind::kPending: return CheckPending(e);
        case RecordKind::kKept:
            if (!world_.FileExists(Field(e, 0))) Differs(Field(e, 0), "present (a system file)", "missing");
            return;
        case RecordKind::kRegistered: return CheckRegistration(Field(e, 0), Field(e, 1));
        case RecordKind::kShared:
            if (world_.SharedCount(Field(e, 0)) == 0)
                Differs("shared count of " + Field(e, 0), "at least 1", "none");
            return;
        case RecordKind::kSetting: return CheckSetting(e);
        case RecordKind::kValue: return CheckValue(e);
        case RecordKind::kStartMenu: return CheckStartMenu(e);
        default: return;
        }
    }

    // The last change of an install that a kill ended may or may not have
    // been made: a replaced file holds either content, and nothing else of
    // it is judged (a copy cut short goes with the removal; that the
    // newest install never ended is a difference of its own).
    void CheckPerhapsMade(const RecordEntry& e) {
        const bool pending = e.kind == RecordKind::kPending;
        if (e.kind != RecordKind::kReplaced && !pending) return e.kind == RecordKind::kKept ? Check(e) : void();
        const std::string& path = Field(e, 0);
        const std::string& previous = Field(e, pending ? 3 : 2);
        const std::string& installed = Field(e, pending ? 4 : 3);
        if (pending && !installed.empty() && world_.FileDigest(Field(e, 1)) == installed) return;
        if (!previous.empty() && world_.FileDigest(path) == previous) return;
        CheckFile(path, installed, std::string());
    }

    static std::string Content(const std::string& digest, const std::string& size) {
        if (digest.empty()) return "a copy that was cut short";
        return size.empty() ? "SHA-256 " + digest : Cat({"SHA-256 ", digest, ", ", size, " bytes"});
    }

    // The digest alone decides; the size is read only to tell a difference.
    void CheckFile(const std::string& path, const std::string& digest, const std::string& size) {
        const std::string now = world_.FileDigest(path);
        if (!digest.empty() && now == digest) return void(arrived_[Upper(path)] = digest);
        const std::string found =
            now.empty() ? "missing"
                        : Content(now, platform::Number64(world_.FileSize(path)));
        Differs(path, Content(digest, size), found);
    }

    // A replacement that waits for the restart is whole while its waiting
    // copy holds what was installed.
    void CheckPending(const RecordEntry& e) {
        const std::string& installed = Field(e, 4);
        if (!installed.empty() && world_.FileDigest(Field(e, 1)) == installed) return;
        CheckFile(Field(e, 0), installed, std::string());
    }

    // Only where the file holds what was installed, and the system can tell.
    void CheckRegistration(const std::string& how, const std::string& path) {
        const auto arrived = arrived_.find(Upper(path));
        if (arrived == arrived_.end()) return;
        bool known = false;
        for (const std::string& found : world_.RegisteredPaths(path, how, arrived->second, known)) {
            if (found.empty())
                Differs(path, "registered (" + how + ")", "not registered");
            else if (!CommandNamesFile(found, path))
                Differs(path, "registered (" + how + ")", "registered for " + found);
        }
    }

    // A class value holds what the newest install wrote.
    void CheckValue(const RecordEntry& e) {
        const platform::RegistryValue written = RecordedValue(Field(e, 4), Field(e, 5));
        platform::RegistryValue now;
        const std::string what = ClassValueName(Field(e, 0), Field(e, 1));
        if (!world_.MachineValue(Field(e, 0), Field(e, 1), now)) return Differs(what, "a class value", "absent");
        if (!(now == written)) Differs(what, "type " + Field(e, 4) + ", " + Field(e, 5), Cat({"type ", platform::Number(static_cast<long>(now.type)), ", ", HexBytes(now.data)}));
    }

    void CheckSetting(const RecordEntry& e) {
        const std::string what = Cat({Field(e, 0), " [", Field(e, 1), "] ", Field(e, 2)});
        std::string value;
        if (!world_.SettingValue(Field(e, 0), Field(e, 1), Field(e, 2), value))
            return Differs(what, Field(e, 5), "absent");
        if (value != Field(e, 5)) Differs(what, Field(e, 5), value);
    }

    // A Program Manager item is the shell's link in a Programs folder.
    void CheckStartMenu(const RecordEntry& e) {
        if (Field(e, 0) == "shortcut") {
            if (!world_.FileExists(Field(e, 1))) Differs(Field(e, 1), "a Start-menu shortcut", "missing");
            return;
        }
        const std::string link = Cat({Field(e, 1), "\\", Field(e, 2), ".lnk"});
        const std::string& recorded = Field(e, 3);
        if (!recorded.empty()) {
            const std::string path = Cat({recorded, "\\", link});
            if (!world_.FileExists(path)) Differs("Start menu: " + path, "a Program Manager item", "missing");
            return;
        }
        bool anyFolder = false;
        for (const std::string& programs : places_.programsFolders) {
            if (programs.empty()) continue;
            anyFolder = true;
            if (world_.FileExists(Cat({programs, "\\", link}))) return;
        }
        if (anyFolder) Differs("Start menu: " + link, "a Program Manager item", "missing");
    }

    // The Add/Remove Programs entry, and the uninstaller it starts.
    void CheckEntry() {
        const std::string uninstaller = Cat({places_.recordFolder, "\\", kUninstallerName});
        if (!world_.FileExists(uninstaller)) Differs(uninstaller, "the uninstaller", "missing");
        else CheckUninstallerContent(uninstaller);
        const std::string key = UninstallKey(BegunField(2));
        std::string command;
        if (!world_.MachineString(key, "UninstallString", command))
            Differs("HKEY_LOCAL_MACHINE\\" + key, "the Add/Remove Programs entry", "missing");
        else if (!CommandNamesFile(command, uninstaller))
            Differs("HKEY_LOCAL_MACHINE\\" + key, "UninstallString starting " + uninstaller, command);
    }

    // The newest install ended, and did all it had to: one that ended
    // with a failure names each thing it could not do.
    void CheckEnded() {
        std::size_t begun = record_.size();
        for (std::size_t i = 0; i < record_.size(); ++i)
            if (record_[i].kind == RecordKind::kBegun) begun = i;
        if (begun == record_.size()) return;
        const std::string install = "the install begun " + Field(record_[begun], 0);
        std::vector<std::string> failed;
        for (std::size_t i = begun; i < record_.size(); ++i) {
            const RecordEntry& e = record_[i];
            if (e.kind == RecordKind::kFailed) failed.push_back(Field(e, 0));
            if (e.kind != RecordKind::kEnded) continue;
            const std::string& code = Field(e, 1);
            if (code == "0" || code == "3010" || code == "1641") return;
            for (const std::string& what : failed) Differs(install, "done whole", what);
            if (failed.empty()) Differs(install, "ended with 0", "ended with " + code);
            return;
        }
        Differs(install, "ended", "it never ended (it was interrupted)");
    }

    // The uninstaller holds what the newest install copied from itself
    // (records of older versions do not say).
    void CheckUninstallerContent(const std::string& uninstaller) {
        const std::string recorded = BegunField(4);
        const std::string now = world_.FileDigest(uninstaller);
        if (!recorded.empty() && now != recorded)
            Differs(uninstaller, "the uninstaller, SHA-256 " + recorded,
                    Content(now, platform::Number64(world_.FileSize(uninstaller))));
    }

    // A field of the newest install's "begun" line: 2 the system name, 4
    // the uninstaller's digest. Empty without one.
    std::string BegunField(std::size_t index) const {
        for (std::size_t i = record_.size(); i-- > 0;)
            if (record_[i].kind == RecordKind::kBegun) return Field(record_[i], index);
        return std::string();
    }

    void Differs(const std::string& what, const std::string& recorded, const std::string& found) {
        differences_.push_back({what, recorded, found});
    }

    const std::vector<RecordEntry>& record_;
    VerifyWorld& world_;
    const VerifyPlaces& places_;
    std::set<std::size_t> newest_;
    std::map<std::string, std::string> arrived_;  // upper-cased path -> the installed digest it holds
    std::vector<Difference> differences_;
};

}  // namespace

// What came before a removal that a kill ended is that removal's to finish:
// the installs since it are judged, as if it had finished.
std::vector<Difference> VerifyRecord(const std::vector<RecordEntry>& record, VerifyWorld& world,
                                     const VerifyPlaces& places) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < record.size(); ++i)
        if (record[i].kind == RecordKind::kRemoving) from = i + 1;
    const std::vector<RecordEntry> since(record.begin() + static_cast<std::ptrdiff_t>(from), record.end());
    return Verifier(since, world, places).Run();
}

std::string DifferenceLine(const Difference& difference) {
    return Cat({difference.what, ": the record holds ", difference.recorded, "; the machine holds ", difference.found});
}

std::string DifferenceInShort(const Difference& difference) {
    if (difference.found == "missing") return difference.what + ": missing";
    if (difference.found.rfind("SHA-256 ", 0) == 0) return difference.what + ": changed since it was installed";
    return Cat({difference.what, ": ", difference.found});
}

}  // namespace setup
