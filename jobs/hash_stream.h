// The HashStream record: the file's "z" stream, holding exactly the 64 raw
// Whirlpool bytes of the file's data. Every way the record is formed, tested,
// read, written and deleted lives here, shared by the window program and
// kestrin-cli; what a program does with the outcome (which list, which
// finding) is its own business.
//
// Paths given to these routines are in the form the calls take (see
// make_stream_path / make_file_path), except where a routine says otherwise.
#pragma once
#include "jobs/long_path.h"
#include <windows.h>
#include <stdint.h>
#include <atomic>

constexpr int kDigestBytes = 64;
constexpr size_t kStreamPathChars = kLongPathChars;   // stream path buffer, terminator included

// "<path>:z" in the form the calls take, into `out` (kStreamPathChars).
// False when it does not fit: such a file must never be worked on under a
// cut name.
bool make_stream_path(const wchar_t* path, wchar_t* out);

// `path` in the form the calls take, into `out` (kLongPathChars). False when
// it does not fit.
bool make_file_path(const wchar_t* path, wchar_t* out);

// Presence test of a stream (or any path) in call form.
bool stream_exists(const wchar_t* stream_path);

// Opens the stream (or file) at `path` for reading, shared with readers
// only, and reads up to `capacity` bytes in one read into `bytes`; `got`
// receives how many (0 when the read failed). False when it could not be
// opened: `open_error` then holds why.
bool read_stream_bytes(const wchar_t* path, uint8_t* bytes, DWORD capacity, DWORD* got, DWORD* open_error);

// What reading the stored digest found.
enum StoredDigest : int {
    DigestRead = 0,     // 64 bytes read
    DigestMissing,      // no stream (the open found nothing)
    DigestLocked,       // the stream exists but could not be opened (sharing, access)
    DigestShort,        // opened, but the read failed or gave fewer than 64 bytes
    DigestPresent,      // probe_stored_digest: 64 bytes or more are there; nothing was read
};
// Opens the stream for reading and reads its first 64 bytes into `stored`,
// in one read; bytes after the 64th are ignored. `bytes_read` (may be null)
// receives how many bytes that read gave (0 when it failed).
StoredDigest read_stored_digest(const wchar_t* stream_path, uint8_t* stored, uint32_t* bytes_read = nullptr);

// What a file was when it was hashed: its size and last-write time, taken
// from the data handle before the hash. Whether the file stood still while
// it was hashed is asked afterwards where it matters: a digest about to be
// stored is confirmed by the write itself, a mismatch by
// check_stamp_by_path. A hash whose digest is only compared takes the size
// alone (untimed): on a volume served by another process every query of the
// time is a round trip more per file, and a mismatch is looked at again
// after the hash anyway. An untimed stamp is never stored.
struct FileStamp {
    uint64_t size;
    FILETIME last_write;    // the time a write keeps; zero when untimed
    bool timed;
};

// What the attribute query by path says of the stream, without opening it:
// DigestMissing, DigestShort (fewer than 64 bytes), DigestPresent (64 or
// more: a digest is there, nothing read), DigestLocked (the query failed).
StoredDigest probe_stored_digest(const wchar_t* stream_path);

// Hashes the file's data into `digest` (64 bytes, 16-byte aligned), waiting
// on `gate` before every read and counting the bytes read in `counter`. When
// `stamp` is given it receives the file's size and last-write time, read from
// the same handle before the hash. False when the data cannot be
// opened, timed or sized, or did not deliver its whole size: such a digest
// must never be stored or trusted.
bool hash_file_data(const wchar_t* file_path, uint8_t* digest, FileStamp* stamp,
                    HANDLE gate, std::atomic<uint64_t>* counter);

// The same through a caller's own digest context (engine/digest_context.h),
// for a program that does not use the process-wide operands: reads of the
// context's size, and `stop` (may be null) looked at before every read. A
// file that `stop` ended is not complete; context->stopped tells so. The
// stamp is timed only when `timed` asks for it.
struct DigestContext;
bool hash_file_data_in(DigestContext* context, const wchar_t* file_path, uint8_t* digest, FileStamp* stamp,
                       bool timed, HANDLE gate, std::atomic<uint64_t>* counter, std::atomic<int32_t>* stop);

