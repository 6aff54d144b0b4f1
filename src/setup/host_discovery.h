#pragma once
// The host's folder for runs that nobody attends, when the current user has
// none stored: a deployment tool runs as the system account, whose own
// settings the host product never wrote. The folder then comes from the
// settings of the machine's users.
#include <string>
#include <vector>

#include "platform/os_services.h"

namespace setup {

struct HostChoice {
    std::string folder;              // empty when no single folder was found
    std::string origin;              // where the folder came from, as the log says it
    std::vector<std::string> notes;  // for the log: profiles skipped, settings that name no host
    std::string refusal;             // why no folder was chosen; empty when one was
};

// The settings that name a folder holding the host's settings file are the
// candidates, compared without regard to case or a trailing backslash;
// "0" names none, as for the current user. Exactly one candidate is
// chosen; several, or none, refuse.
HostChoice ChooseHostFolder(platform::OsServices& os, const std::string& systemName,
                            const std::vector<platform::UserSetting>& settings);

}  // namespace setup
