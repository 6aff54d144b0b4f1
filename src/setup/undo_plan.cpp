#include "setup/undo_plan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "platform/text.h"
#include "setup/class_data.h"
#include "setup/deploy.h"
#include "setup/paths.h"

namespace setup {

using platform::Cat;

namespace {

// Decides the steps newest first, keeping track of what the steps decided so
// far will have changed, so that an older change is judged against the
// state the newer ones leave (a file replaced by two installs, a value
// written twice).
class Planner {
public:
    Planner(const std::vector<RecordEntry>& record, UndoWorld& world, const std::vector<std::string>& allowed)
        : record_(record), world_(world), allowed_(allowed) {}

    std::vector<UndoStep> Run() {
        cutShort_ = CutShortEntries(record_);  // the last change of each install a kill ended
        untouched_ = CutShortUntouched(record_);
        FindCountsLowered();
        FindRestoresBegun();
        for (std::size_t i = record_.size(); i-- > 0;) Undo(i);
        for (const RecordEntry& e : afterRestores_) UndoTemporary(Field(e, 0), Field(e, 1), Field(e, 2));
        return std::move(steps_);
    }

private:
    void Undo(std::size_t index) {
        const RecordEntry& e = record_[index];
        switch (e.kind) {
        case RecordKind::kTemporary:
            // A killed removal's restore copy of a file it left torn tells of
            // the tear till the file is restored again.
            if (restoresBegun_.count(Key(RestoredFile(Field(e, 0)))))
                afterRestores_.push_back(e);
            else
                UndoTemporary(Field(e, 0), Field(e, 1), Field(e, 2));
            break;
        case RecordKind::kCreated: UndoCreated(e, cutShort_.count(index) != 0); break;
        case RecordKind::kReplaced:
        {
            // A file torn between its renames gets its previous content back
            // before its temporaries go: a kill between leaves them to tell
            // a removal run again of the tear.
            const Cut cut = CutOf(e, index);
            const bool torn = cut == Cut::kTorn || restoresBegun_.count(Key(Field(e, 0)));
            if (!torn) UndoTemporaries(e, cutShort_.count(index) != 0);
            UndoReplaced(Field(e, 0), Field(e, 1), Field(e, 2), Field(e, 3), cut, Field(e, 4));
            if (torn) UndoTemporaries(e, cutShort_.count(index) != 0);
            RegisterHostsAgain(Field(e, 0), Field(e, 2), index);
            break;
        }
        case RecordKind::kRegistered: UndoRegistered(Field(e, 0), Field(e, 1), index); break;
        case RecordKind::kShared: UndoShared(e, index); break;
        case RecordKind::kSetting: UndoSetting(e); break;
        case RecordKind::kStartMenu: UndoStartMenu(e); break;
        case RecordKind::kPending:
        {
            // After the restart the previous content is what the restart
            // moved aside; with neither copy left (the replacement withdrawn
            // before the restart), the recorded one, still at the path.
            const std::string aside = Digest(Field(e, 2));
            const std::string before = Digest(Field(e, 1)).empty() && !aside.empty() ? aside : Field(e, 3);
            UndoUnrecordedRegistration(e, index);
            UndoPending(e, index);
            RegisterHostsAgain(Field(e, 0), before, index);
            break;
        }
        case RecordKind::kValue: UndoValue(e); break;
        case RecordKind::kKey: Add(UndoAction::kRemoveKey, Field(e, 0)); break;
        case RecordKind::kBegun:
        case RecordKind::kKept:
        case RecordKind::kEnded:
        case RecordKind::kCopied:
        case RecordKind::kFailed:
        case RecordKind::kRemoving:
        case RecordKind::kLowered:
        case RecordKind::kRestoring:
        case RecordKind::kMoved: break;
        }
    }

    // A temporary goes only while it holds what its run wrote there
    // (`digest`, when the record has it), or a part of it that a kill cut
    // short (smaller than `size`): a file of that name that a user put
    // there is theirs. A removal's copy that the restart renames into place
    // stays for it.
    void UndoTemporary(const std::string& path, const std::string& digest = std::string(),
                       const std::string& size = std::string()) {
        const std::string now = Digest(path);
        const bool cutShort = !size.empty() && now != kUnreadable && Size(path) < std::strtoull(size.c_str(), nullptr, 10);
        const bool ours = digest.empty() || now == digest || cutShort;
        if (Allowed(path) && !now.empty() && ours && !restoring_.count(Key(path))) Add(UndoAction::kRemoveTemporary, path);
        if (!restoring_.count(Key(path))) Simulate(path, std::string(), 0);
    }

