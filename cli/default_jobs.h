// How many workers a run takes when --jobs is not given. Parallel reads make
// a spinning disk seek back and forth and run several times slower, so files
// are hashed in parallel only where every target lies on a drive that says
// it has no seek penalty (solid-state); spinning, network and unknown drives
// get one worker.
#pragma once

enum SeekAnswer : int {
    SeekPenalty = 0,     // the drive says it seeks (spinning), or it is a network drive
    NoSeekPenalty,       // the drive says it does not
    SeekUnknown,         // no answer (the query failed or is not supported)
};

// The drive's answer for the volume that holds `path` (as written).
SeekAnswer drive_seek_answer(const wchar_t* path);

// The default from the drives' answers for the run's targets: `processors`
// when every answer is NoSeekPenalty, otherwise 1; never more than `limit`.
int default_jobs(const SeekAnswer* answers, int count, int processors, int limit);
