#include "lucheck/seal.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include "lucheck/plan_os.h"
#include "setup/class_data.h"
#include "setup/package_seal.h"
#include "setup/update_list.h"

namespace fs = std::filesystem;

namespace lucheck {

namespace {

// The SHA256SUMS text; false, with the reason, when a file is missing or unreadable.
bool SealText(const Package& package, std::string& text, int& files, std::string& reason) {
    std::vector<std::string> names{kListName};
    if (!package.PathOf(setup::kClassDataName).empty()) names.push_back(setup::kClassDataName);
    for (const std::string& name : ListedNames(package)) names.push_back(name);
    std::set<std::string> seen;
    PlanOs os{std::string()};
    for (const std::string& name : names) {
        if (!setup::FindableName(name) || !seen.insert(Key(name)).second) continue;
        const std::string path = package.PathOf(name);
        setup::Sha256Digest digest;
        if (path.empty()) reason = name + " is listed but not in the package";
        else if (!setup::HashFile(os, path, digest)) reason = path + ": cannot be read";
        if (!reason.empty()) return false;
        text += setup::SealLine(fs::path(path).filename().string(), digest);
        ++files;
    }
    return true;
}

}  // namespace

bool WriteSeal(const Package& package, std::string& written, int& files, std::string& reason) {
    std::string text;
    files = 0;
    if (!SealText(package, text, files, reason)) return false;
    const std::string existing = package.PathOf(setup::kSealFileName);
    written = existing.empty() ? (fs::path(package.folder) / setup::kSealFileName).string() : existing;
    // Written beside it first, so that a failed write leaves no half file.
    const std::string temporary = written + ".new~";
    std::ofstream out(temporary, std::ios::binary);  // LF line ends on every system, as sha256sum writes
    out << text;
    out.close();
    std::error_code error;
    if (out) fs::rename(temporary, written, error);
    if (!out || error) {
        fs::remove(temporary, error);
        reason = written + ": cannot be written";
        return false;
    }
    return true;
}

std::string SealReason(const setup::SealProblem& problem) {
    const std::string text = setup::SealFaultText(problem.fault);
    const std::string other = std::to_string(problem.otherLine);
    if (problem.fault == setup::SealFault::kMismatch) return text + " (SHA256SUMS line " + other + ")";
    if (problem.fault == setup::SealFault::kConflict) return "gives " + problem.name + " another digest than line " + other;
    return text;
}

}  // namespace lucheck
