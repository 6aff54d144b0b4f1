#include "setup/paths.h"

#include <cstdint>

#include "platform/os_services.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace setup {

bool IsBelow(const std::string& path, const std::string& folder) {
    return !folder.empty() && path.find("..") == std::string::npos && path.size() > folder.size() &&
           path[folder.size()] == '\\' && platform::UCase(path.substr(0, folder.size())) == platform::UCase(folder);
}

std::string ParentOf(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string WithoutTrailingSeparator(std::string folder) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

void AddDirSep(std::string& folder) {
    folder = platform::Trim(folder);
    if (folder.empty() || folder.back() != '\\') folder += '\\';
}

std::string GetShortPath(platform::OsServices& os, std::string path) {
    constexpr uint32_t kBufferSize = 300;
    std::string buffer(kBufferSize, '\0');
    if (os.GetShortPathNameA(path, buffer, kBufferSize) == 0) return path;
    return StripTerminator(buffer);
}

std::string StripTerminator(std::string text) {
    // The terminator's position is held as a 16-bit signed number.
    constexpr std::size_t kLargestPosition = 32767;
    const auto nul = text.find('\0');
    if (nul == std::string::npos) return text;
    if (nul + 1 > kLargestPosition) platform::Raise(platform::errnum::kOverflow);
    text.resize(nul);
    return text;
}

std::string StripQuotes(std::string text) {
    text = platform::Trim(text);
    // A lone quote is both first and last character; it has no inner part to keep.
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
    return text;
}

}  // namespace setup
