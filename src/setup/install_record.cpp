#include "setup/install_record.h"

#include <map>

#include "platform/install_lock.h"
#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/system_platform.h"
#include "setup/update_list.h"

namespace setup {

namespace {

const char* const kKindWords[] = {"begun", "temporary", "created", "replaced", "kept",
                                  "registered", "shared", "setting", "start menu", "ended", "pending", "copied",
                                  "failed", "removing", "lowered", "restoring", "moved", "value", "key"};
constexpr int kKinds = sizeof kKindWords / sizeof kKindWords[0];

bool ParseLine(const std::string& line, RecordEntry& entry) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        parts.push_back(line.substr(start, tab - start));
    parts.push_back(line.substr(start));
    for (int kind = 0; kind < kKinds; ++kind) {
        if (parts[0] != kKindWords[kind]) continue;
        entry.kind = static_cast<RecordKind>(kind);
        entry.fields.clear();
        for (std::size_t i = 1; i < parts.size(); ++i) entry.fields.push_back(platform::UnescapedField(parts[i]));
        return true;
    }
    return false;
}

// Where the installed digest of an entry naming a new content is; 0: none.
std::size_t InstalledDigestField(RecordKind kind) {
    switch (kind) {
    case RecordKind::kCreated: return 1;
    case RecordKind::kReplaced: return 3;
    case RecordKind::kPending: return 4;
    default: return 0;
    }
}

// Gives the copied line's digest to the newest entry naming its file.
void TakeCopiedDigest(std::vector<RecordEntry>& entries, const RecordEntry& copied) {
    if (copied.fields.size() < 2) return;
    for (std::size_t i = entries.size(); i-- > 0;) {
        RecordEntry& entry = entries[i];
        if (entry.kind == RecordKind::kBegun) return;
        const std::size_t field = InstalledDigestField(entry.kind);
        if (field == 0 || entry.fields.empty() || platform::UCase(entry.fields[0]) != platform::UCase(copied.fields[0]))
            continue;
        if (entry.fields.size() <= field) entry.fields.resize(field + 1);
        entry.fields[field] = copied.fields[1];
        return;
    }
}

}  // namespace

const std::string& Field(const RecordEntry& entry, std::size_t index) {
    static const std::string kNone;
    return index < entry.fields.size() ? entry.fields[index] : kNone;
}

void TakeMoved(std::vector<RecordEntry>& entries, const RecordEntry& moved) {
    if (moved.fields.size() < 3) return;
    const auto names = [&](const RecordEntry& entry, std::size_t field, const std::string& path) {
        return entry.fields.size() > field && platform::UCase(entry.fields[field]) == platform::UCase(path);
    };
    for (std::size_t i = entries.size(); i-- > 0;) {
        RecordEntry& entry = entries[i];
        // The copy's own line: what it names is no temporary once moved.
        if (entry.kind == RecordKind::kTemporary && names(entry, 0, moved.fields[1])) {
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (entry.kind != RecordKind::kPending || entry.fields.size() < 5 || !names(entry, 2, moved.fields[0]))
            continue;
        entry.fields[2] = moved.fields[1];
        if (entry.fields[3].empty()) entry.fields[3] = moved.fields[2];
        // Till it is deleted, what stays beside the file is a temporary of
        // the same run (a removal undoes it after the pending line).
        entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(i),
                       {RecordKind::kTemporary, {moved.fields[0], moved.fields[2]}});
        return;
    }
}

bool KnownPreviousContent(const std::vector<RecordEntry>& record, std::size_t index, const std::string& digest) {
    const RecordEntry& pending = record[index];
    if (pending.fields.size() < 4 || pending.fields[3].empty()) return true;
    if (digest.empty()) return false;
    for (std::size_t i = 0; i <= index; ++i) {
        const RecordEntry& e = record[i];
        if (!NamesFile(e.kind) || e.fields.empty() || platform::UCase(e.fields[0]) != platform::UCase(pending.fields[0]))
            continue;
        const std::size_t installed = InstalledDigestField(e.kind);
        const std::size_t before = e.kind == RecordKind::kReplaced ? 2 : e.kind == RecordKind::kPending ? 3 : 0;
        const std::size_t there = e.kind == RecordKind::kPending ? 5 : 0;
        for (const std::size_t field : {installed, before, there})
            if (field != 0 && field < e.fields.size() && e.fields[field] == digest) return true;
    }
    return false;
}

std::string FormatRecordLine(const RecordEntry& entry) {
    std::string line = kKindWords[static_cast<int>(entry.kind)];
    for (const std::string& field : entry.fields) {
        line += '\t';
        line += platform::EscapedField(field);
    }
    return line;
}

std::vector<std::string> WholeLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    }
    return lines;  // what follows the last line end was cut off
}

std::vector<RecordEntry> ParseRecord(const std::string& text) {
    std::vector<RecordEntry> entries;
    for (const std::string& line : WholeLines(text)) {
        RecordEntry entry;
        if (line.empty() || line[0] == '#' || !ParseLine(line, entry)) continue;
        if (entry.kind == RecordKind::kCopied)
            TakeCopiedDigest(entries, entry);
        else if (entry.kind == RecordKind::kMoved)
            TakeMoved(entries, entry);
        else
            entries.push_back(std::move(entry));
    }
    return entries;
}

