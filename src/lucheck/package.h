#pragma once
// A package folder as the installer sees it: the lines of UPDATE.LST, read
// with the installer's own line reader, and the files beside it.
#include <map>
#include <string>
#include <vector>

namespace lucheck {

constexpr const char* kListName = "UPDATE.LST";
constexpr const char* kInstallerName = "LIVEUPDATESETUP.EXE";

struct Package {
    std::string folder;               // as given, a native path
    std::vector<std::string> lines;   // UPDATE.LST, line 1 first
    // Regular files in the folder by upper-cased name; each holds the names
    // as they are on disk (more than one when they differ only in case).
    std::map<std::string, std::vector<std::string>> files;

    // The native path of a file in the folder whose name matches without
    // regard to case (as on Windows); empty when there is none.
    std::string PathOf(const std::string& name) const;
};

// Reads the package; false, with a reason, when it cannot be read.
bool ReadPackage(const std::string& folder, Package& package, std::string& reason);

// The upper-cased form names are compared in (as the installer upper-cases them).
std::string Key(const std::string& name);

// The file names the list's body gives, in list order, as the installer reads them.
std::vector<std::string> ListedNames(const Package& package);

}  // namespace lucheck
