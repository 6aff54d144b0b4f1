#pragma once
// The machine-wide install lock: the accounts that may hold it, and what a
// lock of its name that exists already means.
#include <cstdint>
#include <vector>

#include "platform/os_services.h"

namespace platform {

// A security identifier in its binary form.
using Sid = std::vector<uint8_t>;

// The accounts that may hold the lock: Administrators (S-1-5-32-544) and the
// system account (S-1-5-18). The installer runs as one of them.
const Sid& AdministratorsSid();
const Sid& SystemSid();

// What a lock of the name that exists already means. An installer's lock is
// owned by one of those accounts and lets both open it; one owned by anyone
// else, by nobody, or one that could not be opened (`owner` empty) was made
// by some other program and is no reason to refuse.
InstallLock ExistingInstallLock(const Sid& owner);

}  // namespace platform
