// digest_file's reads, waits, compressions and counter, and what it reports
// for files that deliver less or more than the size it is given.
#include "engine_probe.h"
#include "reference_whirlpool.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <string.h>

struct Traced {
    bool complete;
    std::string digest;
    uint64_t counter_before;
    uint64_t counter_after;
};

// Runs digest_file under the trace, with the transform start-up chose.
static Traced traced_digest(HANDLE file, int64_t size, HANDLE gate, int fail_reads = 0)
{
    ensure_tables();
    Traced t = {};
    alignas(16) uint8_t digest[64];
    memset(digest, 0xee, sizeof digest);   // previous contents must not matter
    std::atomic<uint64_t> counter{5000};
    t.counter_before = counter.load();
    start_trace(BlockTransform, gate, digest);
    g_trace.fail_next = fail_reads;
    t.complete = digest_file(file, size, digest, gate, &counter);
    stop_trace();
    t.counter_after = counter.load();
    t.digest = hex64(digest);
    return t;
}

static std::string ref_hex(const std::string& data, uint64_t bit_length)
{
    uint8_t d[64];
    ref_whirlpool((const uint8_t*)data.data(), data.size(), bit_length, d);
    return hex64(d);
}

static void expect_clean_operands(const char* what)
{
    EXPECT_EQ(0, g_trace.blocks_outside_buffer.load()) << what << ": blocks outside ReadBuffer and its spare bytes";
    EXPECT_EQ(0, g_trace.blocks_misaligned.load()) << what << ": blocks not 16-byte aligned";
    EXPECT_EQ(0, g_trace.state_elsewhere.load()) << what << ": state_ptr not the caller's digest";
    EXPECT_EQ(0, g_trace.bad_reads.load()) << what << ": reads not of 65,536 bytes into ReadBuffer";
    EXPECT_EQ(0, g_trace.bad_waits.load()) << what << ": waits not on the gate with INFINITE";
    EXPECT_EQ(0, g_trace.read_without_wait.load()) << what << ": reads not directly preceded by a wait";
}

TEST(DigestFile, CountsForWholeFiles)
{
    ASSERT_TRUE(install_engine_hooks()) << "could not hook ReadFile/WaitForSingleObject in the import table";
    struct Case { int64_t size; int reads; };
    const Case cases[] = {{0, 0}, {31, 1}, {32, 1}, {33, 1}, {63, 1}, {64, 1}, {96, 1}, {65537, 2}, {131072, 2}};
    for (const Case& c : cases) {
        std::string content = random_bytes((size_t)c.size, 4242 + c.size);
        std::wstring path = engine_file("count-" + std::to_string(c.size), content);
        HANDLE file = open_for_digest(path);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << "size " << c.size;
        // A semaphore as the gate: what is left of its count shows the waits.
        HANDLE gate = CreateSemaphoreW(nullptr, 100, 1000, nullptr);
        Traced t = traced_digest(file, c.size, gate);
        CloseHandle(file);
        LONG left = -1;
        ReleaseSemaphore(gate, 1, &left);
        CloseHandle(gate);

        // The standard's padding: 1 bit, zeros, 256-bit length, in 512-bit blocks.
        int blocks = (int)((8 * c.size + 1 + 256 + 511) / 512);
        EXPECT_EQ(blocks, g_trace.compressions.load()) << "compressions for size " << c.size;
        EXPECT_EQ(c.reads, g_trace.reads.load()) << "reads for size " << c.size;
        EXPECT_EQ(c.reads, g_trace.waits.load()) << "waits for size " << c.size;
        EXPECT_EQ(100 - c.reads, left) << "semaphore count left after size " << c.size;
        EXPECT_EQ((uint64_t)c.size, t.counter_after - t.counter_before) << "counter growth for size " << c.size;
        EXPECT_TRUE(t.complete) << "size " << c.size;
        EXPECT_EQ(ref_hex(content, 8 * c.size), t.digest) << "digest for size " << c.size;
        expect_clean_operands(("size " + std::to_string(c.size)).c_str());
    }
}

// For a length that is a multiple of 65,536 the final block lies in the 64
// spare bytes behind the read area.
TEST(DigestFile, FinalBlockOfWholeBuffersUsesTheSpareBytes)
{
    ASSERT_TRUE(install_engine_hooks());
    for (int64_t size : {65536, 131072}) {
        std::string content = random_bytes((size_t)size, 99 + size);
        HANDLE file = open_for_digest(engine_file("spare-" + std::to_string(size), content));
        HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        Traced t = traced_digest(file, size, gate);
        CloseHandle(file);
        CloseHandle(gate);
        EXPECT_EQ((const void*)(ReadBuffer + kReadSize), (const void*)g_trace.last_block.load()) << "size " << size;
        EXPECT_EQ(ref_hex(content, 8 * size), t.digest) << "size " << size;
        EXPECT_TRUE(t.complete);
    }
}

