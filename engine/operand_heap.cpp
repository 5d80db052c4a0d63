#include "engine/operand_heap.h"
#include <malloc.h>
#include <string.h>

void* operand_heap_alloc(size_t bytes)
{
    void* block = _aligned_malloc(bytes ? bytes : 1, kOperandAlign);
    if (block)
        memset(block, 0, bytes);
    return block;
}

void operand_heap_free(void* block)
{
    _aligned_free(block);
}
