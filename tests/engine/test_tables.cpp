// The constant data and lookup tables against the algorithm's definition, and
// the transform choice against the processor flags Linux reports.
#include "engine_probe.h"
#include "reference_whirlpool.h"
#include "oracle.h"
#include <gtest/gtest.h>

TEST(Tables, SBoxIsTheMiniBoxConstruction)
{
    const uint8_t* ref = ref_sbox();
    for (int x = 0; x < 256; ++x)
        EXPECT_EQ(ref[x], SBox[x]) << "SBox entry " << x;
    EXPECT_EQ("1823c6e887b8014f", to_hex(SBox, 8));
}

TEST(Tables, RoundConstantsAreSBoxRows)
{
    for (int r = 0; r < 10; ++r)
        EXPECT_EQ(to_hex(ref_sbox() + 8 * r, 8), to_hex(RoundConstants[r], 8)) << "round constant row " << r;
    EXPECT_EQ("ca2dbf07ad5a8333", to_hex(RoundConstants[9], 8));
}

TEST(Tables, ListedEntries)
{
    ensure_tables();
    EXPECT_EQ("18186018c07830d8", to_hex(DigestTables[0][0], 8)) << "T0[0]";
    EXPECT_EQ("d818186018c07830", to_hex(DigestTables[1][0], 8)) << "T1[0]";
    EXPECT_EQ("186018c07830d818", to_hex(DigestTables[7][0], 8)) << "T7[0]";
    EXPECT_EQ("8686228644a411c2", to_hex(DigestTables[0][255], 8)) << "T0[255]";
}

// Every byte of every table is S[x] times the circulant coefficient, with the
// products taken by a field multiplication the engine does not use.
TEST(Tables, EveryEntryIsTheFieldProduct)
{
    ensure_tables();
    static const uint8_t circ[8] = {1, 1, 4, 1, 8, 5, 2, 9};
    int wrong = 0;
    for (int k = 0; k < 8; ++k)
        for (int x = 0; x < 256; ++x)
            for (int j = 0; j < 8; ++j) {
                uint8_t expected = ref_gf_mul(ref_sbox()[x], circ[(j - k) & 7]);
                if (expected != DigestTables[k][x][j] && ++wrong <= 5)
                    ADD_FAILURE() << "T" << k << "[" << x << "] byte " << j << ": expected " << (int)expected
                                  << ", got " << (int)DigestTables[k][x][j];
            }
    EXPECT_EQ(0, wrong) << "wrong table bytes";
}

TEST(Tables, TransformFollowsTheSse41Flag)
{
    // The window program's choice: the start-up routine it calls sets
    // BlockTransform, which is read here; the truth is the processor's flag
    // as known from outside (the emulated model's, or Linux's).
    ensure_tables();
    int sse41 = known_sse41();
    if (sse41 < 0) GTEST_SKIP() << "cannot read /proc/cpuinfo through Linux";
    EXPECT_EQ(sse41 == 1, cpu_has_sse41()) << "CPUID SSE4.1 flag vs the processor's known flags";
    BlockTransformFn expected = sse41 ? transform_sse41 : transform_baseline;
    EXPECT_EQ((void*)expected, (void*)BlockTransform)
        << "start-up chose " << (BlockTransform == transform_sse41 ? "transform_sse41" : "transform_baseline");
}
