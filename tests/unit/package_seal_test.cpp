// Sealed packages: reading SHA256SUMS (both markers, CRLF, case, malformed
// and duplicate lines, size limits) and checking the package against it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fakes.h"
#include "platform/text.h"
#include "lucheck/seal.h"
#include "setup/package_seal.h"

namespace {

using setup::SealStatus;

const std::string kFolder = "C:\\PKG";
const std::string kOther(64, '0');  // a well-formed digest of nothing here

std::string Hex(const std::string& content) {
    setup::Sha256 hash;
    hash.Update(content.data(), content.size());
    return setup::ToHex(hash.Final());
}

// A package of UPDATE.LST and two payload files, and the list's names.
struct Package {
    fakes::Journal journal;
    fakes::FakeOs os{journal};
    const std::vector<std::string> names{"A.DLL", "B.TXT", "A.DLL", "", "W*.DLL"};

    Package() {
        Put("UPDATE.LST", "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110\r\nSTART\r\nFILE,A.DLL,B.TXT\r\n");
        Put("A.DLL", "alpha");
        Put("B.TXT", std::string(300000, 'b'));
    }
    void Put(const std::string& name, const std::string& content) { os.AddFile(kFolder + "\\" + name, content); }
    setup::SealCheck Check(bool stopAtFirst = false, const setup::SealProgress& progress = nullptr) {
        return setup::CheckSeal(os, kFolder, names, progress, stopAtFirst);
    }
};

// The problems as "file:line", the unlisted lines as "name@line".
std::vector<std::string> Found(const setup::SealCheck& check) {
    std::vector<std::string> found;
    for (const auto& p : check.problems) found.push_back(p.file + ":" + std::to_string(p.line));
    for (const auto& u : check.unlisted) found.push_back(u.name + "@" + std::to_string(u.line));
    return found;
}

struct SealCase {
    const char* name;
    std::string sums;  // {LST}, {A} and {B} stand for the files' true digests, {A^} in upper case
    std::vector<std::string> found;
};

void PrintTo(const SealCase& c, std::ostream* os) { *os << c.name; }

std::string Expand(std::string text, Package& package) {
    const std::pair<const char*, std::string> digests[] = {
        {"{LST}", Hex(package.os.files[kFolder + "\\UPDATE.LST"].content)},
        {"{A}", Hex("alpha")},
        {"{A^}", platform::UCase(Hex("alpha"))},
        {"{B}", Hex(std::string(300000, 'b'))}};
    for (const auto& [key, hex] : digests)
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, std::string(key).size(), hex);
    return text;
}

class SealFile : public ::testing::TestWithParam<SealCase> {};

TEST_P(SealFile, GivesTheExpectedFindings) {
    Package package;
    package.Put("SHA256SUMS", Expand(GetParam().sums, package));
    const setup::SealCheck check = package.Check();
    EXPECT_EQ(Found(check), GetParam().found);
    const bool damaged = std::any_of(GetParam().found.begin(), GetParam().found.end(),
                                     [](const std::string& f) { return f.find('@') == std::string::npos; });
    EXPECT_EQ(check.status, damaged ? SealStatus::kDamaged : SealStatus::kIntact);
}

const std::string kGood = "{LST}  UPDATE.LST\n{A}  A.DLL\n{B}  B.TXT\n";

