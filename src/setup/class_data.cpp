#include "setup/class_data.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/text.h"

namespace setup {

using platform::Cat;
using platform::UCase;

namespace {

const char* const kTypeNames[] = {"", "REG_SZ", "REG_EXPAND_SZ", "REG_MULTI_SZ", "REG_DWORD", "REG_BINARY"};
const char* const kClassRoots[] = {"CLSID", "TYPELIB", "INTERFACE", "APPID"};
const char* const kProgIdKeys[] = {"CLSID", "CURVER", "DEFAULTICON", "INSERTABLE", "NOTINSERTABLE"};
// What Windows loads or runs by such a name, wherever it lies.
const char* const kCodeExtensions[] = {".DLL", ".EXE", ".OCX", ".TLB", ".OLB", ".CPL", ".COM", ".BAT", ".CMD",
                                       ".SCR", ".SYS", ".DRV", ".AX",  ".VBS", ".JS",  ".PS1", ".HTA", ".MSC"};

std::vector<std::string> Split(const std::string& text, char separator) {
    return text.empty() ? std::vector<std::string>{std::string()} : platform::Split(text, std::string(1, separator));
}

std::string Quoted(const std::string& text, const char* after) { return Cat({"\"", text, "\" ", after}); }

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsOneOf(const std::string& upper, const char* const* words, std::size_t count) {
    return std::find(words, words + count, upper) != words + count;
}

// Replaces every occurrence of `from`, in any case, with `to`.
std::string ReplacedAnyCase(const std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    const std::string upper = UCase(text);
    const std::string wanted = UCase(from);
    std::string result;
    std::size_t start = 0;
    for (std::size_t at; (at = upper.find(wanted, start)) != std::string::npos; start = at + from.size())
        result += Cat({text.substr(start, at - start), to});
    return result + text.substr(start);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// What follows a token in a string that names a file: nothing, a resource
// index (",1"), or arguments that name no other file.
bool AfterTokenAllowed(const std::string& rest) {
    if (rest.empty()) return true;
    if (rest[0] == ',') {
        const std::string index = rest.substr(rest.find_first_not_of(' ', 1) == std::string::npos
                                                  ? rest.size()
                                                  : rest.find_first_not_of(' ', 1));
        const std::size_t digits = index.find_first_not_of("-0123456789");
        return !index.empty() && digits == std::string::npos;
    }
    return rest[0] == ' ' && rest.find_first_of("\\:%\"") == std::string::npos;
}

bool ParseNumber(const std::string& text, std::string& bytes) {
    if (text.empty() || text.size() > 10) return false;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned long long value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || text[0] == '-' || text[0] == '+' || text[0] == ' ' || value > 0xFFFFFFFFull) return false;
    bytes.clear();
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return true;
}

bool ParseBinaryBytes(const std::string& text, std::string& bytes) {
    if (text.size() % 2) return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const std::string pair = text.substr(i, 2);
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        bytes += static_cast<char>(std::strtoul(pair.c_str(), nullptr, 16));
    }
    return true;
}

std::string HexText(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char c : bytes) text += {kDigits[c >> 4], kDigits[c & 15]};
    return text;
}

// Why the data does not fit the type (or names a file untokenized); empty when it does.
std::string ReadData(ValueType type, const std::string& field, std::string& data) {
    switch (type) {
    case ValueType::kString:
    case ValueType::kExpandString:
        data = platform::UnescapedField(field);
        if (data.find('\0') != std::string::npos) return "a string holds a NUL";
        return FileNameTrouble(data);
    case ValueType::kMultiString:
        data = platform::UnescapedField(field);
        for (const std::string& part : Split(data, '\0'))
            if (!FileNameTrouble(part).empty()) return FileNameTrouble(part);
        return std::string();
    case ValueType::kNumber: return ParseNumber(field, data) ? std::string() : "not a number of 32 bits";
    case ValueType::kBinary: return ParseBinaryBytes(field, data) ? std::string() : "not hexadecimal bytes";
    case ValueType::kNone: break;
    }
    return "an unknown type";
}

