// process_file: the per-file action of the window's scan jobs, which routes
// each file into one of the three result lists by g_run.mode.
#pragma once

// Acts on one file according to g_run.mode (SizePass, List, Remove, else Check).
// `path` is shown as it is; the calls take its long form where it needs one.
void process_file(const wchar_t* path);
