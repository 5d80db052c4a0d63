// The scheduled task that `schedule` makes, as the Task Scheduler's XML
// definition: what it runs, when, and under which conditions.
#pragma once
#include "cli/command_line.h"
#include <stdint.h>

struct TaskPlan {
    bool weekly;              // weekly on `day`, else daily
    int day;                  // 0 Sunday ... 6 Saturday
    int hour, minute;         // local time
    uint32_t slices;          // 0: the whole of every target each run
    bool on_battery;          // also on battery power
    const wchar_t* exe;       // the kestrin-cli that runs, full path
    const wchar_t* report;    // the report, full path
    wchar_t* const* targets;  // full paths
    int target_count;
};

// The arguments the task passes to kestrin-cli: update with the report, the
// notification, the event log entry and the slice of the week (or day),
// then "--" and the targets.
void task_arguments(const TaskPlan* plan, WideText* out);

// The whole definition, for the user who runs it: a calendar trigger, low
// priority (7: below-normal CPU, low I/O priority), mains power only unless
// on_battery, a start as soon as possible after a missed time, no time
// limit (a large archive takes many hours), never two runs at once, and
// only while the user is logged on (the notification needs the desktop).
void task_definition(const TaskPlan* plan, const wchar_t* description, WideText* out);

// "every Sunday at 03:00" / "every day at 03:00" into `out`.
void task_when(const TaskPlan* plan, WideText* out);
