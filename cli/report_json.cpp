// The JSON report, streamed into a temporary file and moved into place.
#include "cli/report_json.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/text_sink.h"
#include "cli/time_text.h"
#include "cli/transform_choice.h"
#include "cli/utf8.h"
#include "jobs/long_path.h"
#include "res/version.h"
#include <stdio.h>
#include <wchar.h>

static TextSink g_report;
static bool g_report_open;
static bool g_first_finding;
// Both in the form the file calls take.
static wchar_t g_temp_path[kLongPathChars];
static wchar_t g_final_path[kLongPathChars];

// A JSON string: quotes, backslashes and control characters escaped, other
// characters as UTF-8, a lone surrogate as its \u escape.
static void json_string(const wchar_t* text)
{
    sink_bytes(&g_report, "\"", 1);
    const wchar_t* end = text + wcslen(text);
    while (text < end) {
        uint32_t cp = next_code_point(&text, end);
        char enc[8];
        switch (cp) {
        case '"': sink_bytes(&g_report, "\\\"", 2); continue;
        case '\\': sink_bytes(&g_report, "\\\\", 2); continue;
        case '\n': sink_bytes(&g_report, "\\n", 2); continue;
        case '\r': sink_bytes(&g_report, "\\r", 2); continue;
        case '\t': sink_bytes(&g_report, "\\t", 2); continue;
        default: break;
        }
        if (cp < 0x20 || is_surrogate(cp) || cp == 0x7F) {
            snprintf(enc, sizeof enc, "\\u%04x", (unsigned)cp);
            enc[7] = '\0';
            sink_ascii(&g_report, enc);
        } else {
            sink_bytes(&g_report, enc, utf8_encode(cp, enc));
        }
    }
    sink_bytes(&g_report, "\"", 1);
}

static void json_key(const char* key)
{
    sink_ascii(&g_report, ",\"");
    sink_ascii(&g_report, key);
    sink_ascii(&g_report, "\":");
}

static void json_number(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "%llu", (unsigned long long)value);
    text[23] = '\0';
    sink_ascii(&g_report, text);
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
    if (!make_call_path(path, L"", g_final_path) || !make_call_path(path, suffix, g_temp_path)) {
        err_message(L"the report's path is too long");
        return false;
    }
    DWORD attributes = GetFileAttributesW(g_final_path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        err_text(L"kestrin-cli: the report path is a folder: ");
        err_text(path);
        err_text(CLI_EOL);
        return false;
    }
    g_report.handle = CreateFileW(g_temp_path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_report.handle == INVALID_HANDLE_VALUE) {
        err_text(L"kestrin-cli: cannot create the report (does its folder exist?): ");
        err_text(path);
        err_text(CLI_EOL);
        return false;
    }
    g_report_open = true;
    g_first_finding = true;
    g_report.failed = false;
    g_report.used = 0;

    sink_ascii(&g_report, "{\"command\":");
    json_string(g_cli.command->name);
    json_key("targets");
    sink_ascii(&g_report, "[");
    for (int i = 0; i < g_cli.operand_count; ++i) {
        if (i != 0)
            sink_ascii(&g_report, ",");
        json_string(g_cli.operands[i]);
    }
    sink_ascii(&g_report, "]");
    json_key("version");
    sink_ascii(&g_report, "\"" KESTRIN_VERSION_TEXT "\"");
    json_key("start");
    json_time(g_cli.start_time);
    json_key("findings");
    sink_ascii(&g_report, "[");
    return true;
}

void report_finding(const wchar_t* status, const wchar_t* path)
{
    if (!g_report_open)
        return;
    sink_ascii(&g_report, g_first_finding ? "\n{\"status\":" : ",\n{\"status\":");
    g_first_finding = false;
    json_string(status);
    sink_ascii(&g_report, ",\"path\":");
    json_string(path);
    sink_ascii(&g_report, "}");
}

bool report_close(int exit_code)
{
    if (!g_report_open)
        return true;
    g_report_open = false;
    sink_ascii(&g_report, "\n]");
    json_key("end");
    json_time(g_cli.end_time);
    json_key("interrupted");
    sink_ascii(&g_report, g_cli.interrupted.load() ? "true" : "false");
    json_key("counts");
    sink_ascii(&g_report, "{\"files\":");
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
    sink_ascii(&g_report, "}");
    json_key("bytes_hashed");
    json_number(g_cli.done_bytes.load());
    json_key("transform");
    sink_ascii(&g_report, "\"");
    sink_ascii(&g_report, g_cli.transform_name ? g_cli.transform_name : "none");
    sink_ascii(&g_report, "\"");
    if (g_cli.baseline_ticks > 0 && g_cli.sse41_ticks > 0) {
        // What the start-up timing saw, in MB/s: why this transform.
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        double bytes = (double)kTimedBlockBytes * 1e-6 * (double)frequency.QuadPart;
        char text[96];
        snprintf(text, sizeof text, "{\"baseline\":%.1f,\"sse41\":%.1f}", bytes / (double)g_cli.baseline_ticks,
                 bytes / (double)g_cli.sse41_ticks);
        text[95] = '\0';
        json_key("transform_mbps");
        sink_ascii(&g_report, text);
    }
    json_key("exit_code");
    json_number((uint64_t)exit_code);
    sink_ascii(&g_report, "}\n");

    bool whole = sink_flush(&g_report) && FlushFileBuffers(g_report.handle);
    CloseHandle(g_report.handle);
    if (whole && MoveFileExW(g_temp_path, g_final_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(g_temp_path);
    err_text(L"kestrin-cli: the report could not be written: ");
    err_text(g_cli.report_path);
    err_text(CLI_EOL);
    return false;
}
