#include "platform/wininit.h"

#include <algorithm>
#include <cctype>

#include "platform/text.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The line's text without surrounding blanks.
std::string Stripped(const std::string& text, std::size_t begin, std::size_t end) {
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsRenameHeader(const std::string& line) {
    static const char kHeader[] = "[rename]";
    if (line.size() != sizeof kHeader - 1) return false;
    for (std::size_t i = 0; i < line.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != kHeader[i]) return false;
    return true;
}

// Where a line added to the [rename] section goes: after the section's last
// line that is not blank; npos when there is no such section.
std::size_t RenameSectionEnd(const std::string& text) {
    std::size_t insertAt = std::string::npos;
    bool inSection = false;
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = text.find('\n', begin);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        const std::string line = Stripped(text, begin, end == std::string::npos ? text.size() : end);
        if (!line.empty() && line[0] == '[') {
            if (inSection) return insertAt;
            inSection = IsRenameHeader(line);
            if (inSection) insertAt = next;
        } else if (inSection && !line.empty()) {
            insertAt = next;
        }
        begin = next;
    }
    return insertAt;
}

}  // namespace

std::string WithRenameLine(const std::string& text, const std::string& line) {
    std::size_t at = RenameSectionEnd(text);
    std::string added = line + "\r\n";
    if (at == std::string::npos) {
        at = text.size();
        added = "[rename]\r\n" + added;
    }
    // A last line without its line end gets one before anything follows it.
    if (at == text.size() && !text.empty() && text.back() != '\n') added = "\r\n" + added;
    return text.substr(0, at) + added + text.substr(at);
}

std::vector<RestartChange> RenameSectionChanges(const std::string& text) {
    std::vector<RestartChange> changes;
    bool inSection = false;
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        const std::string line = Stripped(text, begin, end);
        begin = end + 1;
        if (!line.empty() && line[0] == '[') inSection = IsRenameHeader(line);
        const std::size_t equals = line.find('=');
        if (!inSection || line.empty() || line[0] == '[' || equals == std::string::npos) continue;
        const std::string destination = Stripped(line, 0, equals);
        changes.push_back({Stripped(line, equals + 1, line.size()), UCase(destination) == "NUL" ? "" : destination});
    }
    return changes;
}

std::vector<RestartChange> PendingRenameChanges(const std::string& multiString) {
    std::vector<std::string> paths;
    for (std::size_t begin = 0; begin < multiString.size();) {
        const std::size_t end = std::min(multiString.find('\0', begin), multiString.size());
        std::string path = multiString.substr(begin, end - begin);
        begin = end + 1;
        // A path for the destination: it follows its source even when empty.
        if (path.empty() && paths.size() % 2 == 0) continue;
        if (!path.empty() && path[0] == '!') path.erase(0, 1);
        if (path.rfind("\\??\\", 0) == 0) path.erase(0, 4);
        paths.push_back(path);
    }
    std::vector<RestartChange> changes;
    for (std::size_t i = 0; i + 1 < paths.size(); i += 2) changes.push_back({paths[i], paths[i + 1]});
    return changes;
}

bool GoneAfterChanges(const std::vector<RestartChange>& changes, const std::vector<std::string>& names) {
    const auto named = [&](const std::string& path) {
        for (const std::string& name : names)
            if (!name.empty() && UCase(name) == UCase(path)) return true;
        return false;
    };
    bool gone = false;
    for (const RestartChange& change : changes) {
        if (!change.destination.empty() && named(change.destination))
            gone = false;
        else if (named(change.source))
            gone = true;
    }
    return gone;
}

}  // namespace platform
