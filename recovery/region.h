// Multiply-and-add over whole regions: dst ^= f1*src1 ^ f2*src2 ^ ... in
// GF(2^16), 16-bit little-endian words, the one operation both making and
// using recovery data is built of. Two forms, chosen once at start-up: byte
// shuffles (SSSE3 pshufb) over split tables where the processor has them,
// else 256-entry tables of products.
//
// The shuffle form works on regions in its own layout (per 32 bytes: the 16
// low bytes of 16 words, then their 16 high bytes), so that nothing is
// reordered in the inner loop: data is put into the layout once after it is
// read (region_to_work) and back once before it is written
// (region_from_work). In the table form both are no-ops.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Every region's length is a multiple of this (callers pad with zeros).
constexpr size_t kRegionAlign = 64;
// The most sources one region_mul_add call takes.
constexpr int kRegionMaxSources = 16;

enum RegionKernel : int { KernelTables = 0, KernelShuffle, KernelCount };

struct RegionOps {
    const char* name;   // "tables", "ssse3"
    void (*to_work)(uint8_t* region, size_t bytes);
    void (*from_work)(uint8_t* region, size_t bytes);
    // dst ^= sum of factors[k] * srcs[k], k < count (1 to kRegionMaxSources).
    void (*mul_add)(uint8_t* dst, const uint8_t* const* srcs, const uint16_t* factors, int count, size_t bytes);
};

extern const RegionOps kRegionOps[KernelCount];
// The form in use; recovery_start sets it.
extern const RegionOps* g_region;

// Whether this processor runs the form.
bool region_kernel_available(RegionKernel kernel);

// The layer's start-up: field and CRC tables, and the fastest form this
// processor runs (or `kernel`, when it is given and available). Once, before
// any recovery work.
void recovery_start(int kernel = -1);

// The shuffle form's routines (region_ssse3.cpp, built for SSSE3).
void shuffle_to_work(uint8_t* region, size_t bytes);
void shuffle_from_work(uint8_t* region, size_t bytes);
void shuffle_mul_add(uint8_t* dst, const uint8_t* const* srcs, const uint16_t* factors, int count, size_t bytes);

// The products f * 2^j for j = 0..15: every table of a factor is made of them.
void factor_basis(uint16_t factor, uint16_t basis[16]);
