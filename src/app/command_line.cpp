#include "app/command_line.h"

#include <cctype>
#include <vector>

namespace app {

namespace {

enum class Kind {
    kQuiet,
    kPassive,
    kDir,
    kLog,
    kNoRestart,
    kForceRestart,
    kHelp,
    kUninstall,
    kVerify,
    kNothing,  // other installers' switches that tools pass by habit: this one asks nothing before its window
    kPromptRestart,  // ask before restarting: what an attended run does anyway
};

struct Switch {
    const char* name;  // lower case, without its / or -
    Kind kind;
};

constexpr Switch kSwitches[] = {
    {"quiet", Kind::kQuiet},   {"q", Kind::kQuiet},         {"qn", Kind::kQuiet},
    {"s", Kind::kQuiet},       {"verysilent", Kind::kQuiet}, {"passive", Kind::kPassive},
    {"qb", Kind::kPassive},    {"silent", Kind::kPassive},  {"dir", Kind::kDir},
    {"d", Kind::kDir},         {"log", Kind::kLog},         {"norestart", Kind::kNoRestart},
    {"forcerestart", Kind::kForceRestart}, {"?", Kind::kHelp}, {"help", Kind::kHelp},
    {"h", Kind::kHelp},        {"suppressmsgboxes", Kind::kNothing}, {"sp-", Kind::kNothing},
    {"uninstall", Kind::kUninstall}, {"verify", Kind::kVerify},
    // Windows Installer's, typed from habit where they mean the same here.
    {"l*v", Kind::kLog},       {"l*", Kind::kLog},          {"promptrestart", Kind::kPromptRestart},
};

// Windows Installer's property that keeps it from restarting, written
// without a slash: it means /norestart here.
constexpr const char* kNoRestartProperty = "reboot=reallysuppress";

struct Token {
    std::string text;   // without its quotes
    std::size_t start;  // where it starts in the line
    bool quoted;        // it starts with a double quote
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsSwitch(const Token& token) {
    return token.text.size() > 1 && (token.text[0] == '/' || token.text[0] == '-');
}

// What follows a switch that takes a value: anything but a switch, and a
// quoted value whatever it holds ("/log "/quiet"" names a log file).
bool IsValue(const Token& token) { return token.quoted || !IsSwitch(token); }

// Splits at spaces and tabs outside double quotes; the quotes go.
std::vector<Token> Tokens(const std::string& line) {
    std::vector<Token> tokens;
    bool quoted = false, inToken = false;
    for (std::size_t at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (IsBlank(c) && !quoted) {
            inToken = false;
            continue;
        }
        if (!inToken) tokens.push_back(Token{std::string(), at, c == '"'});
        inToken = true;
        if (c == '"')
            quoted = !quoted;
        else
            tokens.back().text += c;
    }
    return tokens;
}

// /D=FOLDER as the last argument, unquoted: the rest of the line is the
// folder, spaces and all. Anywhere else, or quoted, it is an ordinary value;
// inside another quoted value it is no switch at all.
bool TakesRestOfLine(const std::string& line, const std::vector<Token>& tokens, std::size_t index) {
    const std::size_t start = tokens[index].start;
    const std::string head = Lower(line.substr(start, 3));
    if ((head != "/d=" && head != "-d=") || line.compare(start + 3, 1, "\"") == 0) return false;
    for (std::size_t later = index + 1; later < tokens.size(); ++later)
        if (IsSwitch(tokens[later])) return false;
    return true;
}

std::string RestOfLine(const std::string& line, std::size_t from) {
    std::size_t end = line.size();
    while (end > from && IsBlank(line[end - 1])) --end;
    return from < end ? line.substr(from, end - from) : std::string();
}

const Switch* Find(const std::string& name) {
    for (const Switch& known : kSwitches)
        if (name == known.name) return &known;
    return nullptr;
}

bool TakesValue(Kind kind) { return kind == Kind::kDir || kind == Kind::kLog; }

void Apply(Kind kind, const std::string& value, setup::RunOptions& options) {
    switch (kind) {
    case Kind::kQuiet: options.mode = setup::RunMode::kQuiet; break;
    case Kind::kPassive: options.mode = setup::RunMode::kPassive; break;
    case Kind::kDir: options.hostFolder = value; break;
    case Kind::kLog: options.logPath = value; break;
    case Kind::kNoRestart: options.restart = setup::RestartPolicy::kNever; break;
    case Kind::kForceRestart: options.restart = setup::RestartPolicy::kForce; break;
    case Kind::kPromptRestart: options.restart = setup::RestartPolicy::kAsk; break;
    case Kind::kHelp: options.help = true; break;
    case Kind::kUninstall: options.uninstall = true; break;
    case Kind::kVerify: options.verify = true; break;
    case Kind::kNothing: break;
    }
}

// Reads the command line to its end: every switch that can be read takes
// effect, so a quiet run stays quiet whatever else is wrong, and the first
// fault is kept for the refusal.
class Parser {
public:
    explicit Parser(const std::string& line) : line_(line), tokens_(Tokens(line)) {}

