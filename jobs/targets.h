// The window's target list, split from the path field, and its walk.
#pragma once

// Splits PathBuffer into g_run.args / arg_count and checks every target exists.
// Returns 0 when all exist; 1 after telling the user about the first missing
// one (args released). Window thread, while Idle.
int parse_targets();

// Visits every target in order: folders are walked, anything else goes to
// process_file. Folders that could not be enumerated are counted in
// g_run.skipped_folders. Job thread.
void walk_targets();

// Walks one folder of the window's job, as walk_targets does.
void walk_folder(const wchar_t* folder);
