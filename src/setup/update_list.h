#pragma once
// The body of UPDATE.LST: which files to deploy, under which folder selector.
#include "setup/installer_state.h"

namespace setup {

// Appends every file the list's body names to UpdateFiles, in list order.
// A missing list adds nothing.
void ReadUpdateList(Context& ctx);

}  // namespace setup
