// The block transform for processors with SSE4.1: key and cipher state are
// held as four 128-bit values each, value m carrying rows 2m and 2m + 1, and
// every index byte is taken out of them with the byte-extract instruction;
// no row is stored to be read back a byte at a time. (32-bit code has eight
// vector registers for these eight values and the sums, so the compiler keeps
// some of them on the stack between uses.)
#include "engine/digest.h"
#include <smmintrin.h>

// Aligned 16-byte load and store. Written as instructions because this
// compiler turns the aligned intrinsics into unaligned moves on Windows
// targets; an operand that is not a multiple of 16 faults here instead.
static inline __m128i load_aligned(const uint8_t* p)
{
    __m128i v;
    __asm__("movdqa %1, %0" : "=x"(v) : "m"(*(const __m128i*)p));
    return v;
}

static inline void store_aligned(uint8_t* p, __m128i v)
{
    __asm__("movdqa %1, %0" : "=m"(*(__m128i*)p) : "x"(v));
}

// Byte K of row R, out of the pair value that holds row R.
template <int R, int K>
static inline unsigned index_byte(__m128i p0, __m128i p1, __m128i p2, __m128i p3)
{
    constexpr int pair = (R & 7) >> 1;
    constexpr int pos = ((R & 1) << 3) + K;
    __m128i p = pair == 0 ? p0 : pair == 1 ? p1 : pair == 2 ? p2 : p3;
    return (unsigned)_mm_extract_epi8(p, pos);
}

static inline __m128i load_high(__m128i v, const uint8_t* p)
{
    return _mm_castps_si128(_mm_loadh_pi(_mm_castsi128_ps(v), (const __m64*)p));
}

// Entries of table K for rows 2M and 2M + 1, joined: row 2M in the low half.
template <int M, int K>
static inline __m128i entry_pair(__m128i p0, __m128i p1, __m128i p2, __m128i p3)
{
    __m128i lo = _mm_loadl_epi64((const __m128i*)DigestTables[K][index_byte<2 * M + 8 - K, K>(p0, p1, p2, p3)]);
    return load_high(lo, DigestTables[K][index_byte<2 * M + 9 - K, K>(p0, p1, p2, p3)]);
}

// Keeps the compiler from regrouping the XOR chain, which would pull all
// extractions forward and spill their results.
static inline __m128i keep(__m128i v)
{
    __asm__("" : "+x"(v));
    return v;
}

// Rows 2M and 2M + 1 of the round function, before the round key is added.
template <int M>
static inline __m128i round_pair(__m128i p0, __m128i p1, __m128i p2, __m128i p3)
{
    __m128i r = entry_pair<M, 0>(p0, p1, p2, p3);
    r = keep(_mm_xor_si128(r, entry_pair<M, 1>(p0, p1, p2, p3)));
    r = keep(_mm_xor_si128(r, entry_pair<M, 2>(p0, p1, p2, p3)));
    r = keep(_mm_xor_si128(r, entry_pair<M, 3>(p0, p1, p2, p3)));
    r = keep(_mm_xor_si128(r, entry_pair<M, 4>(p0, p1, p2, p3)));
    r = keep(_mm_xor_si128(r, entry_pair<M, 5>(p0, p1, p2, p3)));
    r = keep(_mm_xor_si128(r, entry_pair<M, 6>(p0, p1, p2, p3)));
    return _mm_xor_si128(r, entry_pair<M, 7>(p0, p1, p2, p3));
}

// Round r: the next key from the key, then the next state keyed with it.
static inline __attribute__((always_inline)) void one_round(__m128i& k0, __m128i& k1, __m128i& k2, __m128i& k3,
                                                            __m128i& s0, __m128i& s1, __m128i& s2, __m128i& s3, int r)
{
    // The round constant is row 0 of the round key: the low half of pair 0.
    __m128i n0 = _mm_xor_si128(round_pair<0>(k0, k1, k2, k3), _mm_loadl_epi64((const __m128i*)RoundConstants[r]));
    __m128i n1 = round_pair<1>(k0, k1, k2, k3);
    __m128i n2 = round_pair<2>(k0, k1, k2, k3);
    __m128i n3 = round_pair<3>(k0, k1, k2, k3);
    k0 = n0;
    k1 = n1;
    k2 = n2;
    k3 = n3;

    n0 = _mm_xor_si128(round_pair<0>(s0, s1, s2, s3), k0);
    n1 = _mm_xor_si128(round_pair<1>(s0, s1, s2, s3), k1);
    n2 = _mm_xor_si128(round_pair<2>(s0, s1, s2, s3), k2);
    n3 = _mm_xor_si128(round_pair<3>(s0, s1, s2, s3), k3);
    s0 = n0;
    s1 = n1;
    s2 = n2;
    s3 = n3;
}

void whirlpool_compress_sse41(uint8_t state[64], const uint8_t block[64])
{
    const uint8_t* hp = state;
    const uint8_t* mp = block;
    __m128i k0 = load_aligned(hp + 0), k1 = load_aligned(hp + 16);
    __m128i k2 = load_aligned(hp + 32), k3 = load_aligned(hp + 48);
    __m128i s0 = _mm_xor_si128(k0, load_aligned(mp + 0));
    __m128i s1 = _mm_xor_si128(k1, load_aligned(mp + 16));
    __m128i s2 = _mm_xor_si128(k2, load_aligned(mp + 32));
    __m128i s3 = _mm_xor_si128(k3, load_aligned(mp + 48));
    // H xor M is kept for the feed-forward; the chaining value is read only here.
    alignas(16) __m128i hm[4] = {s0, s1, s2, s3};

    // Two rounds per pass let the registers of old and new values swap roles
    // instead of being copied back at the end of every round.
    for (int r = 0; r < 10; r += 2) {
        one_round(k0, k1, k2, k3, s0, s1, s2, s3, r);
        one_round(k0, k1, k2, k3, s0, s1, s2, s3, r + 1);
    }

    // Feed-forward: H xor W_H(M) xor M, over the chaining value in place.
    uint8_t* out = state;
    store_aligned(out + 0, _mm_xor_si128(s0, hm[0]));
    store_aligned(out + 16, _mm_xor_si128(s1, hm[1]));
    store_aligned(out + 32, _mm_xor_si128(s2, hm[2]));
    store_aligned(out + 48, _mm_xor_si128(s3, hm[3]));
}

void transform_sse41()
{
    whirlpool_compress_sse41(state_ptr, block_ptr);
}
