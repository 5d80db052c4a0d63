// Storing a digest is tied to the hashing it comes from: a file that changed
// or went away after it was hashed gets no digest (and is never created
// anew), Create never replaces a stream that is there (one that could not be
// read in a Check included), and a last-write time that could not be put
// back is a digest not written. Streams and times are read by Linux.
#include "harness.h"
#include "oracle.h"
#include "test_env.h"
#include "jobs/digest_record.h"
#include "jobs/jobs.h"
#include "jobs/targets.h"
#include <gtest/gtest.h>
#include <malloc.h>

using Paths = std::vector<std::wstring>;

class WritePathTest : public JobsTest {
public:
    // GoogleTest makes the fixture with new, which on 32-bit mingw gives 8-byte
    // alignment only; the digest below must start at a multiple of 16.
    static void* operator new(size_t bytes) { return _aligned_malloc(bytes, 16); }
    static void operator delete(void* p) { _aligned_free(p); }

protected:
    void TearDown() override { digest_write_seams = kept_seams; }
    const DigestWriteSeams kept_seams = digest_write_seams;
    std::atomic<int32_t> writing{0};
    std::atomic<uint64_t> counted{0};
    alignas(16) uint8_t digest[kDigestBytes];
    FileStamp stamp;
    wchar_t stream_call[kStreamPathChars];
    wchar_t record_call[kStreamPathChars];

    // Hashes `file` (gate open) and forms its stream and record paths.
    void hash(const std::wstring& file)
    {
        ASSERT_TRUE(make_stream_path(file.c_str(), stream_call));
        ASSERT_TRUE(make_record_path(stream_call, record_call));
        ASSERT_TRUE(hash_file_data(file.c_str(), digest, &stamp, g_run.pause_gate, &counted));
        ASSERT_EQ(StampSame, check_stamp_by_path(file.c_str(), &stamp));
    }
    WriteOutcome write(const std::wstring& file, bool create)
    {
        DigestWrite w = {file.c_str(), stream_call, record_call, digest, &stamp, create};
        WriteOutcome outcome = write_digest(&w, &writing);
        EXPECT_EQ(0, writing.load()) << "the writing flag is released";
        return outcome;
    }
    static void touch(const std::wstring& file, const char* when)
    {
        linux_sh("touch -m -d '" + std::string(when) + "' " + sh_quote(to_linux_path(file)));
    }
};

struct HashArgs {
    const wchar_t* file;
    uint8_t* digest;
    FileStamp* stamp;
    HANDLE gate;
    std::atomic<uint64_t>* counter;
    bool ok;
};

static DWORD WINAPI hash_on_worker(void* p)
{
    HashArgs* a = (HashArgs*)p;
    a->ok = hash_file_data(a->file, a->digest, a->stamp, a->gate, a->counter);
    return 0;
}

TEST_F(WritePathTest, AFileChangedOrGoneAfterHashingIsNotWritten)
{
    std::wstring saved = make(L"saved.txt", "as hashed");
    std::wstring gone = make(L"gone.txt", "deleted before the write");
    std::wstring touched = make(L"touched.txt", "same size, new time");
    for (const auto& f : {saved, gone, touched})
        touch(f, "2005-06-07 08:09:10.1234567");

    hash(saved);
    linux_sh("printf ' and saved again' >> " + sh_quote(to_linux_path(saved)));
    EXPECT_EQ(WriteFileChanged, write(saved, true));
    hash(touched);
    touch(touched, "2005-06-07 08:09:10.1234568");
    EXPECT_EQ(WriteFileChanged, write(touched, false)) << "a time 100 ns later is another file";
    hash(gone);
    linux_sh("rm " + sh_quote(to_linux_path(gone)));
    EXPECT_EQ(WriteFileNotHeld, write(gone, true));
    EXPECT_EQ(-1, linux_file_size(to_linux_path(gone))) << "opening its stream created the file anew";
    // A hash that was only to be compared took no time: its stamp is never stored.
    std::wstring untimed = make(L"untimed.txt", "unchanged, stamp without a time");
    hash(untimed);
    stamp.timed = false;
    EXPECT_EQ(WriteFileChanged, write(untimed, true));
    for (const auto& f : {saved, touched, untimed}) {
        bool exists = true;
        linux_stream_hex(f, &exists);
        EXPECT_FALSE(exists) << narrow(f) << ":z";
    }

    // Written while it is hashed (held at the gate after the first read):
    // it did not stand still, so it is never taken for rot, and not written.
    std::wstring big = make(L"big.bin", std::string(200000, 'b'));
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HashArgs a = {big.c_str(), digest, &stamp, gate, &counted, false};
    HANDLE worker = CreateThread(nullptr, 0, hash_on_worker, &a, 0, nullptr);
    ASSERT_NE(nullptr, worker);
    Sleep(500);
    touch(big, "2001-01-01");
    SetEvent(gate);
    WaitForSingleObject(worker, 60000);
    CloseHandle(worker);
    CloseHandle(gate);
    EXPECT_TRUE(a.ok);
    EXPECT_EQ(StampMoved, check_stamp_by_path(big.c_str(), &stamp)) << "a file whose time moved during its hash";
}