    // A class value goes back to what it was before, while it still holds
    // what the install wrote (an older install's write, undone after this
    // one, finds it as this one's undoing leaves it).
    void UndoValue(const RecordEntry& e) {
        const std::string& key = Field(e, 0);
        const std::string& name = Field(e, 1);
        const platform::RegistryValue written = RecordedValue(Field(e, 4), Field(e, 5));
        platform::RegistryValue now;
        const std::string id = Key(key) + "\t" + Key(name);
        const auto simulated = values_.find(id);
        const bool there = simulated != values_.end() ? !simulated->second.empty() : world_.MachineValue(key, name, now);
        if (simulated != values_.end() && there) now = {static_cast<uint32_t>(simulated->second[0]), simulated->second.substr(1)};
        const bool hadBefore = !Field(e, 2).empty();
        const platform::RegistryValue before = RecordedValue(Field(e, 2), Field(e, 3));
        if ((!there && !hadBefore) || (there && hadBefore && now == before)) return;  // as it was already
        if (!there || !(now == written))
            return Leave(ClassValueName(key, name), "changed since it was written");
        UndoStep step = Step(hadBefore ? UndoAction::kSetValue : UndoAction::kRemoveValue, key);
        step.key = name;
        step.count = before.type;
        step.value = Field(e, 3);
        steps_.push_back(step);
        values_[id] = hadBefore ? static_cast<char>(before.type) + before.data : std::string();
    }

    // The temporaries an install writes beside a file it replaces, which a
    // kill may have left: the new content (<name>.new~: whole, or a copy
    // that the kill cut short, no larger than the whole one) and the
    // previous one set aside (<name>.old~).
    void UndoTemporaries(const RecordEntry& e, bool maybeCutShort) {
        const std::string& path = Field(e, 0);
        const std::string fresh = path + kReplacementSuffix;
        const std::string& size = Field(e, 4);
        const bool cutShort = maybeCutShort && !Digest(fresh).empty() && Digest(fresh) != kUnreadable &&
                              (size.empty() || Size(fresh) <= std::strtoull(size.c_str(), nullptr, 10));
        UndoTemporary(fresh, cutShort ? std::string() : Field(e, 3));
        // Set aside by the install's renames (the previous content) or a
        // removal's (the installed one), on the 95 family.
        const std::string aside = path + kSetAsideSuffix;
        UndoTemporary(aside, Digest(aside) == Field(e, 3) ? Field(e, 3) : Field(e, 2));
    }

    // A copy that a kill cut short is no larger than what was to be
    // installed, as the steps after this one leave it, and is deleted as well.
    void UndoCreated(const RecordEntry& e, bool maybeCutShort) {
        const std::string& path = Field(e, 0);
        const std::string now = Digest(path);
        if (now.empty()) return;  // already gone
        if (!Allowed(path)) return Leave(path, "outside the folders an uninstall may change");
        if (stillShared_.count(Key(path))) return Leave(path, "other programs still use it");
        const bool cutShort = maybeCutShort && Size(path) <= std::strtoull(Field(e, 2).c_str(), nullptr, 10);
        // A file held open without sharing can't be read: in use, not
        // gone, it goes at the restart as a file in use does, unless its
        // size (from the folder, not the file) says it was changed since.
        if ((now != Field(e, 1) && !cutShort && now != kUnreadable) || (!cutShort && Resized(path, now, Field(e, 2))))
            return Leave(path, "changed since it was installed");
        Add(UndoAction::kDelete, path);
        Simulate(path, std::string(), 0);
    }

    // Whether a file that can't be read (`now`) is not the size installed:
    // changed since (the size comes from the folder, not the file).
    bool Resized(const std::string& path, const std::string& now, const std::string& installedSize) {
        return now == kUnreadable && !installedSize.empty() &&
               Size(path) != std::strtoull(installedSize.c_str(), nullptr, 10);
    }

