#include "setup/update_list.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/text.h"
#include "setup/deploy.h"
#include "setup/event_report.h"
#include "setup/install_record.h"
#include "setup/paths.h"

namespace setup {

namespace {

using platform::Split;
using platform::Trim;
using platform::UCase;

std::string Operand(const std::string& field) { return UCase(Trim(field)); }

// Acts on one body line: FOLDER sets the selector, FILE appends entries.
BodyLine ReadBodyLine(const std::string& line, std::string& folder, std::vector<UpdateFileEntry>& files) {
    const auto fields = Split(line, ",");
    if (fields.size() < 2) return BodyLine::kNoComma;
    const std::string keyword = Trim(fields[0]);
    if (keyword == "FOLDER") {
        folder.clear();
        for (std::size_t i = 1; i < fields.size(); ++i) folder += Operand(fields[i]) + "\\";
        return BodyLine::kFolder;
    }
    if (keyword == "FILE") {
        for (std::size_t i = 1; i < fields.size(); ++i) {
            UpdateFileEntry entry{folder, Operand(fields[i]), std::string()};
            entry.Extension = ExtensionOf(entry.FileName);
            files.push_back(std::move(entry));
        }
        return BodyLine::kFile;
    }
    return BodyLine::kUnknownKeyword;
}

// The first of the entries from `from` on whose name the installer keeps
// for itself, unless one was found before.
void NoteOwnName(const std::vector<UpdateFileEntry>& files, std::size_t from, int line, OwnNameListed& ownName) {
    for (std::size_t i = from; i < files.size() && ownName.line == 0; ++i) {
        std::string why = OwnNameReason(files[i].FileName);
        if (!why.empty()) ownName = {line, files[i].FileName, std::move(why)};
    }
}

// Reads the open list after its header line, up to "END" or the end of the
// file; false when it has no START line.
bool ReadBody(platform::SequentialFiles& input, int fileNumber, std::vector<UpdateFileEntry>& files,
              OwnNameListed& ownName) {
    ListBodyReader reader;
    input.LineInput(fileNumber);  // the header belongs to start-up
    for (int line = 2; !input.Eof(fileNumber); ++line) {
        const std::size_t before = files.size();
        if (reader.Read(input.LineInput(fileNumber), files) == BodyLine::kEnd) break;
        NoteOwnName(files, before, line, ownName);
    }
    return reader.InBody();
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

BodyLine ListBodyReader::Read(const std::string& rawLine, std::vector<UpdateFileEntry>& files) {
    const std::string line = Trim(rawLine);
    if (line.empty()) return BodyLine::kEmpty;
    if (line == "END") return BodyLine::kEnd;
    BodyLine kind = BodyLine::kPreamble;
    if (inBody_) kind = ReadBodyLine(line, folder_, files);
    if (line == "START") {
        inBody_ = true;
        kind = BodyLine::kStart;
    }
    return kind;
}

std::string ExtensionOf(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    return Operand(dot == std::string::npos ? fileName : fileName.substr(dot + 1));
}

bool FindableName(const std::string& name) {
    return !name.empty() && name.find_first_of("*?\\/:") == std::string::npos && name.find("..") == std::string::npos;
}

std::string OwnNameReason(const std::string& name) {
    const std::string upper = UCase(name);
    if (upper == UCase(kUninstallerName)) return "is the installer's own name";
    if (upper == UCase(kEventMessageFileName)) return "is the name of the installer's event message file";
    for (const char* suffix : {kReplacementSuffix, kSetAsideSuffix, kRestoredSuffix, kDeletedSuffix})
        if (EndsWith(upper, UCase(suffix)))
            return platform::Cat({"ends in ", suffix, ", as the installer's temporary files do"});
    if (upper.rfind(kAsideAtRestartPrefix, 0) == 0 && EndsWith(upper, kAsideAtRestartSuffix))
        return "is named as the installer names a file it moves aside at a restart (~LU*.OLD)";
    return std::string();
}

bool FolderLeavesHost(const std::string& selector) {
    std::string part;
    for (const char c : selector + "\\") {
        if (c != '\\' && c != '/') {
            part += c;
            continue;
        }
        if (Trim(part) == "..") return true;
        part.clear();
    }
    return false;
}

std::vector<std::string> HeaderVersions(const std::string& systemName) {
    std::vector<std::string> versions = {"1.30", "1.31", "1.20", "1.40"};
    if (UCase(systemName) == "PALOMIRE") versions.push_back("1.10");
    return versions;
}

int WebIdField(const std::string& systemName, const std::string& version) {
    const std::vector<std::string> versions = HeaderVersions(systemName);
    const auto found = std::find(versions.begin(), versions.end(), Trim(version));
    return found == versions.end() ? -1 : static_cast<int>(found - versions.begin()) + 1;
}

ListRead ReadUpdateList(Context& ctx, OwnNameListed* ownName) {
    std::string path = ctx.state.ServerPath;
    AddDirSep(path);
    path += "UPDATE.LST";
    if (ctx.os.FindFile(path).empty()) return ListRead::kMissing;

    auto& input = ctx.rt.Files();
    const int fileNumber = input.FreeFile();
    input.OpenForInput(fileNumber, path);
    bool body = false;
    OwnNameListed unasked;
    try {
        body = ReadBody(input, fileNumber, ctx.state.UpdateFiles, ownName ? *ownName : unasked);
    } catch (...) {
        input.Close(fileNumber);
        throw;
    }
    input.Close(fileNumber);
    return body ? ListRead::kRead : ListRead::kNoBody;
}

}  // namespace setup
