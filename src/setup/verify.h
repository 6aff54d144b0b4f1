#pragma once
// Verifying an install: whether what the install record says the installs
// left is still on the machine as they left it. Nothing is changed.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_services.h"
#include "setup/install_record.h"
#include "setup/undo_plan.h"

namespace setup {

// What verifying needs to know of the machine, beyond what undoing does.
class VerifyWorld : public UndoWorld {
public:
    // Whether a file (a shortcut included) is at the path.
    virtual bool FileExists(const std::string& path) = 0;
    // A string value below HKEY_LOCAL_MACHINE; false when there is none.
    virtual bool MachineString(const std::string& key, const std::string& name, std::string& value) = 0;
    // See OsServices::RegisteredPaths; asked only while the file holds
    // `digest` and nobody can change it (`known` false otherwise).
    virtual std::vector<std::string> RegisteredPaths(const std::string& file, const std::string& how,
                                                     const std::string& digest, bool& known) = 0;
};

// What the machine holds now, through the system's services. A file in
// use is read beside the program that holds it: it is there, not gone.
class MachineWorld : public VerifyWorld {
public:
    explicit MachineWorld(platform::OsServices& os) : os_(os) {}
    std::string FileDigest(const std::string& path) override;
    uint64_t FileSize(const std::string& path) override;
    bool SettingValue(const std::string& file, const std::string& section, const std::string& key,
                      std::string& value) override;
    uint32_t SharedCount(const std::string& path) override;
    bool MachineValue(const std::string& key, const std::string& name, platform::RegistryValue& value) override;
    bool FileExists(const std::string& path) override;
    bool MachineString(const std::string& key, const std::string& name, std::string& value) override;
    std::vector<std::string> RegisteredPaths(const std::string& file, const std::string& how,
                                             const std::string& digest, bool& known) override;

private:
    platform::OsServices& os_;
};

// One thing the machine holds otherwise than the record says.
struct Difference {
    std::string what;      // a path, a setting, a registry key
    std::string recorded;  // what the record says the install left
    std::string found;     // what the machine holds now
};

// Where the install left its things: the record folder, and the Start
// menu's Programs folders (all users', the user's; empty where none).
struct VerifyPlaces {
    std::string recordFolder;
    std::vector<std::string> programsFolders;
};

// Each file the installs created or replaced holds what the newest of them
// installed (or waits for the restart with it), each kept system file is
// there, each setting holds what was written, each Start-menu item, shared
// count and registration that the system can tell of is there, and so are
// the Add/Remove Programs entry and the uninstaller; the newest install
// ended. The differences, in the record's order.
std::vector<Difference> VerifyRecord(const std::vector<RecordEntry>& record, VerifyWorld& world,
                                     const VerifyPlaces& places);

// The log's line for a difference.
std::string DifferenceLine(const Difference& difference);
// The same for people: a file's digests left out.
std::string DifferenceInShort(const Difference& difference);

}  // namespace setup
