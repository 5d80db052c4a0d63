// MD5 (RFC 1321), Kestrin's own: PAR2 names files, slices and packets by it.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct Md5 {
    uint32_t state[4];
    uint64_t length;      // bytes taken so far
    uint8_t pending[64];  // the start of an unfinished block
};

void md5_begin(Md5* md5);
void md5_add(Md5* md5, const void* data, size_t bytes);
// The 16-byte digest; the context must be begun again before reuse.
void md5_end(Md5* md5, uint8_t digest[16]);
// One call for one buffer.
void md5_of(const void* data, size_t bytes, uint8_t digest[16]);
