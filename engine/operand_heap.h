// Heap blocks that may hold a block transform's operands (a digest, a
// chaining state, a block) or anything declared alignas(16) around them.
//
// The SSE4.1 transform moves its operands with aligned loads and stores, and
// the compiler copies alignas(16) members with aligned moves too. On 32-bit
// Windows the process heap, and malloc with it, align to 8 bytes only (about
// half of all blocks are not 16-aligned), so such blocks come from here, never
// from HeapAlloc or malloc directly. Plain `new` of an over-aligned type is
// aligned as well: the 32-bit build tells the compiler that the heap gives 8
// bytes (-faligned-new=8), so it calls the aligned operator new.
#pragma once
#include <stddef.h>

constexpr size_t kOperandAlign = 16;

// Zeroed and kOperandAlign-aligned; nullptr when out of memory.
void* operand_heap_alloc(size_t bytes);
// nullptr is ignored.
void operand_heap_free(void* block);
