#include "setup/update_list.h"

#include <utility>
#include <vector>

#include "platform/forms_runtime.h"
#include "platform/os_services.h"
#include "platform/text.h"
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

// Reads the open list after its header line, up to "END" or the end of the
// file; false when it has no START line.
bool ReadBody(platform::SequentialFiles& input, int fileNumber, std::vector<UpdateFileEntry>& files) {
    ListBodyReader reader;
    input.LineInput(fileNumber);  // the header belongs to start-up
    while (!input.Eof(fileNumber))
        if (reader.Read(input.LineInput(fileNumber), files) == BodyLine::kEnd) break;
    return reader.InBody();
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

int WebIdField(const std::string& systemName, const std::string& version) {
    const std::string v = Trim(version);
    if (v == "1.30") return 1;
    if (v == "1.31") return 2;
    if (v == "1.20") return 3;
    if (v == "1.40") return 4;
    if (v == "1.10" && UCase(systemName) == "PALOMIRE") return 5;
    return -1;
}

ListRead ReadUpdateList(Context& ctx) {
    std::string path = ctx.state.ServerPath;
    AddDirSep(path);
    path += "UPDATE.LST";
    if (ctx.os.FindFile(path).empty()) return ListRead::kMissing;

    auto& input = ctx.rt.Files();
    const int fileNumber = input.FreeFile();
    input.OpenForInput(fileNumber, path);
    bool body = false;
    try {
        body = ReadBody(input, fileNumber, ctx.state.UpdateFiles);
    } catch (...) {
        input.Close(fileNumber);
        throw;
    }
    input.Close(fileNumber);
    return body ? ListRead::kRead : ListRead::kNoBody;
}

}  // namespace setup
