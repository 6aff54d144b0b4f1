#include "setup/package_seal.h"

#include <algorithm>
#include <map>

#include "platform/text.h"
#include "setup/class_data.h"
#include "setup/system_platform.h"
#include "setup/update_list.h"

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
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
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
    void Add(const std::string& file, int line, SealFault fault, int otherLine = 0) {
        check.problems.push_back({file, line, fault, otherLine, std::string()});
    }
    // A problem of SHA256SUMS itself.
    void AddSeal(int line, SealFault fault) { Add(kSealFileName, line, fault); }
    bool Full() const { return stopAtFirst && !check.problems.empty(); }
};

// One line of SHA256SUMS: empty lines and # comments (as sha256sum -c) are
// passed over. False for a line too long, after which nothing is read.
bool TakeLine(std::string& text, int line, Seals& seals, Findings& findings) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.size() > kSealMaxLine) return findings.AddSeal(line, SealFault::kLongLine), false;
    if (text.empty() || text[0] == '#') return true;
    Seal seal{{}, line, {}};
    if (!ParseLine(text, seal.digest, seal.name)) return findings.AddSeal(line, SealFault::kMalformed), true;
    const auto [known, added] = seals.index.emplace(platform::UCase(seal.name), seals.lines.size());
    if (added)
        seals.lines.push_back(std::move(seal));
    else if (seals.lines[known->second].digest != seal.digest)
        findings.check.problems.push_back(
            {kSealFileName, line, SealFault::kConflict, seals.lines[known->second].line, seal.name});
    return true;
}

