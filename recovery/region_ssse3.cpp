// The shuffle form: each factor as eight 16-entry tables, the products of
// the four nibbles of a word split into their low and high bytes, looked up
// sixteen at a time with pshufb. Built with -mssse3; called only where the
// processor has it.
#include "recovery/region.h"
#include <tmmintrin.h>

void shuffle_to_work(uint8_t* region, size_t bytes)
{
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    for (size_t i = 0; i < bytes; i += 32) {
        __m128i a = _mm_load_si128((const __m128i*)(region + i));
        __m128i b = _mm_load_si128((const __m128i*)(region + i + 16));
        __m128i lo = _mm_packus_epi16(_mm_and_si128(a, low_bytes), _mm_and_si128(b, low_bytes));
        __m128i hi = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
        _mm_store_si128((__m128i*)(region + i), lo);
        _mm_store_si128((__m128i*)(region + i + 16), hi);
    }
}

void shuffle_from_work(uint8_t* region, size_t bytes)
{
    for (size_t i = 0; i < bytes; i += 32) {
        __m128i lo = _mm_load_si128((const __m128i*)(region + i));
        __m128i hi = _mm_load_si128((const __m128i*)(region + i + 16));
        _mm_store_si128((__m128i*)(region + i), _mm_unpacklo_epi8(lo, hi));
        _mm_store_si128((__m128i*)(region + i + 16), _mm_unpackhi_epi8(lo, hi));
    }
}

// The eight tables of one factor: [nibble 0..3][low bytes, high bytes].
struct SplitTables {
    __m128i t[4][2];
};

static void make_tables(uint16_t factor, SplitTables* out)
{
    uint16_t basis[16];
    factor_basis(factor, basis);
    alignas(16) uint8_t bytes[4][2][16];
    for (int k = 0; k < 4; ++k) {
        uint16_t v[16];
        v[0] = 0;
        for (int n = 1; n < 16; ++n)
            v[n] = (uint16_t)(v[n & (n - 1)] ^ basis[4 * k + __builtin_ctz((unsigned)n)]);
        for (int n = 0; n < 16; ++n) {
            bytes[k][0][n] = (uint8_t)v[n];
            bytes[k][1][n] = (uint8_t)(v[n] >> 8);
        }
    }
    for (int k = 0; k < 4; ++k)
        for (int h = 0; h < 2; ++h)
            out->t[k][h] = _mm_load_si128((const __m128i*)bytes[k][h]);
}

// The 32-bit stack is only 4-byte aligned on entry: realigned for the tables.
__attribute__((force_align_arg_pointer)) void shuffle_mul_add(uint8_t* dst, const uint8_t* const* srcs,
                                                              const uint16_t* factors, int count, size_t bytes)
{
    SplitTables tables[kRegionMaxSources];
    const uint8_t* src[kRegionMaxSources];
    int used = 0;
    for (int k = 0; k < count && k < kRegionMaxSources; ++k) {
        if (factors[k] == 0)
            continue;
        make_tables(factors[k], &tables[used]);
        src[used++] = srcs[k];
    }
    if (used == 0)
        return;
    const __m128i nibble = _mm_set1_epi8(0x0F);
    for (size_t i = 0; i < bytes; i += 32) {
        __m128i acc_lo = _mm_load_si128((const __m128i*)(dst + i));
        __m128i acc_hi = _mm_load_si128((const __m128i*)(dst + i + 16));
        for (int k = 0; k < used; ++k) {
            const SplitTables* t = &tables[k];
            __m128i lo = _mm_load_si128((const __m128i*)(src[k] + i));
            __m128i hi = _mm_load_si128((const __m128i*)(src[k] + i + 16));
            __m128i n0 = _mm_and_si128(lo, nibble);
            __m128i n1 = _mm_and_si128(_mm_srli_epi16(lo, 4), nibble);
            __m128i n2 = _mm_and_si128(hi, nibble);
            __m128i n3 = _mm_and_si128(_mm_srli_epi16(hi, 4), nibble);
            acc_lo = _mm_xor_si128(acc_lo, _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(t->t[0][0], n0),
                                                                        _mm_shuffle_epi8(t->t[1][0], n1)),
                                                          _mm_xor_si128(_mm_shuffle_epi8(t->t[2][0], n2),
                                                                        _mm_shuffle_epi8(t->t[3][0], n3))));
            acc_hi = _mm_xor_si128(acc_hi, _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(t->t[0][1], n0),
                                                                        _mm_shuffle_epi8(t->t[1][1], n1)),
                                                          _mm_xor_si128(_mm_shuffle_epi8(t->t[2][1], n2),
                                                                        _mm_shuffle_epi8(t->t[3][1], n3))));
        }
        _mm_store_si128((__m128i*)(dst + i), acc_lo);
        _mm_store_si128((__m128i*)(dst + i + 16), acc_hi);
    }
}
