// Upper-casing by the user's locale and conversion from the ANSI code page.
#include <windows.h>

#include "platform/text.h"

namespace platform {

std::string UCase(const std::string& text) {
    std::string result(text);
    if (!result.empty()) CharUpperBuffA(&result[0], static_cast<DWORD>(result.size()));
    return result;
}

std::u16string AnsiToWide(const std::string& text) {
    if (text.empty()) return std::u16string();
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string result(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(&result[0]), n);
    return result;
}

}  // namespace platform
