#pragma once
// Undoing an install: from its record, newest change first, the steps that
// put the host back as it was, each decided by what the machine holds now.
// Only what the install left exactly as it left it is undone; anything
// changed since stays and is named.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_services.h"
#include "setup/install_record.h"

namespace setup {

// What FileDigest gives for a file that is there but cannot be read: a
// program holds it open without sharing. It is in use, never gone.
constexpr const char* kUnreadable = "in use";

// What the machine holds now, as far as undoing needs to know.
class UndoWorld {
public:
    virtual ~UndoWorld() = default;
    // The file's SHA-256 in hex; empty when there is no such file;
    // kUnreadable when it is there but cannot be read.
    virtual std::string FileDigest(const std::string& path) = 0;
    // The file's size in bytes; 0 when there is no such file.
    virtual uint64_t FileSize(const std::string& path) = 0;
    // The settings value; false when there is none.
    virtual bool SettingValue(const std::string& file, const std::string& section, const std::string& key,
                              std::string& value) = 0;
    // The file's shared-file count; 0 when it has none.
    virtual uint32_t SharedCount(const std::string& path) = 0;
    // A value below HKEY_LOCAL_MACHINE; false when it is absent.
    virtual bool MachineValue(const std::string&, const std::string&, platform::RegistryValue&) { return false; }
};

enum class UndoAction {
    kRemoveTemporary,    // path: a temporary an interrupted install left
    kDelete,             // path: a file the install created, unchanged since
    kRestore,            // path gets back what `from` keeps
    kUnregister,         // path, how (the record's word)
    kSetSetting,         // file, section, key, value: the value before
    kRemoveSetting,      // file, section, key; the section too when the install made it and it is empty
    kLowerShared,        // path, count: the count after lowering
    kRemoveShared,       // path: its count reached zero
    kRemoveShortcut,     // path: the link, and its folder when that is left empty
    kRemoveProgramItem,  // group, item: made by the Program Manager conversation
    kWithdrawReplacement,  // path, its waiting copy (other), where its previous content moves
                           // at the restart (value): the replacement has not happened yet
    kLeave,              // path, why: changed since, kept content gone, outside the allowed folders
    kRegisterAgain,      // path, how: the host's own content, back in place, registered again as
                         // the host had it (value: the SHA-256 it must hold)
    kSetValue,           // path: a key below HKEY_LOCAL_MACHINE, key: the value's name, count: its
                         // type, value: its bytes before the install (hex)
    kRemoveValue,        // path, key: a class value the install wrote where there was none
    kRemoveKey,          // path: a key the install made, once it holds nothing
};

struct UndoStep {
    UndoAction action = UndoAction::kLeave;
    std::string path;   // the file, settings file, link, or Program Manager group
    std::string other;  // where the content comes from, how it was registered, the section, or why it stays
    std::string key;    // settings key, or Program Manager item
    std::string value;  // the setting's value before; for an unregistration, the SHA-256 the file must hold
    uint32_t count = 0;
    bool sectionMade = false;  // the install made the settings section
    bool perhapsNotMade = false;  // a registration that a kill may have come before, or a killed
                                  // removal undone already
};

// The steps for the record's entries, newest first. Files are deleted or
// restored only below one of `allowedFolders` (each without a trailing
// backslash, compared without regard to case).
std::vector<UndoStep> PlanUndo(const std::vector<RecordEntry>& record, UndoWorld& world,
                               const std::vector<std::string>& allowedFolders);

}  // namespace setup
