// The JSON report, streamed into a temporary file and moved into place.
#include "cli/report_json.h"
#include "cli/atomic_file.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/own_files.h"
#include "cli/slice.h"
#include "cli/text_sink.h"
#include "cli/time_text.h"
#include "cli/transform_choice.h"
#include "cli/utf8.h"
#include "jobs/long_path.h"
#include "jobs/walk.h"
#include "res/version.h"
#include <stdio.h>
#include <wchar.h>

static AtomicFile g_file;
static TextSink* const g_report = &g_file.sink;
static bool g_first_finding;
static bool g_report_placed;   // under the file's lock: the report stands under its name

// A JSON string: quotes, backslashes and control characters escaped, other
// characters as UTF-8, a lone surrogate as its \u escape.
static void json_string(const wchar_t* text)
{
    sink_bytes(g_report, "\"", 1);
    const wchar_t* end = text + wcslen(text);
    while (text < end) {
        uint32_t cp = next_code_point(&text, end);
        char enc[8];
        switch (cp) {
        case '"': sink_bytes(g_report, "\\\"", 2); continue;
        case '\\': sink_bytes(g_report, "\\\\", 2); continue;
        case '\n': sink_bytes(g_report, "\\n", 2); continue;
        case '\r': sink_bytes(g_report, "\\r", 2); continue;
        case '\t': sink_bytes(g_report, "\\t", 2); continue;
        default: break;
        }
        if (cp < 0x20 || is_surrogate(cp) || cp == 0x7F) {
            snprintf(enc, sizeof enc, "\\u%04x", (unsigned)cp);
            enc[7] = '\0';
            sink_ascii(g_report, enc);
        } else {
            sink_bytes(g_report, enc, utf8_encode(cp, enc));
        }
    }
    sink_bytes(g_report, "\"", 1);
}

static void json_key(const char* key)
{
    sink_ascii(g_report, ",\"");
    sink_ascii(g_report, key);
    sink_ascii(g_report, "\":");
}

static void json_number(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "%llu", (unsigned long long)value);
    text[23] = '\0';
    sink_ascii(g_report, text);
}

static void json_time(uint64_t system_time)
{
    wchar_t text[kTimeTextChars];
    format_iso_time(system_time, text);
    json_string(text);
}

bool report_open(const wchar_t* path)
{
    wchar_t suffix[32];
    _snwprintf(suffix, 31, L".%lu.partial", (unsigned long)GetCurrentProcessId());
    suffix[31] = L'\0';
    if (target_is_directory(path)) {
        err_path(L"the report path is a folder", path);
        return false;
    }
    if (!atomic_file_begin(&g_file, path, suffix)) {
        if (GetLastError() == ERROR_FILENAME_EXCED_RANGE)
            err_path(L"the report's path is too long", path);
        else
            err_path(L"cannot create the report (does its folder exist?)", path);
        return false;
    }
    // A report inside the walked folders is not one of the files reported on.
    leave_out_of_walk(g_file.target);
    leave_out_of_walk(g_file.temp);
    g_first_finding = true;
    g_report_placed = false;

    sink_ascii(g_report, "{\"command\":");
    json_string(g_cli.command->name);
    json_key("targets");
    sink_ascii(g_report, "[");
    for (int i = 0; i < g_cli.operand_count; ++i) {
        if (i != 0)
            sink_ascii(g_report, ",");
        json_string(g_cli.operands[i]);
    }
    sink_ascii(g_report, "]");
    json_key("version");
    sink_ascii(g_report, "\"" KESTRIN_VERSION_TEXT "\"");
    json_key("start");
    json_time(g_cli.start_time);
    json_key("findings");
    sink_ascii(g_report, "[");
    return true;
}

void report_finding(const wchar_t* status, const wchar_t* path, int repairable)
{
    if (!atomic_file_enter(&g_file))
        return;
    sink_ascii(g_report, g_first_finding ? "\n{\"status\":" : ",\n{\"status\":");
    g_first_finding = false;
    json_string(status);
    sink_ascii(g_report, ",\"path\":");
    json_string(path);
    if (repairable >= 0)
        sink_ascii(g_report, repairable ? ",\"repairable\":true" : ",\"repairable\":false");
    sink_ascii(g_report, "}");
    atomic_file_leave(&g_file);
}

bool report_close(int exit_code)
{
    if (!g_cli.report_path)
        return true;
    if (!atomic_file_enter(&g_file))
        return g_report_placed;   // already ended (a closing console), or never opened
    sink_ascii(g_report, "\n]");
    json_key("end");
    json_time(g_cli.end_time);
    json_key("interrupted");
    sink_ascii(g_report, g_cli.interrupted.load() ? "true" : "false");
    json_key("counts");
    sink_ascii(g_report, "{\"files\":");
    json_number(g_cli.files);
    json_key("matched");
    json_number(g_cli.matched);
    json_key("written");
    json_number(g_cli.written);
    json_key("deleted");
    json_number(g_cli.deleted);
    json_key("carried");
    json_number(g_cli.carried);
    for (int s = 0; s < kStatusCount; ++s) {
        char key[24];
        WideCharToMultiByte(CP_UTF8, 0, status_name((FindingStatus)s), -1, key, sizeof key, nullptr, nullptr);
        key[23] = '\0';
        json_key(key);
        json_number(g_cli.counts[s]);
    }
    sink_ascii(g_report, "}");
    json_key("bytes_hashed");
    json_number(g_cli.done_bytes.load());
    json_key("jobs");
    json_number((uint64_t)g_cli.jobs);
    json_key("transform");
    sink_ascii(g_report, "\"");
    sink_ascii(g_report, g_cli.transform_name ? g_cli.transform_name : "none");
    sink_ascii(g_report, "\"");
    // What the start-up timing saw of every transform it timed, in MB/s:
    // why this one.
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double bytes = (double)kTimedBlockBytes * 1e-6 * (double)frequency.QuadPart;
    bool any = false;
    for (int id = 0; id < TransformCount; ++id) {
        if (g_cli.transform_ticks[id] <= 0)
            continue;
        char text[48];
        snprintf(text, sizeof text, "%s\"%s\":%.1f", any ? "," : "{", kTransforms[id].name,
                 bytes / (double)g_cli.transform_ticks[id]);
        text[47] = '\0';
        if (!any)
            json_key("transform_mbps");
        sink_ascii(g_report, text);
        any = true;
    }
    if (any)
        sink_ascii(g_report, "}");
    if (g_slice.n) {
        // Which slice ran, and how many files the walk met outside it.
        json_key("slice");
        sink_ascii(g_report, "{\"k\":");
        json_number(g_slice.k);
        json_key("n");
        json_number(g_slice.n);
        json_key("outside");
        json_number(g_slice.outside);
        sink_ascii(g_report, "}");
    }
    json_key("exit_code");
    json_number((uint64_t)exit_code);
    sink_ascii(g_report, "}\n");

    g_report_placed = atomic_file_commit(&g_file);
    bool placed = g_report_placed;
    atomic_file_leave(&g_file);
    if (!placed)
        err_path(L"the report could not be written", g_cli.report_path);
    return placed;
}
