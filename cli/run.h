// The run of one command, the same for every command: the targets tested,
// the command's own questions, the report opened, the engine readied, the
// size pass and the progress line when there is a console, the command, the
// summary, the report moved into place.
#pragma once

// Returns the exit code.
int run_command();
