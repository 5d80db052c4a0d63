// kestrin-cli takes whichever of the two block transforms runs faster here:
// both give the same digests, and which one wins depends on the processor
// more than its flags tell.
#pragma once

// Bytes compressed in one timed round.
constexpr int kTimedBlockBytes = 2048 * 64;

// Times both transforms for a moment (when the processor has SSE4.1) and
// sets BlockTransform to the faster; g_cli.transform_name says which.
// build_digest_tables must have run.
void choose_faster_transform();
