#pragma once
// SHA-256 (FIPS 180-4), for sealed packages: a portable block function and,
// where the processor has the SHA extensions, one that uses them, chosen
// when a hash starts.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace setup {

using Sha256Digest = std::array<uint8_t, 32>;

// Which block function a hash uses.
enum class Sha256Engine {
    kBest,           // the SHA extensions where the processor has them, otherwise portable
    kPortable,
    kShaExtensions,  // only where ShaExtensionsAvailable()
};

class Sha256 {
public:
    explicit Sha256(Sha256Engine engine = Sha256Engine::kBest);
    void Update(const void* data, std::size_t size);
    // The digest; the object is spent afterwards.
    Sha256Digest Final();

private:
    using BlockFunction = void (*)(uint32_t* state, const uint8_t* blocks, std::size_t count);

    BlockFunction blocks_;
    uint32_t state_[8];
    uint8_t buffer_[64];
    uint64_t length_ = 0;  // bytes hashed so far
};

// Whether the processor has the SHA extensions and SSE4.1 (CPUID leaf 7);
// processors without leaf 7, such as those of the 95 family's days, never do.
bool ShaExtensionsAvailable();

// Lower-case hexadecimal, as sha256sum writes it.
std::string ToHex(const Sha256Digest& digest);

namespace sha256_detail {
extern const uint32_t kRound[64];
void PortableBlocks(uint32_t* state, const uint8_t* blocks, std::size_t count);
void ShaExtensionBlocks(uint32_t* state, const uint8_t* blocks, std::size_t count);
}  // namespace sha256_detail

}  // namespace setup