    // How a kill may have left a replacement: its file's attributes
    // cleared for the move in, or the file gone between its renames.
    enum class Cut { kNot, kAttributesCleared, kTorn };

    Cut CutOf(const RecordEntry& e, std::size_t index) {
        if (!cutShort_.count(index)) return Cut::kNot;
        return TornBetweenRenames(e, index) ? Cut::kTorn : Cut::kAttributesCleared;
    }

    // A file gone since is left gone: a later host update may have deleted
    // it on purpose, and the path may now lead elsewhere. Only a replacement
    // cut short between its renames gets its previous content back. One cut
    // short before its move gets it back too, attributes and all, where the
    // kept copy has it, as the kill may have come once they were cleared.
    // A file held open without sharing can't be read: in use, not gone, it
    // gets its previous content back at the restart as a file in use does.
    void UndoReplaced(const std::string& path, const std::string& kept, const std::string& before,
                      const std::string& installed, Cut cut, const std::string& installedSize = std::string()) {
        const auto waiting = restoringFiles_.find(Key(path));
        if (waiting != restoringFiles_.end() && Digest(waiting->second) == before && !before.empty())
            return Simulate(path, before, Size(waiting->second));  // a killed removal's restart puts it back
        const std::string now = Digest(path);
        const bool torn = cut == Cut::kTorn || restoresBegun_.count(Key(path));
        if (now.empty() && !torn) return Leave(path, "gone since it was installed; not put back");
        const bool cleared = cut == Cut::kAttributesCleared && now == before && Digest(kept) == before;
        if (now == before && !cleared) return;  // never replaced
        const bool changed =
            (!now.empty() && now != installed && now != kUnreadable) || Resized(path, now, installedSize);
        if (changed && !cleared) return Leave(path, "changed since it was installed");
        if (!Allowed(path) || !Allowed(kept)) return Leave(path, "outside the folders an uninstall may change");
        if (Digest(kept).empty() || Digest(kept) != before)
            return Leave(path, "its previous content is no longer kept");
        UndoStep step = Step(UndoAction::kRestore, path);
        step.other = kept;
        steps_.push_back(step);
        Simulate(path, before, Size(kept));
        Simulate(kept, std::string(), 0);
    }

    // Whether a replacement that a kill cut short left its file gone between
    // its renames: the old file set aside (its previous content) and the new
    // one not yet in place, both temporaries still on the machine, and no
    // later install has touched the file since. Temporaries that a later
    // install's kill left are that install's: the file gone before it (a
    // host update deleted it) stays gone.
    bool TornBetweenRenames(const RecordEntry& e, std::size_t index) {
        const std::string& path = Field(e, 0);
        const std::string aside = world_.FileDigest(path + kSetAsideSuffix);
        return untouched_.count(index) && !aside.empty() && aside == Field(e, 2) &&
               !world_.FileDigest(path + kReplacementSuffix).empty();
    }

