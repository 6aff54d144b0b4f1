// The SHA-256 block function on the processor's SHA extensions. Only this
// file's functions use them, through the target attribute, so the rest of
// the program runs on any x86 processor; the choice is made at run time.
#include "setup/sha256.h"

#if defined(__i386__) || defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

#include <utility>

namespace setup {

namespace {

constexpr unsigned kLeafFeatures = 1;
constexpr unsigned kLeafExtendedFeatures = 7;

// The same rounds as the portable code, four at a time: the state as ABEF
// and CDGH, the message words in m[0..3], each group of four scheduled a
// few groups ahead (sha256msg1 three groups, sha256msg2 one).
#define LU_SHA_INLINE inline __attribute__((always_inline, target("sha,sse4.1")))

template <int i>
LU_SHA_INLINE void Quad(__m128i& abef, __m128i& cdgh, __m128i (&m)[4]) {
    __m128i words = _mm_add_epi32(
        m[i % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(&sha256_detail::kRound[4 * i])));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
    if (i >= 3 && i < 15) {
        const __m128i carried = _mm_alignr_epi8(m[i % 4], m[(i + 3) % 4], 4);
        m[(i + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(m[(i + 1) % 4], carried), m[i % 4]);
    }
    words = _mm_shuffle_epi32(words, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
    if (i >= 1 && i < 13) m[(i + 3) % 4] = _mm_sha256msg1_epu32(m[(i + 3) % 4], m[i % 4]);
}

template <int... i>
LU_SHA_INLINE void Quads(__m128i& abef, __m128i& cdgh, __m128i (&m)[4], std::integer_sequence<int, i...>) {
    (Quad<i>(abef, cdgh, m), ...);
}

}  // namespace

// force_align_arg_pointer: a 32-bit Windows caller (a window procedure)
// may pass a stack aligned to 4 bytes only; the vectors spilled here need 16.
__attribute__((target("sha,sse4.1"), force_align_arg_pointer)) void sha256_detail::ShaExtensionBlocks(
    uint32_t* state, const uint8_t* blocks, std::size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xF0);
    for (; count > 0; --count, blocks += 64) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        const __m128i* words = reinterpret_cast<const __m128i*>(blocks);
        __m128i m[4] = {_mm_shuffle_epi8(_mm_loadu_si128(words), byteSwap),
                        _mm_shuffle_epi8(_mm_loadu_si128(words + 1), byteSwap),
                        _mm_shuffle_epi8(_mm_loadu_si128(words + 2), byteSwap),
                        _mm_shuffle_epi8(_mm_loadu_si128(words + 3), byteSwap)};
        Quads(abef, cdgh, m, std::make_integer_sequence<int, 16>());
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool ShaExtensionsAvailable() {
    unsigned eax, ebx, ecx, edx;
    // __get_cpuid checks the highest leaf first (and, on 32-bit, that CPUID exists).
    if (!__get_cpuid(kLeafFeatures, &eax, &ebx, &ecx, &edx) || !(ecx & bit_SSE4_1)) return false;
    if (!__get_cpuid_count(kLeafExtendedFeatures, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & bit_SHA) != 0;
}

}  // namespace setup

#else

namespace setup {

bool ShaExtensionsAvailable() { return false; }
void sha256_detail::ShaExtensionBlocks(uint32_t* state, const uint8_t* blocks, std::size_t count) {
    PortableBlocks(state, blocks, count);
}

}  // namespace setup

#endif
