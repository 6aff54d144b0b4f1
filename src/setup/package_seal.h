#pragma once
// Sealed packages: a SHA256SUMS file beside UPDATE.LST, in sha256sum's
// format, that lets the installer and lucheck tell a damaged package (a
// broken-off download, bad media, an emptied file) before anything is
// installed. Sealing says nothing about who made the package.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/os_services.h"
#include "setup/sha256.h"

namespace setup {

constexpr const char* kSealFileName = "SHA256SUMS";
constexpr uint64_t kSealMaxSize = 16u << 20;    // a larger SHA256SUMS is refused unread
constexpr std::size_t kSealMaxLine = 512;       // bytes, without the line end

enum class SealStatus { kNotSealed, kIntact, kDamaged };

enum class SealFault {
    kMismatch,    // the file's digest differs from its line
    kNoLine,      // a listed file, or UPDATE.LST, has no line
    kMissing,     // a listed file is not in the package
    kUnreadable,  // a file (or SHA256SUMS) cannot be read
    kMalformed,   // a SHA256SUMS line is not "<64 hex digits> <space or *><name>"
    kLongLine,    // a SHA256SUMS line is longer than kSealMaxLine
    kTooLarge,    // SHA256SUMS is larger than kSealMaxSize
    kConflict,    // a name given again with another digest
};

struct SealProblem {
    std::string file;   // the package file's name as the list gives it, or SHA256SUMS
    int line = 0;       // the SHA256SUMS line a problem of SHA256SUMS is on; 0 for the whole file
    SealFault fault = SealFault::kMismatch;
    int otherLine = 0;  // the line a file was checked against, or first gave a name given again
    std::string name;   // the name given again (kConflict)
};

// The problem in words, to follow the file's name: "does not match its
// checksum".
const char* SealFaultText(SealFault fault);

// A SHA256SUMS line naming a file that is neither UPDATE.LST nor listed.
struct UnlistedSeal {
    std::string name;
    int line = 0;
};

struct SealCheck {
    SealStatus status = SealStatus::kNotSealed;
    std::vector<SealProblem> problems;   // in the order found; empty unless kDamaged
    std::vector<UnlistedSeal> unlisted;  // in SHA256SUMS order
};

// Bytes read so far and the bytes to read in all, called at least every
// 256 KiB, so that the caller can keep its window answering.
using SealProgress = std::function<void(uint64_t done, uint64_t total)>;

// Checks UPDATE.LST, CLASSES.TXT where there is one, and each distinct name in `names` (as the list gives
// them; names matched without regard to case) in `folder` (no trailing
// backslash) against folder\SHA256SUMS; names that are not FindableName are
// passed over: the installer never reads them. kNotSealed when there is no
// SHA256SUMS. With stopAtFirst the check ends at the first problem (the
// installer's way) and `unlisted` may be incomplete; lucheck wants all.
SealCheck CheckSeal(platform::OsServices& os, const std::string& folder, const std::vector<std::string>& names,
                    const SealProgress& progress, bool stopAtFirst);

// The file's digest, and its size where asked; false when it cannot be
// opened or read.
bool HashFile(platform::OsServices& os, const std::string& path, Sha256Digest& digest, uint64_t* size = nullptr);
// Copies the file as CopyFileA does and hashes its content on the way, so
// that it is read once: the digest in hex. False when the copy fails.
bool CopyHashing(platform::OsServices& os, const std::string& source, const std::string& destination,
                 int32_t failIfExists, std::string& digest);
// The SHA-256 of the rest of an open file.
bool HashOpenFile(platform::OsServices& os, platform::InputFile& file, Sha256Digest& digest);
// The file opened so that nobody can change it while the handle lives,
// when it holds `digest` (in hex; empty: any content): what an
// administrator's run then loads or starts from it is what was checked.
// Null otherwise.
std::unique_ptr<platform::InputFile> HoldIfItHolds(platform::OsServices& os, const std::string& path,
                                                   const std::string& digest);

// A SHA256SUMS line as sha256sum writes it in text mode: "<hex>  <name>\n".
std::string SealLine(const std::string& name, const Sha256Digest& digest);

}  // namespace setup
