#include "setup/package_seal.h"

#include <map>

#include "platform/text.h"

namespace setup {

namespace {

constexpr const char* kListFile = "UPDATE.LST";
constexpr std::size_t kChunk = 64 << 10;  // bytes read at a time, and between progress calls
constexpr std::size_t kHexDigits = 64;

// What SHA256SUMS says about one name.
struct Seal {
    Sha256Digest digest;
    int line;
    std::string name;  // as SHA256SUMS gives it
    bool listed = false;
};

// By upper-cased name; one map type throughout, as each costs code.
using NameIndex = std::map<std::string, std::size_t>;

// SHA256SUMS's lines in file order, each name once.
struct Seals {
    std::vector<Seal> lines;
    NameIndex index;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "<64 hex digits> <space or *><name>"; false when the line is not that.
bool ParseLine(const std::string& text, Sha256Digest& digest, std::string& name) {
    if (text.size() < kHexDigits + 3 || text[kHexDigits] != ' ') return false;
    if (text[kHexDigits + 1] != ' ' && text[kHexDigits + 1] != '*') return false;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = uint8_t(high << 4 | low);
    }
    name = text.substr(kHexDigits + 2);
    return name.find_first_of("\\/") == std::string::npos;
}

// Collects problems; Full() says when the caller should stop.
struct Findings {
    SealCheck& check;
    bool stopAtFirst;
    void Add(const std::string& file, int line, const std::string& reason) {
        check.problems.push_back({file, line, reason});
    }
    bool Full() const { return stopAtFirst && !check.problems.empty(); }
};

static_assert(kSealMaxLine == 512 && kSealMaxSize == 16u << 20, "the messages name the limits");

void LongLine(Findings& findings, int line) { findings.Add(kSealFileName, line, "is longer than 512 bytes"); }

// One line of SHA256SUMS: empty lines and # comments (as sha256sum -c) are
// passed over. False for a line too long, after which nothing is read.
bool TakeLine(std::string& text, int line, Seals& seals, Findings& findings) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.size() > kSealMaxLine) {
        LongLine(findings, line);
        return false;
    }
    if (text.empty() || text[0] == '#') return true;
    Seal seal{{}, line, {}};
    if (!ParseLine(text, seal.digest, seal.name)) {
        findings.Add(kSealFileName, line, "is malformed: not \"<64 hex digits> <space or *><file name>\"");
        return true;
    }
    const auto [known, added] = seals.index.emplace(platform::UCase(seal.name), seals.lines.size());
    if (added) {
        seals.lines.push_back(std::move(seal));
    } else if (const Seal& first = seals.lines[known->second]; first.digest != seal.digest) {
        findings.Add(kSealFileName, line, platform::Cat({"gives ", seal.name, " another digest than line ",
                                                         std::to_string(first.line)}));
    }
    return true;
}

// Reads SHA256SUMS line by line, never whole; false when it cannot be read
// to its end (a read error, too large, a line too long).
bool ReadSeals(platform::InputFile& file, std::vector<uint8_t>& buffer, Seals& seals, Findings& findings) {
    if (file.Size() > kSealMaxSize) {
        findings.Add(kSealFileName, 0, "is larger than 16 MiB");
        return false;
    }
    std::string text;
    int line = 1;
    uint64_t total = 0;
    for (int64_t n; !findings.Full() && (n = file.Read(buffer.data(), buffer.size())) != 0;) {
        if (n < 0 || (total += uint64_t(n)) > kSealMaxSize) {
            findings.Add(kSealFileName, 0, n < 0 ? "cannot be read" : "is larger than 16 MiB");
            return false;
        }
        for (int64_t i = 0; i < n && !findings.Full(); ++i) {
            if (buffer[i] == '\n') {
                if (!TakeLine(text, line++, seals, findings)) return false;
                text.clear();
                continue;
            }
            text += char(buffer[i]);
            if (text.size() > kSealMaxLine + 1) {  // one more than a CR allows
                LongLine(findings, line);
                return false;
            }
        }
    }
    return text.empty() || findings.Full() || TakeLine(text, line, seals, findings);
}

// Bytes read across the whole check.
struct Progress {
    const SealProgress& report;
    uint64_t done = 0;
    uint64_t total = 0;
    void Add(uint64_t bytes) {
        done += bytes;
        if (report) report(done, total);
    }
};