std::string FormatData(const ClassValue& value) {
    switch (value.type) {
    case ValueType::kNumber:
    {
        uint32_t number = 0;
        for (std::size_t i = 0; i < 4 && i < value.data.size(); ++i)
            number |= static_cast<uint32_t>(static_cast<unsigned char>(value.data[i])) << (8 * i);
        return platform::Number64(number);
    }
    case ValueType::kBinary: return HexText(value.data);
    default: return platform::EscapedField(value.data);
    }
}

// Reads one value line of a section; empty when it is sound, or why not.
std::string ReadValueLine(const std::string& line, ClassValue& value) {
    const std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() != 1 && fields.size() != 4) return "needs a key alone, or a key, a value name, a type and data, tab-separated";
    value.key = platform::UnescapedField(fields[0]);
    const std::string keyTrouble = KeyTrouble(value.key);
    if (!keyTrouble.empty()) return keyTrouble;
    if (fields.size() == 1) return std::string();
    value.name = platform::UnescapedField(fields[1]);
    value.type = ValueTypeNamed(fields[2]);
    if (value.type == ValueType::kNone)
        return Quoted(fields[2], "is not a type (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY)");
    return ReadData(value.type, fields[3], value.data);
}

}  // namespace

platform::RegistryValue RegistryValueOf(const ClassValue& value, const std::string& path, const std::string& shortPath) {
    static const uint32_t kRegistryTypes[] = {0, 1, 2, 7, 4, 3};  // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, ...
    const uint32_t type = kRegistryTypes[static_cast<int>(value.type)];
    switch (value.type) {
    case ValueType::kString:
    case ValueType::kExpandString: return {type, WithTokensReplaced(value.data, path, shortPath) + '\0'};
    case ValueType::kMultiString:
    {
        std::string data;
        for (const std::string& part : platform::Split(value.data, std::string(1, '\0')))
            data += WithTokensReplaced(part, path, shortPath) + '\0';
        return {type, data + '\0'};
    }
    default: return {type, value.data};
    }
}

std::string HexBytes(const std::string& bytes) { return HexText(bytes); }


platform::RegistryValue RecordedValue(const std::string& type, const std::string& hex) {
    platform::RegistryValue value{static_cast<uint32_t>(std::strtoul(type.c_str(), nullptr, 10)), std::string()};
    ParseBinaryBytes(hex, value.data);
    return value;
}

std::string ClassValueName(const std::string& key, const std::string& name) {
    return Cat({"HKEY_LOCAL_MACHINE\\", key, " ", name.empty() ? "(default)" : name});
}

const char* ValueTypeName(ValueType type) { return kTypeNames[static_cast<int>(type)]; }

ValueType ValueTypeNamed(const std::string& name) {
    for (int type = 1; type < static_cast<int>(std::size(kTypeNames)); ++type)
        if (name == kTypeNames[type]) return static_cast<ValueType>(type);
    return ValueType::kNone;
}

std::string KeyTrouble(const std::string& key) {
    const std::vector<std::string> parts = Split(UCase(key), '\\');
    for (const std::string& part : parts) {
        if (part.empty() || part == "." || part == ".." || part.find_first_of("\r\n\t") != std::string::npos)
            return Quoted(key, "is not a key's name");
        if (part == "SHELL" || part == "SHELLEX") return Quoted(key, "holds shell verbs or extensions");
    }
    const std::string& root = parts[0];
    if (IsOneOf(root, kClassRoots, std::size(kClassRoots)))
        return parts.size() >= 2 ? std::string() : Quoted(key, "is a whole class root, not one class in it");
    const bool progId = root.find('.') != std::string::npos && root[0] != '.' && root.back() != '.';
    if (!progId) return Quoted(key, "is not a class key (CLSID, TypeLib, Interface, AppID or a ProgID)");
    if (parts.size() > 2 || (parts.size() == 2 && !IsOneOf(parts[1], kProgIdKeys, std::size(kProgIdKeys))))
        return Quoted(key, "is not a ProgID's CLSID, CurVer or DefaultIcon");
    return std::string();
}