// kestrin-cli asks after a mismatch whether the file stood still while it
// was hashed: a new time, a new size under the old time, or no file at all
// is not standing still; a stamp without a time (a hash only compared)
// compares the size alone.
TEST_F(WritePathTest, UnchangedSinceTheHashMeansSameSizeAndTime)
{
    std::wstring f = make(L"still.txt", "still");
    hash(f);
    EXPECT_EQ(StampSame, check_stamp_by_path(f.c_str(), &stamp));
    touch(f, "2001-01-01");
    EXPECT_EQ(StampMoved, check_stamp_by_path(f.c_str(), &stamp)) << "time moved";
    FileStamp untimed = stamp, now = {};
    untimed.timed = false;
    EXPECT_EQ(StampSame, check_stamp_by_path(f.c_str(), &untimed, &now)) << "without a time only the size counts";
    EXPECT_TRUE(now.timed);
    EXPECT_NE(0, CompareFileTime(&now.last_write, &stamp.last_write)) << "what the file has now";
    hash(f);
    std::string lf = sh_quote(to_linux_path(f));
    linux_sh("t=$(stat -c %y " + lf + ") && printf more >> " + lf + " && touch -m -d \"$t\" " + lf);
    EXPECT_EQ(StampMoved, check_stamp_by_path(f.c_str(), &stamp)) << "grew, time put back";
    untimed = stamp;
    untimed.timed = false;
    EXPECT_EQ(StampMoved, check_stamp_by_path(f.c_str(), &untimed)) << "grew, untimed";
    linux_sh("rm " + lf);
    EXPECT_EQ(StampUnknown, check_stamp_by_path(f.c_str(), &stamp)) << "gone: nothing known";
}

TEST_F(WritePathTest, CreateNeverReplacesAStreamAndALostTimeIsNotWritten)
{
    std::wstring junk = make(L"junk.txt", "a stream of 10 bytes is there");
    linux_store_junk(junk, 10);
    std::string before = linux_stream_hex(junk);
    hash(junk);
    EXPECT_EQ(WriteStreamExists, write(junk, true));
    EXPECT_EQ(before, linux_stream_hex(junk));

    // NTFS's time 0 (1601): the platform's time call reads 0 as "leave it",
    // so the time that writing the stream moved stays moved.
    std::wstring epoch = make(L"epoch.txt", "time zero");
    touch(epoch, "1601-01-01 00:00:00 UTC");
    hash(epoch);
    EXPECT_EQ(0u, filetime_units(&stamp.last_write)) << "the volume keeps the time 0";
    EXPECT_EQ(WriteTimeLost, write(epoch, true));
    // Nothing is left that would tell the old time: no digest, no record.
    const std::string le = to_linux_path(epoch);
    bool exists = true;
    linux_read_hex(le + ":z", &exists);
    EXPECT_FALSE(exists) << "a digest reported not written is there";
    linux_read_hex(le + ":z.rec", &exists);
    EXPECT_FALSE(exists) << "a record of the old time is there";

    // Over a digest (Linux's, of earlier content): the old digest stays, and
    // no record says it was made at the time the file has now.
    std::wstring old = make(L"old.txt", "earlier content");
    linux_store_digest(old);
    const std::string lo = to_linux_path(old);
    const std::string old_digest = linux_stream_hex(old);
    linux_sh("printf ', then more' >> " + sh_quote(lo));
    touch(old, "1601-01-01 00:00:00 UTC");
    hash(old);
    EXPECT_EQ(WriteTimeLost, write(old, false));
    EXPECT_EQ(old_digest, linux_stream_hex(old)) << "the digest reported not written replaced the old one";
    linux_read_hex(lo + ":z.rec", &exists);
    EXPECT_FALSE(exists) << "a record beside a digest whose time was not kept";
}

