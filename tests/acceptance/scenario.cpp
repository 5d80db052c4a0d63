#include "scenario.h"
#include "oracle.h"
#include "res/resource.h"
#include <stdlib.h>

std::string env_or(const char* name, const char* fallback)
{
    const char* v = getenv(name);
    return v && *v ? v : fallback;
}

std::string tree_py(const std::string& args, int* status)
{
    std::string py = env_or("KESTRIN_SOURCE_DIR", ".") + "/tests/acceptance/tree.py";
    return linux_sh("python3 " + sh_quote(py) + " " + args, status, 1800000);
}

bool run_job(const Kestrin& k, int button, DWORD timeout_ms, double* seconds)
{
    mark_status_line(k);
    ULONGLONG t0 = GetTickCount64();
    if (!press(k, button))
        return false;
    if (button == IDC_REMOVE) {
        HWND box = find_dialog(k, L"Remove Hashes", 10000);
        if (!box)
            return false;
        answer(box, IDYES);
    }
    bool ended = wait_job_end(k, timeout_ms);
    if (seconds)
        *seconds = (GetTickCount64() - t0) / 1000.0;
    return ended;
}
