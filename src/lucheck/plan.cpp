#include "lucheck/plan.h"

#include <fstream>
#include <iterator>

#include "lucheck/plan_os.h"
#include "lucheck/report.h"
#include "platform/forms_runtime.h"
#include "platform/text.h"
#include "setup/class_data.h"
#include "setup/deploy.h"
#include "setup/event_report.h"
#include "setup/progman.h"
#include "setup/update_list.h"

namespace lucheck {

namespace {

// The system directory when none is given: there, empty.
const char kVirtualSystem[] = "<system directory>";

// A forms runtime without a screen: the install code asks it for nothing
// but its file numbers and runtime-error state.
class QuietForms : public platform::FormsRuntime {
public:
    int ShowMessage(const std::string&, int, const std::string&) override { return 1; }
    std::string AskText(const std::string&, const std::string&) override { return std::string(); }
    void YieldToUI() override {}
    void WaitForProgramsOrInput(const std::vector<void*>&, uint32_t) override {}
    void RunAfter(uint32_t, std::function<void()>) override {}
    void SetScreenPointer(int) override {}
    [[noreturn]] void EndProgram() override { throw platform::RuntimeError(9999); }
    double ScreenWidthTwips() override { return 0; }
    double ScreenHeightTwips() override { return 0; }
    void UnloadWindow(platform::Form&) override {}
    platform::DdeClient& Dde() override { throw platform::RuntimeError(platform::errnum::kDdeNoChannel); }
};

class QuietWindow : public setup::MainWindow {
public:
    QuietWindow() : setup::MainWindow("frmUPDATE") {}
    void EditMsgline(const std::string&) override {}
};

std::string Action(const setup::FileOutcome& outcome, PlanOs& os) {
    switch (outcome.result) {
    case setup::FileResult::kCopied: return "new copy";
    case setup::FileResult::kReplaced: return "replace";
    case setup::FileResult::kKept:
        return "kept: already in the system directory, which is never updated: the package's copy goes unused";
    case setup::FileResult::kSourceMissing: return "source missing";
    case setup::FileResult::kOutsideHost: return "refused: its folder leaves the host folder";
    case setup::FileResult::kInUse:
    case setup::FileResult::kAtRestart:
    case setup::FileResult::kCopyFailed: {
        const std::string& d = outcome.destination;
        return os.FolderExists(d.substr(0, d.find_last_of('\\'))) ? "could not copy" : "destination folder missing";
    }
    }
    return "";
}

std::string RegistrationOf(const setup::FileOutcome& outcome) {
    if (outcome.registration == setup::Registration::kNone) return std::string();
    return outcome.command.empty() ? "type-library calls" : outcome.command;
}

// The package's class data, read as the installer reads it; none when it
// breaks a rule (the check reports that).
std::vector<setup::ClassData> ClassDataOf(const Package& package, const std::vector<setup::UpdateFileEntry>& files) {
    std::vector<setup::ClassData> data;
    const std::string path = package.PathOf(setup::kClassDataName);
    std::ifstream in(path, std::ios::binary);
    if (path.empty() || !in) return data;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> listed;
    for (const auto& file : files) listed.push_back(platform::UCase(file.FileName));
    setup::ClassDataTrouble trouble;
    if (!setup::ReadClassData(text, listed, data, trouble)) data.clear();
    return data;
}

std::vector<setup::UpdateFileEntry> ListedFiles(const Package& package) {
    std::vector<setup::UpdateFileEntry> files(1);  // element 0 stays empty, as in the installer
    setup::ListBodyReader reader;
    for (std::size_t i = 1; i < package.lines.size(); ++i)
        if (reader.Read(package.lines[i], files) == setup::BodyLine::kEnd) break;
    return files;
}

}  // namespace

Plan MakePlan(const Package& package, const PlanRequest& request) {
    Plan plan;
    const auto fields = platform::Split(package.lines.empty() ? std::string() : package.lines[0], ",");
    plan.systemName = fields.empty() ? std::string() : platform::Trim(fields[0]);
    const int field = setup::WebIdField(plan.systemName, request.hostVersion);
    if (field >= 0 && field < static_cast<int>(fields.size())) plan.webId = platform::Trim(fields[field]);
    plan.eventSource = setup::EventSource(plan.systemName);
    plan.messageFile = platform::Cat({"<Program Files>\\", plan.eventSource, "\\", setup::kEventMessageFileName});
    if (plan.webId.empty()) return plan;

    setup::InstallerState state;
    state.ServerPath = package.folder;
    state.ProductPath = request.hostFolder;
    state.SystemDirectory = request.systemFolder.empty() ? kVirtualSystem : request.systemFolder;
    state.UpdateFiles = ListedFiles(package);
    state.ClassValues = ClassDataOf(package, state.UpdateFiles);
    PlanOs os(request.systemFolder.empty() ? kVirtualSystem : "");
    QuietForms forms;
    QuietWindow window;
    state.Log.observer = [&](const setup::FileOutcome& outcome) {
        plan.files.push_back({outcome.source, outcome.destination, Action(outcome, os), RegistrationOf(outcome),
                              setup::Arrived(outcome.result)});
    };
    setup::Context ctx{state, os, forms};
    state.Log.Open(ctx);  // PlanOs makes no file: the lines only reach the observer
    setup::DeployUpdateFiles(ctx, window, state.ProductPath);

    plan.settingsFile = request.hostFolder + "\\Sys\\TOVASK.INI";
    plan.startMenuGroup = setup::ProgramGroupName(plan.systemName, request.hostVersion);
    plan.startMenuItem = setup::ProgramItemTitle(plan.systemName);
    plan.itemCommand = request.hostFolder + "\\TvkUpdt.exe";
    plan.itemTargetFound = !os.Resolve(plan.itemCommand).empty();
    for (const PlannedFile& file : plan.files)
        plan.itemTargetFound |= file.arrives && platform::UCase(file.destination) == platform::UCase(plan.itemCommand);
    return plan;
}

std::string HostFolderVersion(const std::string& hostFolder) {
    PlanOs os("");
    std::ifstream in(os.Resolve(hostFolder + "\\Sys\\TOVASK.INI"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bool inSection = false;
    for (const std::string& raw : platform::Split(text, "\n")) {
        const std::string line = platform::Trim(raw.substr(0, raw.find('\r')));
        if (!line.empty() && line[0] == '[') inSection = platform::UCase(line) == "[TOVASK]";
        const auto equals = line.find('=');
        if (!inSection || equals == std::string::npos) continue;
        if (platform::UCase(platform::Trim(line.substr(0, equals))) == "VER") return platform::Trim(line.substr(equals + 1));
    }
    return std::string();
}

namespace {
// The run's one event, and where its text comes from.
void PrintEvents(std::ostream& out, const Plan& plan) {
    out << "events: source \"" << plan.eventSource << "\" in the Application event log; this install writes "
        << setup::kInstallEvent << " (information for 0, 3010 and 1641, a warning for 1602, an error otherwise), "
        << "a removal " << setup::kUninstallEvent << ", /verify " << setup::kVerifyEvent << '\n'
        << "   message file: " << plan.messageFile << ", registered under HKEY_LOCAL_MACHINE\\"
        << setup::kEventLogKey << plan.eventSource << '\n'
        << "   Windows 95, 98 and ME: a line appended to <Windows>\\" << setup::kEventsLogName << '\n';
}
}  // namespace

namespace {
// Why a host version gets no web ID: not a version the header has a field
// for, or its field is empty.
std::string WhyNoWebId(const Plan& plan, const PlanRequest& request) {
    if (setup::WebIdField(plan.systemName, request.hostVersion) >= 0) return "no web ID in the header";
    std::string known;
    for (const std::string& version : setup::HeaderVersions(plan.systemName))
        known += (known.empty() ? "" : ", ") + version;
    return "not a version the header knows (its fields are for " + known + ", in that order)";
}
}  // namespace

void PrintPlanText(std::ostream& out, const Plan& plan, const PlanRequest& request) {
    if (plan.webId.empty()) {
        out << "host version " << request.hostVersion << ": " << WhyNoWebId(plan, request) << ", so the installer "
            << "turns it away and installs nothing; it writes event " << setup::kInstallEvent << " (an error)\n";
        return;
    }
    int number = 0;
    for (const PlannedFile& file : plan.files) {
        out << ++number << ". " << file.source << " -> " << file.destination << ": " << file.action << '\n';
        if (!file.registration.empty()) out << "   register: " << file.registration << '\n';
    }
    out << "settings: [WEB] UPDATEONLINE=" << plan.webId << " in " << plan.settingsFile << '\n'
        << "Start menu: group \"" << plan.startMenuGroup << "\", item \"" << plan.startMenuItem << "\" -> "
        << plan.itemCommand << '\n';
    if (!plan.itemTargetFound)
        out << "   warning: neither the package nor the host folder has TvkUpdt.exe: Program Manager refuses the "
               "item, and the install makes none\n";
    PrintEvents(out, plan);
}

void PrintPlanJson(std::ostream& out, const Plan& plan, const PlanRequest& request) {
    out << "{\"system\": " << Json(plan.systemName) << ", \"host_version\": " << Json(request.hostVersion)
        << ", \"web_id\": " << (plan.webId.empty() ? "null" : Json(plan.webId)) << ", \"files\": [";
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const PlannedFile& f = plan.files[i];
        out << (i ? ",\n  " : "\n  ") << "{\"source\": " << Json(f.source) << ", \"destination\": "
            << Json(f.destination) << ", \"action\": " << Json(f.action) << ", \"registration\": "
            << (f.registration.empty() ? "null" : Json(f.registration)) << "}";
    }
    out << "]";
    if (!plan.webId.empty())
        out << ",\n \"settings\": {\"file\": " << Json(plan.settingsFile) << ", \"section\": \"WEB\", "
            << "\"key\": \"UPDATEONLINE\", \"value\": " << Json(plan.webId) << "},\n \"start_menu\": {\"group\": "
            << Json(plan.startMenuGroup) << ", \"item\": " << Json(plan.startMenuItem) << ", \"command\": "
            << Json(plan.itemCommand) << ", \"command_found\": " << (plan.itemTargetFound ? "true" : "false") << "}";
    out << ",\n \"events\": {\"log\": \"Application\", \"source\": " << Json(plan.eventSource)
        << ", \"install\": " << setup::kInstallEvent << ", \"uninstall\": " << setup::kUninstallEvent
        << ", \"verify\": " << setup::kVerifyEvent << ", \"message_file\": " << Json(plan.messageFile)
        << ", \"registry_key\": " << Json(std::string("HKEY_LOCAL_MACHINE\\") + setup::kEventLogKey + plan.eventSource)
        << ", \"file_on_95_family\": " << Json(std::string("<Windows>\\") + setup::kEventsLogName) << "}";
    out << "}\n";
}

}  // namespace lucheck
