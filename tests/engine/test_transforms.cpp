// Both block transforms against the plain reference compression and against
// each other, on random chaining values and blocks.
#include "engine_probe.h"
#include "reference_whirlpool.h"
#include "oracle.h"
#include <gtest/gtest.h>
#include <string.h>

static void run_transform(BlockTransformFn fn, uint8_t* h, const uint8_t* m)
{
    state_ptr = h;
    block_ptr = m;
    fn();
}

static void check_against_reference(BlockTransformFn fn, const char* name)
{
    alignas(16) uint8_t h[64], m[64], href[64];
    for (int i = 0; i < 200; ++i) {
        std::string rh = random_bytes(64, 1000 + i), rm = random_bytes(64, 5000 + i);
        memcpy(h, rh.data(), 64);
        memcpy(m, rm.data(), 64);
        memcpy(href, h, 64);
        ref_compress(href, m);
        run_transform(fn, h, m);
        ASSERT_EQ(hex64(href), hex64(h)) << name << ", case " << i;
    }
}

TEST(Transforms, BaselineMatchesTheReferenceCompression)
{
    ensure_tables();
    check_against_reference(transform_baseline, "transform_baseline");
}

TEST(Transforms, Sse41MatchesTheReferenceCompression)
{
    ensure_tables();
    if (!cpu_has_sse41()) GTEST_SKIP() << "processor lacks SSE4.1; transform_sse41 cannot run";
    check_against_reference(transform_sse41, "transform_sse41");
}

TEST(Transforms, AgreeOnManyRandomInputs)
{
    ensure_tables();
    if (!cpu_has_sse41()) GTEST_SKIP() << "processor lacks SSE4.1; transform_sse41 cannot run";
    alignas(16) uint8_t hb[64], hs[64], m[64];
    std::string seed = random_bytes(64, 77);
    memcpy(hb, seed.data(), 64);
    memcpy(hs, seed.data(), 64);
    // Chained: each result is the next chaining value, the block is fresh.
    for (int i = 0; i < 20000; ++i) {
        std::string rm = random_bytes(64, 900000 + i);
        memcpy(m, rm.data(), 64);
        if (i % 97 == 0) memset(m, i & 1 ? 0xff : 0x00, 64);  // extreme blocks too
        run_transform(transform_baseline, hb, m);
        run_transform(transform_sse41, hs, m);
        ASSERT_EQ(hex64(hb), hex64(hs)) << "after block " << i;
    }
}

// The baseline transform accepts any address; the engine only ever passes
// 16-byte aligned ones, but nothing in it may depend on that.
TEST(Transforms, BaselineAtOddAddresses)
{
    ensure_tables();
    alignas(16) uint8_t hbuf[80], mbuf[80], href[64];
    std::string rh = random_bytes(64, 31), rm = random_bytes(64, 32);
    uint8_t* h = hbuf + 3;
    uint8_t* m = mbuf + 9;
    memcpy(h, rh.data(), 64);
    memcpy(m, rm.data(), 64);
    memcpy(href, h, 64);
    ref_compress(href, m);
    run_transform(transform_baseline, h, m);
    EXPECT_EQ(hex64(href), hex64(h));
}
