// The closing line of a run: what was reached and found, the bytes hashed,
// the time and the rate.
#pragma once

// "summary  <command>: N files, ...; B bytes hashed in S s, R MB/s" on
// standard output (1 MB = 10^6 bytes).
void print_summary();
