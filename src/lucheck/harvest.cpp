#include "lucheck/harvest.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/text.h"
#include "setup/class_data.h"
#include "setup/update_list.h"

#ifdef _WIN32
#include "platform/win32/machine_win32.h"
#endif

namespace lucheck {

namespace {

#ifdef _WIN32

constexpr const char* kScratch = "Software\\LiveUpdateHarvest";
constexpr DWORD kServerWaitMs = 60000;  // how long a server's registration run may take

setup::ValueType TypeOf(DWORD type) {
    switch (type) {
    case REG_SZ: return setup::ValueType::kString;
    case REG_EXPAND_SZ: return setup::ValueType::kExpandString;
    case REG_MULTI_SZ: return setup::ValueType::kMultiString;
    case REG_DWORD: return setup::ValueType::kNumber;
    case REG_BINARY: return setup::ValueType::kBinary;
    default: return setup::ValueType::kNone;
    }
}

// A string's data without its terminating NULs (a multi-string's parts
// stay NUL-separated).
std::string StringData(std::string data) {
    while (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
}

// Value `index` of `key` into the buffers, which grow when it does not fit.
LONG ReadValue(HKEY key, DWORD index, std::vector<char>& name, std::vector<char>& bytes, DWORD& nameSize,
               DWORD& type, DWORD& size) {
    LONG result = ERROR_MORE_DATA;
    for (int tries = 0; result == ERROR_MORE_DATA && tries < 3; ++tries) {
        if (tries) {
            name.resize(32768);  // the longest value name, in double-byte characters
            bytes.resize(std::max<std::size_t>(bytes.size() * 2, size + 1));
        }
        nameSize = static_cast<DWORD>(name.size());
        size = static_cast<DWORD>(bytes.size());
        result = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type,
                               reinterpret_cast<BYTE*>(bytes.data()), &size);
    }
    return result;
}

// Calls use(name, type, bytes) for each value of `key`.
template <typename Use>
void ForEachValue(HKEY key, Use use) {
    DWORD count = 0, nameMax = 0, dataMax = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &nameMax, &dataMax,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> name(nameMax + 1), bytes(dataMax + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameSize = 0, type = 0, size = 0;
        if (ReadValue(key, i, name, bytes, nameSize, type, size) == ERROR_SUCCESS)
            use(std::string(name.data(), nameSize), type, std::string(bytes.data(), size));
    }
}

// Calls use(name, child) for each subkey of `key` that opens for reading.
template <typename Use>
void ForEachSubkey(HKEY key, Use use) {
    char name[256];  // the longest key name, with its NUL
    for (DWORD i = 0, size = sizeof name;
         RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = sizeof name) {
        HKEY child;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        use(std::string(name, size), child);
        RegCloseKey(child);
    }
}

// Turns what a file's registration wrote into its section, judging every
// key and string by the rules the installer reads CLASSES.TXT with.
struct Walk {
    std::string path;       // the file's own path, long form
    std::string shortPath;  // and short
    setup::ClassData& data;
    std::vector<std::string>& problems;

    void Problem(const std::string& why) { problems.push_back(data.file + ": " + why); }

    // False, with the problem, when a key that holds values or stands
    // alone is not a class key. Keys on the way to others (CLSID itself)
    // are judged by those.
    bool ClassKey(const std::string& relative, const std::string& shown) {
        const std::string why = setup::KeyTrouble(relative);
        if (!why.empty()) Problem("writes " + shown + " (" + why + ")");
        return why.empty();
    }

    void KeyAlone(const std::string& relative) {
        data.values.push_back({relative, "", setup::ValueType::kNone, ""});
    }

