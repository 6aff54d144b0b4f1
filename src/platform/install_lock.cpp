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

InstallLock ExistingInstallLock(const Sid& owner) {
    const bool installer = owner == AdministratorsSid() || owner == SystemSid();
    return installer ? InstallLock::kHeldByInstaller : InstallLock::kSquatted;
}

}  // namespace platform
