#pragma once
// Sealing a package: SHA256SUMS for UPDATE.LST and every listed file.
#include <string>

#include "lucheck/package.h"
#include "setup/package_seal.h"

namespace lucheck {

// Writes SHA256SUMS into the package folder, a line per file (each once,
// under its name on disk), and gives its path and the count of files.
// False, with the reason and nothing written, when a listed file is
// missing or a file cannot be read or written.
bool WriteSeal(const Package& package, std::string& written, int& files, std::string& reason);

// A seal problem in words, to follow the file's name: "does not match its
// checksum (SHA256SUMS line 3)".
std::string SealReason(const setup::SealProblem& problem);

}  // namespace lucheck
