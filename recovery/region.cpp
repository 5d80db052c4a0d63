// The table form of region multiply-and-add, and the choice of form.
#include "recovery/region.h"
#include "recovery/crc32.h"
#include "recovery/gf16.h"
#include <cpuid.h>
#include <string.h>

void factor_basis(uint16_t factor, uint16_t basis[16])
{
    uint32_t p = factor;
    for (int j = 0; j < 16; ++j) {
        basis[j] = (uint16_t)p;
        p <<= 1;
        if (p & 0x10000)
            p ^= kGfPolynomial;
    }
}

static void tables_identity(uint8_t*, size_t) {}

// Per factor two tables of 256 products: of the low byte, and of the high
// byte (as the word's upper half).
static void tables_mul_add(uint8_t* dst, const uint8_t* const* srcs, const uint16_t* factors, int count, size_t bytes)
{
    uint16_t low[256], high[256];
    for (int k = 0; k < count; ++k) {
        if (factors[k] == 0)
            continue;
        uint16_t basis[16];
        factor_basis(factors[k], basis);
        low[0] = high[0] = 0;
        for (int n = 1; n < 256; ++n) {
            int bit = __builtin_ctz((unsigned)n);
            low[n] = (uint16_t)(low[n & (n - 1)] ^ basis[bit]);
            high[n] = (uint16_t)(high[n & (n - 1)] ^ basis[bit + 8]);
        }
        const uint8_t* s = srcs[k];
        for (size_t i = 0; i < bytes; i += 2) {
            uint16_t w = (uint16_t)(low[s[i]] ^ high[s[i + 1]]);
            dst[i] ^= (uint8_t)w;
            dst[i + 1] ^= (uint8_t)(w >> 8);
        }
    }
}

const RegionOps kRegionOps[KernelCount] = {
    {"tables", tables_identity, tables_identity, tables_mul_add},
    {"ssse3", shuffle_to_work, shuffle_from_work, shuffle_mul_add},
};
const RegionOps* g_region = &kRegionOps[KernelTables];

bool region_kernel_available(RegionKernel kernel)
{
    if (kernel != KernelShuffle)
        return true;
    unsigned a, b, c, d;
    // SSSE3: CPUID leaf 1, ECX bit 9.
    return __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 9)) != 0;
}

void recovery_start(int kernel)
{
    gf_build_tables();
    crc32_build_tables();
    if (kernel >= 0 && kernel < KernelCount && region_kernel_available((RegionKernel)kernel))
        g_region = &kRegionOps[kernel];
    else
        g_region = &kRegionOps[region_kernel_available(KernelShuffle) ? KernelShuffle : KernelTables];
}
