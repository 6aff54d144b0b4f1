// SHA-256: the FIPS 180-4 examples on both block functions, fed whole and
// in pieces, and the two functions agreeing on random data.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "setup/sha256.h"

namespace {

using setup::Sha256;
using setup::Sha256Engine;

void SkipUnlessAvailable(Sha256Engine engine) {
    if (engine == Sha256Engine::kShaExtensions && !setup::ShaExtensionsAvailable())
        GTEST_SKIP() << "this processor has no SHA extensions";
}

// The digest of `data`, given to Update in pieces of `piece` bytes.
std::string Digest(Sha256Engine engine, const std::string& data, std::size_t piece) {
    Sha256 hash(engine);
    for (std::size_t at = 0; at < data.size(); at += piece) hash.Update(data.data() + at, std::min(piece, data.size() - at));
    return setup::ToHex(hash.Final());
}

class Sha256Vectors : public ::testing::TestWithParam<Sha256Engine> {};

TEST_P(Sha256Vectors, MatchTheStandardsExamples) {
    SkipUnlessAvailable(GetParam());
    const struct {
        std::string message;
        const char* digest;
    } examples[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& example : examples)
        for (std::size_t piece : {std::size_t(1) << 20, std::size_t(1), std::size_t(63), std::size_t(997)})
            EXPECT_EQ(Digest(GetParam(), example.message, piece), example.digest)
                << example.message.size() << " bytes in pieces of " << piece;
}

INSTANTIATE_TEST_SUITE_P(Engines, Sha256Vectors,
                         ::testing::Values(Sha256Engine::kPortable, Sha256Engine::kShaExtensions,
                                           Sha256Engine::kBest));

// Random messages around the block and padding boundaries, and a few MiB
// split at odd points: both block functions give the same digest.
TEST(Sha256Engines, AgreeOnRandomData) {
    SkipUnlessAvailable(Sha256Engine::kShaExtensions);
    std::mt19937 random(15);
    std::string data(3 * 1024 * 1024 + 77, '\0');
    for (char& c : data) c = char(random());
    for (std::size_t size = 0; size <= 200; ++size) {
        const std::string message = data.substr(size * 7, size);
        EXPECT_EQ(Digest(Sha256Engine::kPortable, message, 200), Digest(Sha256Engine::kShaExtensions, message, 200))
            << size;
    }
    for (std::size_t piece : {std::size_t(1) << 20, std::size_t(4093), std::size_t(65537)})
        EXPECT_EQ(Digest(Sha256Engine::kPortable, data, piece), Digest(Sha256Engine::kShaExtensions, data, 65))
            << piece;
}

}  // namespace
