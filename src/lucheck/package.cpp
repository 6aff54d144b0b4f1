#include "lucheck/package.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/runtime_error.h"
#include "platform/sequential_files.h"
#include "platform/text.h"
#include "setup/update_list.h"

namespace fs = std::filesystem;

namespace lucheck {

std::string Key(const std::string& name) { return platform::UCase(name); }

std::vector<std::string> ListedNames(const Package& package) {
    setup::ListBodyReader reader;
    std::vector<setup::UpdateFileEntry> files;
    for (std::size_t i = 1; i < package.lines.size(); ++i)
        if (reader.Read(package.lines[i], files) == setup::BodyLine::kEnd) break;
    std::vector<std::string> names;
    for (const auto& file : files) names.push_back(file.FileName);
    return names;
}

std::string Package::PathOf(const std::string& name) const {
    auto it = files.find(Key(name));
    return it == files.end() ? std::string() : (fs::path(folder) / it->second.front()).string();
}

namespace {

bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    platform::SequentialFiles input;
    try {
        input.OpenForInput(1, path);
        while (!input.Eof(1)) lines.push_back(input.LineInput(1));
        input.Close(1);
    } catch (const platform::RuntimeError&) {
        return false;
    }
    return true;
}

}  // namespace

bool ReadPackage(const std::string& folder, Package& package, std::string& reason) {
    package.folder = folder;
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        reason = folder + ": not a folder";
        return false;
    }
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) {
            const std::string name = it->path().filename().string();
            package.files[Key(name)].push_back(name);
        }
    }
    if (error) {
        reason = folder + ": " + error.message();
        return false;
    }
    for (auto& entry : package.files) std::sort(entry.second.begin(), entry.second.end());  // not the folder's order
    const std::string list = package.PathOf(kListName);
    if (list.empty()) {
        reason = folder + ": no " + kListName;
        return false;
    }
    if (!ReadLines(list, package.lines)) {
        reason = list + ": cannot be read";
        return false;
    }
    return true;
}

}  // namespace lucheck
