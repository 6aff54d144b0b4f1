#include "setup/host_discovery.h"

#include "platform/install_lock.h"
#include "platform/text.h"
#include "setup/system_platform.h"

namespace setup {

using platform::Cat;
using platform::UserSetting;

namespace {

std::string WithoutTrailingBackslashes(std::string folder) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

bool HoldsHost(platform::OsServices& os, const std::string& folder) {
    return !os.FindFile(folder + "\\Sys\\TOVASK.INI").empty();
}

// A folder that only another user's setting names is trusted only while an
// administrator's account owns it: any user may store any folder, and the
// install then runs that folder's programs as the system account.
bool OwnedByAdministrators(platform::OsServices& os, const std::string& folder) {
    if (IsWin9X(os)) return true;
    platform::Guard guard;
    return os.ReadGuard(folder, guard) && platform::TrustedAccount(guard.owner, os.RunningAccount());
}

std::string OriginText(const UserSetting& setting) {
    if (setting.source == UserSetting::Source::kLoadedHive) return "the setting of " + setting.where;
    return Cat({"the profile ", setting.where, " (its hive loaded for the moment)"});
}

struct Candidate {
    std::string folder;
    std::string origin;
};

bool SameFolder(const std::string& a, const std::string& b) { return platform::UCase(a) == platform::UCase(b); }

void AddCandidate(std::vector<Candidate>& candidates, const std::string& folder, const std::string& origin) {
    for (const auto& candidate : candidates)
        if (SameFolder(candidate.folder, folder)) return;
    candidates.push_back({folder, origin});
}

std::string NoneRefusal(const std::string& systemName, bool settingsFound) {
    if (!settingsFound) return Cat({"No ", systemName, " folder: none is stored and none was given"});
    return Cat({"No ", systemName,
                " folder: none of the stored folders holds Sys\\TOVASK.INI; give the folder with /dir"});
}

std::string SeveralRefusal(const std::string& systemName, const std::vector<Candidate>& candidates) {
    std::string list;
    for (const auto& candidate : candidates)
        list += Cat({list.empty() ? "" : "; ", candidate.folder, ", from ", candidate.origin});
    return Cat({"Several ", systemName, " folders are stored: ", list, "; give the folder with /dir"});
}

}  // namespace

HostChoice ChooseHostFolder(platform::OsServices& os, const std::string& systemName,
                            const std::vector<UserSetting>& settings) {
    HostChoice choice;
    std::vector<Candidate> candidates;
    bool settingsFound = false;
    for (const auto& setting : settings) {
        if (!setting.trouble.empty()) {
            choice.notes.push_back(
                Cat({"Skipped the profile ", setting.where, ": its hive cannot be loaded (", setting.trouble, ")"}));
            continue;
        }
        if (setting.value.empty() || setting.value == "0") continue;
        settingsFound = true;
        const std::string folder = WithoutTrailingBackslashes(setting.value);
        if (HoldsHost(os, folder) && OwnedByAdministrators(os, folder))
            AddCandidate(candidates, folder, OriginText(setting));
        else if (HoldsHost(os, folder))
            choice.notes.push_back(Cat({"Skipped ", folder, ", from ", OriginText(setting),
                                        ": it is not owned by Administrators, the system account or TrustedInstaller, "
                                        "so any user could have made it; give the folder with /dir"}));
        else
            choice.notes.push_back(
                Cat({"Not a ", systemName, " folder: ", setting.value, ", from ", OriginText(setting)}));
    }
    if (candidates.size() == 1) {
        choice.folder = candidates[0].folder;
        choice.origin = candidates[0].origin;
    } else {
        choice.refusal =
            candidates.empty() ? NoneRefusal(systemName, settingsFound) : SeveralRefusal(systemName, candidates);
    }
    return choice;
}

}  // namespace setup
