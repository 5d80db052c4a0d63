// Targets, the walk over them and the size pass.
#include "cli/targets.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/findings.h"
#include "jobs/walk.h"

wchar_t g_file_path[kLongPathChars];
wchar_t g_stream_path[kStreamPathChars];

bool form_call_paths(const wchar_t* path)
{
    return make_file_path(path, g_file_path) && make_stream_path(path, g_stream_path);
}

bool begin_file(const wchar_t* path, FindingStatus too_long)
{
    ++g_cli.files;
    if (form_call_paths(path))
        return true;
    add_finding(too_long, path);
    return false;
}

// The first operand that is a file or folder to visit.
static int first_target()
{
    return g_cli.command ? g_cli.command->first_target : 0;
}

bool targets_exist()
{
    for (int i = first_target(); i < g_cli.operand_count; ++i) {
        if (!target_exists(g_cli.operands[i])) {
            err_text(L"kestrin-cli: no such file or folder: ");
            err_text(g_cli.operands[i]);
            err_text(CLI_EOL);
            return false;
        }
    }
    return true;
}

// Every operand in order, folders walked; false once the visitor stopped.
static bool walk_targets(const WalkVisitor* visitor)
{
    for (int i = first_target(); i < g_cli.operand_count; ++i) {
        const wchar_t* target = g_cli.operands[i];
        bool go_on = target_is_directory(target) ? walk_directory(target, visitor) : visitor->file(target);
        if (!go_on)
            return false;
    }
    return true;
}

static bool (*g_visit_file)(const wchar_t* path);

static bool visit_file(const wchar_t* path)
{
    if (g_cli.interrupted.load())
        return false;
    return g_visit_file(path);
}

static void visit_skipped(const wchar_t* folder)
{
    add_finding(StatusSkipped, folder);
}

bool visit_targets(bool (*file)(const wchar_t* path))
{
    g_visit_file = file;
    WalkVisitor visitor = {visit_file, visit_skipped};
    return walk_targets(&visitor);
}

static int g_size_pass_kind;

static bool size_file(const wchar_t* path)
{
    if (g_cli.interrupted.load())
        return false;
    if (!form_call_paths(path))
        return true;
    bool carries = stream_exists(g_stream_path);
    if (carries != (g_size_pass_kind == SizeWithDigest))
        return true;
    uint64_t size = 0;
    if (file_size_by_path(g_file_path, &size))
        g_cli.total_bytes.store(g_cli.total_bytes.load(std::memory_order_relaxed) + size,
                                std::memory_order_relaxed);
    return true;
}

static void size_skipped(const wchar_t*)
{
    // Found again, and reported, by the main pass.
}

void size_pass(int which)
{
    g_size_pass_kind = which;
    g_cli.total_bytes = 0;
    WalkVisitor visitor = {size_file, size_skipped};
    walk_targets(&visitor);
}
