// The common run around a command.
#include "cli/run.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/file_hash.h"
#include "cli/findings.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/report_json.h"
#include "cli/run_notice.h"
#include "cli/summary.h"
#include "cli/targets.h"
#include "cli/transform_choice.h"
#include "engine/digest.h"

static int64_t ticks_now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

int run_command()
{
    const CliCommand* c = g_cli.command;
    install_interrupt_handler();

    // Nothing is touched before every target is known to exist.
    if ((c->flags & CommandTargets) && !targets_exist())
        return ExitUsage;
    if (c->prepare && !c->prepare())
        return ExitUsage;
    g_cli.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_cli.finished) {
        err_message(L"cannot create an event");
        return ExitUsage;
    }

    // Workers hash whole files side by side where the drives allow it; a
    // command that hashes nothing has one.
    g_cli.jobs = 1;
    if (c->flags & CommandHashes)
        g_cli.jobs = g_cli.jobs_asked ? g_cli.jobs_asked : default_run_jobs();
    build_digest_tables();
    if ((c->flags & CommandHashes) && !open_file_hashing(choose_faster_transform(), g_cli.jobs)) {
        err_message(L"cannot set up hashing (out of memory?)");
        return ExitUsage;
    }

    g_cli.start_time = cli_system_time();
    g_cli.start_ticks = ticks_now();
    if (g_cli.report_path && !report_open(g_cli.report_path))
        return ExitUsage;

    SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);

    // A scheduled run, without a console, pays for neither.
    g_cli.progress = c->sizes != SizeNone && g_cli.err_console && !g_cli.quiet;
    if (g_cli.progress)
        size_pass(c->sizes);
    progress_start();
    c->run();
    progress_stop();

    g_cli.end_time = cli_system_time();
    g_cli.end_ticks = ticks_now();
    int code = g_cli.failed ? ExitUsage : run_exit_code();
    if ((c->flags & CommandSummary) && !g_cli.quiet)
        print_summary();
    out_flush();
    // A report that is not where it was asked for must not pass for a good
    // run; altered files and an interrupt keep their own, stronger codes.
    if (!report_close(code) && code != ExitAltered && code != ExitInterrupted)
        code = ExitUsage;
    give_run_notices(code);
    close_file_hashing();
    SetEvent(g_cli.finished);
    return code;
}
