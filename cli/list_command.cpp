// list: which files carry a digest; nothing is opened or hashed.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/targets.h"

static bool list_file(const wchar_t* path)
{
    if (begin_file(path, StatusNoDigest))
        add_finding(stream_exists(g_stream_path) ? StatusDigest : StatusNoDigest, path);
    return true;
}

void run_list()
{
    visit_targets(list_file);
}
