// Positional reads and writes on Win32 handles, whole or not at all.
#pragma once
#include <windows.h>
#include <stdint.h>

// Reads up to `bytes` at `offset`; the count read (less only at the end of
// the data), or -1 when a read failed.
int64_t read_at(HANDLE file, uint64_t offset, void* buffer, uint32_t bytes);
// Writes all `bytes` at `offset`; false when any write failed or fell short.
bool write_at(HANDLE file, uint64_t offset, const void* buffer, uint32_t bytes);
// The size of an open file, or -1.
int64_t size_of_handle(HANDLE file);
