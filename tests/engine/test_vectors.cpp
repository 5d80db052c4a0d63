// The published ISO/IEC 10118-3 (NESSIE) Whirlpool test vectors, hashed from
// real files by digest_file with each transform in turn, and through a
// context with every transform, reading ahead and inline.
#include "engine_probe.h"
#include "engine/digest_context.h"
#include "oracle.h"
#include <gtest/gtest.h>

struct Vector {
    const char* name;
    std::string message;
    const char* digest;
};

static std::vector<Vector> published_vectors()
{
    return {
        {"empty", "",
         "19fa61d75522a4669b44e39c1d2e1726c530232130d407f89afee0964997f7a73e83be698b288febcf88e3e03c4f0757ea8964e59b63d93708b138cc42a66eb3"},
        {"a", "a",
         "8aca2602792aec6f11a67206531fb7d7f0dff59413145e6973c45001d0087b42d11bc645413aeff63a42391a39145a591a92200d560195e53b478584fdae231a"},
        {"abc", "abc",
         "4e2448a4c6f486bb16b6562c73b4020bf3043e3a731bce721ae1b303d97e6d4c7181eebdb6c57e277d0e34957114cbd6c797fc9d95d8b582d225292076d4eef5"},
        {"message_digest", "message digest",
         "378c84a4126e2dc6e56dcc7458377aac838d00032230f53ce1f5700c0ffb4d3b8421557659ef55c106b4b52ac5a4aaa692ed920052838f3362e86dbd37a8903e"},
        {"alphabet", "abcdefghijklmnopqrstuvwxyz",
         "f1d754662636ffe92c82ebb9212a484a8d38631ead4238f5442ee13b8054e41b08bf2a9251c30b6a0b8aae86177ab4a6f68f673e7207865d5d9819a3dba4eb3b"},
        {"alphanumerics", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "dc37e008cf9ee69bf11f00ed9aba26901dd7c28cdec066cc6af42e40f82f3a1e08eba26629129d8fb7cb57211b9281a65517cc879d7b962142c65f5a7af01467"},
        {"digits_x8", "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "466ef18babb0154d25b9d38a6414f5c08784372bccb204d6549c4afadb6014294d5bd8df2a6c44e538cd047b2681a51a2c60481e88c5a20b2c2a80cf3a9a083b"},
        {"million_a", std::string(1000000, 'a'),
         "0c99005beb57eff50a7cf005560ddf5d29057fd86b20bfd62deca0f1ccea4af51fc15490eddc47af32bb2b66c34ff9ad8c6008ad677f77126953b226e4ed8b01"},
    };
}

static void check_vectors(BlockTransformFn transform, const char* name)
{
    for (const Vector& v : published_vectors()) {
        std::wstring path = engine_file(std::string("vector-") + v.name, v.message);
        ASSERT_FALSE(path.empty()) << "could not write the file for " << v.name;
        DigestRun run = digest_path(path, transform);
        EXPECT_EQ(v.digest, hex64(run.digest)) << name << ", message " << v.name;
        EXPECT_TRUE(run.complete) << name << ", message " << v.name << ": a whole file reported incomplete";
        EXPECT_EQ(v.message.size(), run.counter_added) << name << ", message " << v.name;
    }
}

TEST(PublishedVectors, ThroughDigestFileWithBaseline)
{
    check_vectors(transform_baseline, "transform_baseline");
}

TEST(PublishedVectors, ThroughDigestFileWithSse41)
{
    ensure_tables();
    if (!cpu_has_sse41()) SKIP_OR_END_WITHOUT_SSE41("processor lacks SSE4.1; transform_sse41 cannot run");
    check_vectors(transform_sse41, "transform_sse41");
}

TEST(PublishedVectors, ThroughContextsWithEveryTransform)
{
    ensure_tables();
    // 4 KiB reads: the million bytes take 245 reads, alternating areas.
    constexpr uint32_t kRead = 4096;
    alignas(64) static uint8_t buffer[digest_buffer_bytes(kRead, true)];
    for (const Vector& v : published_vectors()) {
        std::wstring path = engine_file(std::string("vector-") + v.name, v.message);
        ASSERT_FALSE(path.empty()) << "could not write the file for " << v.name;
        for (int id = 0; id < TransformCount; ++id) {
            if (!transform_available((TransformId)id)) continue;
            for (bool ahead : {false, true}) {
                DigestContext ctx;
                ASSERT_TRUE(digest_context_open(&ctx, kTransforms[id].compress, buffer, sizeof buffer, kRead, ahead));
                HANDLE file = open_for_digest(path);
                alignas(16) uint8_t digest[64];
                std::atomic<uint64_t> counter{0};
                bool sound = digest_file_in(&ctx, file, (int64_t)v.message.size(), digest, nullptr, &counter, nullptr);
                CloseHandle(file);
                digest_context_close(&ctx);
                std::string what = std::string(kTransforms[id].name) + (ahead ? " ahead" : " inline") + ", message " + v.name;
                EXPECT_EQ(v.digest, hex64(digest)) << what;
                EXPECT_TRUE(sound) << what;
                EXPECT_EQ(v.message.size(), counter.load()) << what;
                EXPECT_EQ(v.message.size(), ctx.delivered) << what;
            }
        }
    }
}
