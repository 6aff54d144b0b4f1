#include "platform/install_lock.h"

#include "platform/text.h"

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

bool OnlyTrustedMayChange(const Guard& guard, const Sid& running) { return UntrustedChanger(guard, running).empty(); }

std::string UntrustedChanger(const Guard& guard, const Sid& running) {
    if (guard.anyone) return "anyone (it has no access list)";
    if (!TrustedAccount(guard.owner, running)) return "its owner " + SidText(guard.owner);
    for (const Sid& writer : guard.writers)
        if (!TrustedAccount(writer, running)) return SidText(writer);
    return std::string();
}

std::string SidText(const Sid& sid) {
    if (sid.size() < 8 || sid.size() != 8u + 4u * sid[1]) return "an account of unknown form";
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
    std::string text = "S-" + Number64(sid[0]) + "-" + Number64(authority);
    for (std::size_t i = 8; i < sid.size(); i += 4)
        text += "-" + Number64(uint32_t{sid[i]} | uint32_t{sid[i + 1]} << 8 | uint32_t{sid[i + 2]} << 16 |
                                     uint32_t{sid[i + 3]} << 24);
    static const char* const kNames[][2] = {{"S-1-1-0", "Everyone"},
                                            {"S-1-5-11", "Authenticated Users"},
                                            {"S-1-5-32-545", "Users"},
                                            {"S-1-5-4", "Interactive"},
                                            {"S-1-3-4", "Owner Rights"}};
    for (const auto& known : kNames)
        if (text == known[0]) return text + " (" + known[1] + ")";
    return text;
}

InstallLock ExistingInstallLock(const Sid& owner) {
    const bool installer = owner == AdministratorsSid() || owner == SystemSid();
    return installer ? InstallLock::kHeldByInstaller : InstallLock::kSquatted;
}

}  // namespace platform
