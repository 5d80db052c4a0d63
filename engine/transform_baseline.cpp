// The block transform for processors without SSE4.1: key and cipher state
// live as 64-byte copies in memory, index bytes are read from them one byte at
// a time, and table entries are combined as 64-bit halves of SSE2 registers.
#include "engine/digest.h"
#include <emmintrin.h>

static inline __m128i table_entry(int k, uint8_t x)
{
    return _mm_loadl_epi64((const __m128i*)DigestTables[k][x]);
}

// Output row i of the round function over the eight rows at `a`, before the
// round key is added: entry of Tk indexed by byte k of row (i - k) mod 8.
static inline __m128i round_row(const uint8_t* a, int i)
{
    __m128i r = table_entry(0, a[8 * i + 0]);
    r = _mm_xor_si128(r, table_entry(1, a[8 * ((i - 1) & 7) + 1]));
    r = _mm_xor_si128(r, table_entry(2, a[8 * ((i - 2) & 7) + 2]));
    r = _mm_xor_si128(r, table_entry(3, a[8 * ((i - 3) & 7) + 3]));
    r = _mm_xor_si128(r, table_entry(4, a[8 * ((i - 4) & 7) + 4]));
    r = _mm_xor_si128(r, table_entry(5, a[8 * ((i - 5) & 7) + 5]));
    r = _mm_xor_si128(r, table_entry(6, a[8 * ((i - 6) & 7) + 6]));
    r = _mm_xor_si128(r, table_entry(7, a[8 * ((i - 7) & 7) + 7]));
    return r;
}

static inline __m128i join(__m128i lo, __m128i hi)
{
    return _mm_unpacklo_epi64(lo, hi);
}

static inline __m128i load_row(const uint8_t* p)
{
    return _mm_loadl_epi64((const __m128i*)p);
}

void whirlpool_compress_baseline(uint8_t state[64], const uint8_t block[64])
{
    alignas(16) uint8_t K[64];
    alignas(16) uint8_t S[64];

    const __m128i* hp = (const __m128i*)state;
    const __m128i* mp = (const __m128i*)block;
    __m128i h0 = _mm_loadu_si128(hp + 0), h1 = _mm_loadu_si128(hp + 1);
    __m128i h2 = _mm_loadu_si128(hp + 2), h3 = _mm_loadu_si128(hp + 3);
    __m128i m0 = _mm_loadu_si128(mp + 0), m1 = _mm_loadu_si128(mp + 1);
    __m128i m2 = _mm_loadu_si128(mp + 2), m3 = _mm_loadu_si128(mp + 3);

    _mm_storeu_si128((__m128i*)K + 0, h0);
    _mm_storeu_si128((__m128i*)K + 1, h1);
    _mm_storeu_si128((__m128i*)K + 2, h2);
    _mm_storeu_si128((__m128i*)K + 3, h3);
    // H xor M is both the first cipher state and the feed-forward term.
    __m128i hm0 = _mm_xor_si128(h0, m0), hm1 = _mm_xor_si128(h1, m1);
    __m128i hm2 = _mm_xor_si128(h2, m2), hm3 = _mm_xor_si128(h3, m3);
    _mm_storeu_si128((__m128i*)S + 0, hm0);
    _mm_storeu_si128((__m128i*)S + 1, hm1);
    _mm_storeu_si128((__m128i*)S + 2, hm2);
    _mm_storeu_si128((__m128i*)S + 3, hm3);

    for (int r = 0; r < 10; ++r) {
        // Next key: the round constant enters row 0 only. All eight rows are
        // computed from the old key before any of it is overwritten.
        __m128i k0 = join(_mm_xor_si128(round_row(K, 0), load_row(RoundConstants[r])), round_row(K, 1));
        __m128i k1 = join(round_row(K, 2), round_row(K, 3));
        __m128i k2 = join(round_row(K, 4), round_row(K, 5));
        __m128i k3 = join(round_row(K, 6), round_row(K, 7));
        _mm_storeu_si128((__m128i*)K + 0, k0);
        _mm_storeu_si128((__m128i*)K + 1, k1);
        _mm_storeu_si128((__m128i*)K + 2, k2);
        _mm_storeu_si128((__m128i*)K + 3, k3);

        // Next state, keyed row by row with the key just computed.
        __m128i s0 = join(_mm_xor_si128(round_row(S, 0), load_row(K + 0)),
                          _mm_xor_si128(round_row(S, 1), load_row(K + 8)));
        __m128i s1 = join(_mm_xor_si128(round_row(S, 2), load_row(K + 16)),
                          _mm_xor_si128(round_row(S, 3), load_row(K + 24)));
        __m128i s2 = join(_mm_xor_si128(round_row(S, 4), load_row(K + 32)),
                          _mm_xor_si128(round_row(S, 5), load_row(K + 40)));
        __m128i s3 = join(_mm_xor_si128(round_row(S, 6), load_row(K + 48)),
                          _mm_xor_si128(round_row(S, 7), load_row(K + 56)));
        _mm_storeu_si128((__m128i*)S + 0, s0);
        _mm_storeu_si128((__m128i*)S + 1, s1);
        _mm_storeu_si128((__m128i*)S + 2, s2);
        _mm_storeu_si128((__m128i*)S + 3, s3);
    }

    // Miyaguchi-Preneel feed-forward: H xor W_H(M) xor M.
    __m128i* out = (__m128i*)state;
    _mm_storeu_si128(out + 0, _mm_xor_si128(hm0, _mm_loadu_si128((const __m128i*)S + 0)));
    _mm_storeu_si128(out + 1, _mm_xor_si128(hm1, _mm_loadu_si128((const __m128i*)S + 1)));
    _mm_storeu_si128(out + 2, _mm_xor_si128(hm2, _mm_loadu_si128((const __m128i*)S + 2)));
    _mm_storeu_si128(out + 3, _mm_xor_si128(hm3, _mm_loadu_si128((const __m128i*)S + 3)));
}

void transform_baseline()
{
    whirlpool_compress_baseline(state_ptr, block_ptr);
}
