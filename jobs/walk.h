// The target list split from the path field, and the depth-first walk.
#pragma once

// Splits PathBuffer into g_run.args / arg_count and checks every target exists.
// Returns 0 when all exist; 1 after telling the user about the first missing
// one (args released). Window thread, while Idle.
int parse_targets();

// Visits every target in order: folders are walked, anything else goes to
// process_file. Job thread.
void walk_targets();

// Walks one folder and everything below it, depth first.
void walk_directory(const wchar_t* folder);
