// Judging from a payload file's bytes whether its registration would fail.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "lucheck/registration_check.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kNoPe = "not a Windows program file (no PE header)";
const std::string kNot32 = "not a 32-bit program file";
const std::string kNotDll = "not a DLL";
const std::string kNoExport = "exports no DllRegisterServer";
const std::string kNoTypeLib = "neither a type library (MSFT or SLTG) nor a program file with a TYPELIB resource";

// Test images: headers, then one section at file offset 0x200 mapped at 0x1000.
constexpr size_t kCoff = 0x44;
constexpr size_t kOptional = 0x58;
constexpr size_t kSectionFile = 0x200;
constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kSubtable = 0x80000000;

void Put(Bytes& bytes, size_t at, uint32_t value, int width = 4) {
    for (int i = 0; i < width; ++i) bytes.at(at + i) = uint8_t(value >> (8 * i));
}

Bytes Patched(Bytes bytes, size_t at, uint32_t value, int width = 4) {
    Put(bytes, at, value, width);
    return bytes;
}

bool Is64(const Bytes& image) { return image[kOptional + 1] == 2; }
size_t SectionHeader(const Bytes& image) { return kOptional + (Is64(image) ? 0xF0 : 0xE0); }
size_t DataDirectory(const Bytes& image, int index) { return kOptional + (Is64(image) ? 112 : 96) + 8 * index; }

Bytes Image(bool pe64, bool dll) {
    Bytes image(0x400);
    image[0] = 'M';
    image[1] = 'Z';
    Put(image, 0x3C, 0x40);
    Put(image, 0x40, 0x4550);  // "PE\0\0"
    Put(image, kCoff, pe64 ? 0x8664 : 0x14C, 2);
    Put(image, kCoff + 2, 1, 2);
    Put(image, kCoff + 16, pe64 ? 0xF0 : 0xE0, 2);
    Put(image, kCoff + 18, dll ? 0x2102 : 0x0102, 2);
    Put(image, kOptional, pe64 ? 0x20B : 0x10B, 2);
    Put(image, DataDirectory(image, 0) - 4, 16);
    const size_t section = SectionHeader(image);
    for (size_t field : {8, 16}) Put(image, section + field, 0x200);
    Put(image, section + 12, kSectionRva);
    Put(image, section + 20, kSectionFile);
    return image;
}

Bytes WithExport(Bytes image, const std::string& name) {
    Put(image, DataDirectory(image, 0), kSectionRva);
    Put(image, DataDirectory(image, 0) + 4, 0x100);
    Put(image, kSectionFile + 24, 1);                   // one name
    Put(image, kSectionFile + 32, kSectionRva + 0x28);  // the name table
    Put(image, kSectionFile + 0x28, kSectionRva + 0x30);
    std::copy(name.begin(), name.end(), image.begin() + kSectionFile + 0x30);
    return image;
}

// Resource tables, relative to the section: types at 0, names at 0x20,
// languages at 0x40, the data entry at 0x60, the type's name at 0x80.
constexpr size_t kNameTable = kSectionFile + 0x20;
constexpr size_t kLanguageEntry = kSectionFile + 0x50;

Bytes WithResourceType(Bytes image, const std::string& type) {
    Put(image, DataDirectory(image, 2), kSectionRva);
    Put(image, DataDirectory(image, 2) + 4, 0x100);
    Put(image, kSectionFile + 12, 1, 2);
    Put(image, kSectionFile + 0x10, kSubtable | 0x80);
    Put(image, kSectionFile + 0x14, kSubtable | 0x20);
    Put(image, kNameTable + 14, 1, 2);
    Put(image, kNameTable + 0x10, 1);
    Put(image, kNameTable + 0x14, kSubtable | 0x40);
    Put(image, kSectionFile + 0x40 + 14, 1, 2);
    Put(image, kLanguageEntry, 0x409);
    Put(image, kLanguageEntry + 4, 0x60);
    Put(image, kSectionFile + 0x80, uint32_t(type.size()), 2);
    for (size_t i = 0; i < type.size(); ++i) Put(image, kSectionFile + 0x82 + 2 * i, uint8_t(type[i]), 2);
    return image;
}

