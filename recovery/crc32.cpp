// CRC-32 eight bytes at a time through eight tables.
#include "recovery/crc32.h"

static uint32_t g_table[8][256];
void crc32_build_tables()
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        g_table[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int t = 1; t < 8; ++t)
            g_table[t][i] = (g_table[t - 1][i] >> 8) ^ g_table[0][g_table[t - 1][i] & 0xFF];
}

uint32_t crc32_add(uint32_t crc, const void* data, size_t bytes)
{
    const uint8_t* p = (const uint8_t*)data;
    uint32_t c = ~crc;
    for (; bytes >= 8; p += 8, bytes -= 8) {
        uint32_t lo = c ^ ((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
        uint32_t hi = (uint32_t)p[4] | (uint32_t)p[5] << 8 | (uint32_t)p[6] << 16 | (uint32_t)p[7] << 24;
        c = g_table[7][lo & 0xFF] ^ g_table[6][(lo >> 8) & 0xFF] ^ g_table[5][(lo >> 16) & 0xFF] ^
            g_table[4][lo >> 24] ^ g_table[3][hi & 0xFF] ^ g_table[2][(hi >> 8) & 0xFF] ^
            g_table[1][(hi >> 16) & 0xFF] ^ g_table[0][hi >> 24];
    }
    for (; bytes; ++p, --bytes)
        c = g_table[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return ~c;
}
