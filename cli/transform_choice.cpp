// Timing the two block transforms at start-up.
#include "cli/transform_choice.h"
#include "cli/cli_state.h"
#include "engine/digest.h"
#include <string.h>

// 2,048 blocks (128 KiB) per round; the rounds of the two alternate, after
// one round each to warm up, and the best round of each counts: a few
// milliseconds in all, and the best round is the one least disturbed.
constexpr int kBlocksPerRound = kTimedBlockBytes / 64;
constexpr int kRounds = 7;

// One round of `transform`, in performance-counter ticks.
static int64_t time_round(BlockTransformFn transform)
{
    alignas(16) static uint8_t state[64];
    alignas(16) static uint8_t block[64];
    memset(block, 0x5A, sizeof block);
    memset(state, 0, sizeof state);
    BlockTransform = transform;
    state_ptr = state;
    block_ptr = block;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < kBlocksPerRound; ++i)
        BlockTransform();
    QueryPerformanceCounter(&t1);
    return t1.QuadPart - t0.QuadPart;
}

void choose_faster_transform()
{
    if (!cpu_has_sse41()) {
        BlockTransform = transform_baseline;
        g_cli.transform_name = "baseline";
        return;
    }
    time_round(transform_baseline);
    time_round(transform_sse41);
    int64_t baseline = INT64_MAX;
    int64_t sse41 = INT64_MAX;
    for (int round = 0; round < kRounds; ++round) {
        int64_t b = time_round(transform_baseline);
        int64_t s = time_round(transform_sse41);
        baseline = b < baseline ? b : baseline;
        sse41 = s < sse41 ? s : sse41;
    }
    g_cli.baseline_ticks = baseline;
    g_cli.sse41_ticks = sse41;
    bool sse41_wins = sse41 < baseline;
    BlockTransform = sse41_wins ? transform_sse41 : transform_baseline;
    g_cli.transform_name = sse41_wins ? "sse41" : "baseline";
}
