// The block transform for 32-bit x86 in MMX registers: each output row is
// one 64-bit register that gathers its eight table entries straight from
// memory (an MMX operand needs no alignment, so every entry costs one
// instruction), while key and cipher state stay in two 64-byte areas that
// the index bytes are read from. The areas alternate between rounds instead
// of being copied. (On x86_64 the compiler carries the same operations in
// vector registers.)
#include "engine/digest.h"
#include <mmintrin.h>
#include <string.h>

static inline __m64 load64(const uint8_t* p)
{
    __m64 v;
    memcpy(&v, p, 8);
    return v;
}

static inline void store64(uint8_t* p, __m64 v)
{
    memcpy(p, &v, 8);
}

// Entry of table K indexed by byte K of row R of `a`.
template <int R, int K>
static inline __m64 entry(const uint8_t* a)
{
    return load64(DigestTables[K][a[8 * (R & 7) + K]]);
}

// Output row I of the round function over the rows at `a`, before the round
// key is added: entry of Tk indexed by byte k of row (I - k) mod 8.
template <int I>
static inline __m64 round_row(const uint8_t* a)
{
    __m64 r = entry<I, 0>(a);
    r = _mm_xor_si64(r, entry<I + 7, 1>(a));
    r = _mm_xor_si64(r, entry<I + 6, 2>(a));
    r = _mm_xor_si64(r, entry<I + 5, 3>(a));
    r = _mm_xor_si64(r, entry<I + 4, 4>(a));
    r = _mm_xor_si64(r, entry<I + 3, 5>(a));
    r = _mm_xor_si64(r, entry<I + 2, 6>(a));
    return _mm_xor_si64(r, entry<I + 1, 7>(a));
}

// Row I of the next state: the round function of `s` keyed with row I of `k`.
template <int I>
static inline void state_row(const uint8_t* s, const uint8_t* k, uint8_t* out)
{
    store64(out + 8 * I, _mm_xor_si64(round_row<I>(s), load64(k + 8 * I)));
}

template <int I>
static inline void key_row(const uint8_t* k, uint8_t* out)
{
    store64(out + 8 * I, round_row<I>(k));
}

void whirlpool_compress_mmx(uint8_t state[64], const uint8_t block[64])
{
    alignas(16) uint8_t K[2][64];
    alignas(16) uint8_t S[2][64];
    memcpy(K[0], state, 64);
    for (int i = 0; i < 64; ++i)
        S[0][i] = (uint8_t)(state[i] ^ block[i]);

    for (int r = 0; r < 10; ++r) {
        const uint8_t* k = K[r & 1];
        const uint8_t* s = S[r & 1];
        uint8_t* nk = K[~r & 1];
        uint8_t* ns = S[~r & 1];
        // The round constant is row 0 of the round key.
        store64(nk, _mm_xor_si64(round_row<0>(k), load64(RoundConstants[r])));
        key_row<1>(k, nk);
        key_row<2>(k, nk);
        key_row<3>(k, nk);
        key_row<4>(k, nk);
        key_row<5>(k, nk);
        key_row<6>(k, nk);
        key_row<7>(k, nk);
        state_row<0>(s, nk, ns);
        state_row<1>(s, nk, ns);
        state_row<2>(s, nk, ns);
        state_row<3>(s, nk, ns);
        state_row<4>(s, nk, ns);
        state_row<5>(s, nk, ns);
        state_row<6>(s, nk, ns);
        state_row<7>(s, nk, ns);
    }
    // The x87 registers are the MMX registers: free them for floating point.
    _mm_empty();

    // Miyaguchi-Preneel feed-forward: H xor W_H(M) xor M (ten rounds end in
    // area 0).
    for (int i = 0; i < 64; ++i)
        state[i] = (uint8_t)(state[i] ^ block[i] ^ S[0][i]);
}

void transform_mmx()
{
    whirlpool_compress_mmx(state_ptr, block_ptr);
}
