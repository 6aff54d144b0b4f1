#pragma once
// Files of the list that running programs hold: found before the install
// changes anything, named to the user, and replaced when Windows next starts.
#include <cstddef>
#include <string>
#include <vector>

#include "setup/installer_state.h"

namespace setup {

// The completed window's status line while files wait for the restart.
constexpr const char* kRestartToFinish = "Restart Windows to finish the update";
// The question names at most this many programs or files.
constexpr std::size_t kMostNamedInUse = 10;

// The existing files that the list's entries would replace and that a
// program holds now, in list order, each once: one open per destination.
std::vector<std::string> FindFilesInUse(Context& ctx, const std::string& productFolder);

// The question asked about files in use, naming the programs that hold
// them, or the files where the system can't tell the programs.
std::string FilesInUseQuestion(const std::vector<std::string>& names);

}  // namespace setup
