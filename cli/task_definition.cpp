// The task's definition in the Task Scheduler's XML schema (version 1.2,
// Windows Vista on).
#include "cli/task_definition.h"
#include <windows.h>
#include <stdio.h>

static const wchar_t* const kDayElement[7] = {L"Sunday", L"Monday", L"Tuesday", L"Wednesday",
                                              L"Thursday", L"Friday", L"Saturday"};

void task_arguments(const TaskPlan* plan, WideText* out)
{
    text_add(out, L"update --notify --event-log --report ");
    text_add_arg(out, plan->report);
    if (plan->slices > 1) {
        wchar_t slice[32];
        _snwprintf(slice, 31, L" --slice %ls/%u", plan->weekly ? L"week" : L"day", plan->slices);
        slice[31] = L'\0';
        text_add(out, slice);
    }
    text_add(out, L" --");
    for (int i = 0; i < plan->target_count; ++i) {
        text_add(out, L" ");
        text_add_arg(out, plan->targets[i]);
    }
}

void task_when(const TaskPlan* plan, WideText* out)
{
    wchar_t text[64];
    if (plan->weekly)
        _snwprintf(text, 63, L"every %ls at %02d:%02d", kDayElement[plan->day], plan->hour, plan->minute);
    else
        _snwprintf(text, 63, L"every day at %02d:%02d", plan->hour, plan->minute);
    text[63] = L'\0';
    text_add(out, text);
}

static void element(WideText* out, const wchar_t* name, const wchar_t* value)
{
    text_add(out, L"<");
    text_add(out, name);
    text_add(out, L">");
    text_add_xml(out, value);
    text_add(out, L"</");
    text_add(out, name);
    text_add(out, L">");
}

void task_definition(const TaskPlan* plan, const wchar_t* description, WideText* out)
{
    // The trigger starts today at the time asked (local time, no zone: it
    // follows the clock through daylight saving); the calendar picks the day.
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t start[40];
    _snwprintf(start, 39, L"%04u-%02u-%02uT%02d:%02d:00", now.wYear, now.wMonth, now.wDay, plan->hour, plan->minute);
    start[39] = L'\0';

    text_add(out, L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                  L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
                  L"  <RegistrationInfo>");
    element(out, L"Author", L"kestrin-cli");
    element(out, L"Description", description);
    text_add(out, L"</RegistrationInfo>\r\n  <Triggers>\r\n    <CalendarTrigger>");
    element(out, L"StartBoundary", start);
    element(out, L"Enabled", L"true");
    if (plan->weekly) {
        text_add(out, L"<ScheduleByWeek><DaysOfWeek><");
        text_add(out, kDayElement[plan->day]);
        text_add(out, L" /></DaysOfWeek><WeeksInterval>1</WeeksInterval></ScheduleByWeek>");
    } else {
        text_add(out, L"<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay>");
    }
    text_add(out, L"</CalendarTrigger>\r\n  </Triggers>\r\n"
                  L"  <Principals>\r\n    <Principal id=\"Author\"><LogonType>InteractiveToken</LogonType>"
                  L"<RunLevel>LeastPrivilege</RunLevel></Principal>\r\n  </Principals>\r\n"
                  L"  <Settings>\r\n"
                  L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n    ");
    element(out, L"DisallowStartIfOnBatteries", plan->on_battery ? L"false" : L"true");
    text_add(out, L"\r\n    ");
    element(out, L"StopIfGoingOnBatteries", plan->on_battery ? L"false" : L"true");
    text_add(out, L"\r\n    <StartWhenAvailable>true</StartWhenAvailable>\r\n"
                  L"    <IdleSettings><StopOnIdleEnd>false</StopOnIdleEnd><RestartOnIdle>false</RestartOnIdle></IdleSettings>\r\n"
                  L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
                  L"    <Priority>7</Priority>\r\n"
                  L"  </Settings>\r\n"
                  L"  <Actions Context=\"Author\">\r\n    <Exec>");
    element(out, L"Command", plan->exe);
    wchar_t args_buffer[32768];
    WideText args;
    text_begin(&args, args_buffer, 32768);
    task_arguments(plan, &args);
    if (args.overflow)
        out->overflow = true;
    element(out, L"Arguments", args.text);
    text_add(out, L"</Exec>\r\n  </Actions>\r\n</Task>\r\n");
}
