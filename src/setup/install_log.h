#pragma once
// The install log, for support: what one install did, file by file, in the
// user's temporary folder. Each line is on disk as soon as it is written; a
// log that cannot be written changes nothing about the install.
#include <memory>
#include <string>

#include "platform/os_services.h"

namespace setup {

struct Context;

constexpr const char* kInstallLogName = "LiveUpdateSetup.log";

class InstallLog {
public:
    // Creates the log anew and writes its header: date, the installer's
    // version, system name, host folder, host version and web ID.
    void Start(Context& ctx);
    void Write(const std::string& line);

private:
    std::unique_ptr<platform::LogFile> file_;
};

}  // namespace setup
