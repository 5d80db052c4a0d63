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

// What reading the stored digest found.
enum StoredDigest : int {
    DigestRead = 0,     // 64 bytes read
    DigestMissing,      // no stream (the open found nothing)
    DigestLocked,       // the stream exists but could not be opened (sharing, access)
    DigestShort,        // opened, but the read failed or gave fewer than 64 bytes
};
// Opens the stream for reading and reads its first 64 bytes into `stored`,
// in one read; bytes after the 64th are ignored. `bytes_read` (may be null)
// receives how many bytes that read gave (0 when it failed).
StoredDigest read_stored_digest(const wchar_t* stream_path, uint8_t* stored, uint32_t* bytes_read = nullptr);

// Hashes the file's data into `digest` (64 bytes, 16-byte aligned), waiting
// on `gate` before every read and counting the bytes read in `counter`. When
// `last_write` is given it receives the file's last-write time, read from the
// same handle. False when the data cannot be opened, timed or sized, or did
// not deliver its whole size: such a digest must never be stored or trusted.
bool hash_file_data(const wchar_t* file_path, uint8_t* digest, FILETIME* last_write,
                    HANDLE gate, std::atomic<uint64_t>* counter);

// The size of a file from the attribute query by path (nothing opened).
bool file_size_by_path(const wchar_t* file_path, uint64_t* size);

// Value of a writing flag once writing has been closed for good (Exit, an
// interrupt): no further stream may be begun.
constexpr int32_t kWritesClosed = 2;

// Stores `digest` in the stream and puts the file's last-write time back to
// `last_write` (through the stream handle, else through the file). An
// existing stream is overwritten in place and then cut to 64 bytes, so a
// process killed at any moment leaves the old digest or the new one, never
// an empty stream. False when the 64 bytes were not written (no partial
// stream is left), or when `writing` could not be claimed 0 -> 1 because
// writing was closed. `writing` is 1 exactly while the stream is open.
bool write_digest_stream(const wchar_t* stream_path, const wchar_t* file_path,
                         const uint8_t* digest, const FILETIME* last_write,
                         std::atomic<int32_t>* writing);

// Deletes the stream; the file and its data stay. False when it could not.
bool delete_stream(const wchar_t* stream_path);
