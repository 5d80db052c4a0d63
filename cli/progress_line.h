// The progress line: while files are hashed and standard error is a
// console, once a second the window's status-bar figures (percentage,
// current and average MB/s, remaining time) on one rewritten line.
#pragma once

// Starts the once-a-second thread; the clocks start now. Nothing without
// g_cli.progress.
void progress_start();
// Stops it and blanks the line.
void progress_stop();
