// Upper-casing and code-page conversion for builds without the Windows API:
// the C library's current locale, one byte per character.
#include <cctype>

#include "platform/text.h"

namespace platform {

std::string UCase(const std::string& text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::u16string AnsiToWide(const std::string& text) {
    std::u16string result;
    result.reserve(text.size());
    for (char c : text) result.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace platform