    // Before the restart the waiting copy is still there and the file as it
    // was: the replacement is withdrawn. After it, the previous content is
    // where the restart moved it, and goes back like a replaced file's,
    // whatever was in place just before the restart (an earlier install's
    // replacement waiting too). A restart that moved the previous content
    // aside but left the waiting copy (a kill came between the two renames
    // the install asked for) left the file gone: the waiting copy goes like
    // a temporary, and the previous content comes back.
    void UndoPending(const RecordEntry& e, std::size_t index) {
        const std::string& path = Field(e, 0);
        const std::string& waiting = Field(e, 1);
        const std::string& kept = Field(e, 2);
        const bool movedAsideOnly = !Digest(waiting).empty() && !kept.empty() && !Digest(kept).empty();
        // The 95 family's restores set the file aside first (<name>.old~).
        const std::string setAside = path + kSetAsideSuffix;
        if (!Field(e, 4).empty())
            UndoTemporary(setAside, Digest(setAside) == Field(e, 3) && !Field(e, 3).empty() ? Field(e, 3) : Field(e, 4));
        // Beside the file, where users may write, it may hold anything since.
        const bool keptChanged = !kept.empty() && !Digest(kept).empty() && !KnownPreviousContent(record_, index, Digest(kept));
        if (movedAsideOnly) {
            UndoTemporary(waiting);
            if (keptChanged) return Leave(path, "its previous content is no longer kept");
            const std::string previous = Digest(kept);
            UndoReplaced(path, kept, previous, Field(e, 4), Cut::kTorn, Field(e, 6));
            // That restart ran against nothing any registration of the file
            // asked for the next logon: the previous content, once back, is
            // registered again, as a host file of its type is.
            const std::string how = RegistrationKindOfFile(path);
            if (!how.empty() && Digest(path) == previous) unregisteredHosts_.emplace(Key(path), how);
            return;
        }
        if (!Digest(waiting).empty()) {
            if (!Allowed(waiting)) return Leave(path, "outside the folders an uninstall may change");
            UndoStep step = Step(UndoAction::kWithdrawReplacement, path);
            step.other = waiting;
            step.value = kept;
            steps_.push_back(step);
            Simulate(waiting, std::string(), 0);
            return;
        }
        // After the restart deleted what was there, the new file is one the install made.
        if (MadeNew(e)) return UndoCreated({RecordKind::kCreated, {path, Field(e, 4), Field(e, 6)}}, false);
        if (kept.empty()) return Leave(path, "its previous content was not kept");
        // A removal killed as it withdrew the replacement may have deleted
        // the copy: before the restart the move of the previous content back
        // is asked again (twice does no harm: the second move finds nothing
        // to move).
        const std::string withdrawal = Key(path) + "\t" + Key(kept);
        if (withdrawals_.count(withdrawal) && Digest(kept).empty() && !Digest(path).empty()) {
            UndoStep step = Step(UndoAction::kWithdrawReplacement, path);
            step.other = waiting;
            step.value = kept;
            return steps_.push_back(step);
        }
        // What was moved aside was a copy of ours that a kill cut short (and
        // a power cut may have torn since): the host had no file.
        if (keptChanged && CutShortCopyBefore(path, index, Size(kept))) {
            Add(UndoAction::kRemoveTemporary, kept);
            Simulate(kept, std::string(), 0);
            return UndoCreated({RecordKind::kCreated, {path, Field(e, 4), Field(e, 6)}}, false);
        }
        if (keptChanged) return Leave(path, "its previous content is no longer kept");
        UndoReplaced(path, kept, Digest(kept), Field(e, 4), Cut::kNot, Field(e, 6));
    }

    // A content is unregistered only while it (the newest installed before
    // this registration) is at hand and no other program still counts the
    // file; each once, however many installs registered it again. A host
    // file this product replaced has its own content registered again once
    // that is back (see RegisterHostsAgain): the two share their
    // registration, which unregistering ours took away.
    void UndoRegistered(const std::string& how, const std::string& path, std::size_t index) {
        const RecordEntry* installed = InstalledBefore(path, index);
        const bool created = HostHadNone(path, index);
        const bool replaced = installed && !MadeNew(*installed);
        if (!installed || (!created && replaced && !PreviousContentKept(*installed))) return;
        const std::string holder = HolderOf(*installed, how);
        if (holder.empty() && !created && restoresStarted_.count(Key(path))) {
            unregisteredHosts_[Key(path)] = how;  // the killed removal unregistered it before it began the restore
            return;
        }
        if (holder.empty() || (SharedEntry(path) && OthersCount(path))) return;
        if (!unregistered_.insert(Key(path) + "\t" + InstalledDigest(*installed)).second) return;
        UndoStep step = Step(UndoAction::kUnregister, holder);
        step.other = how;
        step.value = InstalledDigest(*installed);  // what the file must hold when the program runs
        step.perhapsNotMade = cutShort_.count(index) != 0 || index < lastRemoval_ || FailedRun(index);
        steps_.push_back(step);
        if (!created) unregisteredHosts_[Key(path)] = how;
    }

    // Whether what a replacement took the place of can come back: else the
    // file stays as it is, registered.
    bool PreviousContentKept(const RecordEntry& installed) {
        if (installed.kind == RecordKind::kReplaced)
            return !Field(installed, 2).empty() && Digest(Field(installed, 1)) == Field(installed, 2);
        return !Digest(Field(installed, 1)).empty() || !Digest(Field(installed, 2)).empty();
    }

