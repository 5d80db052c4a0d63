// Ctrl+C, Ctrl+Break, the console closed, a log-off, a shut-down: the run
// stops before its next file, no stream write is begun after the interrupt,
// and one that is under way is finished first.
#pragma once

// Installs the console control handler (Ctrl+C included, even in a process
// group of its own).
void install_interrupt_handler();

// Closes stream writing for good once no stream is being written: after it
// returns, write_digest_stream refuses to begin. Any thread.
void close_writing();