    setup::RunOptions Parse() {
        for (next_ = 0; next_ < tokens_.size();) Read(next_++);
        if (options_.uninstall && options_.verify) Fail("The switches /uninstall and /verify do not go together");
        return options_;
    }

private:
    void Read(std::size_t index) {
        const Token& token = tokens_[index];
        if (!token.quoted && Lower(token.text) == kNoRestartProperty) return Apply(Kind::kNoRestart, "", options_);
        if (!IsSwitch(token)) return Fail("Unexpected argument: " + token.text);
        if (TakesRestOfLine(line_, tokens_, index)) {
            next_ = tokens_.size();
            return ApplyValue(Kind::kDir, token.text.substr(0, 3), RestOfLine(line_, token.start + 3));
        }
        const std::size_t equals = token.text.find('=');
        const Switch* known = Find(Lower(token.text.substr(1, equals == std::string::npos ? equals : equals - 1)));
        if (!known || (equals != std::string::npos && !TakesValue(known->kind)))
            return Fail("Unknown switch: " + token.text);
        if (!TakesValue(known->kind)) return Apply(known->kind, std::string(), options_);
        if (equals != std::string::npos) return ApplyValue(known->kind, token.text, token.text.substr(equals + 1));
        if (next_ < tokens_.size() && IsValue(tokens_[next_]))
            return ApplyValue(known->kind, token.text, tokens_[next_++].text);
        Fail("The switch " + token.text + " needs a value");
    }

    // An empty value ("" or nothing after the =) is as good as none.
    void ApplyValue(Kind kind, const std::string& written, const std::string& value) {
        if (value.empty()) return Fail("The switch " + written + " needs a value");
        Apply(kind, value, options_);
    }

    void Fail(const std::string& reason) {
        if (options_.error.empty()) options_.error = reason;
    }

    const std::string& line_;
    const std::vector<Token> tokens_;
    std::size_t next_ = 0;
    setup::RunOptions options_;
};

}  // namespace

setup::RunOptions ParseCommandLine(const std::string& arguments) {
    setup::RunOptions options = Parser(arguments).Parse();
    options.commandLine = arguments;
    return options;
}

// For a message box, which wraps long lines and must fit a 640 x 480 screen:
// each switch with its aliases on one line, its meaning indented on the
// next, one exit code a line; the box's title names the program.
const char* UsageText() {
    return "/quiet  /q  /qn  /S  /VERYSILENT\r\n"
           "      no window and no message\r\n"
           "/passive  /qb  /SILENT\r\n"
           "      the window installs by itself\r\n"
           "/dir FOLDER  /DIR=FOLDER  /D=FOLDER\r\n"
           "      the host product's folder; /D= goes last\r\n"
           "/log FILE  /LOG=FILE\r\n"
           "      the install log's file\r\n"
           "/norestart  /forcerestart\r\n"
           "      never restart; restart without asking\r\n"
           "/uninstall\r\n"
           "      remove Live Update\r\n"
           "/verify\r\n"
           "      check that it is whole; changes nothing\r\n"
           "/SUPPRESSMSGBOXES  /SP-\r\n"
           "      accepted; they change nothing\r\n"
           "/?  /help  /h\r\n"
           "      this list\r\n"
           "\r\n"
           "Exit codes:\r\n"
           "0  installed\r\n"
           "3010  installed; restart needed\r\n"
           "1641  installed; restart started\r\n"
           "1602  cancelled\r\n"
           "1603  installed with failures\r\n"
           "1605  no host product; not installed\r\n"
           "1610  verify: not whole\r\n"
           "1618  another installation running\r\n"
           "1620  package damaged or unusable\r\n"
           "1639  bad command line\r\n"
           "1642  host version not supported";
}

}  // namespace app
