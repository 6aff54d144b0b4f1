#include "setup/sha256.h"

#include <cstring>

namespace setup {

namespace sha256_detail {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t LoadBigEndian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

// One loop of 64 rounds, the message schedule in a rolling window of 16
// words. Optimising for speed the compiler unrolls it whole, and the moves
// of the working variables vanish in renaming; for size (the installer) it
// stays a loop, 4 KB smaller and about a third slower. The sigma functions
// are nested rotations (fewer instructions), and Maj(a,b,c) = b ^ ((a^b) & (b^c))
// reuses b^c, the round before's a^b.
#ifdef __OPTIMIZE_SIZE__
#define LU_UNROLL _Pragma("GCC unroll 1")
#else
#define LU_UNROLL _Pragma("GCC unroll 64")
#endif
void PortableBlocks(uint32_t* state, const uint8_t* blocks, std::size_t count) {
    for (; count > 0; --count, blocks += 64) {
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        uint32_t bc = b ^ c;
        uint32_t w[16];
        LU_UNROLL
        for (int i = 0; i < 64; ++i) {
            uint32_t& word = w[i & 15];
            if (i < 16) {
                word = LoadBigEndian(blocks + 4 * i);
            } else {
                const uint32_t w15 = w[(i - 15) & 15];
                const uint32_t w2 = w[(i - 2) & 15];
                word += (Rotr(w2 ^ Rotr(w2, 2), 17) ^ (w2 >> 10)) + w[(i - 7) & 15] +
                        (Rotr(w15 ^ Rotr(w15, 11), 7) ^ (w15 >> 3));
            }
            const uint32_t t1 = h + kRound[i] + word + Rotr(e ^ Rotr(e ^ Rotr(e, 14), 5), 6) + (g ^ (e & (f ^ g)));
            const uint32_t ab = a ^ b;
            const uint32_t t2 = Rotr(a ^ Rotr(a ^ Rotr(a, 9), 11), 2) + (b ^ (ab & bc));
            bc = ab;
            h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
        }
        state[0] += a, state[1] += b, state[2] += c, state[3] += d;
        state[4] += e, state[5] += f, state[6] += g, state[7] += h;
    }
}

}  // namespace sha256_detail

namespace {

const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

}  // namespace

Sha256::Sha256(Sha256Engine engine) {
    const bool extensions = engine == Sha256Engine::kShaExtensions ||
                            (engine == Sha256Engine::kBest && ShaExtensionsAvailable());
    blocks_ = extensions ? sha256_detail::ShaExtensionBlocks : sha256_detail::PortableBlocks;
    std::memcpy(state_, kInitial, sizeof state_);
}

void Sha256::Update(const void* data, std::size_t size) {
    if (size == 0) return;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    std::size_t held = length_ % 64;
    length_ += size;
    if (held > 0) {
        const std::size_t take = size < 64 - held ? size : 64 - held;
        std::memcpy(buffer_ + held, bytes, take);
        bytes += take;
        size -= take;
        if (held + take < 64) return;
        blocks_(state_, buffer_, 1);
    }
    blocks_(state_, bytes, size / 64);
    std::memcpy(buffer_, bytes + size / 64 * 64, size % 64);
}

Sha256Digest Sha256::Final() {
    // A one bit, zeros to 56 bytes past a block boundary, then the length in bits.
    const uint64_t bits = length_ * 8;
    uint8_t padding[72] = {0x80};
    const std::size_t zeros = (119 - length_ % 64) % 64;
    for (int i = 0; i < 8; ++i) padding[1 + zeros + i] = uint8_t(bits >> (56 - 8 * i));
    Update(padding, 1 + zeros + 8);
    Sha256Digest digest;
    for (int i = 0; i < 32; ++i) digest[i] = uint8_t(state_[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

std::string ToHex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

}  // namespace setup
