// Sizes for tests whose job must outlast something: a pause, a screenshot,
// several once-a-second progress lines. A constant that lasts seconds on a
// real processor lasts many minutes on an emulated one (a fifteenth to a
// twentieth of the speed), and one that suits emulation ends at once on a
// real processor; so the size comes from the speed this processor hashes at.
#pragma once

// Bytes that the fastest transform this processor runs takes at least
// `seconds` to hash, rounded up to a whole MiB (at least 16 MiB). The rate is
// measured once per process and printed. The programs under test read as
// well as hash, so a job over that many bytes lasts at least that long.
long long bytes_lasting(double seconds);