// The stream writes made to fail part-way: the n-th write puts half its
// bytes down, then fails as a full disk does.
static int g_fail_at, g_writes;
static BOOL WINAPI failing_write(HANDLE file, const void* bytes, DWORD len, DWORD* wrote, OVERLAPPED* overlapped)
{
    if (++g_writes != g_fail_at)
        return WriteFile(file, bytes, len, wrote, overlapped);
    WriteFile(file, bytes, len / 2, wrote, overlapped);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// A write that fails at any point leaves the digest and record the file had
// (none when it had none) and its time: never neither, never a new digest
// without its record.
TEST_F(WritePathTest, AFailedWriteLeavesTheOldPair)
{
    std::wstring f = make(L"kept.txt", "first content");
    hash(f);
    ASSERT_EQ(WriteDone, write(f, true));
    const std::string lf = to_linux_path(f);
    const std::string z0 = linux_read_hex(lf + ":z"), rec0 = linux_read_hex(lf + ":z.rec");
    ASSERT_EQ(72u, rec0.size());
    linux_sh("printf ', and more' >> " + sh_quote(lf));
    const long long t = linux_mtime_ns(lf);
    digest_write_seams.write_file = failing_write;
    for (int at : {1, 2}) {   // the digest's write, then the record's
        g_writes = 0;
        g_fail_at = at;
        hash(f);
        EXPECT_EQ(WriteFailed, write(f, false)) << at;
        EXPECT_EQ(z0, linux_read_hex(lf + ":z")) << at;
        EXPECT_EQ(rec0, linux_read_hex(lf + ":z.rec")) << at;
        EXPECT_EQ(t, linux_mtime_ns(lf)) << at;
    }
    std::wstring n = make(L"new.txt", "no digest yet");
    g_writes = 0;
    g_fail_at = 2;
    hash(n);
    EXPECT_EQ(WriteFailed, write(n, true));
    bool exists = true;
    linux_stream_hex(n, &exists);
    EXPECT_FALSE(exists) << "a new digest without its record";
}

// The window: a digest that could not be read in a Check (its stream held by
// another program) lands under "Files without Hash:"; Create then leaves it,
// and counts it.
TEST_F(WritePathTest, WindowCreateLeavesADigestItCouldNotRead)
{
    std::wstring held = make(L"held.txt", "its digest is held open during the Check");
    std::wstring epoch = make(L"epoch.txt", "time zero");
    std::wstring plain = make(L"plain.txt", "no digest yet");
    linux_store_junk(held, 64);
    std::string before = linux_stream_hex(held);
    touch(epoch, "1601-01-01 00:00:00 UTC");
    HANDLE h = CreateFileW((held + L":z").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    lstrcpyW(g_run.PathBuffer, (L"\"" + dir + L"\"").c_str());
    ASSERT_EQ(0, parse_targets());
    bool ran = run_job(Check, ScanJob, nullptr);
    CloseHandle(h);
    ASSERT_TRUE(ran);
    ASSERT_EQ((Paths{epoch, held, plain}), items(g_run.without_list));

    ASSERT_TRUE(run_job(Create, WriteJob, &g_run.without_list));
    EXPECT_EQ(L"2 hashes could not be written.", status_text());
    EXPECT_EQ((Paths{epoch, held}), items(g_run.without_list));
    EXPECT_EQ((Paths{plain}), items(g_run.withhash_list));
    EXPECT_EQ(before, linux_stream_hex(held)) << "Create replaced a digest it could not read";
    EXPECT_EQ(openssl_whirlpool_hex(to_linux_path(plain)), linux_stream_hex(plain));
}