    // Once the host's own content of a file whose registration this removal
    // took away is in place again (the oldest line naming the file is being
    // undone), it is registered again, as it must hold then.
    void RegisterHostsAgain(const std::string& path, const std::string& before, std::size_t index) {
        const auto how = unregisteredHosts_.find(Key(path));
        if (how == unregisteredHosts_.end() || InstalledBefore(path, index) || before.empty() ||
            DigestAfterRestart(path) != before)
            return;
        UndoStep step = Step(UndoAction::kRegisterAgain, path);
        step.other = how->second;
        step.value = before;
        steps_.push_back(step);
        unregisteredHosts_.erase(how);
    }

    // A kill between a replacement's line for the restart and its
    // registration's leaves that registration unrecorded. Yet the RunOnce
    // value that an earlier install asked for names only the path, and
    // registers whatever the restart puts there: the killed install's
    // content too, which is then unregistered like a recorded one.
    void UndoUnrecordedRegistration(const RecordEntry& e, std::size_t index) {
        if (!cutShort_.count(index)) return;
        const std::string& path = Field(e, 0);
        for (std::size_t i = index; i-- > 1;) {
            const RecordEntry& r = record_[i];
            if (r.kind != RecordKind::kRegistered || Key(Field(r, 1)) != Key(path)) continue;
            const bool afterRestart = Field(r, 0) != kByTypeLibrary && record_[i - 1].kind == RecordKind::kPending &&
                                      Key(Field(record_[i - 1], 0)) == Key(path);
            if (afterRestart) UndoRegistered(Field(r, 0), path, index + 1);
            return;
        }
    }

    // Where the content an install step installed is now: at its path; or,
    // for a type library registered from its copy waiting for the restart,
    // in that copy (the registration names the library, not where it lies).
    // Empty when it is in neither.
    std::string HolderOf(const RecordEntry& installed, const std::string& how) {
        const std::string& path = Field(installed, 0);
        const std::string& waiting = Field(installed, 1);
        const std::string digest = InstalledDigest(installed);
        if (digest.empty()) return std::string();
        if (Digest(path) == digest) return path;
        const bool waits = installed.kind == RecordKind::kPending && how == kByTypeLibrary;
        return waits && Allowed(waiting) && Digest(waiting) == digest ? waiting : std::string();
    }

    // Lowered once for this product, however many lines name the file, and
    // not at all when the kill that cut the install short came before the
    // count was raised: it is still what the line says it was before.
    void UndoShared(const RecordEntry& e, std::size_t index) {
        const std::string& path = Field(e, 0);
        const uint32_t count = CountNow(path);
        const auto later = loweredBefore_.find(Key(path));
        if (countsLowered_.count(Key(path)) || (later != loweredBefore_.end() && index < later->second)) {
            // A removal that a kill ended lowered it already.
            lowered_.insert(Key(path));
            if (count > 0) stillShared_.insert(Key(path));
            return;
        }
        const bool neverRaised = cutShort_.count(index) && count == std::strtoul(Field(e, 1).c_str(), nullptr, 10);
        if (count == 0 || neverRaised) return;  // someone removed it, or it was never raised
        if (!lowered_.insert(Key(path)).second) return;
        counts_[Key(path)] = count - 1;
        if (count > 1) stillShared_.insert(Key(path));
        UndoStep step = Step(count > 1 ? UndoAction::kLowerShared : UndoAction::kRemoveShared, path);
        step.count = count - 1;
        steps_.push_back(step);
    }

    void UndoSetting(const RecordEntry& e) {
        const std::string& file = Field(e, 0);
        const std::string& section = Field(e, 1);
        const std::string& key = Field(e, 2);
        const std::string& state = Field(e, 3);
        std::string now;
        const bool present = Setting(file, section, key, now);
        if (!present && state != "value") return;  // already as it was
        if (!present || now != Field(e, 5))
            return Leave(file, platform::Cat({"[", section, "] ", key, " changed since it was written"}));
        UndoStep step = Step(state == "value" ? UndoAction::kSetSetting : UndoAction::kRemoveSetting, file);
        step.other = section;
        step.key = key;
        step.value = Field(e, 4);
        step.sectionMade = state == "no section";
        steps_.push_back(step);
        settings_[SettingKey(file, section, key)] = {state == "value", Field(e, 4)};
    }