// A read that delivers nothing ends the file at once: repeating it would only
// meet the same end (or the same bad sector) again.
TEST(DigestFile, NothingDeliveredForSize1000)
{
    ASSERT_TRUE(install_engine_hooks());
    HANDLE file = open_for_digest(engine_file("empty-as-1000", ""));
    HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    Traced t = traced_digest(file, 1000, gate);
    CloseHandle(file);
    CloseHandle(gate);
    EXPECT_EQ(1, g_trace.waits.load()) << "waits";
    EXPECT_EQ(1, g_trace.reads.load()) << "reads";
    EXPECT_EQ(t.counter_before, t.counter_after) << "counter must not change";
    EXPECT_FALSE(t.complete) << "a file that delivered nothing of 1000 bytes was reported complete";
    EXPECT_EQ(ref_hex("", 8000), t.digest) << "empty content with bit length 8000";
    expect_clean_operands("size 1000, nothing delivered");
}

TEST(DigestFile, HundredBytesPassedAsTwoHundred)
{
    ASSERT_TRUE(install_engine_hooks());
    std::string content = random_bytes(100, 100200);
    HANDLE file = open_for_digest(engine_file("100-as-200", content));
    HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    Traced t = traced_digest(file, 200, gate);
    CloseHandle(file);
    CloseHandle(gate);
    EXPECT_EQ(1, g_trace.reads.load()) << "reads";
    EXPECT_EQ(1, g_trace.waits.load()) << "waits";
    EXPECT_EQ(100u, t.counter_after - t.counter_before) << "counter growth";
    EXPECT_FALSE(t.complete) << "100 bytes of 200 reported complete";
    EXPECT_EQ(ref_hex(content, 1600), t.digest) << "the 100 bytes with bit length 1600";
    expect_clean_operands("100 as 200");
}

// More data than the stated size: the digest covers exactly the first `size`
// bytes, the final block stays inside its bounds, and the call reports it.
TEST(DigestFile, MoreDataThanTheSize)
{
    ASSERT_TRUE(install_engine_hooks());
    // With a size of exactly one buffer the engine never asks beyond it, so it
    // cannot see the extra data: that case is complete.
    struct Case { size_t real; int64_t passed; int reads; bool complete; };
    const Case cases[] = {{200, 100, 1, false}, {131072, 100, 1, false}, {131072, 65600, 2, false},
                          {65536, 63, 1, false}, {70000, 65536, 1, true}};
    for (const Case& c : cases) {
        std::string content = random_bytes(c.real, 7 * c.real + (size_t)c.passed);
        std::string name = "more-" + std::to_string(c.real) + "-as-" + std::to_string(c.passed);
        HANDLE file = open_for_digest(engine_file(name, content));
        HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        Traced t = traced_digest(file, c.passed, gate);
        CloseHandle(file);
        CloseHandle(gate);
        std::string first = content.substr(0, (size_t)c.passed);
        EXPECT_EQ(ref_hex(first, 8 * (uint64_t)c.passed), t.digest) << name << ": digest of the first bytes";
        EXPECT_EQ(c.complete, t.complete) << name << ": completeness";
        EXPECT_EQ(c.reads, g_trace.reads.load()) << name << ": reads";
        EXPECT_EQ((uint64_t)c.passed, t.counter_after - t.counter_before) << name << ": counter growth";
        expect_clean_operands(name.c_str());
    }
}

// The first read that fails ends the file, even when data would come after it.
TEST(DigestFile, FailedReads)
{
    ASSERT_TRUE(install_engine_hooks());
    std::string content = random_bytes(200, 31337);
    std::wstring path = engine_file("fail-then-data", content);

    HANDLE file = open_for_digest(path);
    HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    Traced all_fail = traced_digest(file, 200, gate, 1000);
    CloseHandle(file);
    EXPECT_EQ(1, g_trace.reads.load()) << "a failed read is not retried";
    EXPECT_EQ(all_fail.counter_before, all_fail.counter_after) << "failed reads add nothing";
    EXPECT_FALSE(all_fail.complete);
    EXPECT_EQ(ref_hex("", 1600), all_fail.digest) << "empty content with bit length 1600";

    file = open_for_digest(path);
    Traced late = traced_digest(file, 200, gate, 3);
    CloseHandle(file);
    CloseHandle(gate);
    EXPECT_EQ(1, g_trace.reads.load()) << "one failed read, the data behind it never asked for";
    EXPECT_EQ(late.counter_before, late.counter_after);
    EXPECT_FALSE(late.complete) << "a file whose read failed was reported complete";
    EXPECT_EQ(ref_hex("", 1600), late.digest) << "nothing read, padded in bounds";
    expect_clean_operands("failed reads");
}

