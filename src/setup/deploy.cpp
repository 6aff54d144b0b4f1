#include "setup/deploy.h"

#include "platform/forms_runtime.h"
#include "platform/install_lock.h"
#include "platform/os_services.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "setup/package_seal.h"
#include "setup/paths.h"
#include "setup/system_platform.h"
#include "setup/update_list.h"

namespace setup {

using platform::Cat;
using platform::Number;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::vector<std::string> NumberedCopies(const std::function<bool(const std::string&)>& exists,
                                        const std::string& path, const char* suffix, int gapsPassed) {
    std::vector<std::string> copies;
    for (long n = 1, gaps = 0;; ++n) {
        std::string copy = platform::Cat({path, ".", platform::Number(n), suffix});
        if (!exists(copy)) {
            if (++gaps > gapsPassed) return copies;
            continue;
        }
        gaps = 0;
        copies.push_back(std::move(copy));
    }
}

std::string Regsvr32Program(const Context& ctx) {
    std::string program = ctx.state.SystemDirectory;
    AddDirSep(program);
    program += "regsvr32.exe";
    return program.find(' ') == std::string::npos ? program : Quoted(program);
}

std::string RegistrationKind(const std::string& extension) {
    if (extension == "DLL" || extension == "OCX") return kByRegsvr32;
    if (extension == "EXE") return kByServer;
    return extension == "TLB" ? kByTypeLibrary : std::string();
}

std::string RegistrationKindOfFile(const std::string& path) {
    return RegistrationKind(ExtensionOf(path.substr(path.find_last_of('\\') + 1)));
}

std::string RegistrationCommand(const Context& ctx, const std::string& how, const std::string& path, bool undo) {
    if (how == kByRegsvr32) return Regsvr32Program(ctx) + (undo ? " /u /s " : " /s ") + Quoted(path);
    if (how == kByServer) return Quoted(path) + (undo ? " /UnregServer" : " /RegServer");
    return std::string();
}

std::string CodeRunTrouble(platform::OsServices& os, const std::string& file) {
    if (IsWin9X(os)) return std::string();
    const platform::Sid running = os.RunningAccount();
    for (const std::string& path : {ParentOf(file), file}) {
        platform::Guard guard;
        if (!os.ReadGuard(path, guard)) return Cat({path, ": who may change it cannot be read"});
        const std::string who = platform::UntrustedChanger(guard, running);
        if (!who.empty()) return Cat({path, ": ", who, " may change it"});
    }
    return std::string();
}

namespace {

// What regsvr32's exit code says went wrong.
const char* Regsvr32Meaning(uint32_t code) {
    switch (code) {
    case kRegsvr32CouldNotLoad: return " (could not load the file or a DLL it needs)";
    case kRegsvr32NoEntryPoint: return " (no DllRegisterServer)";
    case kRegsvr32EntryPointFailed: return " (DllRegisterServer failed)";
    }
    return "";
}

// Opens the file so that nobody can change it until its registration is
// settled, and checks it holds what was installed: a program that the
// registration runs, or loads, as an administrator is exactly the one
// installed. False, with the failure reported and logged, otherwise.
bool HeldAsInstalled(Context& ctx, MainWindow& window, PendingRegistration& pending) {
    if ((pending.held = HoldIfItHolds(ctx.os, pending.file, pending.digest))) return true;
    ReportFileError(ctx, window, kRegisterFailed, pending.file);
    ctx.state.Log.Write(Cat({pending.file, ": could not register: it is not what was installed (changed or gone "
                                           "since); nothing was run"}));
    return false;
}

// Whether the registration may run the file's code; false, with the
// failure reported and the reason and the way out logged, when it may not.
bool MayRunCode(Context& ctx, MainWindow& window, const std::string& file) {
    const std::string trouble = CodeRunTrouble(ctx.os, file);
    if (trouble.empty()) return true;
    ReportFileError(ctx, window, kRegisterFailed, Cat({file, ": others may change it; the package needs class data"}));
    ctx.state.Log.Write(Cat({file, ": not registered: ", trouble, kCodeRunAdvice}));
    return false;
}

// Starts the registration program; false, with the failure reported and
// logged, when it cannot start.
bool StartRegistration(Context& ctx, MainWindow& window, PendingRegistration& pending) {
    if (!HeldAsInstalled(ctx, window, pending) || !MayRunCode(ctx, window, pending.file)) return false;
    if (pending.attempt == 1)
        ctx.state.Record.Note(RecordKind::kRegistered, {pending.byRegsvr32 ? kByRegsvr32 : kByServer, pending.file});
    try {
        // In the system folder: what it loads by name comes from the
        // system or the file's own folder, never from the download folder
        // the installer runs in.
        pending.program =
            ctx.os.RunProgram(pending.command, platform::kWindowStyleMinimizedFocus, ctx.state.SystemDirectory);
        pending.startedAt = ctx.os.TickCount();
        return true;
    } catch (const platform::RuntimeError& e) {
        ReportFileError(ctx, window, kRegisterFailed, pending.file);
        ctx.state.Log.Write(Cat({pending.file, ": could not register: ", pending.command, " did not start (error ",
                                 Number(e.Number()), ", ", e.Description(), ")"}));
        return false;
    }
}

// The registration of the file by its type: the program's command line, or
// none for a type library, which the type-library calls register. False
// for a file that is not registered.
bool RegistrationFor(Context& ctx, PendingRegistration& pending, const std::string& extension) {
    const std::string how = RegistrationKind(extension);
    if (how.empty()) return false;
    pending.byRegsvr32 = how == kByRegsvr32;
    pending.command = RegistrationCommand(ctx, how, pending.file, false);
    return true;
}

// Queues the file's registration by its type. Registrations start only once
// every file of the list is in place: a registration program loads the file
// and the DLLs it imports, and would hold a file that the walk has yet to
// replace.
void QueueRegistration(Context& ctx, FileOutcome& outcome, const std::string& extension) {
    PendingRegistration pending{outcome.destination, "", false, nullptr, 0, 1, "", outcome.digest, nullptr};
    if (!RegistrationFor(ctx, pending, extension)) return;
    outcome.registration = Registration::kQueued;
    outcome.command = pending.command;
    ctx.state.Registrations.push_back(std::move(pending));
}

// A file replaced at the restart is registered after it by the same
// command, run once by the system at the next logon: one RunOnce value per
// file, named by its path. A type library is registered now, from its
// waiting copy, for the path it will have.
void RegisterAfterRestart(Context& ctx, MainWindow& window, FileOutcome& outcome, const std::string& extension) {
    PendingRegistration pending{outcome.destination, "", false, nullptr, 0, 1, outcome.waiting, "", nullptr};
    if (!RegistrationFor(ctx, pending, extension)) return;
    outcome.registration = Registration::kAfterRestart;
    outcome.command = pending.command;
    if (pending.command.empty()) return ctx.state.Registrations.push_back(std::move(pending));
    if (!MayRunCode(ctx, window, outcome.waiting)) {
        outcome.command = "not set up: others may change the file or its folder";
        return;
    }
    ctx.state.Record.Note(RecordKind::kRegistered, {pending.byRegsvr32 ? kByRegsvr32 : kByServer, pending.file});
    if (!ctx.os.SetMachineString(kRunOnceKey, pending.file, pending.command))
        ReportFileError(ctx, window, kRegisterFailed, pending.file);
}

// The 95 family's restart renames (WININIT.INI) know short names only: a
// file with a long name would end up under its short one.
bool LongNameLostAtRestart(platform::OsServices& os, const std::string& path) {
    if (!IsWin9X(os)) return false;
    const std::string shortPath = GetShortPath(os, path);
    const auto name = [](const std::string& p) { return platform::UCase(p.substr(p.find_last_of('\\') + 1)); };
    return name(shortPath) != name(path);
}

bool FoundInUse(const Context& ctx, const std::string& path) {
    for (const std::string& held : ctx.state.FilesInUse)
        if (held == path) return true;
    return false;
}

// What the planner needs of one file, looked at no further than its
// decision needs. A name that could lead out of the package folder is never
// looked up. A file whose earlier replacement or deletion still waits for
// the restart counts as held: replaced now, it would be undone then.
FileFacts FactsFor(Context& ctx, const UpdateFileEntry& entry, const std::string& source,
                   const Destination& destination) {
    auto& os = ctx.os;
    FileFacts facts;
    facts.systemFile = !destination.replace;
    facts.sourceFound = FindableName(entry.FileName) && os.NormalFileSize(source, facts.sourceSize);
    facts.leavesHost = FolderLeavesHost(entry.Folder);
    if (!facts.sourceFound || facts.leavesHost) return facts;
    facts.exists = !os.FindFile(destination.path).empty();
    if (!facts.exists) return facts;
    if (facts.systemFile) {
        facts.cutShort = ctx.state.Record.CopyCutShort(destination.path);
    } else {
        facts.held = FoundInUse(ctx, destination.path) || ctx.state.Record.ReplacementWaits(os, destination.path) ||
                     os.GoneAtRestart(destination.path);
        facts.longNameLost = facts.held && LongNameLostAtRestart(os, destination.path);
    }
    return facts;
}

// The folders the install writes listed files below: the host folder and
// the system directory, as DestinationFor spells them.
std::vector<std::string> InstallFolders(const Context& ctx, const std::string& productFolder) {
    std::vector<std::string> folders = {productFolder, ctx.state.SystemDirectory};
    for (std::string& folder : folders) {
        AddDirSep(folder);
        folder.pop_back();
    }
    return folders;
}

// Every failure of one entry's steps, a runtime error included, is that
// entry's failure: reported, and the walk goes on.
const ClassData* ClassDataOf(const Context& ctx, const std::string& fileName) {
    for (const ClassData& data : ctx.state.ClassValues)
        if (data.file == platform::UCase(fileName)) return &data;
    return nullptr;
}

// A file the package carries class data for is registered by writing it:
// none of its code runs. One replaced at the restart gets its values now,
// naming the path it will have.
void WriteClassData(Context& ctx, MainWindow& window, FileOutcome& outcome, const ClassData& data) {
    std::string why;
    outcome.registration = Registration::kAsData;
    outcome.command = Cat({Number(static_cast<long>(data.values.size())), " class values from ", kClassDataName});
    if (WriteClassValues(ctx, outcome.destination, data.values, why)) return;
    outcome.command = why;
    ReportFileError(ctx, window, kRegisterFailed, outcome.destination);
}

void DeployOne(Context& ctx, MainWindow& window, const std::string& productFolder,
               const std::vector<std::string>& allowed, const std::set<std::string>& heldRoots,
               const UpdateFileEntry& entry) {
    const Destination destination = DestinationFor(ctx.state.SystemDirectory, productFolder, entry);
    FileOutcome outcome;
    outcome.source = ctx.state.ServerPath;
    AddDirSep(outcome.source);
    outcome.source += entry.FileName;
    outcome.destination = destination.path;
    try {
        const InstallStep step =
            PlanFile(FactsFor(ctx, entry, outcome.source, destination), outcome.source, destination.path);
        outcome.result = MakeFileChange(ctx, allowed, step, outcome, heldRoots);
    } catch (const platform::RuntimeError& e) {
        outcome.result = FileResult::kCopyFailed;
        outcome.trouble = Cat({"error ", Number(e.Number()), ", ", e.Description()});
    }
    const ClassData* data = ClassDataOf(ctx, entry.FileName);
    if (outcome.result == FileResult::kSourceMissing)
        ReportFileError(ctx, window, kSourceMissing, outcome.source);
    else if (data && (Arrived(outcome.result) || outcome.result == FileResult::kAtRestart))
        WriteClassData(ctx, window, outcome, *data);
    else if (outcome.result == FileResult::kAtRestart)
        RegisterAfterRestart(ctx, window, outcome, entry.Extension);
    else if (!Arrived(outcome.result))
        ReportFileError(ctx, window, kCopyFailed,
                        Cat({"(Source: ", outcome.source, " - Destnation: ", destination.path, ")"}));
    else
        QueueRegistration(ctx, outcome, entry.Extension);
    ctx.state.Log.Entry(outcome);
}

}  // namespace

// "SYSTEM\" is the system directory, whose files are never replaced;
// "SERVER\" is the product folder itself; any other selector is a subfolder of it.
Destination DestinationFor(const std::string& systemDirectory, const std::string& productFolder,
                           const UpdateFileEntry& entry) {
    Destination result{productFolder, true};
    if (entry.Folder == "SYSTEM\\") {
        result = {systemDirectory, false};
    } else if (entry.Folder != "SERVER\\") {
        AddDirSep(result.path);
        result.path += entry.Folder;
    }
    AddDirSep(result.path);
    result.path += entry.FileName;
    return result;
}

// Between files the window processes its messages, so that it repaints
// and answers while a long list is installed.
void DeployUpdateFiles(Context& ctx, MainWindow& window, const std::string& productFolder) {
    const std::size_t count = ctx.state.UpdateFiles.size();
    uint32_t lastAnswered = ctx.os.TickCount();
    const std::vector<std::string> allowed = InstallFolders(ctx, productFolder);
    // The host folder and the system directory are held for the whole walk,
    // so that each file's change holds only the folders below them.
    std::vector<std::unique_ptr<platform::FolderHold>> rootHolds;
    std::set<std::string> heldRoots;
    for (const std::string& root : allowed) {
        std::string why;
        if (auto hold = ctx.os.HoldFolders(root, root, why)) {
            rootHolds.push_back(std::move(hold));
            heldRoots.insert(platform::UCase(root));
        }
    }
    for (std::size_t i = 1; i < count; ++i) {
        DeployOne(ctx, window, productFolder, allowed, heldRoots, ctx.state.UpdateFiles[i]);
        window.AdvanceProgress(1);
        KeepAnswering(ctx, lastAnswered);
    }
}

// Often enough that the window answers at once to a person, seldom enough
// that a walk of many small files does not spend its time repainting.
void KeepAnswering(Context& ctx, uint32_t& lastAnswered) {
    const uint32_t now = ctx.os.TickCount();
    if (now - lastAnswered < kAnswerEveryMs) return;
    ctx.rt.YieldToUI();
    lastAnswered = now;
}

TypeLibResult RegisterTypeLibraryResult(Context& ctx, const std::string& path, const std::string& loadFrom) {
    const std::u16string widePath = platform::AnsiToWide(StripQuotes(path));
    platform::TypeLibHandle library = nullptr;
    if (ctx.os.LoadTypeLib(loadFrom.empty() ? widePath : platform::AnsiToWide(loadFrom), library) != 0)
        return TypeLibResult::kNotLoaded;
    const int32_t registered = ctx.os.RegisterTypeLib(library, widePath, std::u16string());
    ctx.os.ReleaseTypeLib(library);
    return registered == 0 ? TypeLibResult::kRegistered : TypeLibResult::kNotRegistered;
}

namespace {

void RegistrationFailed(Context& ctx, MainWindow& window, const PendingRegistration& pending,
                        const std::string& why) {
    ReportFileError(ctx, window, kRegisterFailed, pending.file);
    ctx.state.Log.Write(Cat({pending.file, ": could not register: ", why}));
}

// A first try that may succeed later goes to the back of the queue, to be
// tried once more after the registrations before it.
void TryAgainLater(std::vector<PendingRegistration>& queue, std::size_t index) {
    PendingRegistration again = std::move(queue[index]);
    again.program = nullptr;
    ++again.attempt;
    queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(index));
    queue.push_back(std::move(again));
}

// Takes a finished program's result: true when the registration is settled.
// A file regsvr32 could not load (the file or a DLL it needs) is tried once more.
bool TakeResult(Context& ctx, MainWindow& window, const PendingRegistration& pending, uint32_t code) {
    const std::string ended = Cat({pending.command, " ended with ", Number(code)});
    if (code == 0) {
        ctx.state.Log.Write(Cat({pending.file, ": registered (", ended, ")"}));
        return true;
    }
    const char* meaning = pending.byRegsvr32 ? Regsvr32Meaning(code) : "";
    if (pending.byRegsvr32 && code == kRegsvr32CouldNotLoad && pending.attempt == 1) {
        ctx.state.Log.Write(Cat({pending.file, ": ", ended, meaning, "; trying again after the others"}));
        return false;
    }
    RegistrationFailed(ctx, window, pending, Cat({ended, meaning}));
    return true;
}

// Registers a type library at its turn: true when settled. One that does
// not load is tried once more after the others.
bool RegisterTypeLibraryOf(Context& ctx, MainWindow& window, PendingRegistration& pending) {
    if (pending.attempt == 1) ctx.state.Record.Note(RecordKind::kRegistered, {kByTypeLibrary, pending.file});
    if (pending.loadFrom.empty() && !HeldAsInstalled(ctx, window, pending)) return true;
    const TypeLibResult result = RegisterTypeLibraryResult(ctx, Quoted(pending.file), pending.loadFrom);
    pending.held.reset();
    switch (result) {
    case TypeLibResult::kRegistered:
        ctx.state.Log.Write(Cat({pending.file, ": registered with the type-library calls"}));
        return true;
    case TypeLibResult::kNotLoaded:
        if (pending.attempt == 1) {
            ctx.state.Log.Write(Cat({pending.file, ": not loaded as a type library; trying again after the others"}));
            return false;
        }
        RegistrationFailed(ctx, window, pending, "not a type library that loads");
        return true;
    case TypeLibResult::kNotRegistered:
        RegistrationFailed(ctx, window, pending, "the type-library registration failed");
        return true;
    }
    return true;
}

// Looks at a running registration program once: true when it is settled or
// to be tried again (no longer running).
bool Ended(Context& ctx, MainWindow& window, PendingRegistration& pending, bool& settled) {
    uint32_t code = 0;
    if (ctx.os.ProgramEnded(pending.program, code)) {
        ctx.os.CloseProgram(pending.program);
        pending.program = nullptr;
        pending.held.reset();
        settled = TakeResult(ctx, window, pending, code);
        return true;
    }
    if (ctx.os.TickCount() - pending.startedAt < kRegistrationLimitMs) return false;
    ctx.os.CloseProgram(pending.program);  // left running
    pending.program = nullptr;
    pending.held.reset();
    RegistrationFailed(ctx, window, pending,
                       Cat({pending.command, " still running after ", Number(kRegistrationLimitMs / 1000),
                            " s; result unknown"}));
    settled = true;
    return true;
}

// Takes the result of every program that has ended.
void SettleEnded(Context& ctx, MainWindow& window) {
    auto& queue = ctx.state.Registrations;
    for (std::size_t i = 0; i < queue.size();) {
        bool settled = false;
        if (!queue[i].program || !Ended(ctx, window, queue[i], settled)) {
            ++i;
        } else if (settled) {
            queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            TryAgainLater(queue, i);
        }
    }
}

std::size_t Running(const std::vector<PendingRegistration>& queue) {
    std::size_t running = 0;
    for (const auto& pending : queue) running += pending.program != nullptr;
    return running;
}

}  // namespace

