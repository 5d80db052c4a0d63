#include "jobs/run_state.h"

// Zero everywhere but the two fields with initial values in the record.
constinit RunState g_run{};
