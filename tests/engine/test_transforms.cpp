// Every block transform against the plain reference compression and against
// the others, on random chaining values and blocks, in both its forms: the
// explicit operands and the window's state_ptr/block_ptr.
#include "engine_probe.h"
#include "reference_whirlpool.h"
#include "engine/digest_context.h"
#include "engine/operand_heap.h"
#include <windows.h>
#include "oracle.h"
#include <gtest/gtest.h>
#include <string.h>

static void run_window_form(BlockTransformFn fn, uint8_t* h, const uint8_t* m)
{
    state_ptr = h;
    block_ptr = m;
    fn();
}

TEST(Transforms, EachMatchesTheReferenceCompressionInBothForms)
{
    ensure_tables();
    alignas(16) uint8_t h[64], hw[64], m[64], href[64];
    for (int id = 0; id < TransformCount; ++id) {
        const TransformInfo& t = kTransforms[id];
        if (!transform_available((TransformId)id)) {
            printf("transform %s not checked: this processor cannot run it\n", t.name);
            continue;
        }
        for (int i = 0; i < 200; ++i) {   // seeds 1000+i and 5000+i
            std::string rh = random_bytes(64, 1000 + i), rm = random_bytes(64, 5000 + i);
            memcpy(h, rh.data(), 64);
            memcpy(hw, rh.data(), 64);
            memcpy(m, rm.data(), 64);
            memcpy(href, h, 64);
            ref_compress(href, m);
            t.compress(h, m);
            run_window_form(t.window_form, hw, m);
            ASSERT_EQ(hex64(href), hex64(h)) << t.name << ", case " << i;
            ASSERT_EQ(hex64(href), hex64(hw)) << t.name << " through the window's operands, case " << i;
        }
    }
}

TEST(Transforms, AgreeOnManyRandomInputs)
{
    ensure_tables();
    alignas(16) uint8_t h[TransformCount][64], m[64];
    std::string seed = random_bytes(64, 77);
    for (int id = 0; id < TransformCount; ++id)
        memcpy(h[id], seed.data(), 64);
    // Chained: each result is the next chaining value, the block is fresh
    // (seeds 900000 + i).
    for (int i = 0; i < 20000; ++i) {
        std::string rm = random_bytes(64, 900000 + i);
        memcpy(m, rm.data(), 64);
        if (i % 97 == 0) memset(m, i & 1 ? 0xff : 0x00, 64);  // extreme blocks too
        for (int id = 0; id < TransformCount; ++id)
            if (transform_available((TransformId)id)) kTransforms[id].compress(h[id], m);
        for (int id = 1; id < TransformCount; ++id) {
            if (transform_available((TransformId)id)) {
                ASSERT_EQ(hex64(h[0]), hex64(h[id])) << kTransforms[id].name << " after block " << i;
            }
        }
    }
    if (!cpu_has_sse41()) SKIP_OR_END_WITHOUT_SSE41("transform_sse41 not checked: processor lacks SSE4.1");
}

// The baseline, 64-bit-row and MMX transforms accept any address; the engine only
// ever passes 16-byte aligned ones, but nothing in them may depend on that.
TEST(Transforms, AtOddAddresses)
{
    ensure_tables();
    alignas(16) uint8_t hbuf[80], mbuf[80], href[64];
    std::string rh = random_bytes(64, 31), rm = random_bytes(64, 32);
    memcpy(href, rh.data(), 64);
    ref_compress(href, (const uint8_t*)rm.data());
    for (CompressFn fn : {whirlpool_compress_baseline, whirlpool_compress_rows64, whirlpool_compress_mmx}) {
        uint8_t* h = hbuf + 3;
        uint8_t* m = mbuf + 9;
        memcpy(h, rh.data(), 64);
        memcpy(m, rm.data(), 64);
        fn(h, m);
        EXPECT_EQ(hex64(href), hex64(h));
    }
}

// kestrin-cli's timed choice names an available transform and times each.
TEST(Transforms, TimedChoiceTimesEveryAvailableTransform)
{
    ensure_tables();
    BlockTransformFn before = BlockTransform;
    int64_t ticks[TransformCount];
    TransformId id = choose_fastest_transform(ticks);
    EXPECT_EQ(before, BlockTransform) << "the timing must leave the window's choice alone";
    ASSERT_TRUE(transform_available(id));
    for (int t = 0; t < TransformCount; ++t) {
        EXPECT_EQ(transform_available((TransformId)t), ticks[t] > 0) << kTransforms[t].name;
        if (ticks[t] > 0) {
            EXPECT_LE(ticks[id], ticks[t]) << kTransforms[id].name << " chosen over " << kTransforms[t].name;
        }
    }
}

// Operands on the heap. The 32-bit process heap aligns to 8 bytes (printed
// below), so anything a transform may touch there comes from
// operand_heap_alloc or from new of an alignas(16) type, which the 32-bit
// build routes to the aligned operator new. Each block is also run through
// the SSE4.1 transform, whose aligned moves fault on a misaligned operand.
TEST(Transforms, HeapOperandsAreAligned)
{
    ensure_tables();
    struct Held {
        alignas(16) uint8_t state[64];
    };
    int plain_heap_misaligned = 0, misaligned = 0;
    alignas(16) uint8_t block[64] = {1, 2, 3};
    for (int i = 0; i < 100; ++i) {
        void* plain = HeapAlloc(GetProcessHeap(), 0, 72 + (SIZE_T)i);
        plain_heap_misaligned += (uintptr_t)plain % 16 != 0;
        HeapFree(GetProcessHeap(), 0, plain);
        Held* held = new Held();
        uint8_t* op = (uint8_t*)operand_heap_alloc(72 + (size_t)i);
        ASSERT_NE(nullptr, op);
        misaligned += (uintptr_t)held->state % 16 != 0;
        misaligned += (uintptr_t)op % 16 != 0;
        EXPECT_EQ(0, op[71 + i]) << "operand_heap_alloc returns zeroed blocks";
        if (cpu_has_sse41() && (uintptr_t)held->state % 16 == 0 && (uintptr_t)op % 16 == 0) {
            whirlpool_compress_sse41(held->state, block);
            whirlpool_compress_sse41(op, block);
        }
        delete held;
        operand_heap_free(op);
    }
    printf("  HeapAlloc gave %d of 100 blocks not 16-aligned\n", plain_heap_misaligned);
    EXPECT_EQ(0, misaligned) << "heap operands not 16-aligned";
}
