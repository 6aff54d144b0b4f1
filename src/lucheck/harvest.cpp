#include "lucheck/harvest.h"

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
std::string StringData(const std::vector<char>& bytes, DWORD size) {
    std::string data(bytes.data(), size);
    while (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
}

struct Walk {
    std::string path;       // the file's own path, long form
    std::string shortPath;  // and short
    setup::ClassData& data;
    std::vector<std::string>& problems;

    void Problem(const std::string& why) { problems.push_back(data.file + ": " + why); }

    // Every key below `key` (named `relative` below the classes root), its
    // values, and a key-alone line for a leaf without values.
    // Keys on the way to others (CLSID itself) are judged by those.
    void Key(HKEY key, const std::string& relative, const std::string& shown) {
        DWORD values = 0, subkeys = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        const std::string why = values || !subkeys ? setup::KeyTrouble(relative) : std::string();
        if (!why.empty()) return Problem("writes " + shown + " (" + why + ")");
        for (DWORD i = 0; i < values; ++i) Value(key, i, relative);
        if (values == 0 && subkeys == 0) data.values.push_back({relative, "", setup::ValueType::kNone, ""});
        Children(key, relative, shown);
    }

    void Children(HKEY key, const std::string& relative, const std::string& shown) {
        char name[256];
        for (DWORD i = 0, size = sizeof name;
             RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, size = sizeof name) {
            HKEY child;
            if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
            const std::string below = relative.empty() ? name : relative + "\\" + name;
            Key(child, below, shown + "\\" + name);
            RegCloseKey(child);
        }
    }

    void Value(HKEY key, DWORD index, const std::string& relative) {
        char name[16384];
        DWORD nameSize = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
        std::vector<char> bytes(size + 2);
        nameSize = sizeof name;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                          &size) != ERROR_SUCCESS)
            return;
        setup::ClassValue value{relative, std::string(name, nameSize), TypeOf(type), std::string()};
        if (value.type == setup::ValueType::kNone) return Problem(relative + ": a value of a type CLASSES.TXT has no name for");
        const bool text = value.type == setup::ValueType::kString || value.type == setup::ValueType::kExpandString ||
                          value.type == setup::ValueType::kMultiString;
        value.data = text ? setup::WithPathsTokenized(StringData(bytes, size), path, shortPath)
                          : std::string(bytes.data(), size);
        if (text) {
            for (const std::string& part : platform::Split(value.data, std::string(1, '\0')))
                if (const std::string why = setup::FileNameTrouble(part); !why.empty())
                    return Problem(relative + ": " + why);
        }
        data.values.push_back(std::move(value));
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

bool HarvestFile(const std::string& path, setup::ClassData& data, std::vector<std::string>& problems) {
    char full[MAX_PATH], shortPath[MAX_PATH];
    if (!GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr)) return false;
    if (!GetShortPathNameA(full, shortPath, MAX_PATH)) lstrcpyA(shortPath, full);
    const std::string scratchName = std::string(kScratch) + "\\" + platform::Number(static_cast<long>(GetCurrentProcessId()));
    HKEY scratch;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, scratchName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch,
                        nullptr) != ERROR_SUCCESS) {
        problems.push_back(data.file + ": the scratch key could not be made");
        return false;
    }
    std::string why;
    const std::size_t before = problems.size();
    if (Register(full, scratch, why)) {
        Walk walk{full, shortPath, data, problems};
        Collect(scratch, walk);
    } else {
        problems.push_back(data.file + ": " + why);
    }
    RegCloseKey(scratch);
    platform::win32::DeleteKeyTree(HKEY_CURRENT_USER, scratchName.c_str());
    platform::win32::DeleteKeyTree(HKEY_CURRENT_USER, kScratch);
    return problems.size() == before;
}

#else

bool HarvestFile(const std::string&, setup::ClassData& data, std::vector<std::string>& problems) {
    problems.push_back(data.file + ": harvesting loads the library, which only lucheck.exe on Windows can");
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
        if (extension == "EXE") notes.push_back(key + ": an EXE server is not harvested: it keeps its /RegServer registration");
        if (extension != "DLL" && extension != "OCX") continue;
        data.push_back({key, {}});
        if (!HarvestFile(path, data.back(), problems)) data.pop_back();
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
