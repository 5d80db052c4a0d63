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
#include "jobs/file_data.h"
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

// What the attribute query by path says of the stream, without opening it:
// DigestMissing, DigestShort (fewer than 64 bytes), DigestPresent (64 or
// more: a digest is there, nothing read), DigestLocked (the query failed).
StoredDigest probe_stored_digest(const wchar_t* stream_path);

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
