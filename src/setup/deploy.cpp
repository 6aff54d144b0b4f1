#include "setup/deploy.h"

#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/paths.h"
#include "setup/system_platform.h"

namespace setup {

namespace {

struct Destination {
    std::string path;
    bool replace;  // an existing file there is replaced
};

// "SYSTEM\" is the system directory, whose files are never replaced;
// "SERVER\" is the product folder itself; any other selector is a subfolder of it.
Destination DestinationFor(const Context& ctx, const std::string& productFolder, const UpdateFileEntry& entry) {
    Destination result{productFolder, true};
    if (entry.Folder == "SYSTEM\\") {
        result = {ctx.state.SystemDirectory, false};
    } else if (entry.Folder != "SERVER\\") {
        AddDirSep(result.path);
        result.path += entry.Folder;
    }
    AddDirSep(result.path);
    result.path += entry.FileName;
    return result;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// regsvr32 by its full path, so that a copy planted beside the installer
// is never the one started.
std::string Regsvr32Program(const Context& ctx) {
    std::string program = ctx.state.SystemDirectory;
    AddDirSep(program);
    program += "regsvr32.exe";
    return program.find(' ') == std::string::npos ? program : Quoted(program);
}

void Register(Context& ctx, const std::string& path, const std::string& extension) {
    const std::string quoted = Quoted(path);
    if (extension == "DLL" || extension == "OCX")
        ctx.os.RunProgram(Regsvr32Program(ctx) + " /s " + quoted, platform::kWindowStyleMinimizedFocus);
    else if (extension == "EXE")
        ctx.os.RunProgram(quoted + " /RegServer", platform::kWindowStyleMinimizedFocus);
    else if (extension == "TLB")
        RegisterTypeLibrary(ctx, quoted);
}

void ReportCopyFailure(MainWindow& window, const std::string& source, const std::string& destination) {
    ReportFileError(window, kCopyFailed, "(Source: " + source + " - Destnation: " + destination + ")");
}

// Replaces the destination with the temporary through renames: the old file
// aside, the new one in, the old one removed. False, with the old file back
// in place, when the new one cannot be moved in or the old one cannot be
// removed (a running program can be renamed but not deleted): a file in use
// stays, as a one-step replace leaves it.
bool ReplaceByRenaming(platform::OsServices& os, const std::string& temporary, const std::string& destination) {
    const std::string aside = destination + kSetAsideSuffix;
    os.DeleteFileA(aside);  // left by an interrupted run
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

// Replaces an existing file through a temporary copy beside it. False when
// the copy failed (the old file is untouched). When the old file cannot be
// replaced (in use), it stays and the temporary is removed.
bool ReplaceExisting(platform::OsServices& os, const std::string& source, const std::string& destination) {
    const std::string temporary = destination + kReplacementSuffix;
    os.ClearFileAttributes(destination);
    if (!os.CopyFileA(source, temporary, 0)) {
        os.DeleteFileA(temporary);  // in case a partial copy was left behind
        return false;
    }
    if (!MoveIntoPlace(os, temporary, destination)) os.DeleteFileA(temporary);
    return true;
}

void DeployOne(Context& ctx, MainWindow& window, const std::string& productFolder, const UpdateFileEntry& entry) {
    const Destination destination = DestinationFor(ctx, productFolder, entry);
    std::string source = ctx.state.ServerPath;
    AddDirSep(source);
    source += entry.FileName;

    auto& os = ctx.os;
    if (os.FindFile(source).empty()) {
        ReportFileError(window, kSourceMissing, source);
        return;
    }
    // An existing file that is not to be replaced stays and is registered in place.
    const bool exists = !os.FindFile(destination.path).empty();
    bool copied = true;
    if (exists && destination.replace)
        copied = ReplaceExisting(os, source, destination.path);
    else if (!exists)
        copied = os.CopyFileA(source, destination.path, 0) != 0;
    if (!copied) {
        ReportCopyFailure(window, source, destination.path);
        return;
    }
    Register(ctx, destination.path, entry.Extension);
}

}  // namespace

void DeployUpdateFiles(Context& ctx, MainWindow& window, const std::string& productFolder) {
    const std::size_t count = ctx.state.UpdateFiles.size();
    for (std::size_t i = 1; i < count; ++i) DeployOne(ctx, window, productFolder, ctx.state.UpdateFiles[i]);
}

void RegisterTypeLibrary(Context& ctx, const std::string& path) {
    const std::u16string widePath = platform::AnsiToWide(StripQuotes(path));
    platform::TypeLibHandle library = nullptr;
    if (ctx.os.LoadTypeLib(widePath, library) != 0) return;
    ctx.os.RegisterTypeLib(library, widePath, std::u16string());
    ctx.os.ReleaseTypeLib(library);
}

void ReportFileError(MainWindow& window, int32_t kind, const std::string& text) {
    if (kind == kSourceMissing)
        window.EditMsgline("Source file " + text + " not found");
    else if (kind == kCopyFailed)
        window.EditMsgline("Could not copy file " + text);
}

}  // namespace setup
