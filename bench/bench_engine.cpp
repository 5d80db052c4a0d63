// Throughput of the digest engine: each block transform over a 64 MiB buffer,
// digest_file over a cached file (256 MiB unless told otherwise), and a
// context at several read sizes with and without read-ahead, in MB/s with
// 1 MB = 10^6 bytes. Prints one "figure <name> <MB/s>" line per figure for
// scripts to read. Rates are taken over the thread's processor time (user
// plus kernel), which a machine shared with other work disturbs far less than
// the wall clock; the wall-clock rate follows on a "wall" line. A context
// with read-ahead reads on a second thread, so only its wall rate means
// anything.
//
// bench_engine [file]   file: Windows path of the file to hash (created in
//                       %TEMP% with 256 MiB of pseudo-random data when absent)
// bench_engine file READ_SIZE ahead|inline
//                       hashes the file once through a context with the
//                       fastest transform; prints its wall rate and digest
#include "engine/digest_context.h"
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

static const uint64_t kBufferBytes = 64ull << 20;
static const uint64_t kFileBytes = 256ull << 20;

static double now_seconds()
{
    static LARGE_INTEGER freq;
    if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

// Processor time of the calling thread, user plus kernel, in seconds.
static double cpu_seconds()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    uint64_t k = ((uint64_t)kernel.dwHighDateTime << 32) | kernel.dwLowDateTime;
    uint64_t u = ((uint64_t)user.dwHighDateTime << 32) | user.dwLowDateTime;
    return (double)(k + u) / 1e7;
}

struct Rate {
    double cpu;    // MB per second of processor time
    double wall;   // MB per second of elapsed time
};

static Rate best_of(Rate a, Rate b)
{
    return {a.cpu > b.cpu ? a.cpu : b.cpu, a.wall > b.wall ? a.wall : b.wall};
}

static Rate rate_of(uint64_t bytes, double cpu0, double wall0)
{
    double cpu = cpu_seconds() - cpu0, wall = now_seconds() - wall0;
    return {cpu > 0 ? (double)bytes / 1e6 / cpu : 0, (double)bytes / 1e6 / wall};
}

static void fill_random(uint8_t* p, uint64_t n)
{
    uint64_t x = 0x243f6a8885a308d3ull;
    for (uint64_t i = 0; i < n; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        memcpy(p + i, &x, 8);
    }
}

// One measurement: four sweeps of `fn` over the whole buffer (long enough
// that the coarse processor-time clock costs about 1 %).
static Rate transform_rate(CompressFn fn, const uint8_t* buffer)
{
    alignas(16) static uint8_t state[64];
    memset(state, 0, sizeof state);
    double cpu0 = cpu_seconds(), wall0 = now_seconds();
    for (int sweep = 0; sweep < 4; ++sweep)
        for (uint64_t off = 0; off < kBufferBytes; off += 64)
            fn(state, buffer + off);
    return rate_of(4 * kBufferBytes, cpu0, wall0);
}