    // A value as the registry holds it; in a string the file's own path
    // becomes its token, and no other file may be named.
    void Value(const std::string& relative, const std::string& name, DWORD type, const std::string& bytes) {
        setup::ClassValue value{relative, name, TypeOf(type), std::string()};
        if (value.type == setup::ValueType::kNone) return Problem(relative + ": a value of a type CLASSES.TXT has no name for");
        const bool text = value.type == setup::ValueType::kString || value.type == setup::ValueType::kExpandString ||
                          value.type == setup::ValueType::kMultiString;
        value.data = text ? setup::WithPathsTokenized(StringData(bytes), path, shortPath) : bytes;
        if (text) {
            for (const std::string& part : platform::Split(value.data, std::string(1, '\0')))
                if (const std::string why = setup::FileNameTrouble(part); !why.empty())
                    return Problem(relative + ": " + why);
        }
        data.values.push_back(std::move(value));
    }

    // Every key below `key` (named `relative` below the classes root), its
    // values, and a key-alone line for a leaf without values.
    void Key(HKEY key, const std::string& relative, const std::string& shown) {
        DWORD values = 0, subkeys = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        if ((values || !subkeys) && !ClassKey(relative, shown)) return;
        ForEachValue(key, [&](const std::string& name, DWORD type, const std::string& bytes) {
            Value(relative, name, type, bytes);
        });
        if (values == 0 && subkeys == 0) KeyAlone(relative);
        Children(key, relative, shown);
    }

