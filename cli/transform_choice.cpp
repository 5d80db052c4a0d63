// The engine's timed choice, recorded for the report.
#include "cli/transform_choice.h"
#include "cli/cli_state.h"

TransformId choose_faster_transform()
{
    int64_t ticks[TransformCount];
    TransformId id = choose_fastest_transform(ticks);
    BlockTransform = kTransforms[id].window_form;
    g_cli.transform_name = kTransforms[id].name;
    g_cli.baseline_ticks = ticks[TransformBaseline];
    g_cli.sse41_ticks = ticks[TransformSse41];
    return id;
}
