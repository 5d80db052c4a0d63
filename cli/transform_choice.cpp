// Timing the two block transforms at start-up.
#include "cli/transform_choice.h"
#include "cli/cli_state.h"
#include "engine/digest.h"
#include <string.h>

// 2,048 blocks (128 KiB) per round, best of five rounds each: a few
// milliseconds in all, and the best round is the one least disturbed.
constexpr int kBlocksPerRound = 2048;
constexpr int kRounds = 5;

static int64_t time_transform(BlockTransformFn transform)
{
    alignas(16) static uint8_t state[64];
    alignas(16) static uint8_t block[64];
    memset(block, 0x5A, sizeof block);
    memset(state, 0, sizeof state);
    BlockTransform = transform;
    state_ptr = state;
    block_ptr = block;
    int64_t best = INT64_MAX;
    for (int round = 0; round < kRounds; ++round) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < kBlocksPerRound; ++i)
            BlockTransform();
        QueryPerformanceCounter(&t1);
        if (t1.QuadPart - t0.QuadPart < best)
            best = t1.QuadPart - t0.QuadPart;
    }
    return best;
}

void choose_faster_transform()
{
    if (!cpu_has_sse41()) {
        BlockTransform = transform_baseline;
        g_cli.transform_name = "baseline";
        return;
    }
    int64_t baseline = time_transform(transform_baseline);
    int64_t sse41 = time_transform(transform_sse41);
    g_cli.baseline_ticks = baseline;
    g_cli.sse41_ticks = sse41;
    bool sse41_wins = sse41 < baseline;
    BlockTransform = sse41_wins ? transform_sse41 : transform_baseline;
    g_cli.transform_name = sse41_wins ? "sse41" : "baseline";
}
