// A file's data as the digest write and the comparisons see it: hashing it
// whole, and its stamp (size and last-write time), taken from an open handle
// or by path and compared in one place. Shared by both programs.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>

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

// The stamp of an open file, asked of its handle; untimed (size alone)
// unless `timed`. False when the handle could not be asked.
bool stamp_of_handle(HANDLE file, bool timed, FileStamp* out);

// Whether `now` (timed) is the file `then` describes: the same size, and the
// same last-write time to 100 ns when `then` is timed.
bool stamps_agree(const FileStamp* now, const FileStamp* then);

bool same_time(const FILETIME* a, const FILETIME* b);

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
