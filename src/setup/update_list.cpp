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

// The text after the last "." of the name; the whole name when it has none.
std::string ExtensionOf(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    return Operand(dot == std::string::npos ? fileName : fileName.substr(dot + 1));
}

// Acts on one body line: FOLDER sets the selector, FILE appends entries.
void ReadBodyLine(const std::string& line, std::string& folder, std::vector<UpdateFileEntry>& files) {
    const auto fields = Split(line, ",");
    if (fields.size() < 2) return;
    const std::string keyword = Trim(fields[0]);
    if (keyword == "FOLDER") {
        folder.clear();
        for (std::size_t i = 1; i < fields.size(); ++i) folder += Operand(fields[i]) + "\\";
    } else if (keyword == "FILE") {
        for (std::size_t i = 1; i < fields.size(); ++i) {
            UpdateFileEntry entry{folder, Operand(fields[i]), std::string()};
            entry.Extension = ExtensionOf(entry.FileName);
            files.push_back(std::move(entry));
        }
    }
}

// Reads the open list after its header line, up to "END" or the end of the file.
void ReadBody(platform::SequentialFiles& input, int fileNumber, std::vector<UpdateFileEntry>& files) {
    bool inBody = false;
    std::string folder;
    input.LineInput(fileNumber);  // the header belongs to start-up
    while (!input.Eof(fileNumber)) {
        const std::string line = Trim(input.LineInput(fileNumber));
        if (line.empty()) continue;
        if (line == "END") break;
        if (inBody) ReadBodyLine(line, folder, files);
        if (line == "START") inBody = true;
    }
}

}  // namespace

void ReadUpdateList(Context& ctx) {
    std::string path = ctx.state.ServerPath;
    AddDirSep(path);
    path += "UPDATE.LST";
    if (ctx.os.FindFile(path).empty()) return;

    auto& input = ctx.rt.Files();
    const int fileNumber = input.FreeFile();
    input.OpenForInput(fileNumber, path);
    try {
        ReadBody(input, fileNumber, ctx.state.UpdateFiles);
    } catch (...) {
        input.Close(fileNumber);
        throw;
    }
    input.Close(fileNumber);
}

}  // namespace setup
