// The progress figures as text: percentage, current and average throughput,
// remaining time. The window's status bar and kestrin-cli's progress line
// show the same figures through these routines.
#pragma once
#include <stdint.h>

constexpr int kStatusTextChars = 60;   // one status-bar text, terminator included

// What one tick works from: the snapshot D of done_bytes, the total, the
// current time and the clocks (system-time units, 100 ns).
struct ProgressSample {
    uint64_t done;        // D
    uint64_t total;       // total_bytes
    uint64_t now;
    uint64_t start;       // start_time
    uint64_t tick_time;   // time of the previous tick that showed figures
    uint64_t tick_done;   // done_bytes at that tick
};

// Formats status-bar part `part` (0 percentage, 1 throughput, 2 remaining
// time) of `sample` into `text` (kStatusTextChars units, always terminated).
// sample.done must be above 0. A total of 0 shows as "   100.0 %".
void format_progress_part(int part, const ProgressSample& sample, wchar_t* text);

// The remaining-time estimate in whole seconds, 0 when it does not fit a
// signed 32-bit count.
int32_t remaining_seconds(const ProgressSample& sample);
