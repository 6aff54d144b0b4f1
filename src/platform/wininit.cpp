#include "platform/wininit.h"

#include <cctype>

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

}  // namespace platform
