#include "reference_whirlpool.h"
#include <string.h>

uint8_t ref_gf_mul(uint8_t a, uint8_t b)
{
    unsigned product = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (b & (1u << bit)) product ^= (unsigned)a << bit;
    for (int bit = 15; bit >= 8; --bit)
        if (product & (1u << bit)) product ^= 0x11du << (bit - 8);
    return (uint8_t)product;
}

const uint8_t* ref_sbox()
{
    static uint8_t box[256];
    static bool built;
    if (!built) {
        static const uint8_t E[16] = {0x1, 0xB, 0x9, 0xC, 0xD, 0x6, 0xF, 0x3, 0xE, 0x8, 0x7, 0x4, 0xA, 0x2, 0x5, 0x0};
        static const uint8_t R[16] = {0x7, 0xC, 0xB, 0xD, 0xE, 0x4, 0x9, 0xF, 0x6, 0x3, 0x8, 0xA, 0x2, 0x5, 0x1, 0x0};
        uint8_t E_inv[16];
        for (int i = 0; i < 16; ++i) E_inv[E[i]] = (uint8_t)i;
        for (int u = 0; u < 256; ++u) {
            uint8_t a = E[u >> 4], b = E_inv[u & 15];
            uint8_t r = R[a ^ b];
            box[u] = (uint8_t)((E[a ^ r] << 4) | E_inv[b ^ r]);
        }
        built = true;
    }
    return box;
}

typedef uint8_t Matrix[8][8];

// rho[k] = sigma[k] o theta o pi o gamma.
static void rho(Matrix a, const Matrix key)
{
    static const uint8_t circ[8] = {1, 1, 4, 1, 8, 5, 2, 9};
    const uint8_t* S = ref_sbox();
    Matrix g, p;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) g[i][j] = S[a[i][j]];
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) p[(i + j) & 7][j] = g[i][j];   // column j moves down j rows
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            uint8_t v = 0;
            for (int k = 0; k < 8; ++k) v ^= ref_gf_mul(p[i][k], circ[(j - k) & 7]);
            a[i][j] = v ^ key[i][j];
        }
}

void ref_compress(uint8_t h[64], const uint8_t m[64])
{
    Matrix K, state, c;
    memcpy(K, h, 64);
    for (int i = 0; i < 64; ++i) (&state[0][0])[i] = h[i] ^ m[i];
    for (int r = 1; r <= 10; ++r) {
        memset(c, 0, sizeof c);
        for (int j = 0; j < 8; ++j) c[0][j] = ref_sbox()[8 * (r - 1) + j];
        rho(K, c);
        rho(state, K);
    }
    for (int i = 0; i < 64; ++i) h[i] ^= (&state[0][0])[i] ^ m[i];
}

void ref_whirlpool(const uint8_t* data, size_t len, uint64_t bit_length, uint8_t out[64])
{
    uint8_t h[64] = {0};
    size_t whole = len - len % 64;
    for (size_t off = 0; off < whole; off += 64) ref_compress(h, data + off);

    // Tail, the 1 bit, zeros to an odd multiple of 256 bits, 256-bit length.
    uint8_t tail[128] = {0};
    size_t rest = len - whole;
    memcpy(tail, data + whole, rest);
    tail[rest] = 0x80;
    size_t total = rest < 32 ? 64 : 128;
    for (int i = 0; i < 8; ++i) tail[total - 1 - i] = (uint8_t)(bit_length >> (8 * i));
    for (size_t off = 0; off < total; off += 64) ref_compress(h, tail + off);
    memcpy(out, h, 64);
}

void ref_whirlpool(const uint8_t* data, size_t len, uint8_t out[64])
{
    ref_whirlpool(data, len, (uint64_t)len * 8, out);
}
