#pragma once
// The installer's command line: switches for unattended installs, as
// deployment tools pass them.
#include <string>

#include "setup/outcome.h"

namespace app {

// Reads the arguments after the program's name. Switches start with / or -
// and ignore case; a value may be quoted. NSIS's /D=FOLDER is taken as it
// stands when it is the last argument: unquoted, spaces and all. An unknown
// switch or a missing value leaves its reason in `error`.
setup::RunOptions ParseCommandLine(const std::string& arguments);

// The switches and the exit codes, for /? and for a command line in error.
const char* UsageText();

}  // namespace app
