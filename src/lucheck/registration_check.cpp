#include "lucheck/registration_check.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace lucheck {

namespace {

const char* const kNoPeHeader = "not a Windows program file (no PE header)";
const char* const kNot32Bit = "not a 32-bit program file";
const char* const kNotDll = "not a DLL";
const char* const kNoRegisterExport = "exports no DllRegisterServer";
const char* const kNoTypeLibrary =
    "neither a type library (MSFT or SLTG) nor a program file with a TYPELIB resource";

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kDllCharacteristic = 0x2000;
constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint32_t kCertificateHeaderSize = 8;  // length, revision, type
constexpr uint32_t kHighBit = 0x80000000;  // marks a named entry or a subdirectory
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kExportDirectorySize = 40;
constexpr uint32_t kResourceTableSize = 16;
constexpr uint32_t kResourceEntrySize = 8;
constexpr uint32_t kResourceDataSize = 16;
// The length-prefixed UTF-16 name of the type-library resource type.
const uint8_t kTypeLibName[] = {7, 0, 'T', 0, 'Y', 0, 'P', 0, 'E', 0, 'L', 0, 'I', 0, 'B', 0};

// Caps on what a walk looks at, so that forged counts or loops cannot make it run long.
constexpr uint32_t kMaxSections = 96;          // the loader's own limit
constexpr uint32_t kMaxExportNames = 0x10000;  // ordinals are 16-bit
constexpr int kMaxResourceEntries = 4096;
constexpr int kLevelsBelowType = 2;  // name, then language

// Little-endian reads from the file; anything past its end reads as zero,
// so callers check Has() where a short file must be told apart.
class Bytes {
public:
    explicit Bytes(const std::vector<uint8_t>& data) : data_(data) {}

    bool Has(uint64_t offset, uint64_t size) const {
        return offset <= data_.size() && size <= data_.size() - offset;
    }
    uint16_t U16(uint64_t offset) const {
        return Has(offset, 2) ? uint16_t(data_[offset] | data_[offset + 1] << 8) : 0;
    }
    uint32_t U32(uint64_t offset) const {
        return Has(offset, 4) ? uint32_t(U16(offset)) | uint32_t(U16(offset + 2)) << 16 : 0;
    }
    bool Matches(uint64_t offset, const void* expected, size_t size) const {
        return Has(offset, size) && std::memcmp(data_.data() + offset, expected, size) == 0;
    }

private:
    const std::vector<uint8_t>& data_;
};

struct Section {
    uint32_t virtualAddress;
    uint32_t mappedSize;  // bytes of the section that come from the file
    uint32_t fileOffset;
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

struct PeImage {
    bool is32Bit = false;
    bool isDll = false;
    DataDirectory exports;
    DataDirectory resources;
    DataDirectory certificates;
    std::vector<Section> sections;
};

std::vector<Section> ReadSections(const Bytes& file, uint64_t table, uint32_t count) {
    std::vector<Section> sections;
    for (uint32_t i = 0; i < std::min(count, kMaxSections); ++i) {
        const uint64_t header = table + uint64_t(kSectionHeaderSize) * i;
        if (!file.Has(header, kSectionHeaderSize)) break;
        const uint32_t virtualSize = file.U32(header + 8);
        const uint32_t rawSize = file.U32(header + 16);
        const uint32_t mappedSize = virtualSize == 0 ? rawSize : std::min(virtualSize, rawSize);
        sections.push_back({file.U32(header + 12), mappedSize, file.U32(header + 20)});
    }
    return sections;
}

// Entry `index` of the data directories closing the optional header, which
// the caller has checked lies wholly in the file.
DataDirectory ReadDataDirectory(const Bytes& file, uint64_t optional, uint16_t optionalSize, uint32_t index) {
    const uint16_t magic = file.U16(optional);
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return {};
    const uint32_t countField = magic == kPe32Magic ? 92 : 108;
    const uint32_t entryStart = countField + 4 + 8 * index;
    if (entryStart + 8 > optionalSize || index >= file.U32(optional + countField)) return {};
    return {file.U32(optional + entryStart), file.U32(optional + entryStart + 4)};
}

// The headers of a PE image, or nothing when the bytes hold none whole.
std::optional<PeImage> ReadPeImage(const Bytes& file) {
    if (!file.Matches(0, "MZ", 2)) return std::nullopt;
    const uint64_t signature = file.U32(0x3C);
    const uint64_t coff = signature + 4;
    const uint64_t optional = coff + 20;
    if (!file.Matches(signature, "PE\0\0", 4) || !file.Has(coff, 20)) return std::nullopt;
    const uint16_t optionalSize = file.U16(coff + 16);
    if (optionalSize < 2 || !file.Has(optional, optionalSize)) return std::nullopt;

    PeImage image;
    image.is32Bit = file.U16(optional) == kPe32Magic;
    image.isDll = (file.U16(coff + 18) & kDllCharacteristic) != 0;
    image.exports = ReadDataDirectory(file, optional, optionalSize, kExportDirectory);
    image.resources = ReadDataDirectory(file, optional, optionalSize, kResourceDirectory);
    image.certificates = ReadDataDirectory(file, optional, optionalSize, kCertificateDirectory);
    image.sections = ReadSections(file, optional + optionalSize, file.U16(coff + 2));
    return image;
}

// The file offset of `size` bytes at `rva`, when one section holds them all in the file.
std::optional<uint64_t> FileOffset(const PeImage& image, const Bytes& file, uint64_t rva, uint64_t size) {
    for (const Section& section : image.sections) {
        if (rva < section.virtualAddress) continue;
        const uint64_t within = rva - section.virtualAddress;
        if (within > section.mappedSize || size > section.mappedSize - within) continue;
        const uint64_t offset = uint64_t(section.fileOffset) + within;
        if (file.Has(offset, size)) return offset;
    }
    return std::nullopt;
}

// Whether the export name table lists `name` exactly; forwarded exports are listed there too.
bool ExportsName(const PeImage& image, const Bytes& file, const char* name) {
    if (image.exports.rva == 0) return false;
    const auto directory = FileOffset(image, file, image.exports.rva, kExportDirectorySize);
    if (!directory) return false;
    const uint32_t count = std::min(file.U32(*directory + 24), kMaxExportNames);
    const uint64_t names = file.U32(*directory + 32);
    const size_t size = std::strlen(name) + 1;  // with its terminator, so longer names differ
    for (uint32_t i = 0; i < count; ++i) {
        const auto pointer = FileOffset(image, file, names + 4 * uint64_t(i), 4);
        if (!pointer) return false;
        const auto text = FileOffset(image, file, file.U32(*pointer), size);
        if (text && file.Matches(*text, name, size)) return true;
    }
    return false;
}

// The resource directory of an image; offsets within it count from its start.
struct Resources {
    const PeImage& image;
    const Bytes& file;
    int entriesLeft = kMaxResourceEntries;

