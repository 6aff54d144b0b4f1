#include "setup/install_log.h"

#include "resources/version.h"
#include "setup/installer_state.h"

namespace setup {

void InstallLog::Start(Context& ctx) {
    file_.reset();
    const std::string folder = ctx.os.GetTempFolder();
    if (folder.empty()) return;
    file_ = ctx.os.CreateLogFile(folder + kInstallLogName);
    const auto& s = ctx.state;
    Write(ctx.os.LocalTimestamp() + " LiveUpdateSetup " + LU_VERSION_TEXT + "; system " + s.SystemName +
          "; host folder " + s.ProductPath + "; host version " + s.ProductVersion + "; web ID " + s.WebID);
}

void InstallLog::Write(const std::string& line) {
    if (file_) file_->WriteLine(line);
}

}  // namespace setup
