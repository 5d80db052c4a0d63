// The digest record: a second stream beside "z", named "z.rec", that says
// what the file was when its digest was made, so that a mismatch can be told
// apart: content that changed while size and last-write time stayed as
// recorded was not written through the file system (rot, a bad copy), while
// a file whose size or time moved was edited. Written only by kestrin-cli;
// the window program reads and writes "z" alone.
//
// Layout: kRecordBytes bytes, little-endian, no padding:
//   0  uint32  format version (kRecordVersion)
//   4  uint64  the file's size in bytes at hashing
//  12  uint64  the file's last-write time at hashing (100 ns units since
//              1601-01-01 UTC), the time the write kept
//  20  16 B    the first 16 bytes of the digest in "z" it belongs to
// A record of another length or version, or whose digest bytes differ from
// the "z" beside it (the window program rewrote "z"), is stale: ignored.
#pragma once
#include "jobs/hash_stream.h"

constexpr int kRecordBytes = 36;
constexpr uint32_t kRecordVersion = 1;
constexpr int kRecordDigestBytes = 16;

// What a record holds, decoded.
struct DigestRecord {
    uint64_t size;
    uint64_t last_write;   // 100 ns units, as a FILETIME
};

// "<stream path>.rec": the record's path from the "z" stream's call path,
// into `out` (kStreamPathChars). False when it does not fit.
bool make_record_path(const wchar_t* stream_path, wchar_t* out);

// The record's bytes for `digest` (64) and the file's `stamp`.
void encode_record(const uint8_t* digest, const FileStamp* stamp, uint8_t* bytes);

// Reads the record at `record_path` (may be null: no record) and decodes it
// into `record`. True only for a whole record of this version that belongs
// to `digest` (the 64 bytes in "z"); anything else is stale or absent.
bool read_record(const wchar_t* record_path, const uint8_t* digest, DigestRecord* record);

// The record describes the file as `stamp` saw it: same size, same
// last-write time to 100 ns.
bool record_fits(const DigestRecord* record, const FileStamp* stamp);

// 100 ns units of a FILETIME.
uint64_t filetime_units(const FILETIME* time);