INSTANTIATE_TEST_SUITE_P(
    Lines, SealFile,
    ::testing::Values(
        SealCase{"TextMode", kGood, {}},
        SealCase{"BinaryMarkerCrlfAnyCase", "{LST} *update.lst\r\n{A} *a.Dll\r\n{B} *B.txt", {}},
        SealCase{"UpperCaseHexCommentsBlankLines", "# sealed\n\n{LST}  UPDATE.LST\n{A^}  A.DLL\r\n\r\n{B}  B.TXT\n", {}},
        SealCase{"SameLineTwice", kGood + "{A}  A.DLL\n", {}},
        SealCase{"UnlistedName", kGood + kOther + "  C.TXT\n", {"C.TXT@4"}},
        SealCase{"WrongDigest", "{LST}  UPDATE.LST\n{B}  A.DLL\n{B}  B.TXT\n", {"A.DLL:0"}},
        SealCase{"ListWithoutLine", "{A}  A.DLL\n{B}  B.TXT\n", {"UPDATE.LST:0"}},
        SealCase{"PayloadWithoutLine", "{LST}  UPDATE.LST\n{A}  A.DLL\n", {"B.TXT:0"}},
        SealCase{"TwoDigestsForOneName", kGood + kOther + "  a.dll\n", {"SHA256SUMS:4"}},
        SealCase{"Malformed",
                 kGood + "{A} A.DLL\n" + "{A}\tA.DLL\n" + "{A}  \n" + "SHA256 (A.DLL) = {A}\n" + "{A}  SUB\\A.DLL\n" +
                     kOther.substr(1) + "g  A.DLL\n" + kOther.substr(2) + "  A.DLL\n" + "{A}",
                 {"SHA256SUMS:4", "SHA256SUMS:5", "SHA256SUMS:6", "SHA256SUMS:7", "SHA256SUMS:8", "SHA256SUMS:9",
                  "SHA256SUMS:10", "SHA256SUMS:11"}},
        SealCase{"LongestLineAllowed", kGood + kOther + "  " + std::string(512 - 66, 'N') + "\r\n",
                 {std::string(512 - 66, 'N') + "@4"}},
        SealCase{"LineTooLong", kGood + kOther + "  " + std::string(512 - 65, 'N') + "\n" + kOther + "  X\n",
                 {"SHA256SUMS:4"}},
        SealCase{"ReadingStopsInALongLine", kGood + std::string(100000, 'N') + "\n" + kOther + "  X\n",
                 {"SHA256SUMS:4"}}));

TEST(SealCheck, UnsealedPackageIsNotRead) {
    Package package;
    const setup::SealCheck check = package.Check();
    EXPECT_EQ(check.status, SealStatus::kNotSealed);
    EXPECT_TRUE(check.problems.empty());
    EXPECT_EQ(std::count_if(package.journal.begin(), package.journal.end(),
                            [](const std::string& e) { return e.rfind("read ", 0) == 0; }),
              0);
}

TEST(SealCheck, MissingAndOversizeFiles) {
    Package package;
    package.Put("SHA256SUMS", Expand(kGood, package));
    package.os.files.erase(kFolder + "\\B.TXT");
    EXPECT_EQ(Found(package.Check()), (std::vector<std::string>{"B.TXT:0"}));
    EXPECT_EQ(lucheck::SealReason(package.Check().problems[0]), "is not in the package");

    package.Put("SHA256SUMS", std::string(16 << 20, '#') + "\n");
    EXPECT_EQ(Found(package.Check()), (std::vector<std::string>{"SHA256SUMS:0"}));
}

// The installer stops at the first damaged file and reads no further one.
TEST(SealCheck, StopsAtTheFirstProblem) {
    Package package;
    package.Put("SHA256SUMS", Expand(kGood, package));
    package.Put("A.DLL", "alphA");
    package.Put("B.TXT", "emptied");
    const setup::SealCheck check = package.Check(true);
    ASSERT_EQ(Found(check), (std::vector<std::string>{"A.DLL:0"}));
    EXPECT_EQ(lucheck::SealReason(check.problems[0]), "does not match its checksum (SHA256SUMS line 2)");
    EXPECT_EQ(std::count(package.journal.begin(), package.journal.end(), "read " + kFolder + "\\B.TXT"), 1)
        << "B.TXT is sized, never hashed";
    EXPECT_EQ(Found(package.Check(false)), (std::vector<std::string>{"A.DLL:0", "B.TXT:0"}));
}

// Progress rises to the bytes of all files checked, at most 256 KiB apart.
TEST(SealCheck, ReportsProgressOften) {
    Package package;
    package.Put("SHA256SUMS", Expand(kGood, package));
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    const auto check = package.Check(false, [&](uint64_t done, uint64_t total) { calls.push_back({done, total}); });
    ASSERT_EQ(check.status, SealStatus::kIntact);
    const uint64_t total = package.os.files[kFolder + "\\UPDATE.LST"].content.size() + 5 + 300000;
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), std::make_pair(total, total));
    uint64_t before = 0;
    for (const auto& call : calls) {
        EXPECT_LE(call.first - before, 256u << 10);
        EXPECT_GE(call.first, before);
        before = call.first;
    }
}

}  // namespace
