// digest_file and the contexts against OpenSSL's Whirlpool, run natively on
// Linux over the same files: random content, sizes around the block and read
// boundaries (64 KiB for digest_file, 256 KiB for a context), and a few MiB.
#include "engine_probe.h"
#include "engine/digest_context.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <map>
#include <vector>

TEST(OpenSslDifferential, AssortedSizes)
{
    ensure_tables();
    // Every length up to 200 (the padding's cases, one and two final
    // blocks), then sizes around the reads' boundaries.
    std::vector<int64_t> sizes;
    for (int64_t n = 0; n <= 200; ++n)
        sizes.push_back(n);
    for (int64_t size : std::initializer_list<int64_t>{1000,    4095,   65471,
                             65472,  65473,  65535,  65536,  65537,  65599,   65600,   65601,   131071, 131072,
                             131073, 196608, 200003, 262143, 262144, 262145, 524288, 1048576 + 7, 3 * 1048576, 4 * 1048576 + 33,
                             5 * 1048576 - 1})
        sizes.push_back(size);
    std::string names;
    std::map<std::string, std::wstring> files;
    for (int64_t size : sizes) {
        std::string name("openssl-");
        name += std::to_string(size);
        std::wstring path = engine_file(name, random_bytes((size_t)size, 0xC0FFEE + size));   // seed 0xC0FFEE + size
        ASSERT_FALSE(path.empty()) << "could not write " << name;
        files[name] = path;
        names += ' ';
        names += sh_quote(name);
    }

    // One OpenSSL run over all files; lines are "<hex> *<name>".
    int status = -1;
    std::string out = linux_sh("cd " + sh_quote(engine_files_linux_dir()) +
                               " && openssl dgst -provider legacy -provider default -whirlpool -r" + names, &status);
    if (status != 0 || out.empty()) GTEST_SKIP() << "OpenSSL's Whirlpool is not available on Linux here";
    std::map<std::string, std::string> expected;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(at, end - at);
        at = end + 1;
        if (line.size() > 130) expected[line.substr(130)] = line.substr(0, 128);
    }
    ASSERT_EQ(files.size(), expected.size()) << "OpenSSL output:\n" << out;

    bool sse41 = cpu_has_sse41();
    constexpr uint32_t kRead = 262144;
    alignas(64) static uint8_t buffer[digest_buffer_bytes(kRead, true)];
    for (const auto& f : files) {
        DigestRun base = digest_path(f.second, transform_baseline);
        EXPECT_EQ(expected[f.first], hex64(base.digest)) << f.first << " with transform_baseline";
        EXPECT_TRUE(base.complete) << f.first;
        if (sse41) {
            DigestRun fast = digest_path(f.second, transform_sse41);
            EXPECT_EQ(expected[f.first], hex64(fast.digest)) << f.first << " with transform_sse41";
        }
        // Every transform through a context reading ahead, and the fastest
        // reading inline.
        for (int id = 0; id < TransformCount; ++id) {
            if (!transform_available((TransformId)id)) continue;
            for (bool ahead : {true, false}) {
                if (!ahead && id != TransformRows64) continue;
                DigestContext ctx;
                ASSERT_TRUE(digest_context_open(&ctx, kTransforms[id].compress, buffer, sizeof buffer, kRead, ahead));
                HANDLE file = open_for_digest(f.second);
                LARGE_INTEGER size;
                GetFileSizeEx(file, &size);
                alignas(16) uint8_t digest[64];
                bool sound = digest_file_in(&ctx, file, size.QuadPart, digest, nullptr, nullptr, nullptr);
                CloseHandle(file);
                digest_context_close(&ctx);
                EXPECT_EQ(expected[f.first], hex64(digest)) << f.first << " through a context with " << kTransforms[id].name
                                                            << (ahead ? " reading ahead" : " inline");
                EXPECT_TRUE(sound) << f.first;
            }
        }
    }
    if (!sse41) SKIP_OR_END_WITHOUT_SSE41("transform_sse41 not checked: processor lacks SSE4.1 (baseline checked)");
}
