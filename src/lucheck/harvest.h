#pragma once
// lucheck --harvest: the package author's side of class registrations as
// data. Each listed DLL and OCX is loaded in lucheck's own process with the
// classes root, the machine's and the user's hives redirected into a
// scratch key, and its DllRegisterServer called; what it wrote there,
// with its own path (long or short, any case) turned into a token, becomes
// its section of CLASSES.TXT. Nothing reaches the machine's registry.
// Type libraries keep the system's type-library call (it reads data only);
// EXE servers are not harvested and keep their /RegServer registration.
#include <string>
#include <vector>

#include "lucheck/package.h"

namespace lucheck {

// Writes PACKAGE/CLASSES.TXT; false, with each file's problem (a write
// outside the class keys, a file named other than by its own path, a
// registration that failed), when any file cannot be harvested: nothing
// is written then. `notes` name what is left to its own registration.
bool Harvest(const Package& package, std::string& written, int& files, std::vector<std::string>& problems,
             std::vector<std::string>& notes);

}  // namespace lucheck
