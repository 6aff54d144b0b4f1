#pragma once
// Every silent mistake in a package that the installer would forgive: in
// the list's header and body, in the payload files, and in the files'
// registration.
#include <vector>

#include "lucheck/package.h"
#include "lucheck/report.h"

namespace lucheck {

// The package's diagnostics, in list order (header, body, then payload);
// `entries` receives the number of files the list names.
std::vector<Diagnostic> CheckPackage(const Package& package, int& entries);

}  // namespace lucheck
