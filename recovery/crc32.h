// CRC-32 as in Ethernet and ZIP (reflected polynomial 0xEDB88320, all ones
// before and after), Kestrin's own: PAR2 keeps one per input slice.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Fills the tables; once, before the first crc32_add (recovery_start does).
void crc32_build_tables();

// Continues `crc` (0 for a fresh start) over the bytes.
uint32_t crc32_add(uint32_t crc, const void* data, size_t bytes);
