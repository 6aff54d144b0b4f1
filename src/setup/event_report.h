#pragma once
// One event for each run, so that a fleet's central collection sees what
// happened on each machine: in the Application event log on the NT family,
// under the source "<system> Live Update", whose message file the install
// keeps in the record folder; appended to a file in the Windows folder on
// the 95 family, which has no event log. Writing it never changes the run.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_services.h"

namespace setup {

struct Context;
struct InstallerState;

// The event numbers: an installation's and a removal's are Windows
// Installer's own for its products, so that queries written for those
// carry over.
constexpr uint32_t kInstallEvent = 1033;
constexpr uint32_t kUninstallEvent = 1034;
constexpr uint32_t kVerifyEvent = 1050;
constexpr const char* kEventMessageFileName = "LiveUpdateEvents.dll";
constexpr const char* kEventsLogName = "LiveUpdateSetup-events.log";
constexpr const char* kEventLogKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// The event source: the product's name; a run that does not know the
// system yet writes under the manufacturer's.
std::string EventSource(const std::string& systemName);

struct RunEvent {
    uint32_t id = kInstallEvent;
    platform::EventType type = platform::EventType::kInformation;
    // Product name, version, language, exit code, manufacturer, what the
    // code means, host folder, host version, last trouble, user, log file.
    std::vector<std::string> strings;
};

// The run's event: what ran, and how it ended (information for success
// and a restart, a warning for a cancel, an error otherwise).
RunEvent EventOfRun(const InstallerState& s, int exitCode, const std::string& account, const std::string& logPath);

// Writes the run's event; the log says when it could not be written.
void ReportRun(Context& ctx, int exitCode);

// Keeps the message file in the record folder (this installer's copy of it)
// and the source registered with it, so that the events read with their
// text in Event Viewer, also after the removal, which leaves both. The NT
// family only; a failure is logged and changes nothing else.
void KeepEventSource(Context& ctx, const std::string& recordFolder);

}  // namespace setup
