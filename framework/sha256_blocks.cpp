#include "framework/sha256_blocks.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kBlockBytes = 64;

const uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

alignas(16) const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

bool AskCpu() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    bool shuffles = (ecx & bit_SSSE3) && (ecx & bit_SSE4_1);
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return shuffles && (ebx & bit_SHA);
}

// The only code built for the SHA instructions, so the program still starts on CPUs without
// them. The instructions keep the eight working words as two halves, {A,B,E,F} and
// {C,D,G,H}, each with its first word in the highest lane; a round pair turns the first
// into the next {A,B,E,F}, and the old one becomes the next {C,D,G,H}.
__attribute__((target("sha,sse4.1,ssse3")))
void CompressBlocks(uint32_t* state, const unsigned char* blocks, size_t count) {
    // Message words are big-endian.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);  // B A D C
    __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);  // H G F E
    __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);      // F E B A
    __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xF0);   // H G D C

    for (; count > 0; --count, blocks += kBlockBytes) {
        const __m128i startAbef = abef;
        const __m128i startCdgh = cdgh;
        // words[i % 4] holds schedule words 4i .. 4i+3 while the rounds reach them.
        __m128i words[4];
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            __m128i& w = words[i % 4];
            if (i < 4) {
                w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
            } else {
                // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four words at a time:
                // w holds W[t-16..], the next slot W[t-12..], and the two before it W[t-8..], W[t-4..].
                const __m128i& older = words[(i + 1) % 4];
                const __m128i& middle = words[(i + 2) % 4];
                const __m128i& last = words[(i + 3) % 4];
                __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(w, older), _mm_alignr_epi8(last, middle, 4));
                w = _mm_sha256msg2_epu32(sum, last);
            }
            __m128i wk = _mm_add_epi32(w, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * i)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
        }
        abef = _mm_add_epi32(abef, startAbef);
        cdgh = _mm_add_epi32(cdgh, startCdgh);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);   // A B E F
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);   // G H C D
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace

bool CpuHasSha256Instructions() {
    static const bool has = AskCpu();
    return has;
}

void Sha256Blocks::Begin() {
    std::memcpy(m_state, kInitialState, sizeof m_state);
    m_pendingBytes = 0;
    m_totalBytes = 0;
}

void Sha256Blocks::Add(const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    m_totalBytes += size;
    if (m_pendingBytes > 0) {
        size_t take = std::min(size, kBlockBytes - m_pendingBytes);
        std::memcpy(m_pending + m_pendingBytes, p, take);
        m_pendingBytes += take;
        p += take;
        size -= take;
        if (m_pendingBytes < kBlockBytes) return;
        CompressBlocks(m_state, m_pending, 1);
        m_pendingBytes = 0;
    }
    size_t whole = size / kBlockBytes;
    if (whole > 0) CompressBlocks(m_state, p, whole);
    p += whole * kBlockBytes;
    size -= whole * kBlockBytes;
    std::memcpy(m_pending, p, size);
    m_pendingBytes = size;
}

void Sha256Blocks::Finish(unsigned char* digest) {
    // A one bit, zeros up to 8 bytes short of a block end, then the length in bits, big-endian.
    uint64_t bits = m_totalBytes * 8;
    unsigned char tail[2 * kBlockBytes] = {0x80};
    size_t padBytes = (m_pendingBytes + 1 + 8 <= kBlockBytes ? kBlockBytes : 2 * kBlockBytes) - m_pendingBytes - 8;
    for (int i = 0; i < 8; ++i) tail[padBytes + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Add(tail, padBytes + 8);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<unsigned char>(m_state[i] >> 24);
        digest[4 * i + 1] = static_cast<unsigned char>(m_state[i] >> 16);
        digest[4 * i + 2] = static_cast<unsigned char>(m_state[i] >> 8);
        digest[4 * i + 3] = static_cast<unsigned char>(m_state[i]);
    }
    Begin();
}