    void UndoStartMenu(const RecordEntry& e) {
        if (Field(e, 0) == "shortcut") return Add(UndoAction::kRemoveShortcut, Field(e, 1));
        UndoStep step = Step(UndoAction::kRemoveProgramItem, Field(e, 1));
        step.key = Field(e, 2);
        steps_.push_back(step);
    }

    // ---- what the machine will hold once the steps so far are taken

    static std::string Key(const std::string& path) { return platform::UCase(path); }
    // Settings files, sections and keys are named without regard to case.
    static std::string SettingKey(const std::string& file, const std::string& section, const std::string& key) {
        return platform::UCase(platform::Cat({file, "\t", section, "\t", key}));
    }

    std::string Digest(const std::string& path) {
        const auto known = files_.find(Key(path));
        return known != files_.end() ? known->second.digest : world_.FileDigest(path);
    }

    // What the file holds once the restart is done: unless these steps
    // change it, the last copy that an earlier removal left waiting to be
    // restored there, where there is one.
    std::string DigestAfterRestart(const std::string& path) {
        if (files_.count(Key(path))) return Digest(path);
        const auto exists = [&](const std::string& copy) { return !Digest(copy).empty(); };
        const std::vector<std::string> copies = NumberedCopies(exists, path, kRestoredSuffix);
        return Digest(copies.empty() ? path : copies.back());
    }

    uint64_t Size(const std::string& path) {
        const auto known = files_.find(Key(path));
        return known != files_.end() ? known->second.size : world_.FileSize(path);
    }

    void Simulate(const std::string& path, const std::string& digest, uint64_t size) {
        files_[Key(path)] = {digest, size};
    }

    uint32_t CountNow(const std::string& path) {
        const auto known = counts_.find(Key(path));
        return known != counts_.end() ? known->second : world_.SharedCount(path);
    }

    bool Setting(const std::string& file, const std::string& section, const std::string& key, std::string& value) {
        const auto known = settings_.find(SettingKey(file, section, key));
        if (known == settings_.end()) return world_.SettingValue(file, section, key, value);
        value = known->second.second;
        return known->second.first;
    }

    // Whether the host had no file at the path before the first install
    // that put one there: the oldest such step created it. Later ones may
    // create it again after a removal that a kill ended took the host's
    // own content aside, which comes back all the same.
    bool HostHadNone(const std::string& path, std::size_t index) const {
        for (std::size_t i = 0; i < index; ++i)
            if (Installs(record_[i], path)) return MadeNew(record_[i]);
        return false;
    }

    // Whether the newest install step before `index` for the path made it
    // new, and a kill cut its copy short, at no more than `size` bytes.
    bool CutShortCopyBefore(const std::string& path, std::size_t index, uint64_t size) const {
        const RecordEntry* installed = InstalledBefore(path, index);
        const std::size_t at = installed ? static_cast<std::size_t>(installed - record_.data()) : 0;
        return installed && installed->kind == RecordKind::kCreated && cutShort_.count(at) &&
               size <= std::strtoull(Field(*installed, 2).c_str(), nullptr, 10);
    }

    // The newest install step before `index` that put content at the path:
    // created, replaced, or replaced at the restart.
    const RecordEntry* InstalledBefore(const std::string& path, std::size_t index) const {
        for (std::size_t i = index; i-- > 0;)
            if (Installs(record_[i], path)) return &record_[i];
        return nullptr;
    }

    static bool Installs(const RecordEntry& e, const std::string& path) {
        const bool installs =
            e.kind == RecordKind::kCreated || e.kind == RecordKind::kReplaced || e.kind == RecordKind::kPending;
        return installs && Key(Field(e, 0)) == Key(path);
    }

    static const std::string& InstalledDigest(const RecordEntry& e) {
        return Field(e, e.kind == RecordKind::kCreated ? 1 : e.kind == RecordKind::kReplaced ? 3 : 4);
    }

