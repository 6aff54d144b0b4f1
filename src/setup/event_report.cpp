#include "setup/event_report.h"

#include "platform/text.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "setup/install_record.h"
#include "setup/installer_state.h"
#include "setup/system_platform.h"

namespace setup {

using platform::Cat;

namespace {

constexpr const char* kProductLanguage = "1033";  // the installer's texts are English

std::string OrNotKnown(const std::string& text) { return text.empty() ? "not known" : text; }

// Up to its first line end: an event's string, or the line of the 95 family's file.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

platform::EventType TypeOf(int exitCode) {
    switch (exitCode) {
    case exitcode::kSuccess:
    case exitcode::kRestartNeeded:
    case exitcode::kRestartStarted: return platform::EventType::kInformation;
    case exitcode::kCancelled: return platform::EventType::kWarning;
    }
    return platform::EventType::kError;
}

const char* TypeName(platform::EventType type) {
    switch (type) {
    case platform::EventType::kInformation: return "Information";
    case platform::EventType::kWarning: return "Warning";
    case platform::EventType::kError: break;
    }
    return "Error";
}

std::string LastTrouble(const InstallerState& s) {
    if (!s.LastFileFailure.empty()) return FirstLine(s.LastFileFailure);
    return s.RefusalText.empty() ? "none" : FirstLine(s.RefusalText);
}

// The 95 family's line: the event's time, type, number, source and text.
void AppendEventLine(Context& ctx, const RunEvent& event) {
    const std::string windows = ctx.os.GetWindowsFolder();
    std::string text = ctx.os.OwnMessage(event.id, event.strings);
    if (text.empty())  // no table: the strings alone
        for (std::size_t i = 0; i < event.strings.size(); ++i) text += (i ? "; " : "") + event.strings[i];
    const auto file = windows.empty() ? nullptr : ctx.os.OpenRecordFile(Cat({windows, "\\", kEventsLogName}));
    const std::string line = Cat({ctx.os.LocalTimestamp(), "  ", TypeName(event.type), "  ",
                                  platform::Number(static_cast<long>(event.id)), "  ",
                                  EventSource(ctx.state.SystemName), ": ", FirstLine(text)});
    if (!file || !file->WriteLine(line) || !file->Flush())
        ctx.state.Log.Write(Cat({"Event: could not be added to ", windows, "\\", kEventsLogName}));
}

}  // namespace

std::string EventSource(const std::string& systemName) {
    return ProductName(systemName.empty() ? std::string(LU_COMPANY_TEXT) : systemName);
}

RunEvent EventOfRun(const InstallerState& s, int exitCode, const std::string& account, const std::string& logPath) {
    RunEvent event;
    event.id = s.Options.verify ? kVerifyEvent : s.Options.uninstall ? kUninstallEvent : kInstallEvent;
    event.type = TypeOf(exitCode);
    event.strings = {EventSource(s.SystemName),  LU_VERSION_TEXT,
                     kProductLanguage,           platform::Number(exitCode),
                     LU_COMPANY_TEXT,            ExitCodeMeaning(exitCode, s.Options),
                     OrNotKnown(s.ProductPath),  OrNotKnown(s.ProductVersion),
                     LastTrouble(s),             OrNotKnown(account),
                     logPath.empty() ? "none" : logPath};
    return event;
}

void ReportRun(Context& ctx, int exitCode) {
    const RunEvent event = EventOfRun(ctx.state, exitCode, ctx.os.RunningAccountName(), ctx.state.Log.Path());
    if (IsWin9X(ctx.os)) return AppendEventLine(ctx, event);
    uint32_t error = 0;
    if (!ctx.os.WriteEvent(EventSource(ctx.state.SystemName), event.type, event.id, event.strings, error))
        ctx.state.Log.Write(Cat({"Event: could not be written to the Application event log (error ",
                                 platform::Number(static_cast<long>(error)), ")"}));
}

// Written beside under a temporary name and renamed over the old one, so
// that Event Viewer, which may hold the old one open, never reads half a
// file; left as it is when it holds the same bytes already. An old one
// that cannot be replaced (in use) still serves.
void KeepEventSource(Context& ctx, const std::string& recordFolder) {
    auto& os = ctx.os;
    const std::string messages = IsWin9X(os) ? std::string() : os.OwnResourceData(IDR_EVENT_MESSAGE_FILE);
    if (messages.empty() || recordFolder.empty()) return;  // the 95 family, or a build without the file
    const std::string path = Cat({recordFolder, "\\", kEventMessageFileName});
    const std::string temporary = path + ".new~";
    std::string there;
    const bool same = os.ReadWholeFile(path, there) && there == messages;
    if (!same && !(os.WriteWholeFile(temporary, messages) &&
                   os.MoveFileReplaceA(temporary, path) == platform::MoveResult::kMoved))
        ctx.state.Log.Write(path + ": could not be written");
    if (!os.FindFile(temporary).empty()) os.DeleteFileA(temporary);  // this run's, or a killed one's
    const std::string key = kEventLogKey + EventSource(ctx.state.SystemName);
    if (os.FindFile(path).empty() || !os.SetMachinePath(key, "EventMessageFile", path) ||
        !os.SetMachineNumber(key, "TypesSupported", 7))
        ctx.state.Log.Write(Cat({"Event source: HKEY_LOCAL_MACHINE\\", key,
                                 " could not be registered; events read without their text"}));
}

}  // namespace setup
