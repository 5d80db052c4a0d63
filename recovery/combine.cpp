// Tiles, and the outputs shared among threads.
#include "recovery/combine.h"
#include <windows.h>

// 16 inputs x 8 KiB: 128 KiB of inputs per tile, within a second-level cache.
constexpr size_t kTileBytes = 8192;
constexpr int kMaxCombineWorkers = 8;

struct CombineWork {
    uint8_t* const* outputs;
    int first, end;   // the outputs this thread adds to
    const uint8_t* const* inputs;
    int count;
    const uint16_t* factors;
    size_t bytes;
};

static void combine_part(const CombineWork* w)
{
    const uint8_t* tile_inputs[kRegionMaxSources];
    for (size_t at = 0; at < w->bytes; at += kTileBytes) {
        size_t len = w->bytes - at < kTileBytes ? w->bytes - at : kTileBytes;
        for (int k = 0; k < w->count; ++k)
            tile_inputs[k] = w->inputs[k] + at;
        for (int r = w->first; r < w->end; ++r)
            g_region->mul_add(w->outputs[r] + at, tile_inputs, w->factors + (size_t)r * w->count, w->count, len);
    }
}

// Each worker waits for its own start event, works on its part and says so.
struct CombineWorker {
    HANDLE thread;
    HANDLE start;
    HANDLE done;
    CombineWork work;
    bool quit;
};
static CombineWorker g_workers[kMaxCombineWorkers];
static int g_worker_count;

static DWORD WINAPI combine_thread(void* arg)
{
    CombineWorker* self = (CombineWorker*)arg;
    for (;;) {
        WaitForSingleObject(self->start, INFINITE);
        if (self->quit)
            return 0;
        combine_part(&self->work);
        SetEvent(self->done);
    }
}

void combine_start_workers(int extra)
{
    combine_stop_workers();
    for (int i = 0; i < extra && i < kMaxCombineWorkers; ++i) {
        CombineWorker* w = &g_workers[g_worker_count];
        w->quit = false;
        w->start = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        w->done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        w->thread = w->start && w->done ? CreateThread(nullptr, 0, combine_thread, w, 0, nullptr) : nullptr;
        if (!w->thread) {
            if (w->start)
                CloseHandle(w->start);
            if (w->done)
                CloseHandle(w->done);
            break;
        }
        ++g_worker_count;
    }
}

void combine_stop_workers()
{
    for (int i = 0; i < g_worker_count; ++i) {
        g_workers[i].quit = true;
        SetEvent(g_workers[i].start);
        WaitForSingleObject(g_workers[i].thread, INFINITE);
        CloseHandle(g_workers[i].thread);
        CloseHandle(g_workers[i].start);
        CloseHandle(g_workers[i].done);
    }
    g_worker_count = 0;
}

void combine_regions(uint8_t* const* outputs, int output_count, const uint8_t* const* inputs, int count,
                     const uint16_t* factors, size_t bytes)
{
    int parts = g_worker_count + 1;
    if (parts > output_count)
        parts = output_count;
    if (parts <= 1) {
        CombineWork w = {outputs, 0, output_count, inputs, count, factors, bytes};
        combine_part(&w);
        return;
    }
    // Outputs in equal shares; the calling thread takes the last.
    for (int p = 0; p < parts; ++p) {
        CombineWork w = {outputs, output_count * p / parts, output_count * (p + 1) / parts, inputs, count, factors,
                         bytes};
        if (p == parts - 1) {
            combine_part(&w);
        } else {
            g_workers[p].work = w;
            SetEvent(g_workers[p].start);
        }
    }
    for (int p = 0; p < parts - 1; ++p)
        WaitForSingleObject(g_workers[p].done, INFINITE);
}
