// Which transforms this processor can run, and the timed choice among them.
#include "engine/digest_context.h"
#include <string.h>

const TransformInfo kTransforms[TransformCount] = {
    {"baseline", whirlpool_compress_baseline, transform_baseline},
    {"sse41", whirlpool_compress_sse41, transform_sse41},
    {"rows64", whirlpool_compress_rows64, transform_rows64},
    {"mmx", whirlpool_compress_mmx, transform_mmx},
};

bool transform_available(TransformId id)
{
    return id != TransformSse41 || cpu_has_sse41();
}

// One round of `compress`, in performance-counter ticks.
static int64_t time_round(CompressFn compress)
{
    alignas(16) static uint8_t state[64];
    alignas(16) static uint8_t block[64];
    memset(block, 0x5A, sizeof block);
    memset(state, 0, sizeof state);
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < kTransformTimingBytes / 64; ++i)
        compress(state, block);
    QueryPerformanceCounter(&t1);
    return t1.QuadPart - t0.QuadPart;
}

// The rounds of all transforms alternate, after one round each to warm up;
// the best round of each counts, as the one least disturbed by other work.
TransformId choose_fastest_transform(int64_t ticks[TransformCount])
{
    constexpr int kRounds = 7;
    for (int id = 0; id < TransformCount; ++id) {
        ticks[id] = transform_available((TransformId)id) ? INT64_MAX : 0;
        if (ticks[id])
            time_round(kTransforms[id].compress);
    }
    for (int round = 0; round < kRounds; ++round)
        for (int id = 0; id < TransformCount; ++id)
            if (ticks[id]) {
                int64_t t = time_round(kTransforms[id].compress);
                ticks[id] = t < ticks[id] ? t : ticks[id];
            }
    TransformId best = TransformBaseline;
    for (int id = 0; id < TransformCount; ++id)
        if (ticks[id] && ticks[id] < ticks[best])
            best = (TransformId)id;
    return best;
}
