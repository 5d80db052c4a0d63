// What a context does besides digests (those are checked against the
// published vectors and OpenSSL): the stop flag, reads that fail, the gate,
// and the arguments it refuses.
#include "engine_probe.h"
#include "reference_whirlpool.h"
#include "engine/digest_context.h"
#include <gtest/gtest.h>
#include <string.h>

constexpr uint32_t kRead = 4096;
alignas(64) static uint8_t g_buffer[digest_buffer_bytes(kRead, true)];

// A transform that raises the stop flag at its first block: the stop arrives
// while the first read is hashed.
static std::atomic<int32_t> g_stop;
static void compress_then_stop(uint8_t state[64], const uint8_t block[64])
{
    g_stop = 1;
    whirlpool_compress_baseline(state, block);
}

TEST(Context, StopFlagEndsTheFileAfterTheReadUnderWay)
{
    ensure_tables();
    std::string content = random_bytes(40 * kRead, 4711);   // seed 4711
    std::wstring path = engine_file("stop-40-reads", content);
    for (bool ahead : {false, true}) {
        DigestContext ctx;
        ASSERT_TRUE(digest_context_open(&ctx, compress_then_stop, g_buffer, sizeof g_buffer, kRead, ahead));
        g_stop = 0;
        HANDLE file = open_for_digest(path);
        alignas(16) uint8_t digest[64];
        std::atomic<uint64_t> counter{0};
        bool sound = digest_file_in(&ctx, file, (int64_t)content.size(), digest, nullptr, &counter, &g_stop);
        CloseHandle(file);
        digest_context_close(&ctx);
        const char* how = ahead ? "reading ahead" : "inline";
        EXPECT_FALSE(sound) << how << ": a stopped file was reported sound";
        EXPECT_TRUE(ctx.stopped) << how;
        // Inline, the stop is seen before the second read; ahead, the second
        // read may already be under way.
        EXPECT_GE((ahead ? 2 : 1) * kRead, ctx.delivered) << how;
        EXPECT_EQ(ctx.delivered, counter.load()) << how;
        uint8_t ref[64];
        ref_whirlpool((const uint8_t*)content.data(), (size_t)ctx.delivered, 8 * content.size(), ref);
        EXPECT_EQ(hex64(ref), hex64(digest)) << how << ": the digest covers what was read";

        // A flag raised before the call: nothing is read.
        g_stop = 1;
        ASSERT_TRUE(digest_context_open(&ctx, whirlpool_compress_baseline, g_buffer, sizeof g_buffer, kRead, ahead));
        file = open_for_digest(path);
        EXPECT_FALSE(digest_file_in(&ctx, file, (int64_t)content.size(), digest, nullptr, nullptr, &g_stop)) << how;
        CloseHandle(file);
        digest_context_close(&ctx);
        EXPECT_EQ(0u, ctx.delivered) << how;
    }
}

// The first read that fails ends the file, inline (on the traced thread, with
// failures injected) and with a handle whose every read the platform refuses.
TEST(Context, FailingReadsEndTheFileAtOnce)
{
    ASSERT_TRUE(install_engine_hooks());
    ensure_tables();
    std::string content = random_bytes(10 * kRead, 2024);   // seed 2024
    std::wstring path = engine_file("context-fail", content);
    alignas(16) uint8_t digest[64];
    uint8_t ref[64];
    ref_whirlpool((const uint8_t*)"", 0, 8 * content.size(), ref);

    DigestContext ctx;
    ASSERT_TRUE(digest_context_open(&ctx, whirlpool_compress_baseline, g_buffer, sizeof g_buffer, kRead, false));
    HANDLE file = open_for_digest(path);
    start_trace(BlockTransform, nullptr, digest);
    g_trace.fail_next = 1000;
    bool sound = digest_file_in(&ctx, file, (int64_t)content.size(), digest, nullptr, nullptr, nullptr);
    stop_trace();
    CloseHandle(file);
    digest_context_close(&ctx);
    EXPECT_EQ(1, g_trace.reads.load()) << "a failed read is not retried";
    EXPECT_EQ(0, g_trace.waits.load()) << "no gate, no wait";
    EXPECT_FALSE(sound);
    EXPECT_EQ((DWORD)ERROR_READ_FAULT, ctx.read_error);
    EXPECT_EQ(hex64(ref), hex64(digest));

    for (bool ahead : {false, true}) {
        ASSERT_TRUE(digest_context_open(&ctx, whirlpool_compress_baseline, g_buffer, sizeof g_buffer, kRead, ahead));
        file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        sound = digest_file_in(&ctx, file, (int64_t)content.size(), digest, nullptr, nullptr, nullptr);
        CloseHandle(file);
        digest_context_close(&ctx);
        EXPECT_FALSE(sound) << (ahead ? "ahead" : "inline");
        EXPECT_NE(0u, ctx.read_error) << (ahead ? "ahead" : "inline");
        EXPECT_EQ(0u, ctx.delivered);
        EXPECT_EQ(hex64(ref), hex64(digest));
    }
}

// A gate, when given, is waited on before every read; one context hashes many
// files in turn, reading ahead, without anything left from the one before.
TEST(Context, GateAndManyFilesInTurn)
{
    ensure_tables();
    DigestContext ctx;
    ASSERT_TRUE(digest_context_open(&ctx, whirlpool_compress_rows64, g_buffer, sizeof g_buffer, kRead, true));
    HANDLE gate = CreateSemaphoreW(nullptr, 1000, 1000, nullptr);
    for (size_t size : {(size_t)0, (size_t)1, (size_t)kRead - 1, (size_t)kRead, (size_t)kRead + 1, (size_t)5 * kRead + 64}) {
        std::string content = random_bytes(size, 77 + size);   // seed 77 + size
        HANDLE file = open_for_digest(engine_file("turn-" + std::to_string(size), content));
        alignas(16) uint8_t digest[64];
        bool sound = digest_file_in(&ctx, file, (int64_t)size, digest, gate, nullptr, nullptr);
        CloseHandle(file);
        uint8_t ref[64];
        ref_whirlpool((const uint8_t*)content.data(), size, ref);
        EXPECT_TRUE(sound) << "size " << size;
        EXPECT_EQ(hex64(ref), hex64(digest)) << "size " << size;
    }
    digest_context_close(&ctx);
    // Reads: none, 1, 1, 1 (exactly the stated size), 2, 6.
    LONG left = 0;
    ReleaseSemaphore(gate, 1, &left);
    EXPECT_EQ(1000 - 11, left) << "waits on the gate";
    CloseHandle(gate);
}

TEST(Context, RefusesWhatItCannotUse)
{
    DigestContext ctx;
    EXPECT_FALSE(digest_context_open(&ctx, whirlpool_compress_baseline, g_buffer, sizeof g_buffer, 100, false)) << "read size not whole blocks";
    EXPECT_FALSE(digest_context_open(&ctx, whirlpool_compress_baseline, g_buffer + 8, sizeof g_buffer - 8, kRead, false)) << "misaligned";
    EXPECT_FALSE(digest_context_open(&ctx, whirlpool_compress_baseline, g_buffer, sizeof g_buffer - 1, kRead, true)) << "too small for two areas";
    EXPECT_FALSE(digest_context_open(&ctx, nullptr, g_buffer, sizeof g_buffer, kRead, false)) << "no transform";
}
