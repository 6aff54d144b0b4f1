#pragma once
// The installer's command line: switches for unattended installs, as
// deployment tools pass them.
#include <string>

#include "setup/outcome.h"

namespace app {

// Reads the arguments after the program's name, all of them: a quiet or
// passive switch anywhere sets the mode, whatever else is wrong. Switches
// start with / or - and ignore case; a value may be quoted. /D=FOLDER, last
// and unquoted, takes the rest of the line, spaces and all. The first
// unknown switch, stray argument or missing or empty value leaves its
// reason in `error`.
setup::RunOptions ParseCommandLine(const std::string& arguments);

// The switches and the exit codes, for /? and for a command line in error.
const char* UsageText();

}  // namespace app
