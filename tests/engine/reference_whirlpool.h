// A deliberately plain Whirlpool written from the algorithm's definition (the
// mini-boxes, the field, gamma, pi, theta and sigma on an 8 x 8 byte matrix),
// sharing nothing with the engine: the truth for digests the published vectors
// and OpenSSL cannot give, such as a chosen bit length.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The S-box built from E, E^-1 and R.
const uint8_t* ref_sbox();

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x^2 + 1.
uint8_t ref_gf_mul(uint8_t a, uint8_t b);

// One compression: H <- W_H(M) xor H xor M.
void ref_compress(uint8_t h[64], const uint8_t m[64]);

// Digest of `len` bytes padded as the standard pads them, except that the
// length field holds `bit_length` (the standard's own: len * 8).
void ref_whirlpool(const uint8_t* data, size_t len, uint64_t bit_length, uint8_t out[64]);
void ref_whirlpool(const uint8_t* data, size_t len, uint8_t out[64]);
