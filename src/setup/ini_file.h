#pragma once
// Reading and writing the host product's settings file (IniFilePath).
#include <string>

#include "setup/installer_state.h"

namespace setup {

// Places the value of section/key (or the default) into `value`.
void ReadIniString(Context& ctx, const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::string& value);

// The value of section/key in the file; false when the key is absent (it
// then gives back each of two different defaults).
bool ReadIniValue(platform::OsServices& os, const std::string& file, const std::string& section,
                  const std::string& key, std::string& value);

// Writes section/key = value; a failed write shows ShowIniWriteError.
void WriteIniString(Context& ctx, const std::string& section, const std::string& key, const std::string& value);

// "Can't create/write to file: <path>", titled with the current runtime error.
void ShowIniWriteError(Context& ctx, const std::string& path);

}  // namespace setup
