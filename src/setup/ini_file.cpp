#include "setup/ini_file.h"

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/installer_state.h"

namespace setup {

void ReadIniString(Context& ctx, const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::string& value) {
    constexpr uint32_t kBufferSize = 1024;
    std::string buffer(kBufferSize, '\0');
    const uint32_t n = ctx.os.GetPrivateProfileStringA(section, key, defaultValue, buffer, kBufferSize,
                                                       ctx.state.IniFilePath);
    value = buffer.substr(0, n);
}

namespace {
// The record keeps what the value was, so that the uninstall can put it
// back, or remove it (and the section, when the install made it).
void NoteSetting(Context& ctx, const std::string& section, const std::string& key, const std::string& value) {
    if (!ctx.state.Record.Recording()) return;
    const std::string& path = ctx.state.IniFilePath;
    const char kAbsent[] = "\x01";
    std::string before;
    ReadIniString(ctx, section, key, kAbsent, before);
    const char* state = !ctx.os.IniSectionExists(section, path) ? "no section" : before == kAbsent ? "absent" : "value";
    if (before == kAbsent) before.clear();
    ctx.state.Record.Note(RecordKind::kSetting, {path, section, key, state, before, value});
}
}  // namespace

void WriteIniString(Context& ctx, const std::string& section, const std::string& key, const std::string& value) {
    NoteSetting(ctx, section, key, value);
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
