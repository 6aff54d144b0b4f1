#pragma once
// Small path and text helpers shared by the list reader, file installation
// and the Program Manager item.
#include <string>
#include <utility>

#include "setup/installer_state.h"

namespace platform {
class OsServices;
}

namespace setup {

// Trims the folder text in place and makes it end in exactly one backslash.
void AddDirSep(std::string& folder);

// The short (8.3) form of the path, or the path unchanged when the system
// cannot give one.
std::string GetShortPath(platform::OsServices& os, std::string path);
inline std::string GetShortPath(Context& ctx, std::string path) { return GetShortPath(ctx.os, std::move(path)); }

// Whether the path lies strictly below the folder (no trailing backslash),
// compared without regard to case, and never through "..".
bool IsBelow(const std::string& path, const std::string& folder);
// The folder that holds the path; empty when it names none.
std::string ParentOf(const std::string& path);
// The folder without trailing backslashes.
std::string WithoutTrailingSeparator(std::string folder);

// The text up to its first NUL character. A first NUL beyond position
// 32,767 raises "Overflow".
std::string StripTerminator(std::string text);

// The trimmed text, less one pair of enclosing double quotes.
std::string StripQuotes(std::string text);

}  // namespace setup
