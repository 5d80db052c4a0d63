// Gauss-Jordan elimination, one recovery slice (row) at a time.
#include "recovery/solver.h"
#include "recovery/gf16.h"
#include <windows.h>
#include <string.h>

// row ^= coef * other, over `count` entries.
static void row_mul_add(uint16_t* row, const uint16_t* other, uint16_t coef, int count)
{
    if (coef == 0)
        return;
    for (int i = 0; i < count; ++i)
        if (other[i])
            row[i] ^= gf_mul(coef, other[i]);
}

SolveResult solve_missing(const uint32_t* missing_slices, int m, const uint32_t* exponents, int n, Solution* out)
{
    memset(out, 0, sizeof *out);
    out->missing = m;
    if (m == 0)
        return Solved;
    HANDLE heap = GetProcessHeap();
    // Each taken row: m coefficients over the missing slices, then m over the
    // recovery slices taken (which mix of them it is).
    const int width = 2 * m;
    uint16_t* rows = (uint16_t*)HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(uint16_t) * (size_t)width * (size_t)(m + 1));
    int* pivot = (int*)HeapAlloc(heap, 0, sizeof(int) * (size_t)m);
    out->exponents = (uint32_t*)HeapAlloc(heap, 0, sizeof(uint32_t) * (size_t)m);
    out->inverse = (uint16_t*)HeapAlloc(heap, 0, sizeof(uint16_t) * (size_t)m * (size_t)m);
    if (!rows || !pivot || !out->exponents || !out->inverse) {
        if (rows)
            HeapFree(heap, 0, rows);
        if (pivot)
            HeapFree(heap, 0, pivot);
        solution_free(out);
        return SolveNoMemory;
    }
    int taken = 0;
    uint16_t* next = rows + (size_t)width * (size_t)m;   // the candidate row
    for (int c = 0; c < n && taken < m; ++c) {
        memset(next, 0, sizeof(uint16_t) * (size_t)width);
        for (int k = 0; k < m; ++k)
            next[k] = input_factor(missing_slices[k], exponents[c]);
        next[m + taken] = 1;
        // Reduced against every row taken so far...
        for (int r = 0; r < taken; ++r)
            row_mul_add(next, rows + (size_t)width * r, next[pivot[r]], width);
        // ...what is left has a pivot, or this slice adds nothing.
        int p = 0;
        while (p < m && next[p] == 0)
            ++p;
        if (p == m)
            continue;
        uint16_t inv = gf_inverse(next[p]);
        for (int i = 0; i < width; ++i)
            next[i] = gf_mul(next[i], inv);
        for (int r = 0; r < taken; ++r) {
            uint16_t* row = rows + (size_t)width * r;
            row_mul_add(row, next, row[p], width);
        }
        memcpy(rows + (size_t)width * taken, next, sizeof(uint16_t) * (size_t)width);
        pivot[taken] = p;
        out->exponents[taken] = exponents[c];
        ++taken;
    }
    SolveResult result = Solved;
    if (taken < m) {
        out->short_by = m - taken;
        result = Unsolvable;
    } else {
        // Every row is now one missing slice alone: its right half says how
        // it is made of the recovery slices taken.
        for (int r = 0; r < m; ++r)
            memcpy(out->inverse + (size_t)m * pivot[r], rows + (size_t)width * r + m, sizeof(uint16_t) * (size_t)m);
    }
    HeapFree(heap, 0, rows);
    HeapFree(heap, 0, pivot);
    if (result != Solved) {
        int short_by = out->short_by;
        solution_free(out);
        out->missing = m;
        out->short_by = short_by;
    }
    return result;
}

void solution_free(Solution* s)
{
    HANDLE heap = GetProcessHeap();
    if (s->exponents)
        HeapFree(heap, 0, s->exponents);
    if (s->inverse)
        HeapFree(heap, 0, s->inverse);
    s->exponents = nullptr;
    s->inverse = nullptr;
}
