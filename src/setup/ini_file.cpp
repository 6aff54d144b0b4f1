#include "setup/ini_file.h"

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/changes.h"
#include "setup/installer_state.h"
#include "setup/paths.h"

namespace setup {

namespace {
std::string ReadWithDefault(platform::OsServices& os, const std::string& file, const std::string& section,
                            const std::string& key, const std::string& defaultValue) {
    constexpr uint32_t kBufferSize = 1024;
    std::string buffer(kBufferSize, '\0');
    const uint32_t n = os.GetPrivateProfileStringA(section, key, defaultValue, buffer, kBufferSize, file);
    return buffer.substr(0, n);
}
}  // namespace

void ReadIniString(Context& ctx, const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::string& value) {
    value = ReadWithDefault(ctx.os, ctx.state.IniFilePath, section, key, defaultValue);
}

bool ReadIniValue(platform::OsServices& os, const std::string& file, const std::string& section,
                  const std::string& key, std::string& value) {
    value = ReadWithDefault(os, file, section, key, "\x01");
    if (value != "\x01" || ReadWithDefault(os, file, section, key, "\x02") == value) return true;
    value.clear();
    return false;
}

namespace {
// The record keeps what the value was, so that the uninstall can put it
// back, or remove it (and the section, when the install made it).
void NoteSetting(Context& ctx, const std::string& section, const std::string& key, const std::string& value) {
    if (!ctx.state.Record.Recording()) return;
    const std::string& path = ctx.state.IniFilePath;
    std::string before;
    const bool present = ReadIniValue(ctx.os, path, section, key, before);
    const char* state = !ctx.os.IniSectionExists(section, path) ? "no section" : present ? "value" : "absent";
    ctx.state.Record.Note(RecordKind::kSetting, {path, section, key, state, before, value});
}
}  // namespace

// The file is written by its path, while the folders from the host folder
// down to it are held and it was checked to be no link nor a second name.
void WriteIniString(Context& ctx, const std::string& section, const std::string& key, const std::string& value) {
    const std::string& path = ctx.state.IniFilePath;
    std::string why;
    const std::string host = ParentOf(ParentOf(path));  // <host>\Sys\TOVASK.INI
    const auto hold = HoldForChange(ctx.os, {host}, path, why);
    if (hold) why = SettingsFileTrouble(ctx.os, path);
    if (why.empty()) NoteSetting(ctx, section, key, value);
    const bool written = why.empty() && ctx.os.WritePrivateProfileStringA(section, key, value, path) != 0;
    ctx.state.Log.Write(platform::Cat({"Settings: [", section, "] ", key, "=", value, " in ", path, ": ",
                                       written ? "written" : "could not be written", why.empty() ? "" : ": ", why}));
    if (!written) {
        ctx.state.Summary.settingsFailed = true;
        ShowIniWriteError(ctx, ctx.state.IniFilePath);
    }
}

void ShowIniWriteError(Context& ctx, const std::string& path) {
    ctx.rt.ShowMessage("Can't create/write to file: " + path, platform::kMsgExclamation, ctx.rt.Err().Description());
}

}  // namespace setup
