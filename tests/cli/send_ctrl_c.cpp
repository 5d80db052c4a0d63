// send_ctrl_c PID: delivers Ctrl+C to the console of process PID, as a user
// pressing it there would. It leaves its own console (if any), attaches to
// PID's, ignores the event itself and raises it for every process on that
// console. Exit code 0 when the event was raised, 1 when the console could
// not be reached.
#include <windows.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    DWORD pid = (DWORD)wcstoul(argv[1], nullptr, 10);
    FreeConsole();
    if (!AttachConsole(pid))
        return 1;
    SetConsoleCtrlHandler(nullptr, TRUE);
    BOOL raised = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    // Leaving the console at once could end it before the event is read.
    Sleep(50);
    FreeConsole();
    return raised ? 0 : 1;
}
