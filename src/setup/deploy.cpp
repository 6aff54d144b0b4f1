#include "setup/deploy.h"

#include "platform/os_services.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "setup/paths.h"
#include "setup/system_platform.h"

namespace setup {

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// regsvr32 by its full path, so that a copy planted beside the installer
// is never the one started.
std::string Regsvr32Program(const Context& ctx) {
    std::string program = ctx.state.SystemDirectory;
    AddDirSep(program);
    program += "regsvr32.exe";
    return program.find(' ') == std::string::npos ? program : Quoted(program);
}

// Registers the file by its type. A registration program that cannot be
// started is reported, and the walk goes on with the next entry.
void Register(Context& ctx, MainWindow& window, FileOutcome& outcome, const std::string& extension) {
    const std::string quoted = Quoted(outcome.destination);
    if (extension == "DLL" || extension == "OCX") {
        outcome.command = Regsvr32Program(ctx) + " /s " + quoted;
    } else if (extension == "EXE") {
        outcome.command = quoted + " /RegServer";
    } else {
        if (extension == "TLB")
            outcome.registration =
                RegisterTypeLibrary(ctx, quoted) ? Registration::kTypeLibrary : Registration::kTypeLibraryNotLoaded;
        return;
    }
    try {
        ctx.os.RunProgram(outcome.command, platform::kWindowStyleMinimizedFocus);
        outcome.registration = Registration::kStarted;
    } catch (const platform::RuntimeError& e) {
        ReportFileError(ctx, window, kRegisterFailed, outcome.destination);
        outcome.registration = Registration::kNotStarted;
        outcome.trouble = "error " + std::to_string(e.Number()) + ", " + e.Description();
    }
}

// Removes a file left by an interrupted run, read-only or not.
void RemoveLeftover(platform::OsServices& os, const std::string& path) {
    try {
        os.ClearFileAttributes(path);
    } catch (const platform::RuntimeError&) {
        return;  // there is none
    }
    os.DeleteFileA(path);
}

// Replaces the destination with the temporary through renames: the old file
// aside, the new one in, the old one removed. False, with the old file back
// in place, when the new one cannot be moved in or the old one cannot be
// removed (a running program can be renamed but not deleted): a file in use
// stays, as a one-step replace leaves it.
bool ReplaceByRenaming(platform::OsServices& os, const std::string& temporary, const std::string& destination) {
    const std::string aside = destination + kSetAsideSuffix;
    RemoveLeftover(os, aside);
    if (!os.MoveFileA(destination, aside)) return false;
    if (!os.MoveFileA(temporary, destination)) {
        os.MoveFileA(aside, destination);
        return false;
    }
    if (os.DeleteFileA(aside)) return true;
    if (!os.MoveFileA(destination, temporary)) return true;  // the new file stays in place
    if (os.MoveFileA(aside, destination)) return false;
    os.MoveFileA(temporary, destination);
    return true;
}

// Moves the temporary over the destination: in one step where the system
// can, through renames where its one-step call is only a stub. The 95
// family's always is, so it is not asked there.
bool MoveIntoPlace(platform::OsServices& os, const std::string& temporary, const std::string& destination) {
    const platform::MoveResult moved =
        IsWin9X(os) ? platform::MoveResult::kNotSupported : os.MoveFileReplaceA(temporary, destination);
    if (moved == platform::MoveResult::kNotSupported) return ReplaceByRenaming(os, temporary, destination);
    return moved == platform::MoveResult::kMoved;
}

// Replaces an existing file through a temporary copy beside it, so that the
// old file is untouched when the copy fails, and stays when it cannot be
// replaced (in use).
FileResult ReplaceExisting(platform::OsServices& os, const std::string& source, const std::string& destination) {
    const std::string temporary = destination + kReplacementSuffix;
    os.ClearFileAttributes(destination);
    RemoveLeftover(os, temporary);
    if (!os.CopyFileA(source, temporary, 0)) {
        os.DeleteFileA(temporary);  // in case a partial copy was left behind
        return FileResult::kCopyFailed;
    }
    if (MoveIntoPlace(os, temporary, destination)) return FileResult::kReplaced;
    os.DeleteFileA(temporary);
    return FileResult::kInUse;
}

// An existing file that is not to be replaced stays and is registered in place.
FileResult CopyOne(platform::OsServices& os, const std::string& source, const Destination& destination) {
    const bool exists = !os.FindFile(destination.path).empty();
    if (exists && !destination.replace) return FileResult::kKept;
    if (exists) return ReplaceExisting(os, source, destination.path);
    return os.CopyFileA(source, destination.path, 0) ? FileResult::kCopied : FileResult::kCopyFailed;
}

void DeployOne(Context& ctx, MainWindow& window, const std::string& productFolder, const UpdateFileEntry& entry) {
    const Destination destination = DestinationFor(ctx.state.SystemDirectory, productFolder, entry);
    FileOutcome outcome;
    outcome.source = ctx.state.ServerPath;
    AddDirSep(outcome.source);
    outcome.source += entry.FileName;
    outcome.destination = destination.path;

    if (ctx.os.FindFile(outcome.source).empty()) {
        ReportFileError(ctx, window, kSourceMissing, outcome.source);
        outcome.result = FileResult::kSourceMissing;
    } else {
        outcome.result = CopyOne(ctx.os, outcome.source, destination);
        if (outcome.result == FileResult::kCopyFailed || outcome.result == FileResult::kInUse)
            ReportFileError(ctx, window, kCopyFailed,
                            "(Source: " + outcome.source + " - Destnation: " + destination.path + ")");
        else
            Register(ctx, window, outcome, entry.Extension);
    }
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

void DeployUpdateFiles(Context& ctx, MainWindow& window, const std::string& productFolder) {
    const std::size_t count = ctx.state.UpdateFiles.size();
    for (std::size_t i = 1; i < count; ++i) DeployOne(ctx, window, productFolder, ctx.state.UpdateFiles[i]);
}

bool RegisterTypeLibrary(Context& ctx, const std::string& path) {
    const std::u16string widePath = platform::AnsiToWide(StripQuotes(path));
    platform::TypeLibHandle library = nullptr;
    if (ctx.os.LoadTypeLib(widePath, library) != 0) return false;
    ctx.os.RegisterTypeLib(library, widePath, std::u16string());
    ctx.os.ReleaseTypeLib(library);
    return true;
}

void ReportFileError(Context& ctx, MainWindow& window, int32_t kind, const std::string& text) {
    std::string message;
    if (kind == kSourceMissing)
        message = "Source file " + text + " not found";
    else if (kind == kCopyFailed)
        message = "Could not copy file " + text;
    else if (kind == kRegisterFailed)
        message = "Could not register file " + text;
    else
        return;
    ctx.state.LastFileFailure = message;
    window.EditMsgline(message);
}

}  // namespace setup
