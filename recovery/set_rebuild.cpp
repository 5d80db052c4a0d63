// Rebuilding: D_j = recovery slice j less every present slice's share, then
// each missing slice is its row of the inverse applied to the D_j.
#include "recovery/set_rebuild.h"
#include "recovery/combine.h"
#include "recovery/file_io.h"
#include "recovery/gf16.h"
#include "recovery/region.h"
#include <string.h>

struct Rebuild {
    const RebuildInput* in;
    int m;
    size_t chunk;
    uint8_t** d;          // m rows
    uint8_t** out;        // m rows
    uint8_t* batch;       // kRegionMaxSources x chunk
    uint32_t batch_slices[kRegionMaxSources];
    int batch_used;
    uint16_t* factors;    // m x kRegionMaxSources
};

static void add_batch(Rebuild* r)
{
    if (r->batch_used == 0)
        return;
    const uint8_t* ins[kRegionMaxSources];
    for (int k = 0; k < r->batch_used; ++k)
        ins[k] = r->batch + (size_t)k * r->chunk;
    for (int j = 0; j < r->m; ++j)
        for (int k = 0; k < r->batch_used; ++k)
            r->factors[j * r->batch_used + k] = input_factor(r->batch_slices[k], r->in->solution->exponents[j]);
    combine_regions(r->d, r->m, ins, r->batch_used, r->factors, r->chunk);
    r->batch_used = 0;
}

static HANDLE open_read(const wchar_t* path)
{
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

static RebuildResult pass(Rebuild* r, uint64_t offset, size_t len, RebuiltPart part, void* context)
{
    const Par2Set* set = r->in->set;
    const Solution* sol = r->in->solution;
    // The chosen recovery slices' parts.
    for (int j = 0; j < r->m; ++j) {
        const RecoverySlice* rs = nullptr;
        for (uint32_t i = 0; i < set->recovery_count && !rs; ++i)
            if (set->recovery[i].exponent == sol->exponents[j])
                rs = &set->recovery[i];
        if (!rs)
            return RebuildReadFailed;
        HANDLE h = open_read(set->par_files[rs->par_file]);
        bool sound = h != INVALID_HANDLE_VALUE && read_at(h, rs->data_offset + offset, r->d[j], (uint32_t)len) == (int64_t)len;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        if (!sound)
            return RebuildReadFailed;
        memset(r->d[j] + len, 0, r->chunk - len);
        g_region->to_work(r->d[j], r->chunk);
    }
    // Every present slice's share taken out.
    for (uint32_t f = 0; f < set->file_count; ++f) {
        const SetFile* sf = &set->files[f];
        bool any = false;
        for (uint32_t i = 0; i < sf->slice_count && !any; ++i)
            any = r->in->present[sf->first_slice + i] != 0;
        if (!any)
            continue;
        HANDLE h = r->in->data_paths[f] ? open_read(r->in->data_paths[f]) : INVALID_HANDLE_VALUE;
        if (h == INVALID_HANDLE_VALUE)
            return RebuildReadFailed;
        for (uint32_t i = 0; i < sf->slice_count; ++i) {
            if (!r->in->present[sf->first_slice + i])
                continue;
            if (r->in->stop && r->in->stop->load()) {
                CloseHandle(h);
                return RebuildStopped;
            }
            uint8_t* slot = r->batch + (size_t)r->batch_used * r->chunk;
            uint64_t at = (uint64_t)i * set->slice_size + offset;
            uint32_t real = at >= sf->length ? 0 : (uint32_t)(sf->length - at < len ? sf->length - at : len);
            if (real && read_at(h, at, slot, real) != real) {
                CloseHandle(h);
                return RebuildReadFailed;
            }
            memset(slot + real, 0, r->chunk - real);
            if (r->in->done_bytes)
                *r->in->done_bytes += real;
            g_region->to_work(slot, r->chunk);
            r->batch_slices[r->batch_used++] = sf->first_slice + i;
            if (r->batch_used == kRegionMaxSources)
                add_batch(r);
        }
        CloseHandle(h);
    }
    add_batch(r);
    // The missing slices from the D_j, sixteen at a time.
    for (int k = 0; k < r->m; ++k)
        memset(r->out[k], 0, r->chunk);
    for (int j0 = 0; j0 < r->m; j0 += kRegionMaxSources) {
        int count = r->m - j0 < kRegionMaxSources ? r->m - j0 : kRegionMaxSources;
        for (int k = 0; k < r->m; ++k)
            for (int jj = 0; jj < count; ++jj)
                r->factors[k * count + jj] = sol->inverse[(size_t)k * r->m + j0 + jj];
        combine_regions(r->out, r->m, (const uint8_t* const*)(r->d + j0), count, r->factors, r->chunk);
    }
    for (int k = 0; k < r->m; ++k) {
        g_region->from_work(r->out[k], r->chunk);
        if (!part(context, r->in->missing[k], offset, r->out[k], len))
            return RebuildRefused;
    }
    return Rebuilt;
}

RebuildResult rebuild_slices(const RebuildInput* in, RebuiltPart part, void* context)
{
    Rebuild r = {};
    r.in = in;
    r.m = in->solution->missing;
    if (r.m == 0)
        return Rebuilt;
    const uint64_t slice = in->set->slice_size;
    size_t memory = in->memory ? in->memory : kRebuildMemory;
    size_t rows = 2 * (size_t)r.m + kRegionMaxSources;
    uint64_t whole = (slice + kRegionAlign - 1) / kRegionAlign * kRegionAlign;
    uint8_t* area = nullptr;
    for (;;) {
        // Half as much where the address space has no room that large.
        uint64_t fits = memory / rows / kRegionAlign * kRegionAlign;
        if (fits < kRegionAlign)
            fits = kRegionAlign;
        r.chunk = (size_t)(whole < fits ? whole : fits);
        area = (uint8_t*)VirtualAlloc(nullptr, rows * r.chunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (area || r.chunk == kRegionAlign)
            break;
        memory /= 2;
    }
    HANDLE heap = GetProcessHeap();
    r.d = (uint8_t**)HeapAlloc(heap, 0, sizeof(uint8_t*) * 2 * (size_t)r.m);
    int width = r.m > kRegionMaxSources ? r.m : kRegionMaxSources;
    r.factors = (uint16_t*)HeapAlloc(heap, 0, sizeof(uint16_t) * (size_t)width * kRegionMaxSources);
    RebuildResult result = Rebuilt;
    if (!area || !r.d || !r.factors) {
        result = RebuildNoMemory;
    } else {
        r.out = r.d + r.m;
        for (int i = 0; i < 2 * r.m; ++i)
            r.d[i] = area + (size_t)i * r.chunk;
        r.batch = area + (size_t)2 * r.m * r.chunk;
        for (uint64_t offset = 0; offset < slice && result == Rebuilt; offset += r.chunk) {
            size_t len = (size_t)(slice - offset < r.chunk ? slice - offset : r.chunk);
            result = pass(&r, offset, len, part, context);
        }
    }
    if (area)
        VirtualFree(area, 0, MEM_RELEASE);
    if (r.d)
        HeapFree(heap, 0, r.d);
    if (r.factors)
        HeapFree(heap, 0, r.factors);
    return result;
}
