#include "setup/progman.h"

#include <limits>

#include "platform/forms_runtime.h"
#include "platform/text.h"
#include "platform/os_services.h"
#include "setup/paths.h"
#include "setup/update_list.h"

namespace setup {

namespace {
constexpr int kTopicAttempts = 20;
constexpr int kYieldsAfterOpening = 10;
constexpr int kManualLink = 2;
constexpr int kNoLink = 0;
constexpr int kLinkTimeoutTenths = 100;  // ten seconds per request
const char kProgmanTopic[] = "PROGMAN|PROGMAN";

// Runs one step of the conversation and logs how it went; a runtime error
// goes on to the caller's resume-next handling unchanged.
template <class Statement>
void Logged(Context& ctx, const std::string& what, Statement&& statement) {
    try {
        statement();
    } catch (const platform::RuntimeError& e) {
        ctx.state.Log.Write(platform::Cat(
            {"Program Manager: ", what, ": failed, error ", platform::Number(e.Number()), ", ", e.Description()}));
        throw;
    }
    ctx.state.Log.Write(platform::Cat({"Program Manager: ", what, ": done"}));
}
// Program Manager's data for a group: a line for the group (its name,
// file and count of items), then a line for each item.
bool GroupListsNoItems(const std::string& reply) {
    std::vector<std::string> lines = platform::Split(reply, "\n");
    for (std::string& line : lines) line = platform::Trim(line.substr(0, line.find('\r')));
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (!lines[i].empty()) return false;
    const std::vector<std::string> group = platform::Split(lines.front(), ",");
    const std::string count = group.size() > 2 ? platform::Trim(group[2]) : std::string();
    return !lines.front().empty() && count.find_first_not_of('0') == std::string::npos;
}

// A shell that gives no list of the group's items keeps the group as a
// folder of the Start menu: it goes only while it holds nothing (an empty
// folder is all a removal can take), and never through a link.
void RemoveEmptyGroupFolders(Context& ctx, const std::string& group) {
    ctx.state.Log.Write("Program Manager: " + group + ": its items are not listed; it goes only if empty");
    for (const bool allUsers : {true, false}) {
        const std::string programs = ctx.os.GetProgramsFolder(allUsers);
        const std::string folder = platform::Cat({programs, "\\", group});
        if (programs.empty() || !FindableName(group) || ctx.os.PathThroughLink(folder)) continue;
        if (ctx.os.RemoveEmptyFolder(folder)) ctx.state.Log.Write("Start menu: " + folder + ": removed if it was there");
    }
}
}  // namespace

std::string ProgramGroupName(const std::string& systemName, const std::string& productVersion) {
    return systemName + " - Ver " + productVersion;
}

std::string ProgramItemTitle(const std::string& systemName) { return systemName + " - Live Update"; }

void CreateShortcutItem(Context& ctx, MainWindow& window, const std::string& group, const std::string& command,
                        const std::string& arguments, const std::string& title) {
    const std::string commandLine = GetShortPath(ctx, StripQuotes(command)) + " " + arguments;
    CreateProgManItem(ctx, window, group, commandLine, title);
}

bool CreateStartMenuShortcut(Context& ctx, const std::string& group, const std::string& target,
                             const std::string& workingFolder, const std::string& title) {
    std::string programs = ctx.os.GetProgramsFolder(true);
    if (programs.empty()) programs = ctx.os.GetProgramsFolder(false);
    const std::string folder = platform::Cat({programs, "\\", group});
    const std::string link = platform::Cat({folder, "\\", title, ".lnk"});
    if (!programs.empty()) ctx.state.Record.Note(RecordKind::kStartMenu, {"shortcut", link});
    const bool made = !programs.empty() && !ctx.os.PathThroughLink(link) && ctx.os.CreateFolder(folder) &&
                      ctx.os.CreateShortcut(link, target, workingFolder);
    ctx.state.Log.Write(platform::Cat({"Start menu: ", link, " -> ", target, ": ", made ? "written" : "could not be written"}));
    return made;
}

void CreateProgManItem(Context& ctx, MainWindow& window, const std::string& group, const std::string& commandLine,
                       const std::string& title) {
    // The shell makes the group in the running user's Start menu: /verify,
    // run by whichever account, looks for the item there.
    ctx.state.Record.Note(RecordKind::kStartMenu, {"Program Manager", group, title, ctx.os.GetProgramsFolder(false)});
    PerformDDE(ctx, window, group, commandLine, title, kCreateGroupAndItem);
}

void PerformDDE(Context& ctx, MainWindow& window, const std::string& group, const std::string& commandLine,
                const std::string& title, int16_t action) {
    auto& err = ctx.rt.Err();
    auto link = [&]() -> platform::Label& { return window.LabelNamed("Label1"); };
    auto resumeNext = [&](auto&& statement) { platform::ResumeNext(err, statement); };

    SetBusyPointer(ctx, platform::kPointerHourglass);

    for (int attempt = 0; attempt < kTopicAttempts; ++attempt) {
        err.Clear();
        resumeNext([&] { link().SetLinkTopic(kProgmanTopic); });
        if (err.Number() == 0) break;
        ctx.rt.YieldToUI();
    }
    resumeNext([&] { Logged(ctx, "conversation", [&] { link().SetLinkMode(kManualLink); }); });
    for (int i = 0; i < kYieldsAfterOpening; ++i) resumeNext([&] { ctx.rt.YieldToUI(); });
    resumeNext([&] { link().SetLinkTimeout(kLinkTimeoutTenths); });

    err.Clear();  // whatever failed while opening, the commands are always attempted
    auto execute = [&](const std::string& command) {
        resumeNext([&] { Logged(ctx, command, [&] { link().LinkExecute(command); }); });
    };
    if (action == kCreateGroupAndItem) {
        execute("[CreateGroup(" + group + ")]");
        execute("[ReplaceItem(" + title + ")]");
        err.Clear();
        execute(platform::Cat({"[AddItem(", commandLine, ",", title, ",,,)]"}));
    } else if (action == kDeleteItemAndGroup) {
        execute("[ShowGroup(" + group + ",1)]");
        execute("[DeleteItem(" + title + ")]");
        std::string reply;
        bool listed = false;
        resumeNext([&] { Logged(ctx, "request " + group, [&] { reply = link().LinkRequest(group), listed = true; }); });
        if (!listed)
            RemoveEmptyGroupFolders(ctx, group);
        else if (GroupListsNoItems(reply))
            execute("[DeleteGroup(" + group + ")]");
        else
            ctx.state.Log.Write("Program Manager: " + group + " holds other items; it stays");
    }
    resumeNext([&] { link().SetLinkMode(kNoLink); });
    resumeNext([&] { link().SetLinkTopic(""); });
    resumeNext([&] { SetBusyPointer(ctx, platform::kPointerDefault); });
    err.Clear();
}

void SetBusyPointer(Context& ctx, int pointer) {
    int16_t& nesting = ctx.state.BusyNesting;
    if (pointer == platform::kPointerHourglass) {
        if (nesting == std::numeric_limits<int16_t>::max()) platform::Raise(platform::errnum::kOverflow);
        ++nesting;
    } else if (pointer == platform::kPointerDefault) {
        if (--nesting < 0) nesting = 0;
    }
    ctx.rt.SetScreenPointer(nesting > 0 ? platform::kPointerHourglass : platform::kPointerDefault);
}

}  // namespace setup
