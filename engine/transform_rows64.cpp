// The block transform over 64-bit row values: each of the eight rows of key
// and cipher state is one integer, its index bytes taken out by shifts, and
// table entries are combined as whole rows. On x86_64 all of it lives in
// general registers; a 32-bit build gets the same arithmetic on register
// pairs.
#include "engine/digest.h"
#include <string.h>

// A row in byte order: byte 0 in the low bits, as x86 loads it.
static inline uint64_t load_row(const uint8_t* p)
{
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

// Entry of table K indexed by byte K of `row`.
template <int K>
static inline uint64_t entry(uint64_t row)
{
    return load_row(DigestTables[K][(uint8_t)(row >> (8 * K))]);
}

// Output row I of the round function over rows `a`, before the round key is
// added: entry of Tk indexed by byte k of row (I - k) mod 8.
template <int I>
static inline uint64_t round_row(const uint64_t* a)
{
    return entry<0>(a[I & 7]) ^ entry<1>(a[(I + 7) & 7]) ^ entry<2>(a[(I + 6) & 7]) ^
           entry<3>(a[(I + 5) & 7]) ^ entry<4>(a[(I + 4) & 7]) ^ entry<5>(a[(I + 3) & 7]) ^
           entry<6>(a[(I + 2) & 7]) ^ entry<7>(a[(I + 1) & 7]);
}

// All eight rows of the round function from the old values `a` into `n`,
// before any key or constant is added.
static inline __attribute__((always_inline)) void round_rows(const uint64_t* a, uint64_t* n)
{
    n[0] = round_row<0>(a);
    n[1] = round_row<1>(a);
    n[2] = round_row<2>(a);
    n[3] = round_row<3>(a);
    n[4] = round_row<4>(a);
    n[5] = round_row<5>(a);
    n[6] = round_row<6>(a);
    n[7] = round_row<7>(a);
}

void whirlpool_compress_rows64(uint8_t state[64], const uint8_t block[64])
{
    uint64_t k[8], s[8], hm[8], n[8];
    for (int i = 0; i < 8; ++i) {
        k[i] = load_row(state + 8 * i);
        // H xor M: the first cipher state and the feed-forward term.
        hm[i] = k[i] ^ load_row(block + 8 * i);
        s[i] = hm[i];
    }
    for (int r = 0; r < 10; ++r) {
        round_rows(k, n);
        k[0] = n[0] ^ load_row(RoundConstants[r]);
        for (int i = 1; i < 8; ++i)
            k[i] = n[i];
        round_rows(s, n);
        for (int i = 0; i < 8; ++i)
            s[i] = n[i] ^ k[i];
    }
    // Miyaguchi-Preneel feed-forward: H xor W_H(M) xor M.
    for (int i = 0; i < 8; ++i) {
        uint64_t out = s[i] ^ hm[i];
        memcpy(state + 8 * i, &out, 8);
    }
}

void transform_rows64()
{
    whirlpool_compress_rows64(state_ptr, block_ptr);
}
