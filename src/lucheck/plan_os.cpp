#include "lucheck/plan_os.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "lucheck/package.h"
#include "platform/runtime_error.h"

namespace fs = std::filesystem;

namespace lucheck {

namespace {
constexpr int32_t kPathFileAccessError = 75;
}

bool PlanOs::InVirtualSystem(const std::string& path) const {
    return !virtualSystem_.empty() && path.compare(0, virtualSystem_.size(), virtualSystem_) == 0;
}

// A folder's entry of that name, matched without regard to case.
std::string PlanOs::Child(const std::string& folder, const std::string& name) {
    std::error_code error;
    if (fs::exists(fs::path(folder) / name, error)) return (fs::path(folder) / name).string();
    auto listing = listings_.find(folder);
    if (listing == listings_.end()) {
        listing = listings_.emplace(folder, std::map<std::string, std::string>()).first;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            listing->second.emplace(Key(it->path().filename().string()), it->path().filename().string());
    }
    auto found = listing->second.find(Key(name));
    return found == listing->second.end() ? std::string() : (fs::path(folder) / found->second).string();
}

std::string PlanOs::Resolve(const std::string& path) {
    if (InVirtualSystem(path)) return std::string();
    std::string native = path;
    for (char& c : native)
        if (c == '\\') c = static_cast<char>(fs::path::preferred_separator);
    const fs::path whole(native);
    std::string current = whole.root_path().empty() ? std::string(".") : whole.root_path().string();
    for (const fs::path& part : whole.relative_path()) {
        if (part.empty()) continue;
        current = Child(current, part.string());
        if (current.empty()) return std::string();
    }
    return current;
}

bool PlanOs::FolderExists(const std::string& path) {
    if (InVirtualSystem(path)) return true;
    std::error_code error;
    const std::string native = Resolve(path);
    return !native.empty() && fs::is_directory(native, error);
}

std::string PlanOs::FindFile(const std::string& path) {
    if (path.empty() || path.back() == '\\' || path.find_first_of("*?") != std::string::npos) return std::string();
    std::error_code error;
    const std::string native = Resolve(path);
    if (native.empty() || !fs::is_regular_file(native, error)) return std::string();
    return fs::path(native).filename().string();
}

void PlanOs::ClearFileAttributes(const std::string& path) {
    if (!Exists(path)) throw platform::RuntimeError(kPathFileAccessError, "Path/File access error");
}

int32_t PlanOs::CopyFileA(const std::string& source, const std::string& destination, int32_t) {
    const auto slash = destination.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? std::string(".") : destination.substr(0, slash);
    return !FindFile(source).empty() && FolderExists(folder) ? 1 : 0;
}

bool PlanOs::NormalFileSize(const std::string& path, uint64_t& size) {
    std::error_code error;
    if (FindFile(path).empty()) return false;
    size = fs::file_size(Resolve(path), error);
    return !error;
}

namespace {
class NativeInputFile : public platform::InputFile {
public:
    explicit NativeInputFile(const std::string& path) : stream_(path, std::ios::binary) {
        std::error_code error;
        size_ = fs::file_size(path, error);
    }
    bool IsOpen() const { return stream_.is_open(); }
    int64_t Read(void* buffer, std::size_t size) override {
        stream_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
        if (stream_.bad()) return -1;
        return stream_.gcount();
    }
    uint64_t Size() override { return size_; }
    bool CopyTo(const std::string&) override { return false; }  // a plan copies nothing

private:
    std::ifstream stream_;
    uint64_t size_ = 0;
};
}  // namespace

std::unique_ptr<platform::InputFile> PlanOs::OpenForReading(const std::string& path) {
    const std::string native = Resolve(path);
    std::error_code error;
    if (native.empty() || !fs::is_regular_file(native, error)) return nullptr;
    auto file = std::make_unique<NativeInputFile>(native);
    if (!file->IsOpen()) return nullptr;
    return file;
}

// The NT family: replacements in one step.
int32_t PlanOs::GetVersionExA(platform::OsVersionInfo& info) {
    info.dwPlatformId = 2;
    return 1;
}

}  // namespace lucheck
