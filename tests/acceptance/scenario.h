// What the scale and fault tests share: the tree script on the Linux side and
// running one command of the real window to its end.
#pragma once
#include "driver.h"
#include <string>

// An environment variable, or `fallback` when unset or empty.
std::string env_or(const char* name, const char* fallback);

// Runs tests/acceptance/tree.py with `args` on Linux; its output.
std::string tree_py(const std::string& args, int* status);

// Presses `button` (answering Remove's confirmation with Yes) and waits for
// the job to end. `seconds` (if given) receives the time from the press to
// the end. False when the button could not be pressed or the job did not end.
bool run_job(const Kestrin& k, int button, DWORD timeout_ms = 1800000, double* seconds = nullptr);
