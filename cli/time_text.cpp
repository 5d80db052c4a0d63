// ISO 8601 times.
#include "cli/time_text.h"
#include <windows.h>
#include <stdio.h>

void format_iso_time(uint64_t system_time, wchar_t* out)
{
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)system_time;
    ft.dwHighDateTime = (DWORD)(system_time >> 32);
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) {
        out[0] = L'\0';
        return;
    }
    _snwprintf(out, kTimeTextChars - 1, L"%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear, st.wMonth, st.wDay,
               st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    out[kTimeTextChars - 1] = L'\0';
}
