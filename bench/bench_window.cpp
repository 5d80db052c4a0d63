// Files per second of the real window's List and Check over a tree, for one
// or more builds of Kestrin.exe taken in turns in the same run, so that two
// builds are compared on the same machine, files and moment.
//   bench_window FOLDER EXE [EXE...]   (Windows paths; the NTFS volume and a
//   display as the tests have them)
// The tree should carry digests for the Check figure to mean anything; the
// first build's Create Hashes writes them when the first List finds none.
#include "driver.h"
#include "scenario.h"
#include "res/resource.h"
#include "test_env.h"
#include <stdio.h>
#include <string>
#include <vector>

namespace {

// Runs one job of a fresh process of `exe` over `folder`; seconds, or -1.
double timed(const std::wstring& exe, const std::wstring& folder, int button, size_t* listed)
{
    SetEnvironmentVariableW(L"KESTRIN_EXE", exe.c_str());
    Kestrin k;
    if (!kestrin_start(k, L"\"" + folder + L"\""))
        return -1;
    double seconds = -1;
    if (!run_job(k, button, 3600000, &seconds))
        seconds = -1;
    if (listed)
        *listed = list_items(k, IDC_WITHHASH_LIST).size() + list_items(k, IDC_WITHOUT_LIST).size();
    if (button == IDC_LIST && list_items(k, IDC_WITHHASH_LIST).empty() && !list_items(k, IDC_WITHOUT_LIST).empty()) {
        // No digests yet: this build writes them, so that the Checks hash.
        run_job(k, IDC_CREATE, 3600000, nullptr);
    }
    kestrin_kill(k);
    return seconds;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: bench_window FOLDER EXE [EXE...]\n");
        return 2;
    }
    std::wstring folder = argv[1];
    std::vector<std::wstring> exes(argv + 2, argv + argc);
    for (int round = 0; round < 2; ++round) {
        // The order turns round each time, so neither build always goes first.
        for (size_t n = 0; n < exes.size(); ++n) {
            const std::wstring& exe = exes[round % 2 ? exes.size() - 1 - n : n];
            size_t files = 0;
            double list = timed(exe, folder, IDC_LIST, &files);
            double check = timed(exe, folder, IDC_START, nullptr);
            printf("%s: %zu files, List %.1f s = %.0f files/s, Check %.1f s = %.0f files/s\n", narrow(exe).c_str(),
                   files, list, files / list, check, files / check);
            fflush(stdout);
        }
    }
    return 0;
}