// One run of a context over the file: no gate, a counter, a stop flag, as
// kestrin-cli's workers use it.
static Rate context_rate(const wchar_t* path, CompressFn fn, uint32_t read_size, bool ahead, char* hex)
{
    const Rate failed = {-1, -1};
    size_t bytes = digest_buffer_bytes(read_size, ahead);
    uint8_t* buffer = (uint8_t*)VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    DigestContext ctx;
    if (!buffer || !digest_context_open(&ctx, fn, buffer, bytes, read_size, ahead)) return failed;
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    Rate r = failed;
    if (f != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER size;
        GetFileSizeEx(f, &size);
        std::atomic<uint64_t> counter{0};
        std::atomic<int32_t> stop{0};
        alignas(16) uint8_t digest[64];
        double cpu0 = cpu_seconds(), wall0 = now_seconds();
        bool whole = digest_file_in(&ctx, f, size.QuadPart, digest, nullptr, &counter, &stop);
        r = rate_of((uint64_t)size.QuadPart, cpu0, wall0);
        if (!whole) r = failed;
        for (int i = 0; i < 64; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        CloseHandle(f);
    }
    digest_context_close(&ctx);
    VirtualFree(buffer, 0, MEM_RELEASE);
    return r;
}

// Stands in for a transform to measure what digest_file costs besides it.
static void no_transform()
{
}

static bool make_file(const wchar_t* path)
{
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    uint8_t* chunk = (uint8_t*)VirtualAlloc(nullptr, 1 << 20, MEM_COMMIT, PAGE_READWRITE);
    bool ok = chunk != nullptr;
    for (uint64_t done = 0; ok && done < kFileBytes; done += 1 << 20) {
        fill_random(chunk, 1 << 20);
        chunk[0] ^= (uint8_t)(done >> 20);
        DWORD wrote = 0;
        ok = WriteFile(f, chunk, 1 << 20, &wrote, nullptr) && wrote == (1u << 20);
    }
    CloseHandle(f);
    return ok;
}

// Best of `runs` digest_file runs over the file, after one run that brings it
// into the cache when `warm` is set.
static Rate digest_file_rate(const wchar_t* path, BlockTransformFn fn, char* hex, int runs = 1, bool warm = false)
{
    BlockTransform = fn;
    Rate best = {0, 0};
    const Rate failed = {-1, -1};
    for (int pass = warm ? -1 : 0; pass < runs; ++pass) {
        HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (f == INVALID_HANDLE_VALUE) return failed;
        LARGE_INTEGER size;
        GetFileSizeEx(f, &size);
        HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        std::atomic<uint64_t> counter{0};
        alignas(16) uint8_t digest[64];
        double cpu0 = cpu_seconds(), wall0 = now_seconds();
        bool whole = digest_file(f, size.QuadPart, digest, gate, &counter);
        Rate r = rate_of((uint64_t)size.QuadPart, cpu0, wall0);
        CloseHandle(gate);
        CloseHandle(f);
        if (!whole) return failed;
        if (pass >= 0) best = best_of(best, r);
        if (fn != no_transform)   // without a transform the "digest" means nothing
            for (int i = 0; i < 64; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    }
    return best;
}

static void report(const char* name, Rate r)
{
    printf("figure %s %.1f\n", name, r.cpu);
    printf("wall %s %.1f\n", name, r.wall);
    fflush(stdout);
}

int wmain(int argc, wchar_t** argv)
{
    build_digest_tables();
    if (argc == 4) {
        int64_t ticks[TransformCount];
        TransformId id = choose_fastest_transform(ticks);
        char hex[129] = {0};
        uint32_t read_size = (uint32_t)wcstoul(argv[2], nullptr, 10);
        Rate r = context_rate(argv[1], kTransforms[id].compress, read_size, wcscmp(argv[3], L"ahead") == 0, hex);
        printf("transform %s\nwall %.1f\ndigest %s\n", kTransforms[id].name, r.wall, hex);
        return r.wall > 0 ? 0 : 1;
    }
    bool sse41 = cpu_has_sse41();
    const char* chosen = BlockTransform == transform_sse41 ? "transform_sse41" : "transform_baseline";
    printf("arch %s\n", sizeof(void*) == 4 ? "i686" : "x86_64");
    printf("sse41 %s\n", sse41 ? "yes" : "no");
    printf("chosen %s\n", chosen);

    uint8_t* buffer = (uint8_t*)VirtualAlloc(nullptr, kBufferBytes, MEM_COMMIT, PAGE_READWRITE);
    if (!buffer) {
        printf("error: cannot allocate the 64 MiB buffer\n");
        return 1;
    }
    fill_random(buffer, kBufferBytes);

    wchar_t path[MAX_PATH + 1];
    if (argc > 1) {
        wcsncpy(path, argv[1], MAX_PATH);
    } else {
        wchar_t tmp[MAX_PATH + 1];
        DWORD n = GetTempPathW(MAX_PATH, tmp);
        tmp[n < MAX_PATH ? n : MAX_PATH] = 0;
        swprintf(path, MAX_PATH, L"%lsbench-engine-256MiB.bin", tmp);
    }
    path[MAX_PATH] = 0;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES && !make_file(path)) {
        printf("error: cannot create the file to hash\n");
        return 1;
    }
    char hex[129] = {0};
    if (digest_file_rate(path, no_transform, hex, 1, true).cpu < 0) {
        printf("error: cannot read the file to hash\n");
        return 1;
    }

    // Each transform and its digest_file run take turns, three times, so that
    // a burst of other work on the machine hits both alike; the best of each.
    // The window's digest_file is measured with the two transforms it can get.
    Rate whole_base = {0, 0};
    for (int t = 0; t < TransformCount; ++t) {
        if (!transform_available((TransformId)t)) continue;
        bool window = t == TransformBaseline || t == TransformSse41;
        Rate alone = {0, 0}, whole = {0, 0};
        for (int turn = 0; turn < 3; ++turn) {
            alone = best_of(alone, transform_rate(kTransforms[t].compress, buffer));
            if (window) whole = best_of(whole, digest_file_rate(path, kTransforms[t].window_form, hex));
        }
        char name[64];
        snprintf(name, sizeof name, "transform_%s", kTransforms[t].name);
        report(name, alone);
        if (!window) continue;
        snprintf(name, sizeof name, "digest_file_%s", kTransforms[t].name);
        report(name, whole);
        printf("ratio digest_file_%s/transform_%s %.2f\n", kTransforms[t].name, kTransforms[t].name, whole.cpu / alone.cpu);
        if (t == 0) whole_base = whole;
    }

    // The context with the transform kestrin-cli's timing chooses, at three
    // read sizes, reading inline and ahead, in turns.
    int64_t ticks[TransformCount];
    TransformId fastest = choose_fastest_transform(ticks);
    printf("fastest %s\n", kTransforms[fastest].name);
    const uint32_t read_sizes[3] = {65536, 262144, 1048576};
    Rate ctx_rates[3][2] = {};
    char ctx_hex[129] = {0};
    for (int turn = 0; turn < 3; ++turn)
        for (int z = 0; z < 3; ++z)
            for (int ahead = 0; ahead < 2; ++ahead) {
                ctx_rates[z][ahead] = best_of(ctx_rates[z][ahead],
                                              context_rate(path, kTransforms[fastest].compress, read_sizes[z], ahead, ctx_hex));
                if (strcmp(ctx_hex, hex) != 0) printf("error: context digest differs: %s\n", ctx_hex);
            }
    for (int z = 0; z < 3; ++z)
        for (int ahead = 0; ahead < 2; ++ahead) {
            char name[64];
            snprintf(name, sizeof name, "context_%s_%uk_%s", kTransforms[fastest].name, read_sizes[z] / 1024,
                     ahead ? "ahead" : "inline");
            report(name, ctx_rates[z][ahead]);
        }
    VirtualFree(buffer, 0, MEM_RELEASE);

    // Reads, waits, counter and loop alone, for where the time goes.
    char unused[129];
    report("digest_file_without_transform", digest_file_rate(path, no_transform, unused, 3));
    printf("digest %s\n", hex);
    return whole_base.cpu > 0 ? 0 : 1;
}
