#include "cli/cli_state.h"

constinit CliState g_cli{};

uint64_t cli_system_time()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
