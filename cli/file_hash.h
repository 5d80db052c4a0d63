// How kestrin-cli hashes a file's data: through a digest context of its own,
// in large reads with the next one read while the current one is hashed, and
// with the interrupt looked at before every read, so that Ctrl+C ends even a
// large file within a read instead of at its end.
#pragma once
#include "engine/digest_context.h"
#include "jobs/hash_stream.h"

// Readies the context for `transform` (after the transform choice). False
// when its buffer or reader thread cannot be had.
bool open_file_hashing(TransformId transform);
void close_file_hashing();

// Hashes the data of the file at `file_path` (call form) as hash_file_data
// does, counting into the run's done_bytes, through the run's gate.
bool hash_run_file(const wchar_t* file_path, uint8_t* digest, FileStamp* stamp);

// Whether the interrupt ended the last file hashed: it was left unfinished,
// not found unreadable.
bool hashing_was_stopped();
