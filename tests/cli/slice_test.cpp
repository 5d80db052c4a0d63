// Rolling slices: over a tree of 500 files on the NTFS volume, the runs
// --slice 0/N ... N-1/N together reach every file exactly once (as their
// reports say), and each slice's findings and exit code are those of a full
// check restricted to that slice's files. Damage is made by Linux.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <set>
#include <stdlib.h>
#include <time.h>

namespace {

constexpr int kFiles = 500;

std::string q(const std::string& s)
{
    return sh_quote(s);
}

// One field of a JSON report, read by Python's json module ("slice.k", ...).
std::string report_field(const std::wstring& report, const std::string& field)
{
    std::string expr = "r";
    for (size_t at = 0; at <= field.size();) {
        size_t dot = field.find('.', at);
        if (dot == std::string::npos) dot = field.size();
        expr += "['" + field.substr(at, dot - at) + "']";
        at = dot + 1;
    }
    int st = -1;
    std::string out = linux_sh("python3 -c " + q("import json,sys; r=json.load(open(sys.argv[1],encoding='utf-8')); print(" +
                                                  expr + ")") +
                                   " " + q(to_linux_path(report)),
                               &st);
    EXPECT_EQ(st, 0) << field << ": " << out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

struct SliceRun {
    CliRun run;
    std::wstring report;
};

// `command --slice SLICE --report R root`; the report is checked against the
// printed findings and the exit code by cli_tree.py.
SliceRun run_slice(const std::wstring& command, const std::wstring& slice, const std::wstring& root)
{
    SliceRun s;
    s.report = build_scratch(L"slice-report.json");
    DeleteFileW(s.report.c_str());
    std::vector<std::wstring> args = {command, L"--report", s.report, root};
    if (!slice.empty()) {
        args.insert(args.begin() + 1, slice);
        args.insert(args.begin() + 1, L"--slice");
    }
    s.run = run_cli(args);
    EXPECT_TRUE(s.run.finished);
    int st = -1;
    std::string out = cli_tree("report " + q(to_linux_path(s.report)) + " " + q(to_linux_path(s.run.out_file)) + " " +
                                   std::to_string(s.run.code) + " " + q(narrow(command)),
                               &st);
    EXPECT_EQ(st, 0) << out;
    return s;
}

// The exit code a check gives for these findings.
DWORD code_for(const std::vector<Finding>& found)
{
    DWORD code = 0;
    for (const auto& f : found) {
        if (f.status == L"corrupt" || f.status == L"altered" || f.status == L"damaged") return 1;
        code = 2;
    }
    return code;
}

TEST(CliSlices, EverySliceOnceAndEachLikeTheFullCheck)
{
    std::wstring root = ntfs_scratch("cli-slices");
    std::string linux_root = to_linux_path(root);
    unsigned seed = (unsigned)time(nullptr);
    printf("slice tree seed %u\n", seed);
    // 500 files in 25 folders, names of mixed case and script, sizes 0 to 3000.
    int st = -1;
    std::string made = linux_sh(
        "python3 -c " +
            q("import os,random,sys\n"
              "rng=random.Random(int(sys.argv[2])); root=sys.argv[1]\n"
              "for i in range(500):\n"
              "    d=os.path.join(root,'Folder %d %s'%(i%25,['Äpfel','日本','MiXeD','plain','ελλη'][i%5]))\n"
              "    os.makedirs(d,exist_ok=True)\n"
              "    open(os.path.join(d,'File %03d %s.bin'%(i,['é','X','ü','','Ω'][i%5])),'wb').write(rng.randbytes(rng.randrange(3000)))\n") +
            " " + q(linux_root) + " " + std::to_string(seed),
        &st);
    ASSERT_EQ(st, 0) << made;

    // No digests yet: every file a slice reaches is a "no-digest" finding.
    for (int n : {1, 3, 7}) {
        std::map<std::wstring, int> seen;
        int files = 0;
        for (int k = 0; k < n; ++k) {
            std::wstring slice = std::to_wstring(k) + L"/" + std::to_wstring(n);
            SliceRun s = run_slice(L"check", slice, root);
            std::vector<std::wstring> reached = paths_with(s.run.out, L"no-digest");
            EXPECT_EQ(s.run.code, reached.empty() ? 0u : 2u) << narrow(s.run.err);
            for (const auto& p : reached) ++seen[p];
            int in_report = std::stoi(report_field(s.report, "counts.files"));
            int outside = std::stoi(report_field(s.report, "slice.outside"));
            EXPECT_EQ(in_report, (int)reached.size());
            EXPECT_EQ(in_report + outside, kFiles) << narrow(slice);
            EXPECT_EQ(report_field(s.report, "slice.k"), std::to_string(k));
            EXPECT_EQ(report_field(s.report, "slice.n"), std::to_string(n));
            EXPECT_NE(summary_of(s.run.err).find(L"slice " + std::to_wstring(k) + L" of " + std::to_wstring(n) + L", " +
                                                 std::to_wstring(outside) + L" files outside it"),
                      std::wstring::npos)
                << narrow(s.run.err);
            files += in_report;
            // With more than one slice, none is empty or whole for 500 files.
            if (n > 1) {
                EXPECT_TRUE(in_report > 0 && in_report < kFiles) << in_report;
            }
        }
        EXPECT_EQ(files, kFiles) << "N=" << n;
        EXPECT_EQ((int)seen.size(), kFiles) << "N=" << n << ": not every file was reached";
        for (const auto& [path, times] : seen) EXPECT_EQ(times, 1) << narrow(path) << " reached " << times << " times";
    }

    // Digests for all, then six bits flipped with times put back (corrupt)
    // and four files rewritten by Linux (edited).
    CliRun c = run_cli({L"create", root});
    ASSERT_EQ(c.code, 0u) << narrow(c.err);
    ASSERT_EQ(linux_sh("python3 -c " +
                           q("import os,random,sys\n"
                             "rng=random.Random(int(sys.argv[2]))\n"
                             "ps=sorted(os.path.join(d,n) for d,_,ns in os.walk(sys.argv[1]) for n in ns if ':' not in n and os.path.getsize(os.path.join(d,n))>0)\n"
                             "for i,p in enumerate(rng.sample(ps,10)):\n"
                             "    st=os.stat(p); b=bytearray(open(p,'rb').read()); b[0]^=1<<(i%8)\n"
                             "    open(p,'r+b').write(b)\n"
                             "    if i<6: os.utime(p,ns=(st.st_atime_ns,st.st_mtime_ns))\n"
                             "    else: os.utime(p,ns=(st.st_atime_ns,st.st_mtime_ns+5000000000))\n") +
                           " " + q(linux_root) + " " + std::to_string(seed),
                       &st),
              "");
    ASSERT_EQ(st, 0);
    SliceRun full = run_slice(L"check", L"", root);
    std::vector<Finding> all = findings_of(full.run.out);
    ASSERT_EQ(full.run.code, 1u) << narrow(full.run.out);
    ASSERT_EQ(paths_with(full.run.out, L"corrupt").size(), 6u) << narrow(full.run.out);
    ASSERT_EQ(paths_with(full.run.out, L"edited").size(), 4u) << narrow(full.run.out);

    for (int n : {3, 7}) {
        std::multiset<std::pair<std::wstring, std::wstring>> union_of;
        int matched = 0;
        for (int k = 0; k < n; ++k) {
            SliceRun s = run_slice(L"check", std::to_wstring(k) + L"/" + std::to_wstring(n), root);
            std::vector<Finding> found = findings_of(s.run.out);
            EXPECT_EQ(s.run.code, code_for(found)) << narrow(s.run.out);
            for (const auto& f : found) union_of.insert({f.path, f.status});
            matched += std::stoi(report_field(s.report, "counts.matched"));
        }
        std::multiset<std::pair<std::wstring, std::wstring>> expected;
        for (const auto& f : all) expected.insert({f.path, f.status});
        EXPECT_TRUE(union_of == expected) << "N=" << n << ": the slices' findings are not the full check's";
        EXPECT_EQ(matched, kFiles - 10) << "N=" << n;
    }

    // week/7 is the slice of the week: whole weeks since Monday 1 January
    // 2001, by Python's calendar.
    SliceRun week = run_slice(L"check", L"week/7", root);
    std::string k = linux_sh("python3 -c 'import datetime; print((datetime.date.today()-datetime.date(2001,1,1)).days//7%7)'");
    k.erase(k.find_last_not_of("\n") + 1);
    EXPECT_EQ(report_field(week.report, "slice.k"), k);
    SliceRun same = run_slice(L"check", widen(k) + L"/7", root);
    EXPECT_EQ(findings_of(week.run.out).size(), findings_of(same.run.out).size());
    EXPECT_EQ(report_field(week.report, "counts.files"), report_field(same.report, "counts.files"));

    // update by slices: the edited files get new digests and the corrupt
    // ones are reported, each in its own slice only.
    std::vector<std::wstring> updated, corrupt;
    for (int k = 0; k < 3; ++k) {
        SliceRun s = run_slice(L"update", std::to_wstring(k) + L"/3", root);
        std::vector<std::wstring> u = paths_with(s.run.out, L"updated"), b = paths_with(s.run.out, L"corrupt");
        EXPECT_EQ(s.run.code, b.empty() ? 0u : 1u) << narrow(s.run.out);
        updated.insert(updated.end(), u.begin(), u.end());
        corrupt.insert(corrupt.end(), b.begin(), b.end());
    }
    std::sort(updated.begin(), updated.end());
    std::sort(corrupt.begin(), corrupt.end());
    EXPECT_EQ(updated, paths_with(full.run.out, L"edited"));
    EXPECT_EQ(corrupt, paths_with(full.run.out, L"corrupt"));

    // Bad slices, and a slice on a command that has none: nothing runs.
    for (const auto& bad : std::vector<std::vector<std::wstring>>{{L"check", L"--slice", L"3/3", root},
                                                                   {L"check", L"--slice", L"1/0", root},
                                                                   {L"check", L"--slice", L"x/4", root},
                                                                   {L"check", L"--slice=-1/4", root},
                                                                   {L"update", L"--slice"},
                                                                   {L"list", L"--slice", L"0/2", root}}) {
        CliRun r = run_cli(bad);
        EXPECT_EQ(r.code, 3u) << narrow(bad.back()) << narrow(r.err);
        EXPECT_NE(r.err.find(L"--slice"), std::wstring::npos) << narrow(r.err);
    }
}

}  // namespace
