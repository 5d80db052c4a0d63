#include "sizing.h"
#include "engine/digest_context.h"
#include <windows.h>
#include <stdio.h>

namespace {

// The best round of the fastest transform, as kestrin-cli times it when it
// chooses one: an upper bound on what any job here can hash in a second.
double hash_bytes_per_second()
{
    static double rate = 0;
    if (rate > 0) return rate;
    build_digest_tables();
    int64_t ticks[TransformCount];
    TransformId id = choose_fastest_transform(ticks);
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    rate = (double)kTransformTimingBytes * (double)freq.QuadPart / (double)(ticks[id] > 0 ? ticks[id] : 1);
    printf("sizes from speed: the %s transform hashes %.1f MB/s here\n", kTransforms[id].name, rate / 1e6);
    return rate;
}

}  // namespace

long long bytes_lasting(double seconds)
{
    const long long mib = 1 << 20;
    long long bytes = (long long)(hash_bytes_per_second() * seconds);
    bytes = (bytes + mib - 1) / mib * mib;
    if (bytes < 16 * mib) bytes = 16 * mib;
    printf("sizes from speed: %.1f s of hashing = %lld bytes\n", seconds, bytes);
    fflush(stdout);
    return bytes;
}
