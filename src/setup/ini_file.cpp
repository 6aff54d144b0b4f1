#include "setup/ini_file.h"

#include "platform/os_services.h"

namespace setup {

void ReadIniString(Context& ctx, const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::string& value) {
    constexpr uint32_t kBufferSize = 1024;
    std::string buffer(kBufferSize, '\0');
    const uint32_t n = ctx.os.GetPrivateProfileStringA(section, key, defaultValue, buffer, kBufferSize,
                                                       ctx.state.IniFilePath);
    value = buffer.substr(0, n);
}

}  // namespace setup