std::set<std::size_t> CutShortEntries(const std::vector<RecordEntry>& record) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::set<std::size_t> cutShort;
    std::size_t lastChange = kNone;
    bool removal = false;  // a removal's own lines end the install before them
    for (std::size_t i = 0; i <= record.size(); ++i) {
        const bool runBegins =
            i == record.size() || record[i].kind == RecordKind::kBegun || record[i].kind == RecordKind::kRemoving;
        if (runBegins) {
            if (lastChange != kNone) cutShort.insert(lastChange);
            lastChange = kNone;
            removal = i < record.size() && record[i].kind == RecordKind::kRemoving;
        } else if (!removal) {
            lastChange = record[i].kind == RecordKind::kEnded ? kNone : i;
        }
    }
    return cutShort;
}

bool MadeNew(const RecordEntry& entry) {
    return entry.kind == RecordKind::kCreated ||
           (entry.kind == RecordKind::kPending && Field(entry, 3) == kNoPreviousContent);
}

bool NamesFile(RecordKind kind) {
    return kind == RecordKind::kCreated || kind == RecordKind::kReplaced || kind == RecordKind::kKept ||
           kind == RecordKind::kPending;
}

std::set<std::size_t> CutShortUntouched(const std::vector<RecordEntry>& record) {
    std::map<std::string, std::size_t> lastNamed;  // upper-cased path -> the newest entry naming it
    auto namesFile = [&](std::size_t i) { return NamesFile(record[i].kind) && !record[i].fields.empty(); };
    for (std::size_t i = 0; i < record.size(); ++i)
        if (namesFile(i)) lastNamed[platform::UCase(record[i].fields[0])] = i;
    std::set<std::size_t> untouched;
    for (const std::size_t i : CutShortEntries(record))
        if (namesFile(i) && lastNamed[platform::UCase(record[i].fields[0])] == i) untouched.insert(i);
    return untouched;
}

bool RemovalInterrupted(const std::vector<RecordEntry>& record) {
    for (std::size_t i = record.size(); i-- > 0;) {
        if (record[i].kind == RecordKind::kRemoving) return true;
        if (record[i].kind == RecordKind::kBegun) return false;
    }
    return false;
}

bool SharedCounted(const std::vector<RecordEntry>& record, const std::string& path, uint32_t countNow) {
    for (std::size_t i = record.size(); i-- > 0;) {
        const RecordEntry& entry = record[i];
        const bool aboutCount = entry.kind == RecordKind::kShared || entry.kind == RecordKind::kLowered;
        if (aboutCount && !entry.fields.empty() && platform::UCase(entry.fields[0]) == platform::UCase(path))
            return entry.kind == RecordKind::kShared ||
                   (entry.fields.size() > 1 && platform::Number(static_cast<long>(countNow)) == entry.fields[1]);
    }
    return false;
}

std::string RestartNamesFile(const std::string& recordFolder) {
    return platform::Cat({recordFolder, "\\", kRestartNamesFileName});
}

std::string UnusedKeptPath(platform::OsServices& os, const std::string& recordFolder, const std::string& file,
                           int& next) {
    const std::string name = "-" + file.substr(file.find_last_of('\\') + 1);
    std::string path;
    do {
        path = platform::Cat({recordFolder, "\\", kKeptFolderName, "\\", platform::Number(next++), name});
    } while (!os.FindFile(path).empty());
    return path;
}

std::string ProductName(const std::string& systemName) { return systemName + " Live Update"; }

std::string RecordFolder(platform::OsServices& os, const std::string& systemName) {
    const std::string programFiles = os.GetProgramFilesFolder();
    return programFiles.empty() || !FindableName(systemName)
               ? std::string()
               : platform::Cat({programFiles, "\\", ProductName(systemName)});
}

bool RecordFolderTrusted(platform::OsServices& os, const std::string& folder, std::string& why) {
    why.clear();
    if (IsWin9X(os)) return true;
    platform::Guard guard;
    if (os.PathThroughLink(folder))
        why = "a link or junction leads to it";
    else if (!os.ReadGuard(folder, guard))
        why = "its owner and permissions cannot be read";
    else if (!platform::OnlyTrustedMayChange(guard, os.RunningAccount()))
        why = "accounts other than Administrators and the system account own it or may change it";
    return why.empty();
}

void RemoveUnbegunRecordFolder(platform::OsServices& os, const std::string& folder) {
    std::string why, text;
    if (folder.empty() || !RecordFolderTrusted(os, folder, why)) return;
    const std::string record = platform::Cat({folder, "\\", kRecordFileName});
    if (os.ReadWholeFile(record, text) && !ParseRecord(text).empty()) return;
    os.DeleteFileA(record);
    // An uninstaller copy that a killed run left: what it belonged to is gone.
    for (const std::string& name : {std::string(kUninstallerName), std::string(kUninstallerName) + ".new~"}) {
        const std::string path = platform::Cat({folder, "\\", name});
        if (!os.FindFile(path).empty() && !os.DeleteFileA(path)) os.DeleteAtRestart(path);
    }
    os.RemoveEmptyFolder(platform::Cat({folder, "\\", kKeptFolderName}));
    // What waits to be deleted at the restart (an uninstaller in use) leaves
    // the folder then.
    if (!os.RemoveEmptyFolder(folder)) os.DeleteAtRestart(folder);
}

std::string UntrustedRecordText(const std::string& folder, const std::string& why) {
    return platform::Cat({"The install record in ", folder, " cannot be trusted: ", why,
                          ". Nothing was changed; an administrator should remove or check that folder."});
}

std::string UninstallKey(const std::string& systemName) {
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + ProductName(systemName);
}

std::string RecordHeading() {
    return "# Live Update install record: each change an install made, oldest first, one a line, its fields "
           "separated by tabs.\r\n";
}

}  // namespace setup
