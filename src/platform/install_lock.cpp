#include "platform/install_lock.h"

namespace platform {

// Revision 1, the count of sub-authorities, the NT authority (5), then the
// sub-authorities, each a little-endian 32-bit number.
const Sid& AdministratorsSid() {
    static const Sid sid = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
    return sid;
}

const Sid& SystemSid() {
    static const Sid sid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    return sid;
}

const Sid& TrustedInstallerSid() {
    // S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464
    static const Sid sid = {1, 6, 0, 0, 0, 0, 0, 5, 80, 0, 0, 0, 0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB,
                            0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
    return sid;
}

bool TrustedAccount(const Sid& account, const Sid& running) {
    return account == AdministratorsSid() || account == SystemSid() || account == TrustedInstallerSid() ||
           (!account.empty() && account == running);
}

bool OnlyTrustedMayChange(const Guard& guard, const Sid& running) {
    if (guard.anyone || !TrustedAccount(guard.owner, running)) return false;
    for (const Sid& writer : guard.writers)
        if (!TrustedAccount(writer, running)) return false;
    return true;
}

InstallLock ExistingInstallLock(const Sid& owner) {
    const bool installer = owner == AdministratorsSid() || owner == SystemSid();
    return installer ? InstallLock::kHeldByInstaller : InstallLock::kSquatted;
}

}  // namespace platform
