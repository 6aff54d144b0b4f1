#pragma once
// The accounts an administrator's run trusts: those that may hold the
// machine-wide install lock and write the install record, and what a lock
// of its name that exists already means.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_services.h"

namespace platform {

// The accounts that may hold the lock: Administrators (S-1-5-32-544) and the
// system account (S-1-5-18). The installer runs as one of them.
const Sid& AdministratorsSid();
const Sid& SystemSid();
// The account that owns the system's own files from Windows Vista on.
const Sid& TrustedInstallerSid();

// Whether the account is one of those an administrator's run trusts:
// Administrators, the system account, TrustedInstaller, and the account the
// run itself is (an administrator, as the installer must run: a folder it
// made where the system gives new folders their maker as owner).
bool TrustedAccount(const Sid& account, const Sid& running);
// Whether only trusted accounts own and may change the file or folder, so
// that what it holds was written by an administrator.
bool OnlyTrustedMayChange(const Guard& guard, const Sid& running);
// Who else may change it, for a message: "anyone (it has no access list)",
// "its owner S-1-5-21-..." or "S-1-1-0 (Everyone)"; empty when nobody.
std::string UntrustedChanger(const Guard& guard, const Sid& running);
// The account as S-1-..., with the name of the usual culprits.
std::string SidText(const Sid& sid);

// The lock of a run whose lock name some other program took first, in the
// record folder; the system deletes it when its holder ends.
constexpr const char* kInstallLockFileName = "Install lock";

// What a lock of the name that exists already means. An installer's lock is
// owned by one of those accounts and lets both open it; one owned by anyone
// else, by nobody, or one that could not be opened (`owner` empty) was made
// by some other program and is no reason to refuse.
InstallLock ExistingInstallLock(const Sid& owner);

}  // namespace platform
