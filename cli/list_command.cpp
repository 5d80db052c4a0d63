// list: which files carry a digest; nothing is opened or hashed.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/targets.h"

static void list_file(FileWork* work, const wchar_t* path)
{
    if (begin_file(work, path, StatusNoDigest))
        file_finding(work, stream_exists(work->stream_path) ? StatusDigest : StatusNoDigest);
}

void run_list()
{
    visit_targets(list_file);
}