// The attribute query by path that the stamps by path make. Tests replace it
// to make the query fail after a hash.
extern BOOL(WINAPI* query_attributes_by_path)(const wchar_t* path, GET_FILEEX_INFO_LEVELS level, void* info);

// The size of a file from the attribute query by path (nothing opened).
bool file_size_by_path(const wchar_t* file_path, uint64_t* size);

// What the attribute query by path says of a file against a stamp.
enum StampCheck : int {
    StampSame = 0,   // the stamp's size, and its last-write time when it is timed
    StampMoved,      // another size or time
    StampUnknown,    // the query failed (the file is gone, or could not be asked): nothing is known
};

// Asks the attribute query by path (nothing opened) whether the file at
// `file_path` still is as `stamp` saw it; `now` (may be null) receives what
// the query found, timed, when it succeeded. Asked after a hash, it tells
// whether the file stood still while it was hashed.
StampCheck check_stamp_by_path(const wchar_t* file_path, const FileStamp* stamp, FileStamp* now = nullptr);

// Value of a writing count once writing has been closed for good (Exit, an
// interrupt): no further stream may be begun. Closing takes the count from
// 0 to this, so it waits for every write under way.
constexpr int32_t kWritesClosed = -1;

// Closes writing for good once no stream is being written, waiting (a
// millisecond at a time, not spinning) for the writes under way; after it
// returns write_digest begins nothing. Any thread.
void close_writes(std::atomic<int32_t>* writing);

// What storing a digest came to.
enum WriteOutcome : int {
    WriteDone = 0,
    WriteFileChanged,    // the file's size or last-write time moved since it was hashed: nothing written
    WriteStreamExists,   // create: a "z" stream is there already and was left as it is
    WriteFailed,         // a stream could not be opened or written: each stream holds what it held before
    WriteTimeLost,       // the last-write time could not be put back: the old digest is back (none
                         // where there was none) and no record is left
    WriteClosed,         // writing was closed for good (an interrupt): nothing was begun
    WriteFileNotHeld,    // the file could not be opened and held (gone, open for writing elsewhere,
                         // no access): nothing written
    WriteFileSaved,      // another program saved the file while its digest was written: the new digest
                         // and record (of the file as it was hashed) stay, its time stays the save's
};

// One digest to store for a file hashed as `stamp` says.
struct DigestWrite {
    const wchar_t* file_path;     // call form
    const wchar_t* stream_path;   // the "z" stream, or null to write the record alone
    const wchar_t* record_path;   // the record (jobs/digest_record.h), or null to write "z" alone
    const uint8_t* digest;        // 64 bytes
    const FileStamp* stamp;       // from hash_file_data
    bool create;                  // an existing "z" is never replaced
};

// What write_digest calls to write a stream's bytes, and what it calls at
// the moment between writing the streams and putting the file's time back.
// Tests take them over to make a write fail part-way and to save the file
// at that moment; otherwise WriteFile and nothing.
struct DigestWriteSeams {
    BOOL(WINAPI* write_file)(HANDLE file, const void* bytes, DWORD len, DWORD* wrote, OVERLAPPED* overlapped);
    void (*before_time_restore)(const wchar_t* file_path);
};
extern DigestWriteSeams digest_write_seams;

// Stores the digest. Opens the file (never created) and holds it against
// writers for the whole write; confirms through it that it still has the
// size and last-write time it was hashed with; writes "z" (with `create`
// only where there is none; otherwise overwritten in place and then cut, so
// a process killed at any moment leaves the old digest or the new one, never
// an empty stream), then the record the same way; then, unless the file
// moved meanwhile, puts its last-write time back and reads it back. A write
// that fails part-way puts back what it touched. `writing` counts the writes
// under way (several threads may write, each its own file): it is raised
// for the whole write and lowered after; nothing is begun when it holds
// kWritesClosed. The data must not be open in this process (under Wine a
// file and its streams are one object for sharing).
WriteOutcome write_digest(const DigestWrite* write, std::atomic<int32_t>* writing);

// Deletes "z" and, when `record_path` is given, the record; the file and its
// data stay, and its last-write time is put back if the deletion moved it.
// False when "z" was there and could not be deleted.
bool delete_digest(const wchar_t* file_path, const wchar_t* stream_path, const wchar_t* record_path);
