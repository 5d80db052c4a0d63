// process_file in every mode, one file at a time, on the NTFS volume. Stored
// digests are written by Linux from OpenSSL; results are read from the lists.
#include "harness.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>

using Paths = std::vector<std::wstring>;

class ProcessFileTest : public JobsTest {
protected:
    // Holds FILE:z open with the given sharing for the life of the handle.
    HANDLE hold_stream(const std::wstring& file, DWORD share)
    {
        HANDLE h = CreateFileW((file + L":z").c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << "could not hold " << narrow(file) << ":z";
        return h;
    }
};

TEST_F(ProcessFileTest, CheckRoutesByStoredDigest)
{
    std::wstring good = make(L"good.txt", "the quick brown fox\n");
    std::wstring extra = make(L"extra.txt", std::string(70000, 'x'));
    std::wstring empty = make(L"empty.bin", "");
    std::wstring changed = make(L"changed.txt", "before\n");
    std::wstring short_stream = make(L"short.txt", "short stream\n");
    std::wstring none = make(L"none.txt", "no stream\n");
    std::wstring locked = make(L"locked.txt", "stream locked\n");
    linux_store_digest(good);
    linux_store_digest(extra, 16);  // further bytes after the digest are ignored
    linux_store_digest(empty);
    linux_store_digest(changed);
    linux_store_junk(short_stream, 10);
    linux_store_digest(locked);
    ASSERT_TRUE(write_file(changed, "after!\n"));
    std::string before = linux_data_snapshot(dir);

    HANDLE held = hold_stream(locked, 0);
    for (const auto& p : {good, extra, empty, changed, short_stream, none, locked})
        ASSERT_TRUE(run_process_file(Check, p)) << narrow(p);
    CloseHandle(held);

    EXPECT_EQ((Paths{changed, short_stream}), items(g_run.altered_list));
    EXPECT_EQ((Paths{none, locked}), items(g_run.without_list));
    EXPECT_EQ(Paths{}, items(g_run.withhash_list));
    // Every file whose 64 stored bytes were read is hashed in full; the others not at all.
    long long hashed = 0;
    for (const auto& p : {good, extra, empty, changed})
        hashed += linux_file_size(to_linux_path(p));
    EXPECT_EQ((uint64_t)hashed, g_run.done_bytes.load());
    EXPECT_EQ(short_stream, status_text()) << "the last file whose stream opened";
    EXPECT_EQ(before, linux_data_snapshot(dir)) << "a Check must not change any file's data";
}

TEST_F(ProcessFileTest, ListRoutesByPresenceAndReadsNothing)
{
    std::wstring with = make(L"with.txt", "digest\n");
    std::wstring tiny = make(L"tiny.txt", "two-byte stream\n");
    std::wstring none = make(L"none.txt", "none\n");
    std::wstring locked = make(L"locked.txt", "locked\n");
    linux_store_digest(with);
    linux_store_junk(tiny, 2);
    linux_store_digest(locked);
    std::string before = linux_data_snapshot(dir);

    HANDLE held = hold_stream(locked, 0);
    for (const auto& p : {with, tiny, none, locked})
        ASSERT_TRUE(run_process_file(List, p));
    CloseHandle(held);

    EXPECT_EQ((Paths{with, tiny, locked}), items(g_run.withhash_list));
    EXPECT_EQ((Paths{none}), items(g_run.without_list));
    EXPECT_EQ(Paths{}, items(g_run.altered_list));
    EXPECT_EQ(0u, g_run.done_bytes.load()) << "a List hashes nothing";
    EXPECT_EQ(L"Ready.", status_text()) << "a List leaves the status line alone";
    EXPECT_EQ(before, linux_data_snapshot(dir));
}

TEST_F(ProcessFileTest, RemoveDeletesOnlyTheStream)
{
    std::wstring with = make(L"with.txt", std::string(100000, 'w'));
    std::wstring none = make(L"none.txt", "none\n");
    std::wstring held_file = make(L"held.txt", "held\n");
    linux_store_digest(with);
    linux_store_digest(held_file);
    std::string held_stream = linux_stream_hex(held_file);
    std::string before = linux_data_snapshot(dir);

    // Another handle without delete sharing makes the deletion fail.
    HANDLE held = hold_stream(held_file, FILE_SHARE_READ | FILE_SHARE_WRITE);
    for (const auto& p : {with, none, held_file})
        ASSERT_TRUE(run_process_file(Remove, p));
    CloseHandle(held);

    EXPECT_EQ((Paths{with, none}), items(g_run.without_list));
    EXPECT_EQ((Paths{held_file}), items(g_run.withhash_list));
    bool exists = true;
    linux_stream_hex(with, &exists);
    EXPECT_FALSE(exists) << "with.txt:z should be gone";
    EXPECT_EQ(held_stream, linux_stream_hex(held_file, &exists)) << "a failed deletion keeps the stream";
    EXPECT_TRUE(exists);
    EXPECT_EQ(before, linux_data_snapshot(dir)) << "Remove deletes the stream, never the data";
    EXPECT_EQ(0u, g_run.done_bytes.load());
}

TEST_F(ProcessFileTest, SizePassCountsOnlyFilesWithStream)
{
    std::wstring a = make(L"a.bin", std::string(1000, 'a'));
    std::wstring b = make(L"b.bin", std::string(5000, 'b'));
    std::wstring c = make(L"c.bin", std::string(70001, 'c'));
    linux_store_digest(a);
    linux_store_junk(c, 3);
    for (const auto& p : {a, b, c})
        ASSERT_TRUE(run_process_file(SizePass, p));

    long long expected = linux_file_size(to_linux_path(a)) + linux_file_size(to_linux_path(c));
    EXPECT_EQ((uint64_t)expected, g_run.total_bytes.load());
    EXPECT_EQ(0u, g_run.done_bytes.load());
    for (HWND list : {g_run.altered_list, g_run.withhash_list, g_run.without_list})
        EXPECT_EQ(Paths{}, items(list));

    std::wstring plain = ntfs_scratch("size_pass_plain");
    write_file(join(plain, L"x.bin"), std::string(4096, 'x'));
    write_file(join(plain, L"y.bin"), std::string(10, 'y'));
    g_run.total_bytes = 0;
    ASSERT_TRUE(run_walk(SizePass, L"\"" + plain + L"\""));
    EXPECT_EQ(0u, g_run.total_bytes.load()) << "a folder of files without digest adds nothing";
}

// A path that does not fit even the long form is refused, never cut: a cut
// path can name another file.
TEST_F(ProcessFileTest, PathsBeyondTheLongFormAreNeverCut)
{
    std::wstring real = make(L"cut.txt", "a file beside the refused paths\n");
    linux_store_digest(real);
    std::string stored = linux_stream_hex(real);
    std::wstring over = join(dir, std::wstring(32767 - dir.size(), L'o'));
    std::wstring far_over = join(dir, std::wstring(40000, L'o'));
    std::string before = linux_data_snapshot(dir);

    for (RunMode mode : {List, Check, Remove}) {
        harness_reset();
        for (const auto& p : {over, far_over})
            ASSERT_TRUE(run_process_file(mode, p));
        EXPECT_EQ((Paths{over, far_over}), items(g_run.without_list)) << "mode " << (int)mode;
        EXPECT_EQ(Paths{}, items(g_run.withhash_list)) << "mode " << (int)mode;
        EXPECT_EQ(Paths{}, items(g_run.altered_list)) << "mode " << (int)mode;
        EXPECT_EQ(0u, g_run.done_bytes.load()) << "mode " << (int)mode;
    }
    harness_reset();
    for (const auto& p : {over, far_over})
        ASSERT_TRUE(run_process_file(SizePass, p));
    EXPECT_EQ(0u, g_run.total_bytes.load());

    EXPECT_EQ(before, linux_data_snapshot(dir)) << "no file may be touched through a cut name";
    EXPECT_EQ(stored, linux_stream_hex(real)) << "the file beside them keeps its digest";
}
