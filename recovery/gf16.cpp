// Log tables of GF(2^16) and the input slices' constants.
#include "recovery/gf16.h"

static uint16_t g_log[65536];
static uint16_t g_exp[2 * 65535];   // doubled, so that a sum of two logs needs no reduction
static uint16_t g_constant_log[kMaxInputSlices];

void gf_build_tables()
{
    uint32_t x = 1;
    for (uint32_t i = 0; i < kGfOrder; ++i) {
        g_exp[i] = (uint16_t)x;
        g_exp[i + kGfOrder] = (uint16_t)x;
        g_log[x] = (uint16_t)i;
        x <<= 1;
        if (x & 0x10000)
            x ^= kGfPolynomial;
    }
    g_log[0] = 0;   // never used: zero has no logarithm
    uint32_t n = 0;
    for (uint32_t i = 0; i < kMaxInputSlices; ++i) {
        do
            ++n;
        while (n % 3 == 0 || n % 5 == 0 || n % 17 == 0 || n % 257 == 0);
        g_constant_log[i] = (uint16_t)n;
    }
}

uint16_t gf_mul(uint16_t a, uint16_t b)
{
    if (a == 0 || b == 0)
        return 0;
    return g_exp[(uint32_t)g_log[a] + g_log[b]];
}

uint16_t gf_pow(uint16_t a, uint32_t e)
{
    if (e == 0)
        return 1;
    if (a == 0)
        return 0;
    return g_exp[(uint32_t)(((uint64_t)g_log[a] * e) % kGfOrder)];
}

uint16_t gf_inverse(uint16_t a)
{
    return g_exp[(kGfOrder - g_log[a]) % kGfOrder];
}

uint16_t gf_exp2(uint32_t n)
{
    return g_exp[n % kGfOrder];
}

uint16_t input_constant_log(uint32_t i)
{
    return g_constant_log[i];
}

uint16_t input_factor(uint32_t i, uint32_t exponent)
{
    return g_exp[(uint32_t)(((uint64_t)g_constant_log[i] * exponent) % kGfOrder)];
}
