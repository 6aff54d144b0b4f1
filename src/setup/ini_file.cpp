#include "setup/ini_file.h"

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/text.h"

namespace setup {

void ReadIniString(Context& ctx, const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::string& value) {
    constexpr uint32_t kBufferSize = 1024;
    std::string buffer(kBufferSize, '\0');
    const uint32_t n = ctx.os.GetPrivateProfileStringA(section, key, defaultValue, buffer, kBufferSize,
                                                       ctx.state.IniFilePath);
    value = buffer.substr(0, n);
}

void WriteIniString(Context& ctx, const std::string& section, const std::string& key, const std::string& value) {
    const bool written = ctx.os.WritePrivateProfileStringA(section, key, value, ctx.state.IniFilePath) != 0;
    ctx.state.Log.Write(platform::Cat({"Settings: [", section, "] ", key, "=", value, " in ", ctx.state.IniFilePath,
                                       ": ", written ? "written" : "could not be written"}));
    if (!written) {
        ctx.state.Summary.settingsFailed = true;
        ShowIniWriteError(ctx, ctx.state.IniFilePath);
    }
}

void ShowIniWriteError(Context& ctx, const std::string& path) {
    ctx.rt.ShowMessage("Can't create/write to file: " + path, platform::kMsgExclamation, ctx.rt.Err().Description());
}

}  // namespace setup
