#pragma once
// lucheck --harvest: the package author's side of class registrations as
// data. Each listed DLL and OCX is loaded in lucheck's own process with the
// classes root, the machine's and the user's hives redirected into a
// scratch key, and its DllRegisterServer called; what it wrote there
// becomes its section of CLASSES.TXT. Nothing reaches the machine's
// registry. Each listed EXE server registers itself in its own process,
// out of the redirection's reach: it is run with /RegServer and then
// /UnregServer, and what the first run added or changed below the
// machine's and the user's Software\Classes becomes its section; lucheck
// then puts back whatever is still not as it was. Only those class keys
// are watched for an EXE: what it writes anywhere else is not seen. An EXE
// that changes or removes class data that was there before, or writes
// none, gets no section and keeps its /RegServer registration. Either way
// the file's own path (long or short, any case) becomes a token.
// Type libraries keep the system's type-library call (it reads data only).
#include <string>
#include <vector>

#include "lucheck/package.h"

namespace lucheck {

// Writes PACKAGE/CLASSES.TXT; false, with each file's problem (a write
// outside the class keys, a file named other than by its own path, a
// registration that failed or ran out of time, class keys that could not
// be put back), when any file cannot be harvested: nothing is written
// then. `notes` name the EXE servers left to their own registration.
bool Harvest(const Package& package, std::string& written, int& files, std::vector<std::string>& problems,
             std::vector<std::string>& notes);

}  // namespace lucheck
