// Arithmetic in GF(2^16) with the generator polynomial x^16 + x^12 + x^3 + x
// + 1 (0x1100B), the field PAR2 recovery data is computed in: addition is
// exclusive or, multiplication goes through logarithms to the base 2.
#pragma once
#include <stdint.h>

constexpr uint32_t kGfPolynomial = 0x1100B;
constexpr uint32_t kGfOrder = 65535;   // the multiplicative group's order

// Fills the log and antilog tables; once, before anything else here is used.
void gf_build_tables();

uint16_t gf_mul(uint16_t a, uint16_t b);
// a^e; 0^0 is 1.
uint16_t gf_pow(uint16_t a, uint32_t e);
// The inverse of a non-zero element.
uint16_t gf_inverse(uint16_t a);
// 2^n.
uint16_t gf_exp2(uint32_t n);

// The largest number of input slices a set may have: one constant each.
constexpr uint32_t kMaxInputSlices = 32768;

// The logarithm of input slice i's constant (i from 0, across the set's
// files in their Main-packet order): the i-th number from 1 up that shares
// no factor with 65535, so that every constant has the full order. Slice i's
// factor in the recovery slice of exponent e is then 2^(log * e mod 65535).
// Valid for i < kMaxInputSlices.
uint16_t input_constant_log(uint32_t i);

// The factor of input slice i in the recovery slice of exponent e.
uint16_t input_factor(uint32_t i, uint32_t exponent);
