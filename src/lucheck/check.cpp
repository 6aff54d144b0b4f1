#include "lucheck/check.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <unordered_map>

#include "lucheck/plan_os.h"
#include "lucheck/registration_check.h"
#include "lucheck/seal.h"
#include "platform/text.h"
#include "setup/class_data.h"
#include "setup/deploy.h"
#include "setup/update_list.h"

namespace lucheck {

namespace {

using platform::Trim;
using setup::BodyLine;

// The host versions the header serves, with the field that holds each one's web ID.
const char* const kVersions[] = {"1.30", "1.31", "1.20", "1.40", "1.10"};
const std::string kOnlyUserOfField5 = "PALOMIRE";

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(file);
    }
    return bytes;
}

class Checker {
public:
    explicit Checker(const Package& package) : package_(package) {}

    std::vector<Diagnostic> Run(int& entries, setup::SealStatus& seal) {
        if (!package_.lines.empty()) CheckHeader(package_.lines[0]);
        CheckBody();
        CheckPayload();
        CheckClassData();
        seal = CheckSeal();
        CheckSignature();
        entries = static_cast<int>(files_.size());
        // The list's findings in line order (those about the whole list first), then the files'.
        std::stable_sort(diagnostics_.begin(), diagnostics_.end(), [](const Diagnostic& a, const Diagnostic& b) {
            const bool aList = a.file == kListName;
            const bool bList = b.file == kListName;
            if (aList != bList) return aList;
            return aList || a.file == b.file ? a.line < b.line : a.file < b.file;
        });
        return std::move(diagnostics_);
    }

private:
    void Say(int line, Severity severity, const std::string& message) {
        diagnostics_.push_back({kListName, line, severity, message});
    }

    void CheckHeader(const std::string& header) {
        const auto fields = platform::Split(header, ",");
        if (fields.size() < static_cast<std::size_t>(setup::kHeaderFields))
            Say(1, Severity::kError, "the header has " + std::to_string(fields.size()) +
                                         " fields; it needs 6: the system name and five web IDs");
        const std::string system = fields.empty() ? std::string() : Trim(fields[0]);
        if (system.empty())
            Say(1, Severity::kError, "the system name (field 1) is empty");
        else if (!setup::FindableName(system))
            Say(1, Severity::kError, "the system name (field 1) holds \\, /, :, .. or a wildcard: the installer "
                                     "refuses the package, as the name would lead its record elsewhere");
        for (const char* version : kVersions) {
            const int field = setup::WebIdField(system, version);
            if (field < 0) continue;
            if (field >= static_cast<int>(fields.size()) || Trim(fields[field]).empty())
                Say(1, Severity::kWarning, std::string("no web ID for host version ") + version +
                                               " (field " + std::to_string(field + 1) +
                                               "): the installer turns that version away");
        }
        if (fields.size() > 5 && !Trim(fields[5]).empty() && platform::UCase(system) != kOnlyUserOfField5)
            Say(1, Severity::kWarning, "field 6 (web ID for host version 1.10) is set, but only the system " +
                                           kOnlyUserOfField5 + " uses it");
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (Trim(fields[i]) != fields[i])
                Say(1, Severity::kNote, "spaces around field " + std::to_string(i + 1) + " are trimmed");
    }

    void CheckBody() {
        setup::ListBodyReader reader;
        bool started = false;
        bool ended = false;
        bool folderSeen = false;
        for (std::size_t i = 1; i < package_.lines.size(); ++i) {
            const int line = static_cast<int>(i) + 1;
            const std::string& text = package_.lines[i];
            if (ended) {
                if (LooksLikeEntry(text)) Say(line, Severity::kWarning, "ignored: after END");
                continue;
            }
            const std::size_t before = files_.size();
            const BodyLine kind = reader.Read(text, files_);
            if (kind == BodyLine::kEnd) ended = true;
            if (kind == BodyLine::kStart) started = true;
            if (kind == BodyLine::kPreamble) CheckIgnored(line, text, "before START");
            if (kind == BodyLine::kNoComma || kind == BodyLine::kUnknownKeyword) CheckIgnored(line, text, "");
            if (kind == BodyLine::kFolder) {
                folderSeen = true;
                CheckFolder(line, text);
            }
            if (kind == BodyLine::kFile) {
                if (!folderSeen)
                    Say(line, Severity::kNote, "no FOLDER line yet: these files go to the host folder itself");
                folderSeen = true;  // said once
                for (std::size_t f = before; f < files_.size(); ++f) CheckEntry(line, files_[f]);
            }
        }
        if (!started) Say(0, Severity::kError, "no START line: the installer installs nothing");
        if (started && !ended) Say(0, Severity::kWarning, "no END line: the list is read to its last line");
    }

