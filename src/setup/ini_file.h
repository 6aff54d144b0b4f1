#pragma once
// Reading and writing the host product's settings file (IniFilePath).
#include <string>

#include "setup/installer_state.h"

namespace setup {

// Places the value of section/key (or the default) into `value`.
void ReadIniString(Context& ctx, const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::string& value);

}  // namespace setup
