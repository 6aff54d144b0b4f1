#pragma once
// Every silent mistake in a package that the installer would forgive: in
// the list's header and body, in the payload files, and in the files'
// registration.
#include <vector>

#include "lucheck/package.h"
#include "lucheck/report.h"
#include "setup/package_seal.h"

namespace lucheck {

// The package's diagnostics, in list order (header, body, then payload);
// `entries` receives the number of files the list names, `seal` (when
// given) whether SHA256SUMS is there and the package matches it.
std::vector<Diagnostic> CheckPackage(const Package& package, int& entries, setup::SealStatus* seal = nullptr);

}  // namespace lucheck