    std::optional<uint64_t> At(uint64_t offset, uint64_t size) const {
        return FileOffset(image, file, image.resources.rva + offset, size);
    }
};

// File offsets of the entries of the table at `offset`, as far as the entry budget goes.
std::vector<uint64_t> TableEntries(Resources& resources, uint32_t offset) {
    std::vector<uint64_t> entries;
    const auto table = resources.At(offset, kResourceTableSize);
    if (!table) return entries;
    const uint32_t count = uint32_t(resources.file.U16(*table + 12)) + resources.file.U16(*table + 14);
    for (uint32_t i = 0; i < count && resources.entriesLeft > 0; ++i, --resources.entriesLeft) {
        const auto entry = resources.At(offset + kResourceTableSize + uint64_t(kResourceEntrySize) * i,
                                        kResourceEntrySize);
        if (!entry) break;
        entries.push_back(*entry);
    }
    return entries;
}

// Whether the entry leads, through at most `levels` more tables, to a resource's data.
bool LeadsToData(Resources& resources, uint64_t entry, int levels) {
    const uint32_t target = resources.file.U32(entry + 4);
    if ((target & kHighBit) == 0) return resources.At(target, kResourceDataSize).has_value();
    if (levels == 0) return false;
    for (uint64_t child : TableEntries(resources, target & ~kHighBit)) {
        if (LeadsToData(resources, child, levels - 1)) return true;
    }
    return false;
}

bool NamedTypeLib(const Resources& resources, uint64_t entry) {
    const uint32_t name = resources.file.U32(entry);
    if ((name & kHighBit) == 0) return false;
    const auto text = resources.At(name & ~kHighBit, sizeof kTypeLibName);
    return text && resources.file.Matches(*text, kTypeLibName, sizeof kTypeLibName);
}

bool HasTypeLibResource(const PeImage& image, const Bytes& file) {
    if (image.resources.rva == 0) return false;
    Resources resources{image, file};
    for (uint64_t type : TableEntries(resources, 0)) {
        if (NamedTypeLib(resources, type) && LeadsToData(resources, type, kLevelsBelowType)) return true;
    }
    return false;
}

std::string ProgramProblem(const std::optional<PeImage>& image) {
    if (!image) return kNoPeHeader;
    if (!image->is32Bit) return kNot32Bit;
    return "";
}

std::string ServerDllProblem(const Bytes& file) {
    const auto image = ReadPeImage(file);
    const std::string problem = ProgramProblem(image);
    if (!problem.empty()) return problem;
    if (!image->isDll) return kNotDll;
    if (!ExportsName(*image, file, "DllRegisterServer")) return kNoRegisterExport;
    return "";
}

std::string TypeLibraryProblem(const Bytes& file) {
    if (file.Matches(0, "MSFT", 4) || file.Matches(0, "SLTG", 4)) return "";
    const auto image = ReadPeImage(file);
    return image && HasTypeLibResource(*image, file) ? "" : kNoTypeLibrary;
}

}  // namespace

std::string RegistrationProblem(const std::string& extension, const std::vector<uint8_t>& bytes) {
    const Bytes file(bytes);
    if (extension == "DLL" || extension == "OCX") return ServerDllProblem(file);
    if (extension == "EXE") return ProgramProblem(ReadPeImage(file));
    if (extension == "TLB") return TypeLibraryProblem(file);
    return "";
}

bool CarriesSignature(const std::vector<uint8_t>& bytes) {
    const Bytes file(bytes);
    const auto image = ReadPeImage(file);
    if (!image) return false;
    const DataDirectory& table = image->certificates;
    return table.rva != 0 && table.size >= kCertificateHeaderSize && file.Has(table.rva, table.size);
}

}  // namespace lucheck
