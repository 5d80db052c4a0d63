// The process's entry and start-up. Nothing of a language runtime runs before
// the entry or after it: the process ends with ExitProcess as soon as the
// main window has ended, and a job that still runs ends with it.
#include "engine/digest.h"
#include "jobs/run_state.h"
#include "ui/main_dialog.h"
#include <objbase.h>
#include <shobjidl.h>

// Creates the process-wide platform objects, runs the main window as a modal
// dialog and returns the exit code, always 0. Nothing is released: COM, the
// taskbar interface and PathBuffer last until the process ends.
static int run_kestrin(HINSTANCE instance)
{
    g_run.instance = instance;
    CoInitialize(nullptr);
    CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                     (void**)&g_run.taskbar);
    // When this fails PathBuffer stays null, and the first command that
    // needs it tries again (ui/commands.cpp).
    g_run.PathBuffer = (wchar_t*)HeapAlloc(GetProcessHeap(), 0,
                                           (SIZE_T)g_run.path_capacity * sizeof(wchar_t));
    build_digest_tables();
    SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
    DialogBoxParamW(instance, L"DLG", nullptr, MainDialog, 0);
    return 0;
}

extern "C" void WinMainCRTStartup()
{
    ExitProcess((UINT)run_kestrin(GetModuleHandleW(nullptr)));
}
