// Routines that set which controls are visible and enabled when jobs start and
// end. show_result_group and disable_commands run on the window thread;
// restore_commands and clear_progress on the job thread.
#pragma once

void show_result_group(bool with_hash);
void disable_commands();
void restore_commands();
void clear_progress();
