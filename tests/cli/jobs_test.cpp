// Several workers answer as one: the same tree checked at --jobs 1 and at
// --jobs 4 prints the same findings in the same order and writes the same
// report, times, the number of workers and the timed transform choice aside; the findings are those
// Linux planted. Numbers of workers that make no sense are bad usage.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <stdio.h>
#include <time.h>

namespace {

void sh_ok(const std::string& command)
{
    int st = -1;
    std::string out = linux_sh(command, &st);
    ASSERT_EQ(0, st) << command << "\n" << out;
}

// The report as Python reads it, with what may differ between runs left out.
std::string report_without_times(const std::wstring& report)
{
    return linux_sh("python3 -c 'import json,sys\nr=json.load(open(sys.argv[1]))\n"
                    "for k in (\"start\",\"end\",\"jobs\",\"transform\",\"transform_mbps\"): r.pop(k,None)\n"
                    "print(json.dumps(r,sort_keys=True))' " +
                    sh_quote(to_linux_path(report)));
}

}  // namespace

TEST(CliJobs, FourWorkersAnswerAsOne)
{
    // From Linux first: the link a run before this one left leads back.
    linux_sh("rm -rf " + sh_quote(to_linux_path(ntfs_root() + L"\\cli-jobs")));
    const std::wstring dir = ntfs_scratch("cli-jobs");
    const std::string d = to_linux_path(dir);
    const unsigned seed = (unsigned)time(nullptr);
    printf("tree seed %u\n", seed);
    // 90 files of 1 byte to 400 KB in three folders; after create, Linux flips a
    // byte of three (times kept), appends to two, adds one without a digest
    // and cuts one digest to 10 bytes; a link leads back into the walk.
    sh_ok("python3 - " + sh_quote(d) + " " + std::to_string(seed) + " <<'PY'\n"
          "import os, random, sys\n"
          "root, rng = sys.argv[1], random.Random(int(sys.argv[2]))\n"
          "for i in range(90):\n"
          "    p = os.path.join(root, 'd%d' % (i % 3), 'f%02d.bin' % i)\n"
          "    os.makedirs(os.path.dirname(p), exist_ok=True)\n"
          "    open(p, 'wb').write(rng.randbytes(rng.randrange(1, 400000)))\n"
          "PY\n");
    CliRun r = run_cli({L"create", dir});
    ASSERT_EQ(0u, r.code) << narrow(r.err);
    sh_ok("cd " + sh_quote(d) + " && for f in d0/f03.bin d1/f40.bin d2/f80.bin; do python3 -c '"
          "import os,sys\np=sys.argv[1]; st=os.stat(p)\n"
          "with open(p,\"r+b\") as f: f.seek(st.st_size//2); b=f.read(1) or b\"x\"; f.seek(st.st_size//2); "
          "f.write(bytes([b[0]^0x10]))\n"
          "os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))' $f; done"
          " && printf more >> d1/f07.bin && printf more >> d2/f50.bin && printf new > d0/new.bin"
          " && printf 0123456789 > d1/f13.bin:z && ln -s .. d2/back");
    // A file held open for writing by this process: not verified.
    const std::wstring held = dir + L"\\d0\\f21.bin";
    HANDLE lock = CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);

    const std::wstring report1 = build_scratch(L"jobs-1.json"), report4 = build_scratch(L"jobs-4.json");
    CliRun one = run_cli({L"check", L"--jobs", L"1", L"--report", report1, dir});
    CliRun four = run_cli({L"check", L"-j", L"4", L"--report", report4, dir});
    CloseHandle(lock);

    EXPECT_EQ(1u, one.code) << narrow(one.err);
    EXPECT_EQ(one.code, four.code);
    EXPECT_EQ(one.out, four.out) << "the findings and their order";
    std::string rep1 = report_without_times(report1);
    EXPECT_NE(std::string::npos, rep1.find("\"findings\"")) << rep1;
    EXPECT_EQ(rep1, report_without_times(report4));
    EXPECT_NE(std::string::npos, linux_sh("cat " + sh_quote(to_linux_path(report4))).find("\"jobs\":4"));

    // What Linux planted (each list sorted).
    auto at = [&](const char* rel) {
        std::wstring p = dir + L"\\" + widen(rel);
        for (auto& c : p)
            if (c == L'/') c = L'\\';
        return p;
    };
    EXPECT_EQ((std::vector<std::wstring>{at("d0/f03.bin"), at("d1/f40.bin"), at("d2/f80.bin")}),
              paths_with(four.out, L"corrupt"));
    EXPECT_EQ((std::vector<std::wstring>{at("d1/f07.bin"), at("d2/f50.bin")}), paths_with(four.out, L"edited"));
    EXPECT_EQ((std::vector<std::wstring>{at("d0/new.bin")}), paths_with(four.out, L"no-digest"));
    EXPECT_EQ((std::vector<std::wstring>{at("d1/f13.bin")}), paths_with(four.out, L"damaged"));
    EXPECT_EQ((std::vector<std::wstring>{held}), paths_with(four.out, L"unreadable"));
    EXPECT_EQ((std::vector<std::wstring>{at("d2/back")}), paths_with(four.out, L"skipped"));
    EXPECT_EQ(9u, findings_of(four.out).size()) << narrow(four.out);

    for (const wchar_t* bad : {L"0", L"65", L"x", L"-1", L""}) {
        CliRun b = run_cli({L"check", L"--jobs", bad, dir});
        EXPECT_EQ(3u, b.code) << "--jobs '" << narrow(bad) << "'";
    }
    EXPECT_EQ(3u, run_cli({L"list", L"-j", L"2", dir}).code) << "list hashes nothing";
}