    // The files whose count a removal that a kill ended has lowered: its
    // `lowered` line is the newest about the count, and the count is no
    // longer what it was before (else the kill came before the change).
    void FindCountsLowered() {
        std::map<std::string, std::size_t> newest;
        for (std::size_t i = 0; i < record_.size(); ++i) {
            if (record_[i].kind != RecordKind::kShared && record_[i].kind != RecordKind::kLowered) continue;
            const std::string key = Key(Field(record_[i], 0));
            // An install raises a count again only once an earlier removal's
            // lowering of it is done: the lines before that lowering are undone.
            const auto previous = newest.find(key);
            if (record_[i].kind == RecordKind::kShared && previous != newest.end() &&
                record_[previous->second].kind == RecordKind::kLowered)
                loweredBefore_[key] = previous->second;
            newest[key] = i;
        }
        for (const auto& [key, i] : newest) {
            const RecordEntry& e = record_[i];
            if (e.kind == RecordKind::kLowered && world_.SharedCount(Field(e, 0)) != std::strtoul(Field(e, 1).c_str(), nullptr, 10))
                countsLowered_.insert(key);
        }
    }

    // The files a removal that a kill ended was putting back: their restore
    // copies (<file>.<n>.back~) have its lines and are still there, whole,
    // beside the file set aside. One of them gone now was torn between that
    // removal's renames, not deleted by the host.
    void FindRestoresBegun() {
        bool removal = false;
        for (std::size_t i = 0; i < record_.size(); ++i) {
            const RecordEntry& e = record_[i];
            if (e.kind == RecordKind::kBegun) removal = false;
            if (e.kind == RecordKind::kRemoving) removal = true, lastRemoval_ = i;
            // The killed removal's copies that the restart renames into
            // place count only once it deleted the kept contents: else they
            // go, and the restores are made anew from the kept ones.
            if (e.kind == RecordKind::kRestoring) withdrawals_.insert(Key(Field(e, 0)) + "\t" + Key(Field(e, 1)));
            if (e.kind == RecordKind::kRestoring && KeptGone(Field(e, 0), world_.FileDigest(Field(e, 1)))) {
                restoring_.insert(Key(Field(e, 1)));
                restoringFiles_[Key(Field(e, 0))] = Field(e, 1);
            }
            const std::string& copy = Field(e, 0);
            const std::string file = RestoredFile(copy);
            if (!removal || e.kind != RecordKind::kTemporary || file.empty()) continue;
            restoresStarted_.insert(Key(file));
            // Torn only where the renames set the file aside (the 95 family):
            // elsewhere the copy goes in in one step.
            const bool setAside = RecordedContent(file, world_.FileDigest(file + kSetAsideSuffix));
            if (setAside && !Field(e, 1).empty() && world_.FileDigest(copy) == Field(e, 1))
                restoresBegun_.insert(Key(file));
        }
    }

    // The file a removal's restore copy (<file>.<n>.back~) is for; empty
    // for another name.
    static std::string RestoredFile(const std::string& copy) {
        const std::size_t suffix = copy.size() - std::min(copy.size(), std::strlen(kRestoredSuffix));
        if (suffix == 0 || Key(copy.substr(suffix)) != Key(kRestoredSuffix)) return std::string();
        const std::size_t number = copy.rfind('.', suffix - 1);
        return number == std::string::npos ? std::string() : copy.substr(0, number);
    }

    // Whether the digest is one the record gives the file, installed or
    // before: not, for one a user put beside it.
    bool RecordedContent(const std::string& path, const std::string& digest) const {
        if (digest.empty() || digest == kUnreadable) return false;
        for (const RecordEntry& e : record_) {
            if (!NamesFile(e.kind) || Key(Field(e, 0)) != Key(path)) continue;
            if (std::find(e.fields.begin() + 1, e.fields.end(), digest) != e.fields.end()) return true;
        }
        return false;
    }