std::string FileNameTrouble(const std::string& text) {
    std::string rest = text;
    const bool quoted = !rest.empty() && rest[0] == '"';
    if (quoted) rest.erase(0, 1);
    for (const char* token : {kShortFileToken, kFileToken, kFolderToken}) {
        if (rest.compare(0, std::strlen(token), token) != 0) continue;
        rest.erase(0, std::strlen(token));
        if (quoted && (rest.empty() || rest[0] != '"')) return Quoted(text, "opens a quote it does not close");
        if (quoted) rest.erase(0, 1);
        // Below the folder: a name inside it, no way out of it.
        if (std::string(token) == kFolderToken && !rest.empty() && rest[0] == '\\') {
            const std::size_t end = rest.find_first_of(" ,");
            const std::string below = rest.substr(0, end);
            if (below.find("..") != std::string::npos || below.find_first_of(":%\"/") != std::string::npos)
                return Quoted(text, "leads out of the file's folder");
            rest.erase(0, below.size());
        }
        return AfterTokenAllowed(rest) ? std::string() : Quoted(text, "names another file after its token");
    }
    const std::string upper = UCase(text);
    std::string bare = upper.substr(0, upper.find_last_not_of(" \"") + 1);
    bool code = false;
    for (const char* extension : kCodeExtensions) code = code || EndsWith(bare, extension);
    if (code || text.find_first_of("\\:%") != std::string::npos)
        return Quoted(text, "names a file other than through <file>, <short file> or <folder>");
    return std::string();
}

bool ReadClassData(const std::string& text, const std::vector<std::string>& listed, std::vector<ClassData>& data,
                   ClassDataTrouble& trouble) {
    data.clear();
    trouble = ClassDataTrouble{};
    std::vector<std::string> seen;
    const std::vector<std::string> lines = Split(text, '\n');
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        trouble.line = static_cast<int>(i + 1);
        if (line[0] == '[') {
            const std::string name = UCase(line.substr(1, line.size() - 1 - (line.back() == ']')));
            if (line.back() != ']' || name.empty()) trouble.why = "a section's name is not closed by ]";
            else if (std::find(listed.begin(), listed.end(), name) == listed.end())
                trouble.why = name + " is not a file the package lists and installs";
            else if (std::find(seen.begin(), seen.end(), name) != seen.end()) trouble.why = name + " has a second section";
            seen.push_back(name);
            if (!trouble.why.empty()) return false;
            data.push_back({name, {}});
            continue;
        }
        if (data.empty()) {
            trouble.why = "a value outside any file's section";
            return false;
        }
        ClassValue value;
        trouble.why = ReadValueLine(line, value);
        if (!trouble.why.empty()) return false;
        data.back().values.push_back(std::move(value));
    }
    trouble = ClassDataTrouble{};
    return true;
}

std::string FormatClassData(const std::vector<ClassData>& data) {
    std::string text = "# Class registrations as data, harvested by lucheck --harvest: the installer writes\r\n"
                        "# these values under HKEY_LOCAL_MACHINE\\Software\\Classes and runs no registration code.\r\n";
    for (const ClassData& file : data) {
        text += Cat({"[", file.file, "]\r\n"});
        for (const ClassValue& value : file.values) {
            text += platform::EscapedField(value.key);
            if (value.type != ValueType::kNone)
                text += Cat({"\t", platform::EscapedField(value.name), "\t", ValueTypeName(value.type), "\t", FormatData(value)});
            text += "\r\n";
        }
    }
    return text;
}

std::string WithTokensReplaced(const std::string& text, const std::string& path, const std::string& shortPath) {
    const std::string folder = path.substr(0, path.find_last_of('\\'));
    return Replaced(Replaced(Replaced(text, kShortFileToken, shortPath.empty() ? path : shortPath), kFileToken, path),
                    kFolderToken, folder);
}

std::string WithPathsTokenized(const std::string& text, const std::string& path, const std::string& shortPath) {
    const std::string folder = path.substr(0, path.find_last_of('\\'));
    std::string tokenized = ReplacedAnyCase(text, path, kFileToken);
    if (UCase(shortPath) != UCase(path)) tokenized = ReplacedAnyCase(tokenized, shortPath, kShortFileToken);
    return ReplacedAnyCase(tokenized, folder, kFolderToken);
}

}  // namespace setup