// Every transform this processor runs is timed, and the report lists each:
// SSE4.1 as the processor has it (the emulated model's flag, else
// /proc/cpuinfo), the others everywhere; the one taken is the fastest. Runs
// on the emulated models too (cli_tests_core2duo, cli_tests_Penryn). The
// report gives rates to 0.1 MB/s, so the fastest may share its rate with
// another (seen emulated): the one taken must have the highest rate, not be
// the first listed with it.
TEST(CliJobs, ReportNamesEveryTimedTransformAndTakesTheFastest)
{
    const std::wstring dir = ntfs_scratch("cli-transform");
    sh_ok("printf abc > " + sh_quote(to_linux_path(dir) + "/abc.txt"));
    const std::wstring report = build_scratch(L"transform-report.json");
    CliRun r = run_cli({L"create", L"--report", report, dir});
    ASSERT_EQ(0u, r.code) << narrow(r.err);
    int sse41 = known_sse41();
    ASSERT_NE(-1, sse41) << "the processor's SSE4.1 flag cannot be read";
    int st = -1;
    std::string timed = linux_sh("python3 -c 'import json,sys\nr=json.load(open(sys.argv[1]))\nm=r[\"transform_mbps\"]\n"
                                 "print(sorted(m), m[r[\"transform\"]] == max(m.values()))\nprint(r[\"transform\"], m)' " +
                                     sh_quote(to_linux_path(report)),
                                 &st);
    printf("%s: %s", getenv("QEMU_CPU") ? getenv("QEMU_CPU") : "this processor", timed.c_str());
    timed.erase(timed.find('\n') + 1);  // the rates line is for the log
    EXPECT_EQ(std::string(sse41 ? "['baseline', 'mmx', 'rows64', 'sse41'] True\n" : "['baseline', 'mmx', 'rows64'] True\n"),
              timed);
    // The digest the chosen transform made is OpenSSL's.
    EXPECT_EQ(openssl_whirlpool_hex(to_linux_path(dir) + "/abc.txt"), linux_read_hex(to_linux_path(dir) + "/abc.txt:z"));
}

// The message that a last-write time could not be put back comes with its
// file's finding, in the walk's order, whatever the number of workers: here
// behind the damaged files before it, which wait for a large file ahead of
// them. Standard output and error go to one file, as with 2>&1.
TEST(CliJobs, ATimeLostComesInTheWalksOrder)
{
    const std::wstring dir = ntfs_scratch("cli-jobs-order");
    const std::string d = to_linux_path(dir);
    sh_ok("cd " + sh_quote(d) + " && head -c 300000000 /dev/zero > a-large.bin"
          " && for i in 1 2 3; do printf \"damaged $i\" > b$i.bin && printf 0123456789 > b$i.bin:z; done"
          " && printf old > c-epoch.bin && touch -d '1601-01-01 00:00:00 UTC' c-epoch.bin");
    CliRun r = run_cli({L"create", L"--jobs", L"4", dir}, 300000, L"", true);
    EXPECT_EQ(1u, r.code) << narrow(r.out);
    std::wstring expected;
    for (const char* b : {"b1", "b2", "b3"})
        expected += L"damaged  " + dir + L"\\" + widen(b) + L".bin\r\n";
    expected += L"not-written  " + dir + L"\\c-epoch.bin\r\n";
    expected += L"kestrin-cli: the last-write time could not be put back: " + dir + L"\\c-epoch.bin\r\n";
    EXPECT_EQ(0u, r.out.find(expected)) << narrow(r.out);
}
