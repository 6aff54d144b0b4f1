#pragma once
// The text of WININIT.INI, which the 95 family reads at the next start to
// rename and delete files before Windows loads. Its [rename] section holds
// one "destination=source" line per operation ("NUL=path" deletes the file),
// done in file order; several lines may share a key, so the section is
// edited as text, never through the profile calls.
#include <string>

namespace platform {

// The file's text with `line` added as the last line of its [rename]
// section (the first such section; one is appended when there is none).
// Everything else, line ends included, stays as it was; the new line ends
// in CRLF.
std::string WithRenameLine(const std::string& text, const std::string& line);

}  // namespace platform
