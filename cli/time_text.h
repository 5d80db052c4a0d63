// Times as text: ISO 8601 in UTC for the report.
#pragma once
#include <stdint.h>

constexpr int kTimeTextChars = 32;   // terminator included

// "YYYY-MM-DDThh:mm:ss.mmmZ" for a system time (100 ns units since 1601, UTC)
// into `out` (kTimeTextChars).
void format_iso_time(uint64_t system_time, wchar_t* out);