    // A line the installer passes over: say why, when it looks meant.
    void CheckIgnored(int line, const std::string& text, const std::string& where) {
        const std::string trimmed = Trim(text);
        const std::string word = Trim(trimmed.substr(0, trimmed.find_first_of(", ")));
        const std::string keyword = NearKeyword(word);
        if (!where.empty()) {
            if (LooksLikeEntry(text) || !keyword.empty())
                Say(line, Severity::kWarning, "ignored: " + where + (keyword == "START" ? " (" + word +
                                                                         " is not START: keywords are upper case)"
                                                                                        : ""));
            return;
        }
        if (keyword.empty())
            Say(line, Severity::kWarning, "ignored: " + word + " is not a keyword (FOLDER, FILE, START, END)");
        else if (word != keyword)
            Say(line, Severity::kWarning, "ignored: " + word + " is not " + keyword +
                                              " (keywords are upper case and spelt exactly)");
        else
            Say(line, Severity::kWarning, "ignored: no comma after " + keyword);
    }

    void CheckFolder(int line, const std::string& text) {
        const auto fields = platform::Split(text, ",");
        CheckSystemLookalike(line, fields);
        for (std::size_t i = 1; i < fields.size(); ++i) {
            const std::string name = Trim(fields[i]);
            if (setup::FolderLeavesHost(name))
                Say(line, Severity::kError, "folder name " + name + " climbs out of the host folder with ..");
            else if (name.size() >= 2 && name[1] == ':')
                Say(line, Severity::kError, "folder name " + name + " is a drive: it leaves the host folder");
            else if (!name.empty() && (name[0] == '\\' || name[0] == '/'))
                Say(line, Severity::kError, "folder name " + name + " starts at the root: it leaves the host folder");
        }
    }

    // Only FOLDER,SYSTEM leads to the system directory; a name that looks
    // like it is a folder of that name inside the host folder.
    void CheckSystemLookalike(int line, const std::vector<std::string>& fields) {
        std::string selector;
        bool lookalike = false;
        for (std::size_t i = 1; i < fields.size(); ++i) {
            const std::string name = platform::UCase(Trim(fields[i]));
            selector += (i > 1 ? "\\" : "") + name;
            lookalike |= name == "SYSTEM32" || name == "SYSWOW64" || (i == 1 && (name == "WINDOWS" || name == "WINNT"));
        }
        const bool systemWithMore = fields.size() > 2 && platform::UCase(Trim(fields[1])) == "SYSTEM";
        if (lookalike || systemWithMore)
            Say(line, Severity::kWarning, "FOLDER " + selector + " is a folder inside the host folder, not the system "
                                          "directory: did you mean FOLDER,SYSTEM? (it takes no subfolders)");
    }

    void CheckEntry(int line, const setup::UpdateFileEntry& entry) {
        lines_.push_back(line);
        const std::string& name = entry.FileName;
        if (name.empty()) {
            Say(line, Severity::kError, "empty file name (a doubled or trailing comma): never found");
            return;
        }
        if (!setup::FindableName(name))
            Say(line, Severity::kError, name + (name.find_first_of("*?") != std::string::npos
                                                    ? ": wildcards are not expanded; never found"
                                                    : ": file names carry no folder; never found"));
        else if (const std::string why = setup::OwnNameReason(name); !why.empty())
            Say(line, Severity::kError, name + " " + why + ": the installer refuses the package");
        const std::string destination = setup::DestinationFor("<system>", "<host>", entry).path;
        const auto [first, inserted] = destinations_.emplace(destination, line);
        if (!inserted)
            Say(line, Severity::kWarning, name + " goes to the same place as on line " +
                                              std::to_string(first->second) + ": installed twice");
    }

