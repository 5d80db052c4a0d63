// How kestrin-cli hashes a file's data: each worker through a digest context
// of its own, in large reads with the next one read while the current one is
// hashed, and with the interrupt looked at before every read, so that Ctrl+C
// ends even a large file within a read instead of at its end.
#pragma once
#include "cli/file_pool.h"
#include "engine/digest_context.h"
#include "jobs/hash_stream.h"

// Readies one context per worker (`jobs` of them) for `transform`, after the
// transform choice. False when a buffer or a reader thread cannot be had;
// nothing is then left open.
bool open_file_hashing(TransformId transform, int jobs);
void close_file_hashing();

// Hashes the data of the worker's file (work->file_path) as hash_file_data
// does, through the worker's context, counting into the run's done_bytes.
// The stamp is timed only for a caller that may store a digest with it.
bool hash_run_file(FileWork* work, uint8_t* digest, FileStamp* stamp, bool timed);

// Whether the interrupt ended the last file the worker hashed: it was left
// unfinished, not found unreadable.
bool hashing_was_stopped(const FileWork* work);

// Records that the worker's file could not be hashed whole (`status`:
// unreadable or missing), unless the interrupt ended its hashing: such a
// file was left unfinished, and the run as a whole says it was interrupted.
void unhashed_finding(FileWork* work, FindingStatus status);