// Reads SHA256SUMS line by line, never whole; false when it cannot be read
// to its end (a read error, too large, a line too long).
bool ReadSeals(platform::InputFile& file, std::vector<uint8_t>& buffer, Seals& seals, Findings& findings) {
    if (file.Size() > kSealMaxSize) return findings.AddSeal(0, SealFault::kTooLarge), false;
    std::string text;
    int line = 1;
    uint64_t total = 0;
    for (int64_t n; !findings.Full() && (n = file.Read(buffer.data(), buffer.size())) != 0;) {
        if (n < 0) return findings.AddSeal(0, SealFault::kUnreadable), false;
        if ((total += uint64_t(n)) > kSealMaxSize) return findings.AddSeal(0, SealFault::kTooLarge), false;
        const char* at = reinterpret_cast<const char*>(buffer.data());
        for (const char* end = at + n; at < end && !findings.Full();) {
            const char* stop = std::find(at, end, '\n');
            text.append(at, stop);
            if (text.size() > kSealMaxLine + 1)  // one more than a CR allows
                return findings.AddSeal(line, SealFault::kLongLine), false;
            if (stop == end) break;
            if (!TakeLine(text, line++, seals, findings)) return false;
            text.clear();
            at = stop + 1;
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

// The SHA extensions only where the system saves their registers.
Sha256Engine EngineFor(platform::OsServices& os) {
    return ShaExtensionsAvailable() && SystemSavesSseState(os) ? Sha256Engine::kShaExtensions
                                                               : Sha256Engine::kPortable;
}

bool Hash(platform::InputFile& file, std::vector<uint8_t>& buffer, Sha256Digest& digest, Progress* progress,
          Sha256Engine engine) {
    Sha256 hash(engine);
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

// UPDATE.LST (and CLASSES.TXT) and each distinct findable name, with its line and size;
// problems for names without a line or without a file. Files are opened
// again to be hashed, so that a long list never holds many open at once.
std::vector<Target> FindTargets(platform::OsServices& os, const std::string& base, const std::string& list,
                                const std::vector<std::string>& names, Seals& seals, Findings& findings) {
    std::vector<Target> targets;
    NameIndex seen;
    // UPDATE.LST, and the class data where the package has it (names that
    // outlive the targets, which refer to them).
    static const std::string classData = kClassDataName;
    std::vector<const std::string*> own{&list};
    if (!os.FindFile(base + kClassDataName).empty()) own.push_back(&classData);
    for (std::size_t i = 0; i < own.size() + names.size() && !findings.Full(); ++i) {
        const std::string& name = i < own.size() ? *own[i] : names[i - own.size()];
        const std::string key = platform::UCase(name);
        if (!FindableName(name) || !seen.emplace(key, 0).second) continue;
        const auto found = seals.index.find(key);
        Seal* seal = found == seals.index.end() ? nullptr : &seals.lines[found->second];
        if (seal) seal->listed = true;
        const auto file = os.OpenForReading(base + name);
        if (!seal)
            findings.Add(name, 0, SealFault::kNoLine);
        else if (!file)
            findings.Add(name, 0, SealFault::kMissing);
        else
            targets.push_back({name, *seal, file->Size()});
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
        if (!file || !Hash(*file, buffer, digest, &progress, EngineFor(os)))
            findings.Add(target.name, 0, SealFault::kUnreadable);
        else if (digest != target.seal.digest)
            findings.Add(target.name, 0, SealFault::kMismatch, target.seal.line);
    }
}

}  // namespace

SealCheck CheckSeal(platform::OsServices& os, const std::string& folder, const std::vector<std::string>& names,
                    const SealProgress& progress, bool stopAtFirst) {
    SealCheck check;
    const std::string base = folder + "\\";
    if (os.FindFile(base + kSealFileName).empty()) return check;
    Findings findings{check, stopAtFirst};
    std::vector<uint8_t> buffer(kChunk);
    Seals seals;
    const auto file = os.OpenForReading(base + kSealFileName);
    if (!file) findings.AddSeal(0, SealFault::kUnreadable);
    if (file && ReadSeals(*file, buffer, seals, findings) && !findings.Full()) {
        const std::string list = kListFile;  // outlives the targets, which refer to it
        const std::vector<Target> targets = FindTargets(os, base, list, names, seals, findings);
        for (const Seal& seal : seals.lines)
            if (!seal.listed) check.unlisted.push_back({seal.name, seal.line});
        Progress bytes{progress};
        CheckTargets(os, base, targets, bytes, buffer, findings);
    }
    check.status = check.problems.empty() ? SealStatus::kIntact : SealStatus::kDamaged;
    return check;
}

static_assert(kSealMaxLine == 512 && kSealMaxSize == 16u << 20, "the texts name the limits");
const char* SealFaultText(SealFault fault) {
    static const char* const kTexts[] = {
        "does not match its checksum", "has no line in SHA256SUMS", "is not in the package", "cannot be read",
        "is malformed: not \"<64 hex digits> <space or *><file name>\"", "is longer than 512 bytes",
        "is larger than 16 MiB", "names a file again with another digest"};
    return kTexts[static_cast<int>(fault)];
}

bool HashFile(platform::OsServices& os, const std::string& path, Sha256Digest& digest, uint64_t* size) {
    auto file = os.OpenForReading(path);
    if (!file) return false;
    if (size) *size = file->Size();
    std::vector<uint8_t> buffer(kChunk);
    return Hash(*file, buffer, digest, nullptr, EngineFor(os));
}

bool CopyHashing(platform::OsServices& os, const std::string& source, const std::string& destination,
                 int32_t failIfExists, std::string& digest) {
    Sha256 hash(EngineFor(os));
    const auto seen = [&hash](const void* piece, std::size_t size) { hash.Update(piece, size); };
    if (!os.CopyFileSeen(source, destination, failIfExists, seen)) return false;
    digest = ToHex(hash.Final());
    return true;
}

bool HashOpenFile(platform::OsServices& os, platform::InputFile& file, Sha256Digest& digest) {
    std::vector<uint8_t> buffer(kChunk);
    return Hash(file, buffer, digest, nullptr, EngineFor(os));
}

std::unique_ptr<platform::InputFile> HoldIfItHolds(platform::OsServices& os, const std::string& path,
                                                   const std::string& digest) {
    std::unique_ptr<platform::InputFile> held = os.OpenForReading(path);
    Sha256Digest now;
    if (held && (digest.empty() || (HashOpenFile(os, *held, now) && ToHex(now) == digest))) return held;
    return nullptr;
}

std::string SealLine(const std::string& name, const Sha256Digest& digest) {
    return platform::Cat({ToHex(digest), "  ", name, "\n"});
}

}  // namespace setup