// The image with its section cut to `size` bytes, in memory and in the file.
Bytes ShortSection(Bytes image, uint32_t size) {
    for (size_t field : {8, 16}) Put(image, SectionHeader(image) + field, size);
    return image;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

const Bytes kServerDll = WithExport(Image(false, true), "DllRegisterServer");
const Bytes kProgram = Image(false, false);
const Bytes kTypeLibDll = WithResourceType(Image(false, true), "TYPELIB");
const Bytes kTypeLibDll64 = WithResourceType(Image(true, true), "TYPELIB");

struct Verdict {
    const char* label;
    std::string extension;
    Bytes bytes;
    std::string problem;
};

std::vector<Verdict> Verdicts() {
    return {
        {"ServerDll", "DLL", kServerDll, ""},
        {"ServerOcx", "OCX", kServerDll, ""},
        {"DllOfText", "DLL", Text("MZ not really"), kNoPe},
        {"PeSignatureBeyondFile", "OCX", Patched(kServerDll, 0x3C, 0xFFFFFFF0), kNoPe},
        {"OptionalHeaderCut", "DLL", Patched(kServerDll, kCoff + 16, 0xFFFF, 2), kNoPe},
        {"Dll64", "DLL", WithExport(Image(true, true), "DllRegisterServer"), kNot32},
        {"DllFlagMissing", "DLL", WithExport(kProgram, "DllRegisterServer"), kNotDll},
        {"OnlyUnregister", "OCX", WithExport(Image(false, true), "DllUnregisterServer"), kNoExport},
        {"LongerName", "DLL", WithExport(Image(false, true), "DllRegisterServerEx"), kNoExport},
        {"NoExports", "DLL", Image(false, true), kNoExport},
        {"NoDataDirectories", "DLL", Patched(kServerDll, DataDirectory(kServerDll, 0) - 4, 0), kNoExport},
        {"SectionBeyondFile", "DLL", Patched(kServerDll, SectionHeader(kServerDll) + 20, 0xFFFFFFF0), kNoExport},
        {"NameCrossesSectionEnd", "DLL", ShortSection(kServerDll, 0x40), kNoExport},
        {"HugeNameCount", "DLL", Patched(WithExport(Image(false, true), "Other"), kSectionFile + 24, ~0u), kNoExport},
        {"HugeSectionCount", "DLL", Patched(kServerDll, kCoff + 2, 0xFFFF, 2), ""},
        {"Program", "EXE", kProgram, ""},
        {"ProgramMarkedDll", "EXE", kServerDll, ""},
        {"Program64", "EXE", Image(true, false), kNot32},
        {"ProgramOfText", "EXE", Text("#!/bin/sh"), kNoPe},
        {"EmptyProgram", "EXE", {}, kNoPe},
        {"MsftLibrary", "TLB", Text("MSFT\x02\x01"), ""},
        {"SltgLibrary", "TLB", Text("SLTG"), ""},
        {"TypeLibResource", "TLB", kTypeLibDll, ""},
        {"TypeLibResource64", "TLB", kTypeLibDll64, ""},
        {"OtherResource", "TLB", WithResourceType(Image(false, true), "REGISTRY"), kNoTypeLib},
        {"NoResources", "TLB", kServerDll, kNoTypeLib},
        {"TypeLibOfText", "TLB", Text("msft"), kNoTypeLib},
        {"EmptyTypeLibType", "TLB", Patched(kTypeLibDll, kNameTable + 14, 0, 2), kNoTypeLib},
        {"ResourceDataOutside", "TLB", Patched(kTypeLibDll, kLanguageEntry + 4, 0x7FFFFFF0), kNoTypeLib},
        {"ResourceLoop", "TLB", Patched(kTypeLibDll, kLanguageEntry + 4, kSubtable), kNoTypeLib},
        {"UnregisteredExtension", "TXT", Text("anything"), ""},
    };
}

class RegistrationVerdict : public testing::TestWithParam<Verdict> {};

TEST_P(RegistrationVerdict, GivesTheExpectedProblem) {
    EXPECT_EQ(lucheck::RegistrationProblem(GetParam().extension, GetParam().bytes), GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(Files, RegistrationVerdict, testing::ValuesIn(Verdicts()),
                         [](const testing::TestParamInfo<Verdict>& info) { return info.param.label; });

bool IsKnownAnswer(const std::string& problem) {
    static const std::set<std::string> known{"", kNoPe, kNot32, kNotDll, kNoExport, kNoTypeLib};
    return known.count(problem) == 1;
}

struct GoodFile {
    std::string extension;
    Bytes bytes;
};

class RegistrationOfDamagedFile : public testing::TestWithParam<GoodFile> {};

// Every cut of a good image is judged without reading past its end; one cut
// inside the headers is never taken for a good file.
TEST_P(RegistrationOfDamagedFile, JudgesEveryTruncation) {
    const Bytes& whole = GetParam().bytes;
    for (size_t length = 0; length < whole.size(); ++length) {
        const Bytes cut(whole.begin(), whole.begin() + length);
        const std::string problem = lucheck::RegistrationProblem(GetParam().extension, cut);
        ASSERT_TRUE(IsKnownAnswer(problem)) << problem;
        if (length < kOptional + 0xE0) {
            ASSERT_NE(problem, "") << "cut at " << length;
        }
    }
}

TEST_P(RegistrationOfDamagedFile, JudgesRandomCorruption) {
    std::mt19937 random(7);
    const uint32_t edgeValues[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = GetParam().bytes;
        for (int change = 0; change < 3; ++change) {
            const uint32_t value = random() % 2 ? random() : edgeValues[random() % 5];
            Put(bytes, random() % (bytes.size() - 3), value, 1 + random() % 4);
        }
        ASSERT_TRUE(IsKnownAnswer(lucheck::RegistrationProblem(GetParam().extension, bytes)));
    }
}

INSTANTIATE_TEST_SUITE_P(GoodFiles, RegistrationOfDamagedFile,
                         testing::Values(GoodFile{"DLL", kServerDll}, GoodFile{"EXE", kProgram},
                                         GoodFile{"TLB", kTypeLibDll}, GoodFile{"TLB", kTypeLibDll64}));

// The certificate table holds a file offset, not an address in a section.
TEST(ProgramSignature, IsFoundInTheCertificateTable) {
    const auto signedAt = [](Bytes image, uint32_t offset, uint32_t size) {
        image.resize(0x500);
        return Patched(Patched(image, DataDirectory(image, 4), offset), DataDirectory(image, 4) + 4, size);
    };
    EXPECT_TRUE(lucheck::CarriesSignature(signedAt(kProgram, 0x400, 0x100)));
    EXPECT_TRUE(lucheck::CarriesSignature(signedAt(Image(true, false), 0x400, 0x100)));
    EXPECT_FALSE(lucheck::CarriesSignature(kProgram));
    EXPECT_FALSE(lucheck::CarriesSignature(signedAt(kProgram, 0x400, 0)));
    EXPECT_FALSE(lucheck::CarriesSignature(signedAt(kProgram, 0x480, 0x100))) << "cut off";
    EXPECT_FALSE(lucheck::CarriesSignature(Text("MZ not really")));
}

}  // namespace