void StartRegistrations(Context& ctx, MainWindow& window) {
    auto& queue = ctx.state.Registrations;
    std::size_t running = Running(queue);
    for (std::size_t i = 0; i < queue.size() && running < kMaxRunningRegistrations;) {
        PendingRegistration& pending = queue[i];
        if (pending.program) {
            ++i;
        } else if (pending.command.empty()) {
            if (RegisterTypeLibraryOf(ctx, window, pending))
                queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(i));
            else
                TryAgainLater(queue, i);  // the last one is tried again at once
        } else if (StartRegistration(ctx, window, pending)) {
            ++running;
            ++i;
        } else {
            queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

void WaitForRegistrations(Context& ctx, MainWindow& window) {
    auto& queue = ctx.state.Registrations;
    while (!queue.empty()) {
        SettleEnded(ctx, window);
        StartRegistrations(ctx, window);
        std::vector<void*> running;
        for (const auto& pending : queue)
            if (pending.program) running.push_back(pending.program);
        if (!running.empty()) ctx.rt.WaitForProgramsOrInput(running, kRegistrationPollMs);
    }
}

void ReportFileError(Context& ctx, MainWindow& window, int32_t kind, const std::string& text) {
    if (kind == kRegisterFailed)
        ++ctx.state.Summary.registrationFailures;
    else
        ++ctx.state.Summary.fileFailures;
    std::string message;
    if (kind == kSourceMissing)
        message = Cat({"Source file ", text, " not found"});
    else if (kind == kCopyFailed)
        message = "Could not copy file " + text;
    else if (kind == kRegisterFailed)
        message = "Could not register file " + text;
    else
        return;
    ctx.state.LastFileFailure = message;
    ctx.state.Record.Note(RecordKind::kFailed, {message}, false);  // for /verify: the install is not whole
    window.EditMsgline(message);
}

}  // namespace setup
