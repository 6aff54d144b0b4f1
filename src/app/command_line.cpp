#include "app/command_line.h"

#include <cctype>
#include <vector>

namespace app {

namespace {

enum class Kind { kQuiet, kPassive, kDir, kLog, kNoRestart, kForceRestart, kHelp };

struct Switch {
    const char* name;  // lower case, without its / or -
    Kind kind;
};

constexpr Switch kSwitches[] = {
    {"quiet", Kind::kQuiet},   {"q", Kind::kQuiet},         {"qn", Kind::kQuiet},
    {"s", Kind::kQuiet},       {"verysilent", Kind::kQuiet}, {"passive", Kind::kPassive},
    {"qb", Kind::kPassive},    {"silent", Kind::kPassive},  {"dir", Kind::kDir},
    {"log", Kind::kLog},         {"norestart", Kind::kNoRestart},
    {"forcerestart", Kind::kForceRestart}, {"?", Kind::kHelp}, {"help", Kind::kHelp},
    {"h", Kind::kHelp},
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsSwitch(const std::string& token) { return token.size() > 1 && (token[0] == '/' || token[0] == '-'); }

// Splits at spaces and tabs outside double quotes; the quotes go.
std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> tokens;
    std::string current;
    bool quoted = false, any = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) tokens.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) tokens.push_back(current);
    return tokens;
}

// Takes a trailing /D=FOLDER off the command line, spaces and all.
std::string TakeNsisFolder(std::string& arguments) {
    for (std::size_t at = arguments.size(); at-- > 0;) {
        const bool starts = at == 0 || arguments[at - 1] == ' ' || arguments[at - 1] == '\t';
        if (starts && Lower(arguments.substr(at, 3)) == "/d=") {
            std::string folder = arguments.substr(at + 3);
            arguments.erase(at);
            while (!folder.empty() && (folder.back() == ' ' || folder.back() == '\t')) folder.pop_back();
            return folder;
        }
    }
    return std::string();
}

const Switch* Find(const std::string& name) {
    for (const Switch& known : kSwitches)
        if (name == known.name) return &known;
    return nullptr;
}

void Apply(Kind kind, const std::string& value, setup::RunOptions& options) {
    switch (kind) {
    case Kind::kQuiet: options.mode = setup::RunMode::kQuiet; break;
    case Kind::kPassive: options.mode = setup::RunMode::kPassive; break;
    case Kind::kDir: options.hostFolder = value; break;
    case Kind::kLog: options.logPath = value; break;
    case Kind::kNoRestart: options.restart = setup::RestartPolicy::kNever; break;
    case Kind::kForceRestart: options.restart = setup::RestartPolicy::kForce; break;
    case Kind::kHelp: options.help = true; break;
    }
}

bool TakesValue(Kind kind) { return kind == Kind::kDir || kind == Kind::kLog; }

}  // namespace

setup::RunOptions ParseCommandLine(const std::string& arguments) {
    setup::RunOptions options;
    std::string rest = arguments;
    const std::string nsisFolder = TakeNsisFolder(rest);
    if (!nsisFolder.empty()) options.hostFolder = nsisFolder;
    const std::vector<std::string> tokens = Tokens(rest);
    for (std::size_t i = 0; i < tokens.size() && options.error.empty(); ++i) {
        const std::string& token = tokens[i];
        if (!IsSwitch(token)) {
            options.error = "Unexpected argument: " + token;
            break;
        }
        const std::size_t equals = token.find('=');
        const std::string name = Lower(token.substr(1, equals == std::string::npos ? std::string::npos : equals - 1));
        const Switch* known = Find(name);
        if (!known || (equals != std::string::npos && !TakesValue(known->kind))) {
            options.error = "Unknown switch: " + token;
        } else if (!TakesValue(known->kind)) {
            Apply(known->kind, std::string(), options);
        } else if (equals != std::string::npos && equals + 1 < token.size()) {
            Apply(known->kind, token.substr(equals + 1), options);
        } else if (equals == std::string::npos && i + 1 < tokens.size() && !IsSwitch(tokens[i + 1])) {
            Apply(known->kind, tokens[++i], options);
        } else {
            options.error = "The switch " + token + " needs a value";
        }
    }
    return options;
}

const char* UsageText() {
    return "LiveUpdateSetup [/quiet | /passive] [/dir FOLDER] [/log FILE] [/norestart | /forcerestart]\r\n\r\n"
           "/quiet, /q, /qn, /S, /VERYSILENT\tno window, no message\r\n"
           "/passive, /qb, /SILENT\tthe window installs by itself\r\n"
           "/dir FOLDER, /DIR=FOLDER, /D=FOLDER (last)\tthe host product's folder\r\n"
           "/log FILE, /LOG=FILE\tthe install log's file\r\n"
           "/norestart\tnever restart\r\n"
           "/forcerestart\trestart where needed, without asking\r\n"
           "/?, /help, /h\tthis list\r\n\r\n"
           "Exit codes: 0 installed; 3010 restart needed; 1641 restart started; 1602 cancelled; "
           "1603 installed with failures; 1605 no host product; 1618 another installation running; "
           "1620 package damaged or unusable; 1639 bad command line; 1642 host version not supported";
}

}  // namespace app