bool Hash(platform::InputFile& file, std::vector<uint8_t>& buffer, Sha256Digest& digest, Progress* progress) {
    Sha256 hash;
    for (int64_t n; (n = file.Read(buffer.data(), buffer.size())) != 0;) {
        if (n < 0) return false;
        hash.Update(buffer.data(), std::size_t(n));
        if (progress) progress->Add(uint64_t(n));
    }
    digest = hash.Final();
    return true;
}

// A file to hash and the line it must match.
struct Target {
    const std::string& name;
    const Seal& seal;
    uint64_t size;
};

// UPDATE.LST and each distinct findable name, with its line and size;
// problems for names without a line or without a file. Files are opened
// again to be hashed, so that a long list never holds many open at once.
std::vector<Target> FindTargets(platform::OsServices& os, const std::string& base, const std::string& list,
                                const std::vector<std::string>& names, Seals& seals, Findings& findings) {
    std::vector<Target> targets;
    NameIndex seen;
    for (std::size_t i = 0; i <= names.size(); ++i) {
        const std::string& name = i == 0 ? list : names[i - 1];
        const std::string key = platform::UCase(name);
        if (!FindableName(name) || !seen.emplace(key, 0).second) continue;
        const auto found = seals.index.find(key);
        Seal* seal = found == seals.index.end() ? nullptr : &seals.lines[found->second];
        if (seal) seal->listed = true;
        const auto file = os.OpenForReading(base + name);
        if (!seal)
            findings.Add(name, 0, "has no line in SHA256SUMS");
        else if (!file)
            findings.Add(name, 0, "is not in the package");
        else
            targets.push_back({name, *seal, file->Size()});
        if (findings.Full()) break;
    }
    return targets;
}

// Hashes each target and compares it with its line.
void CheckTargets(platform::OsServices& os, const std::string& base, const std::vector<Target>& targets,
                  Progress& progress, std::vector<uint8_t>& buffer, Findings& findings) {
    for (const Target& target : targets) progress.total += target.size;
    for (const Target& target : targets) {
        if (findings.Full()) return;
        const auto file = os.OpenForReading(base + target.name);
        Sha256Digest digest;
        if (!file || !Hash(*file, buffer, digest, &progress))
            findings.Add(target.name, 0, "cannot be read");
        else if (digest != target.seal.digest)
            findings.Add(target.name, 0, platform::Cat({"does not match its checksum (SHA256SUMS line ",
                                                         std::to_string(target.seal.line), ")"}));
    }
}

bool ReadSealFile(platform::OsServices& os, const std::string& path, std::vector<uint8_t>& buffer, Seals& seals,
                  Findings& findings) {
    const auto file = os.OpenForReading(path);
    if (!file) findings.Add(kSealFileName, 0, "cannot be read");
    return file && ReadSeals(*file, buffer, seals, findings);
}

// The lines naming files that are not checked, in SHA256SUMS order.
std::vector<UnlistedSeal> Unlisted(const Seals& seals) {
    std::vector<UnlistedSeal> unlisted;
    for (const Seal& seal : seals.lines)
        if (!seal.listed) unlisted.push_back({seal.name, seal.line});
    return unlisted;
}

}  // namespace

SealCheck CheckSeal(platform::OsServices& os, const std::string& folder, const std::vector<std::string>& names,
                    const SealProgress& progress, bool stopAtFirst) {
    SealCheck check;
    const std::string base = platform::Cat({folder, "\\"});
    if (os.FindFile(base + kSealFileName).empty()) return check;
    Findings findings{check, stopAtFirst};
    std::vector<uint8_t> buffer(kChunk);
    Seals seals;
    if (ReadSealFile(os, base + kSealFileName, buffer, seals, findings) && !findings.Full()) {
        const std::string list = kListFile;
        const std::vector<Target> targets = FindTargets(os, base, list, names, seals, findings);
        check.unlisted = Unlisted(seals);
        Progress bytes{progress};
        CheckTargets(os, base, targets, bytes, buffer, findings);
    }
    check.status = check.problems.empty() ? SealStatus::kIntact : SealStatus::kDamaged;
    return check;
}

bool FindableName(const std::string& name) {
    return !name.empty() && name.find_first_of("*?\\/:") == std::string::npos;
}

bool HashFile(platform::OsServices& os, const std::string& path, Sha256Digest& digest) {
    auto file = os.OpenForReading(path);
    std::vector<uint8_t> buffer(kChunk);
    return file && Hash(*file, buffer, digest, nullptr);
}

std::string SealLine(const std::string& name, const Sha256Digest& digest) {
    return platform::Cat({ToHex(digest), "  ", name, "\n"});
}

}  // namespace setup
