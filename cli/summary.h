// The closing line of a run: what was reached and found, the bytes hashed,
// the time and the rate.
#pragma once

constexpr int kSummaryChars = 1024;

// "summary  <command>: N files, ...; B bytes hashed in S s, R MB/s" (1 MB =
// 10^6 bytes) into `text` (kSummaryChars), "; slice K of N, M files outside
// it" after the counts of a sliced run.
void format_summary(wchar_t* text);

// The summary line on standard error.
void print_summary();
