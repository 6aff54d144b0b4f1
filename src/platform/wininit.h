#pragma once
// The text of WININIT.INI, which the 95 family reads at the next start to
// rename and delete files before Windows loads. Its [rename] section holds
// one "destination=source" line per operation ("NUL=path" deletes the file),
// done in file order; several lines may share a key, so the section is
// edited as text, never through the profile calls.
#include <string>
#include <vector>

namespace platform {

// A change the system makes when it next starts: the source moved over the
// destination, or deleted where the destination is empty.
struct RestartChange {
    std::string source;
    std::string destination;
};

// The changes of the text's [rename] section, in order.
std::vector<RestartChange> RenameSectionChanges(const std::string& text);

// The changes of the NT family's list, as its registry value holds them:
// strings ending in NUL, two a change, each path after "\??\", a
// destination that is replaced after "!" as well.
std::vector<RestartChange> PendingRenameChanges(const std::string& multiString);

// Whether the file, by any of its names (long, short; any case), is gone
// once the changes are made: the last change naming it deletes it or moves
// it away, and nothing moves in after.
bool GoneAfterChanges(const std::vector<RestartChange>& changes, const std::vector<std::string>& names);

// The file's text with `line` added as the last line of its [rename]
// section (the first such section; one is appended when there is none).
// Everything else, line ends included, stays as it was; the new line ends
// in CRLF.
std::string WithRenameLine(const std::string& text, const std::string& line);

}  // namespace platform