    // Whether the previous content kept for the file that a restore copy
    // holding `digest` was made from is no longer there: the removal that
    // made the copy deleted it, as it does only once its restores are made
    // or asked for.
    bool KeptGone(const std::string& path, const std::string& digest) const {
        if (digest.empty() || digest == kUnreadable) return false;
        for (const RecordEntry& e : record_) {
            const bool pending = e.kind == RecordKind::kPending;
            if (!pending && e.kind != RecordKind::kReplaced) continue;
            const std::string& kept = Field(e, pending ? 2 : 1);
            const std::string& before = Field(e, pending ? 3 : 2);
            if (Key(Field(e, 0)) == Key(path) && !kept.empty() && !world_.FileDigest(kept).empty() &&
                (before.empty() || before == digest))
                return false;
        }
        return true;
    }

    // Whether the install the entry belongs to ended with a failure: a
    // registration it recorded may have failed.
    bool FailedRun(std::size_t index) const {
        for (std::size_t i = index; i < record_.size() && record_[i].kind != RecordKind::kBegun; ++i) {
            if (record_[i].kind != RecordKind::kEnded) continue;
            const std::string& code = Field(record_[i], 1);
            return code != "0" && code != "3010" && code != "1641";
        }
        return false;
    }

    // Whether other programs count the file besides this product: the
    // count, less this product's own while that is not lowered yet.
    bool OthersCount(const std::string& path) {
        const bool ownLowered = lowered_.count(Key(path)) || countsLowered_.count(Key(path));
        return CountNow(path) > (ownLowered ? 0u : 1u);
    }

    bool SharedEntry(const std::string& path) const {
        for (const RecordEntry& e : record_)
            if (e.kind == RecordKind::kShared && Key(Field(e, 0)) == Key(path)) return true;
        return false;
    }

    bool Allowed(const std::string& path) const {
        for (const std::string& folder : allowed_)
            if (IsBelow(path, folder)) return true;
        return false;
    }

    static UndoStep Step(UndoAction action, const std::string& path) {
        UndoStep step;
        step.action = action;
        step.path = path;
        return step;
    }
    void Add(UndoAction action, const std::string& path) { steps_.push_back(Step(action, path)); }
    void Leave(const std::string& path, const std::string& why) {
        UndoStep step = Step(UndoAction::kLeave, path);
        step.other = why;
        steps_.push_back(step);
    }

    const std::vector<RecordEntry>& record_;
    UndoWorld& world_;
    const std::vector<std::string>& allowed_;
    std::vector<UndoStep> steps_;
    struct FileNow {
        std::string digest;  // empty: no file
        uint64_t size;
    };
    std::map<std::string, FileNow> files_;  // by upper-cased path
    std::map<std::string, uint32_t> counts_;
    std::map<std::string, std::pair<bool, std::string>> settings_;  // by SettingKey: present, value
    std::set<std::string> stillShared_;
    std::set<std::string> lowered_;  // upper-cased paths whose count this product's lines lowered
    std::set<std::string> countsLowered_;  // upper-cased paths whose count a killed removal lowered
    std::map<std::string, std::size_t> loweredBefore_;  // a later install's count: the lowering before it
    std::size_t lastRemoval_ = 0;
    std::vector<RecordEntry> afterRestores_;  // temporaries that go once the restores are planned
    std::set<std::string> restoresBegun_;  // upper-cased files a killed removal was putting back
    std::set<std::string> restoresStarted_;  // and those it put back, or began to
    std::set<std::string> restoring_;      // upper-cased copies that the restart renames into place
    std::map<std::string, std::string> values_;  // "<key>\t<name>" -> as undone: its type (a char) and bytes; empty: gone
    std::set<std::string> withdrawals_;    // upper-cased "file\tprevious content" a removal began to withdraw
    std::map<std::string, std::string> restoringFiles_;  // upper-cased file -> that copy  // the newest removal's line: what came before, it may have undone
    std::set<std::string> unregistered_;  // upper-cased path, tab, the content's SHA-256
    std::map<std::string, std::string> unregisteredHosts_;  // upper-cased path of a host file -> how
    std::set<std::size_t> cutShort_;  // entries that an install killed after them may have left unfinished
    std::set<std::size_t> untouched_;  // those whose file no later entry names
};

}  // namespace

std::vector<UndoStep> PlanUndo(const std::vector<RecordEntry>& record, UndoWorld& world,
                               const std::vector<std::string>& allowedFolders) {
    return Planner(record, world, allowedFolders).Run();
}

}  // namespace setup
