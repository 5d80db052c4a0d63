// kestrin-cli takes whichever block transform runs fastest here: all give the
// same digests, and which one wins depends on the processor more than its
// flags tell. The timing itself is the engine's.
#pragma once
#include "engine/digest_context.h"

// Bytes compressed in one timed round.
constexpr int kTimedBlockBytes = kTransformTimingBytes;

// Times the transforms for a moment, sets BlockTransform to the fastest and
// returns it; g_cli.transform_name says which, g_cli.transform_ticks what
// the timing saw. build_digest_tables must have run.
TransformId choose_faster_transform();
