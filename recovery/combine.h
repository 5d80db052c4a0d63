// The one loop both making and using recovery data run: every output region
// gets the sum of the inputs, each times its own factor. Inputs and outputs
// are regions in the work layout (recovery/region.h), all `bytes` long. The
// work goes in tiles small enough that the inputs' tile stays in the cache
// while every output takes its share, and the outputs are shared among the
// layer's worker threads.
#pragma once
#include "recovery/region.h"

// outputs[r] ^= sum over k of factors[r * count + k] * inputs[k], for r <
// output_count, k < count (at most kRegionMaxSources).
void combine_regions(uint8_t* const* outputs, int output_count, const uint8_t* const* inputs, int count,
                     const uint16_t* factors, size_t bytes);

// Worker threads for combine_regions besides the calling one (0: none, the
// default). Starting them may fail: the work then stays on the caller.
void combine_start_workers(int extra);
void combine_stop_workers();
