// The progress figures as text.
#include "jobs/progress_format.h"
#include <stdio.h>
#include <wchar.h>

// Every 64-bit quantity enters the arithmetic rounded to single precision;
// products and quotients are then formed at double precision.
static double as_single(uint64_t value)
{
    return (double)(float)value;
}

// Truncation toward zero into a signed 32-bit count, where anything out of
// range (or not a number) becomes the most negative value.
static int32_t truncate_to_int32(double x)
{
    if (!(x > -2147483649.0 && x < 2147483648.0))
        return INT32_MIN;
    return (int32_t)x;
}

int32_t remaining_seconds(const ProgressSample& s)
{
    uint64_t elapsed = s.now - s.start;
    uint64_t left = s.total - s.done;   // wraps when the files grew
    double x = as_single(elapsed) * as_single(left) / as_single(s.done) / (double)10000000.0f;
    int32_t seconds = truncate_to_int32(x);
    return seconds < 0 ? 0 : seconds;
}

static double percentage(const ProgressSample& s)
{
    if (s.total == 0)
        return 100.0;  // data arrived although the size pass found none: all of it is done
    return as_single(s.done) * (double)100.0f / as_single(s.total);
}

// Bytes per microsecond, that is MB/s; 0 when no time has passed.
static double rate(uint64_t bytes, uint64_t now, uint64_t since)
{
    if (now == since)
        return 0.0;
    return as_single(bytes) * (double)10.0f / as_single(now - since);
}

void format_progress_part(int part, const ProgressSample& s, wchar_t* text)
{
    text[0] = L'\0';
    if (part == 0) {
        _snwprintf(text, kStatusTextChars, L"%8.1f %%", percentage(s));
    } else if (part == 1) {
        double current = rate(s.done - s.tick_done, s.now, s.tick_time);
        double average = rate(s.done, s.now, s.start);
        _snwprintf(text, kStatusTextChars, L"%7.1f MB/s  (Average:%6.1f MB/s)", current, average);
    } else {
        int32_t seconds = remaining_seconds(s);
        _snwprintf(text, kStatusTextChars, L"  Remaining: %02d:%02d:%02d", (int)(seconds / 3600),
                   (int)(seconds % 3600 / 60), (int)(seconds % 60));
    }
    text[kStatusTextChars - 1] = L'\0';
}