    void CheckPayload() {
        std::unordered_map<std::string, bool> listed;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const setup::UpdateFileEntry& entry = files_[i];
            if (!setup::FindableName(entry.FileName) || listed.count(Key(entry.FileName))) continue;
            listed[Key(entry.FileName)] = true;
            const std::string path = package_.PathOf(entry.FileName);
            if (path.empty())
                Say(lines_[i], Severity::kError, entry.FileName + " is not in the package: the customer sees "
                                                 "\"Source file ... not found\"");
            else
                CheckRegistration(lines_[i], entry, path);
        }
        for (const auto& [key, names] : package_.files) {
            if (names.size() > 1)
                diagnostics_.push_back({names[0], 0, Severity::kWarning,
                                        names[0] + " and " + names[1] + " differ only in case: on Windows one "
                                                                        "overwrites the other"});
            if (!listed.count(key) && key != kListName && key != kInstallerName && key != setup::kSealFileName &&
                key != Key(setup::kClassDataName))
                diagnostics_.push_back({names[0], 0, Severity::kWarning, "not listed in UPDATE.LST: never installed"});
        }
    }

    // The class data, by the installer's rules; and every file whose
    // registration would run its code, for want of data.
    void CheckClassData() {
        std::vector<std::string> listed;
        for (const auto& entry : files_) listed.push_back(platform::UCase(entry.FileName));
        std::vector<setup::ClassData> data;
        const std::string path = package_.PathOf(setup::kClassDataName);
        if (!path.empty()) {
            const std::vector<uint8_t> bytes = ReadBytes(path);
            setup::ClassDataTrouble trouble;
            if (!setup::ReadClassData(std::string(bytes.begin(), bytes.end()), listed, data, trouble))
                return diagnostics_.push_back({OnDisk(setup::kClassDataName), trouble.line, Severity::kError,
                                               trouble.why + ": the installer refuses the package"});
        }
        std::set<std::string> warned;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const std::string name = platform::UCase(files_[i].FileName);
            const bool runsCode = (files_[i].Extension == "DLL" || files_[i].Extension == "OCX" ||
                                   files_[i].Extension == "EXE") &&
                                  setup::FindableName(files_[i].FileName) && !package_.PathOf(name).empty() &&
                                  setup::OwnNameReason(name).empty();
            const bool hasData = std::any_of(data.begin(), data.end(), [&](const auto& d) { return d.file == name; });
            if (runsCode && !hasData && warned.insert(name).second)
                Say(lines_[i], Severity::kWarning, files_[i].FileName + " has no class data: registering it runs "
                                                   "its code as the installing account (lucheck --harvest writes "
                                                   "CLASSES.TXT)");
        }
    }

    void CheckRegistration(int line, const setup::UpdateFileEntry& entry, const std::string& path) {
        const std::string& extension = entry.Extension;
        if (extension != "DLL" && extension != "OCX" && extension != "EXE" && extension != "TLB") return;
        const std::string problem = RegistrationProblem(extension, ReadBytes(path));
        if (!problem.empty())
            Say(line, Severity::kError, entry.FileName + ": " + problem + ", so its registration fails unseen");
    }

    // The package against its SHA256SUMS, as the installer checks it, but to the end.
    setup::SealStatus CheckSeal() {
        std::vector<std::string> names;
        for (const auto& entry : files_) names.push_back(entry.FileName);
        PlanOs os{std::string()};
        const setup::SealCheck check = setup::CheckSeal(os, package_.folder, names, nullptr, false);
        const std::string sums = OnDisk(setup::kSealFileName);
        if (check.status == setup::SealStatus::kNotSealed)
            diagnostics_.push_back({sums, 0, Severity::kNote, "not sealed: the installer cannot tell a damaged "
                                                              "package (lucheck --seal writes SHA256SUMS)"});
        for (const setup::SealProblem& problem : check.problems)
            diagnostics_.push_back({OnDisk(problem.file), problem.line, Severity::kError,
                                    SealReason(problem) + ": the installer refuses the package"});
        for (const setup::UnlistedSeal& line : check.unlisted)
            diagnostics_.push_back({sums, line.line, Severity::kWarning,
                                    "names " + line.name + ", which UPDATE.LST does not list: never checked"});
        return check.status;
    }

    void CheckSignature() {
        const std::string path = package_.PathOf(kInstallerName);
        if (!path.empty() && !CarriesSignature(ReadBytes(path)))
            diagnostics_.push_back({OnDisk(kInstallerName), 0, Severity::kWarning,
                                    "carries no Authenticode signature: the elevation prompt names an Unknown "
                                    "publisher"});
    }

    // The file's name as it is on disk, or as given when there is none.
    std::string OnDisk(const std::string& name) const {
        const auto it = package_.files.find(Key(name));
        return it == package_.files.end() ? name : it->second.front();
    }

    // Whether an ignored line looks like an entry: its first word is a
    // keyword in any case, or it holds a comma.
    static bool LooksLikeEntry(const std::string& text) {
        const std::string trimmed = Trim(text);
        const std::string word = platform::UCase(Trim(trimmed.substr(0, trimmed.find_first_of(", "))));
        return word == "FOLDER" || word == "FILE" || trimmed.find(',') != std::string::npos;
    }

    // The keyword a word was meant to be: equal without regard to case, or
    // one letter added, dropped or changed.
    static std::string NearKeyword(const std::string& word) {
        const std::string upper = platform::UCase(word);
        for (const char* keyword : {"FOLDER", "FILE", "START", "END"})
            if (WithinOneEdit(upper, keyword)) return keyword;
        return std::string();
    }

    static bool WithinOneEdit(const std::string& a, const std::string& b) {
        if (a.size() > b.size()) return WithinOneEdit(b, a);
        if (b.size() - a.size() > 1) return false;
        std::size_t i = 0;
        while (i < a.size() && a[i] == b[i]) ++i;
        if (a.size() == b.size()) return a.compare(i + (i < a.size()), std::string::npos, b, i + (i < b.size())) == 0;
        return a.compare(i, std::string::npos, b, i + 1) == 0;
    }

    const Package& package_;
    std::vector<Diagnostic> diagnostics_;
    std::vector<setup::UpdateFileEntry> files_;
    std::vector<int> lines_;  // the line of each entry of files_
    std::unordered_map<std::string, int> destinations_;
};

}  // namespace

std::vector<Diagnostic> CheckPackage(const Package& package, int& entries, setup::SealStatus* seal) {
    setup::SealStatus status;
    return Checker(package).Run(entries, seal ? *seal : status);
}

}  // namespace lucheck
