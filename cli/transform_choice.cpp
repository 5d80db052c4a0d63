// The engine's timed choice, recorded for the report.
#include "cli/transform_choice.h"
#include "cli/cli_state.h"

TransformId choose_faster_transform()
{
    TransformId id = choose_fastest_transform(g_cli.transform_ticks);
    BlockTransform = kTransforms[id].window_form;
    g_cli.transform_name = kTransforms[id].name;
    return id;
}