// A handle without read access: the platform itself refuses every read.
TEST(DigestFile, HandleWithoutReadAccess)
{
    ASSERT_TRUE(install_engine_hooks());
    std::wstring path = engine_file("write-only", random_bytes(500, 5));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    Traced t = traced_digest(file, 500, gate);
    CloseHandle(file);
    CloseHandle(gate);
    EXPECT_EQ(1, g_trace.reads.load()) << "reads";
    EXPECT_EQ(t.counter_before, t.counter_after);
    EXPECT_FALSE(t.complete);
    EXPECT_EQ(ref_hex("", 4000), t.digest);
}

struct GateJob {
    HANDLE file;
    HANDLE gate;
    int64_t size;
    std::atomic<uint64_t>* counter;
    uint8_t* digest;
    bool complete;
};

static DWORD WINAPI gate_job(void* arg)
{
    GateJob* job = (GateJob*)arg;
    job->complete = digest_file(job->file, job->size, job->digest, job->gate, job->counter);
    return 0;
}

TEST(DigestFile, ResetGateHoldsBeforeTheFirstRead)
{
    ASSERT_TRUE(install_engine_hooks());
    ensure_tables();
    std::string content = random_bytes(200000, 8080);
    HANDLE file = open_for_digest(engine_file("gate", content));
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);   // reset: paused
    alignas(16) uint8_t digest[64];
    std::atomic<uint64_t> counter{0};
    GateJob job = {file, gate, (int64_t)content.size(), &counter, digest, false};
    start_trace(BlockTransform, gate, digest);
    HANDLE thread = CreateThread(nullptr, 0, gate_job, &job, CREATE_SUSPENDED, nullptr);
    g_trace.thread_id = GetThreadId(thread);
    ResumeThread(thread);
    DWORD held = WaitForSingleObject(thread, 700);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, held) << "digest_file finished although the gate was reset";
    EXPECT_EQ(0, g_trace.reads.load()) << "reads made while the gate was reset";
    EXPECT_EQ(1, g_trace.waits.load()) << "waits while held";
    EXPECT_EQ(0u, counter.load());
    SetEvent(gate);
    DWORD finished = WaitForSingleObject(thread, 30000);
    stop_trace();
    ASSERT_EQ((DWORD)WAIT_OBJECT_0, finished) << "digest_file did not finish after the gate was set";
    CloseHandle(thread);
    CloseHandle(file);
    CloseHandle(gate);
    EXPECT_TRUE(job.complete);
    EXPECT_EQ(4, g_trace.reads.load());
    EXPECT_EQ(content.size(), counter.load());
    EXPECT_EQ(ref_hex(content, 8 * content.size()), hex64(digest));
}

// A gate reset after the first read: the blocks already read are compressed,
// then the engine waits before the next read.
TEST(DigestFile, GateResetBetweenReads)
{
    ASSERT_TRUE(install_engine_hooks());
    ensure_tables();
    std::string content = random_bytes(150000, 9090);
    HANDLE file = open_for_digest(engine_file("gate-mid", content));
    HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    alignas(16) uint8_t digest[64];
    std::atomic<uint64_t> counter{0};
    GateJob job = {file, gate, (int64_t)content.size(), &counter, digest, false};
    start_trace(BlockTransform, gate, digest);
    g_trace.reset_gate_after_read = 1;
    HANDLE thread = CreateThread(nullptr, 0, gate_job, &job, CREATE_SUSPENDED, nullptr);
    g_trace.thread_id = GetThreadId(thread);
    ResumeThread(thread);
    DWORD held = WaitForSingleObject(thread, 700);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, held) << "digest_file ran past a reset gate";
    EXPECT_EQ(1, g_trace.reads.load()) << "reads before the pause";
    EXPECT_EQ(2, g_trace.waits.load()) << "waits before the pause";
    EXPECT_EQ(1024, g_trace.compressions.load()) << "blocks compressed before the pause";
    EXPECT_EQ(65536u, counter.load()) << "counter while paused";
    SetEvent(gate);
    DWORD finished = WaitForSingleObject(thread, 30000);
    stop_trace();
    ASSERT_EQ((DWORD)WAIT_OBJECT_0, finished);
    CloseHandle(thread);
    CloseHandle(file);
    CloseHandle(gate);
    EXPECT_TRUE(job.complete);
    EXPECT_EQ(3, g_trace.reads.load());
    EXPECT_EQ(ref_hex(content, 8 * content.size()), hex64(digest));
}