    void Children(HKEY key, const std::string& relative, const std::string& shown) {
        ForEachSubkey(key, [&](const std::string& name, HKEY child) {
            Key(child, relative.empty() ? name : relative + "\\" + name, shown + "\\" + name);
        });
    }
};

// The scratch key's three hives, as the classes root sees them.
void Collect(HKEY scratch, Walk& walk) {
    HKEY hive;
    if (RegOpenKeyExA(scratch, "HKCR", 0, KEY_READ, &hive) == ERROR_SUCCESS) {
        walk.Children(hive, "", "HKEY_CLASSES_ROOT");
        RegCloseKey(hive);
    }
    for (const char* name : {"HKLM", "HKCU"}) {
        if (RegOpenKeyExA(scratch, name, 0, KEY_READ, &hive) != ERROR_SUCCESS) continue;
        const std::string shown = std::string(name) == "HKLM" ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
        HKEY classes;
        if (RegOpenKeyExA(hive, "Software\\Classes", 0, KEY_READ, &classes) == ERROR_SUCCESS) {
            walk.Children(classes, "", shown + "\\Software\\Classes");
            RegCloseKey(classes);
            RegDeleteKeyA(hive, "Software\\Classes");  // only now empty of what was walked
        }
        // Anything else there is outside the class keys.
        char other[256];
        DWORD size = sizeof other;
        for (DWORD i = 0; RegEnumKeyExA(hive, i, other, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, size = sizeof other) {
            HKEY below;
            if (std::string(other) == "Software" && RegOpenKeyExA(hive, other, 0, KEY_READ, &below) == ERROR_SUCCESS) {
                char inner[256];
                DWORD innerSize = sizeof inner;
                for (DWORD j = 0; RegEnumKeyExA(below, j, inner, &innerSize, nullptr, nullptr, nullptr, nullptr) ==
                                  ERROR_SUCCESS;
                     ++j, innerSize = sizeof inner)
                    if (std::string(inner) != "Classes")
                        walk.Problem("writes " + shown + "\\Software\\" + inner + ", outside the class keys");
                RegCloseKey(below);
                continue;
            }
            walk.Problem("writes " + shown + "\\" + other + ", outside the class keys");
        }
        RegCloseKey(hive);
    }
}

// Calls the library's DllRegisterServer with the three roots redirected.
bool Register(const std::string& path, HKEY scratch, std::string& why) {
    HKEY roots[3];
    const char* names[] = {"HKCR", "HKLM", "HKCU"};
    const HKEY predefined[] = {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (int i = 0; i < 3; ++i)
        if (RegCreateKeyExA(scratch, names[i], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &roots[i], nullptr) !=
            ERROR_SUCCESS)
            return why = "the scratch key could not be made", false;
    for (int i = 0; i < 3; ++i) RegOverridePredefKey(predefined[i], roots[i]);
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const auto registerServer =
        library ? reinterpret_cast<HRESULT(__stdcall*)()>(GetProcAddress(library, "DllRegisterServer")) : nullptr;
    const HRESULT result = registerServer ? registerServer() : E_FAIL;
    if (library) FreeLibrary(library);
    for (int i = 0; i < 3; ++i) {
        RegOverridePredefKey(predefined[i], nullptr);
        RegCloseKey(roots[i]);
    }
    if (!library) why = "it could not be loaded";
    else if (!registerServer) why = "it has no DllRegisterServer";
    else if (FAILED(result)) why = "its DllRegisterServer failed (" + platform::Number(static_cast<long>(result)) + ")";
    return why.empty();
}

// A library's DllRegisterServer with the roots redirected into a scratch
// key: its section is what it wrote there.
bool HarvestLibrary(Walk& walk) {
    const std::string scratchName = std::string(kScratch) + "\\" + platform::Number(static_cast<long>(GetCurrentProcessId()));
    HKEY scratch;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, scratchName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch,
                        nullptr) != ERROR_SUCCESS) {
        walk.Problem("the scratch key could not be made");
        return false;
    }
    std::string why;
    if (Register(walk.path, scratch, why)) Collect(scratch, walk);
    else walk.Problem(why);
    RegCloseKey(scratch);
    platform::win32::DeleteKeyTree(HKEY_CURRENT_USER, scratchName.c_str());
    platform::win32::DeleteKeyTree(HKEY_CURRENT_USER, kScratch);
    return true;
}

// One key or value below a classes root, as a snapshot holds it.
struct Entry {
    int root = 0;          // index into kRoots
    std::string key;       // below the root's Software\Classes
    std::string name;      // a value's name
    bool isValue = false;  // else the key itself
    bool leaf = false;     // a key without values or subkeys
    DWORD type = REG_NONE;
    std::string data;
};
using Snapshot = std::vector<Entry>;  // in the order of Before

const HKEY kRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};

// Registry names, compared as the registry does: without regard to case.
int CompareNames(const std::string& a, const std::string& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const int x = std::toupper(static_cast<unsigned char>(a[i]));
        const int y = std::toupper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// By root, then key (a key before its subkeys), the key before its values.
bool Before(const Entry& a, const Entry& b) {
    if (a.root != b.root) return a.root < b.root;
    if (const int order = CompareNames(a.key, b.key)) return order < 0;
    if (a.isValue != b.isValue) return b.isValue;
    return CompareNames(a.name, b.name) < 0;
}

bool SamePlace(const Entry& a, const Entry& b) { return !Before(a, b) && !Before(b, a); }

std::string KeyPath(const Entry& entry) {
    return entry.key.empty() ? setup::kClassesKey : std::string(setup::kClassesKey) + "\\" + entry.key;
}

std::string Shown(const Entry& entry) {
    const std::string key = std::string(kRootNames[entry.root]) + "\\" + KeyPath(entry);
    return entry.isValue ? key + " " + (entry.name.empty() ? "(default)" : entry.name) : key;
}

// Top-level keys that hold no class data: the shell's per-user caches
// (written whenever a program runs), and the 32-bit view of keys that the
// walk already sees through the system's redirection.
bool Unwatched(const std::string& name) {
    return CompareNames(name, "Local Settings") == 0 || CompareNames(name, "Wow6432Node") == 0;
}

void SnapKey(HKEY key, int root, const std::string& relative, Snapshot& entries) {
    const std::size_t self = entries.size();
    if (!relative.empty()) entries.push_back({root, relative, "", false, false, REG_NONE, ""});
    bool empty = true;
    ForEachValue(key, [&](const std::string& name, DWORD type, const std::string& bytes) {
        entries.push_back({root, relative, name, true, false, type, bytes});
        empty = false;
    });
    ForEachSubkey(key, [&](const std::string& name, HKEY child) {
        empty = false;
        if (relative.empty() && Unwatched(name)) return;
        SnapKey(child, root, relative.empty() ? name : relative + "\\" + name, entries);
    });
    if (!relative.empty()) entries[self].leaf = empty;
}

// Every key and value below the machine's and the user's Software\Classes.
Snapshot TakeSnapshot() {
    Snapshot entries;
    for (int root = 0; root < 2; ++root) {
        HKEY classes;
        if (RegOpenKeyExA(kRoots[root], setup::kClassesKey, 0, KEY_READ, &classes) != ERROR_SUCCESS) continue;
        SnapKey(classes, root, "", entries);
        RegCloseKey(classes);
    }
    std::sort(entries.begin(), entries.end(), Before);
    return entries;
}

// What tells two snapshots apart: `made`, what the later one has that the
// earlier has not or holds with other data (as the later holds it); `lost`,
// what the earlier one has that the later has not or holds with other data
// (as the earlier held it).
struct Changes {
    std::vector<Entry> made, lost;
    bool None() const { return made.empty() && lost.empty(); }
};

Changes Differences(const Snapshot& before, const Snapshot& after) {
    Changes changes;
    auto old = before.begin();
    auto now = after.begin();
    while (old != before.end() || now != after.end()) {
        if (now == after.end() || (old != before.end() && Before(*old, *now))) {
            changes.lost.push_back(*old++);
        } else if (old == before.end() || Before(*now, *old)) {
            changes.made.push_back(*now++);
        } else {
            if (old->type != now->type || old->data != now->data) {
                changes.lost.push_back(*old);
                changes.made.push_back(*now);
            }
            ++old, ++now;
        }
    }
    return changes;
}

// Removes what was made and puts back what was lost.
void Undo(const Changes& changes) {
    for (const Entry& entry : changes.made) {
        HKEY key;
        if (!entry.isValue) platform::win32::DeleteKeyTree(kRoots[entry.root], KeyPath(entry).c_str());
        else if (RegOpenKeyExA(kRoots[entry.root], KeyPath(entry).c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, entry.name.c_str());
            RegCloseKey(key);
        }
    }
    for (const Entry& entry : changes.lost) {  // a key before its values
        HKEY key;
        if (RegCreateKeyExA(kRoots[entry.root], KeyPath(entry).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            continue;
        if (entry.isValue)
            RegSetValueExA(key, entry.name.c_str(), 0, entry.type, reinterpret_cast<const BYTE*>(entry.data.data()),
                           static_cast<DWORD>(entry.data.size()));
        RegCloseKey(key);
    }
}

// Runs the program with `option`, from the system folder and without a
// window; empty, or what went wrong.
std::string RunServer(const std::string& path, const std::string& option) {
    std::string command = "\"" + path + "\" " + option;
    const std::string folder = platform::win32::SystemFolder();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    const std::string run = "its " + option + " run";
    if (!CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return run + " could not start (error " + platform::Number64(GetLastError()) + ")";
    CloseHandle(process.hThread);
    std::string why;
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, kServerWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);  // so that it writes nothing once the keys are put back
        why = run + " did not end within " + platform::Number(kServerWaitMs / 1000) + " s";
    } else if (GetExitCodeProcess(process.hProcess, &code) && code != 0) {
        why = run + " ended with exit code " + platform::Number64(code);
    }
    CloseHandle(process.hProcess);
    return why;
}

// The section for what a server's registration made, whichever root it
// wrote to: its values, and its new keys without values or subkeys.
void ServerSection(std::vector<Entry> made, Walk& walk) {
    made.erase(std::remove_if(made.begin(), made.end(), [](const Entry& e) { return !e.isValue && !e.leaf; }),
               made.end());
    for (Entry& entry : made) entry.root = 0;
    std::stable_sort(made.begin(), made.end(), Before);
    made.erase(std::unique(made.begin(), made.end(), SamePlace), made.end());
    const Entry* judged = nullptr;
    bool classKey = false;
    for (const Entry& entry : made) {
        if (!judged || CompareNames(judged->key, entry.key) != 0) {
            judged = &entry;
            classKey = walk.ClassKey(entry.key, "HKEY_CLASSES_ROOT\\" + entry.key);
        }
        if (!classKey) continue;
        if (entry.isValue) walk.Value(entry.key, entry.name, entry.type, entry.data);
        else walk.KeyAlone(entry.key);
    }
}

// Makes the class keys what they were `before`, from what was `left`
// different; a problem when they still differ.
void PutBack(const Snapshot& before, const Changes& left, Walk& walk) {
    Undo(left);
    const Changes still = Differences(before, TakeSnapshot());
    if (!still.None())
        walk.Problem("the class keys could not be put back as they were (" +
                     Shown(still.made.empty() ? still.lost.front() : still.made.front()) + ")");
}

// Why a server whose runs worked gets no section; empty when it gets one.
// What it changed or removed, registering or unregistering, no section
// can give back.
std::string NoSection(const Changes& registered, const Changes& left) {
    if (!registered.lost.empty() || !left.lost.empty())
        return "cannot be harvested exactly (it changes class data that was there before)";
    return registered.made.empty() ? "its /RegServer run wrote nothing in the class keys" : "";
}

// An EXE server registers itself in its own process, out of the
// redirection's reach: the class keys are compared before and after its
// /RegServer run, its /UnregServer run follows, and lucheck puts back
// whatever is still not as it was. False when it gets no section.
bool HarvestServer(Walk& walk, std::vector<std::string>& notes) {
    const Snapshot before = TakeSnapshot();
    std::string why = RunServer(walk.path, "/RegServer");
    const Changes registered = why.empty() ? Differences(before, TakeSnapshot()) : Changes();
    if (why.empty()) why = RunServer(walk.path, "/UnregServer");
    const Changes left = Differences(before, TakeSnapshot());
    PutBack(before, left, walk);
    if (!why.empty()) {
        walk.Problem(why);
        return false;
    }
    if (const std::string reason = NoSection(registered, left); !reason.empty()) {
        notes.push_back(walk.data.file + ": " + reason + ": it keeps its /RegServer registration");
        return false;
    }
    ServerSection(registered.made, walk);
    return true;
}

bool HarvestFile(const std::string& path, setup::ClassData& data, std::vector<std::string>& problems,
                 std::vector<std::string>& notes) {
    char full[MAX_PATH], shortPath[MAX_PATH];
    if (!GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr)) {
        problems.push_back(data.file + ": its full path cannot be made");
        return false;
    }
    if (!GetShortPathNameA(full, shortPath, MAX_PATH)) lstrcpyA(shortPath, full);
    Walk walk{full, shortPath, data, problems};
    const std::size_t before = problems.size();
    const bool sectioned = setup::ExtensionOf(data.file) == "EXE" ? HarvestServer(walk, notes) : HarvestLibrary(walk);
    return sectioned && problems.size() == before;
}

#else

bool HarvestFile(const std::string&, setup::ClassData& data, std::vector<std::string>& problems,
                 std::vector<std::string>&) {
    problems.push_back(data.file + ": harvesting runs the file's registration, which only lucheck.exe on Windows can");
    return false;
}

#endif

}  // namespace

bool Harvest(const Package& package, std::string& written, int& files, std::vector<std::string>& problems,
             std::vector<std::string>& notes) {
    std::vector<setup::ClassData> data;
    std::set<std::string> seen;
    for (const std::string& name : ListedNames(package)) {
        const std::string key = Key(name);
        const std::string extension = setup::ExtensionOf(key);
        const std::string path = package.PathOf(name);
        if (!setup::FindableName(name) || path.empty() || !seen.insert(key).second) continue;
        if (extension != "DLL" && extension != "OCX" && extension != "EXE") continue;
        data.push_back({key, {}});
        if (!HarvestFile(path, data.back(), problems, notes)) data.pop_back();
    }
    if (!problems.empty()) return false;
    written = (std::filesystem::path(package.folder) / setup::kClassDataName).string();
    std::ofstream out(written, std::ios::binary | std::ios::trunc);
    out << setup::FormatClassData(data);
    files = static_cast<int>(data.size());
    if (!out.flush()) problems.push_back(written + ": cannot be written");
    return problems.empty();
}

}  // namespace lucheck
