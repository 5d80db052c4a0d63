// --set SET.par2 for check and update: whether a corrupt file can be
// repaired, and whether the set went stale.
#include "cli/recovery_set.h"
#include "cli/cli_state.h"
#include "cli/console_out.h"
#include "cli/file_pool.h"
#include "cli/findings.h"
#include "jobs/walk.h"
#include "recovery/region.h"
#include "recovery/set_verify.h"
#include <atomic>
#include <wchar.h>

static Par2Set g_named_set;
static bool g_set_loaded;
static std::atomic<uint32_t> g_changed;

bool prepare_set_option()
{
    if (!g_cli.set_path)
        return true;
    if (!target_is_directory(g_cli.operands[0])) {
        err_path(L"with --set the first target is the folder the set protects", g_cli.operands[0]);
        return false;
    }
    recovery_start();
    g_set_loaded = load_named_set(g_cli.set_path, &g_named_set);
    return g_set_loaded;
}

void note_repairable(FileWork* work, const wchar_t* path)
{
    if (!g_set_loaded)
        return;
    static thread_local char name[3 * 4096];
    size_t len = 0;
    int f = set_name_of(g_cli.operands[0], path, name, sizeof name, &len) ? find_set_member(&g_named_set, name, len) : -1;
    int repairable = 0;
    if (f >= 0 && g_named_set.files[f].checksums) {
        uint8_t* present = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, g_named_set.slice_count + 1);
        if (present) {
            SliceCheck check;
            check_slices(&g_named_set, (uint32_t)f, work->file_path, present, &check, nullptr);
            repairable = check.exists && check.read_whole && check.bad <= g_named_set.recovery_count ? 1 : 0;
            HeapFree(GetProcessHeap(), 0, present);
        }
    }
    work->outcome.repairable = repairable;
}

void note_set_change(const wchar_t* path)
{
    static thread_local char name[3 * 4096];
    size_t len = 0;
    if (g_set_loaded && set_name_of(g_cli.operands[0], path, name, sizeof name, &len))
        ++g_changed;
}

void report_stale_set()
{
    if (!g_set_loaded || g_changed.load() == 0)
        return;
    wchar_t line[200];
    _snwprintf(line, 199, L"the recovery set no longer holds what the folder holds: %u file%ls edited or added since "
                          L"it was made (run protect again)",
               g_changed.load(), g_changed.load() == 1 ? L"" : L"s");
    line[199] = 0;
    err_message(line);
    add_finding(StatusStale, g_cli.set_path);
}
