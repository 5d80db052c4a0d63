// kestrin-cli's whole cycle on a generated tree on the NTFS volume, as a
// scheduled task would run it: create, check, bit flips, a locked file, a
// damaged stream, rewrite --force, remove, list. After every step Linux reads each
// FILE:z stream through the mount and compares it with OpenSSL's Whirlpool;
// every report is parsed by Python's json module and held against the
// printed lines and the exit code; at the end data and last-write times (ns)
// are exactly as before.
#include "cli_run.h"
#include "oracle.h"
#include "sizing.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <stdlib.h>

namespace {

struct Tree {
    std::wstring win;        // Windows path of the tree's root
    std::string linux_root;  // the same, as Linux sees it
    std::string work;        // Linux folder for truths and snapshots
};

std::string q(const std::string& s)
{
    return sh_quote(s);
}

// Runs cli_tree.py and fails the test with its output when it fails.
std::string tree_ok(const std::string& args)
{
    int st = -1;
    std::string out = cli_tree(args, &st);
    EXPECT_EQ(st, 0) << "cli_tree.py " << args << "\n" << out;
    return out;
}

std::wstring win_path(const Tree& t, const std::string& rel)
{
    std::wstring w = widen(rel);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return t.win + L"\\" + w;
}

// Runs a command with a report, checks the exit code and that the report
// agrees with what was printed.
CliRun step(const std::vector<std::wstring>& args, DWORD expected_code, const char* name)
{
    std::wstring report = build_scratch(L"report-" + widen(name) + L".json");
    DeleteFileW(report.c_str());
    std::vector<std::wstring> full = args;
    full.push_back(L"--report");
    full.push_back(report);
    CliRun r = run_cli(full);
    EXPECT_TRUE(r.finished) << name;
    EXPECT_EQ(r.code, expected_code) << name << "\nstdout:\n" << narrow(r.out) << "\nstderr:\n" << narrow(r.err);
    tree_ok("report " + q(to_linux_path(report)) + " " + q(to_linux_path(r.out_file)) + " " +
            std::to_string(r.code) + " " + q(narrow(args[0])));
    return r;
}

std::vector<std::wstring> sorted(std::vector<std::wstring> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

class CliCycle : public testing::Test {
protected:
    static Tree tree;
    static void SetUpTestSuite()
    {
        tree.win = ntfs_scratch("cli-cycle");
        tree.linux_root = to_linux_path(tree.win);
        tree.work = to_linux_path(build_scratch(L"cycle"));
        linux_sh("mkdir -p " + q(tree.work));
        int st = -1;
        std::string made = cli_tree("make " + q(tree.linux_root) + " 256", &st);
        ASSERT_EQ(st, 0) << made;
    }
};
Tree CliCycle::tree;

TEST_F(CliCycle, CreateCheckAlterLockDamageRewriteRemoveList)
{
    const Tree& t = tree;
    const std::string truth = q(t.work + "/truth.json");
    const std::string before = q(t.work + "/before.json");
    const std::string root = q(t.linux_root);
    tree_ok("truth " + root + " " + truth);
    tree_ok("snapshot " + root + " " + before);
    tree_ok("streams " + root + " " + truth + " absent");

    // create: every file gets OpenSSL's digest; data and times untouched.
    CliRun r = step({L"create", t.win}, 0, "create");
    EXPECT_TRUE(findings_of(r.out).empty()) << narrow(r.out);
    EXPECT_EQ(r.priority_class, (DWORD)IDLE_PRIORITY_CLASS) << "the run was not in the idle priority class";
    EXPECT_EQ(r.out, L"") << "standard output holds findings only: " << narrow(r.out);
    EXPECT_EQ(r.err, summary_of(r.err) + L"\r\n") << "without a console standard error holds the summary alone: "
                                                   << narrow(r.err);
    EXPECT_NE(summary_of(r.err).find(L" written"), std::wstring::npos) << narrow(r.err);
    tree_ok("streams " + root + " " + truth + " truth");
    tree_ok("same " + root + " " + before);

    // create again leaves every file alone.
    r = step({L"create", t.win}, 0, "create-again");
    EXPECT_EQ(summary_of(r.err).find(L" written"), std::wstring::npos) << narrow(r.out);

    r = step({L"check", t.win}, 0, "check-good");
    EXPECT_TRUE(findings_of(r.out).empty()) << narrow(r.out);

    // One bit flipped in five files, their times put back: exactly those are
    // corrupt (their records say they were not written since).
    std::string flipped_out = tree_ok("flip " + root + " 5 " + q(t.work + "/flipped.json"));
    std::vector<std::wstring> flipped;
    for (size_t at = 0; at < flipped_out.size();) {
        size_t end = flipped_out.find('\n', at);
        if (end == std::string::npos) end = flipped_out.size();
        if (end > at) flipped.push_back(win_path(t, flipped_out.substr(at, end - at)));
        at = end + 1;
    }
    ASSERT_EQ(flipped.size(), 5u) << flipped_out;

    r = step({L"check", t.win}, 1, "check-altered");
    EXPECT_EQ(paths_with(r.out, L"corrupt"), sorted(flipped)) << narrow(r.out);
    EXPECT_EQ(findings_of(r.out).size(), 5u) << narrow(r.out);
    tree_ok("streams " + root + " " + truth + " truth");  // a check writes nothing

    // Two files not among the flipped ones, for the lock and the damage.
    std::vector<std::wstring> clean;
    for (const char* rel : {"alpha/beta/random-2.bin", "Ünïcödé Ordner/日本語/exactly-65536-5é.bin",
                            "alpha/sixty-four-1.bin", "emoji 📷 photos/one-7 ü.bin"}) {
        std::wstring p = win_path(t, rel);
        if (std::find(flipped.begin(), flipped.end(), p) == flipped.end()) clean.push_back(p);
    }
    ASSERT_GE(clean.size(), 2u);

    // A file held open for writing by another process (this one): not
    // verified, not altered. Under Wine a file and its streams are one object
    // for sharing, so the stream cannot be opened either; on Windows the data
    // open fails. Both are "unreadable".
    HANDLE lock = CreateFileW(clean[0].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    r = step({L"check", clean[0]}, 2, "check-locked");
    EXPECT_EQ(paths_with(r.out, L"unreadable"), std::vector<std::wstring>{clean[0]}) << narrow(r.out);
    EXPECT_EQ(findings_of(r.out).size(), 1u) << narrow(r.out);
    CloseHandle(lock);

    // A 10-byte stream, written by Linux: damaged, which is exit code 1.
    std::string damaged_linux = to_linux_path(clean[1]);
    int st = -1;
    linux_sh("printf 0123456789 > " + q(damaged_linux + ":z"), &st);
    ASSERT_EQ(st, 0);
    ASSERT_EQ(linux_file_size(damaged_linux + ":z"), 10);
    // Writing a stream through ntfs-3g moves the file's last-write time; from
    // here on no command may move any time or data.
    const std::string after_flip = q(t.work + "/after-damage.json");
    tree_ok("snapshot " + root + " " + after_flip);
    r = step({L"check", clean[1]}, 1, "check-damaged");
    EXPECT_EQ(paths_with(r.out, L"damaged"), std::vector<std::wstring>{clean[1]}) << narrow(r.out);
    r = step({L"check", t.win}, 1, "check-all-faults");
    EXPECT_EQ(paths_with(r.out, L"corrupt"), sorted(flipped));
    EXPECT_EQ(paths_with(r.out, L"damaged"), std::vector<std::wstring>{clean[1]});
    EXPECT_EQ(findings_of(r.out).size(), 6u) << narrow(r.out);

    // rewrite --force accepts the current content: the five corrupt ones
    // and the damaged one, each named.
    r = step({L"rewrite", L"--force", t.win}, 0, "rewrite");
    std::vector<std::wstring> rewritten = flipped;
    rewritten.push_back(clean[1]);
    EXPECT_EQ(paths_with(r.out, L"rewritten"), sorted(rewritten)) << narrow(r.out);
    EXPECT_EQ(findings_of(r.out).size(), 6u) << narrow(r.out);
    EXPECT_NE(summary_of(r.err).find(L", 6 written, 6 rewritten"), std::wstring::npos) << narrow(r.err);
    const std::string truth2 = q(t.work + "/truth-after-flip.json");
    tree_ok("truth " + root + " " + truth2);
    tree_ok("streams " + root + " " + truth2 + " truth");
    tree_ok("same " + root + " " + after_flip);

    r = step({L"check", t.win}, 0, "check-after-rewrite");
    EXPECT_TRUE(findings_of(r.out).empty()) << narrow(r.out);

    r = step({L"remove", L"--yes", t.win}, 0, "remove");
    EXPECT_TRUE(findings_of(r.out).empty()) << narrow(r.out);
    tree_ok("streams " + root + " " + truth2 + " absent");

    // list: every file without a digest, and code 2.
    r = step({L"list", t.win}, 2, "list-none");
    std::vector<Finding> listed = findings_of(r.out);
    int files = std::stoi(tree_ok("snapshot " + root + " " + q(t.work + "/end.json")));
    EXPECT_EQ((int)listed.size(), files);
    EXPECT_EQ((int)paths_with(r.out, L"no-digest").size(), files);

    // Data and last-write times exactly as after the flips (which put the
    // times back): no command wrote a byte of data or moved a time.
    tree_ok("same " + root + " " + after_flip);
}

// list with digests present: "digest" lines and code 0; check on a file
// named directly; non-ASCII paths printed exactly.
TEST_F(CliCycle, ListPrintsBothKindsAndPathsExactly)
{
    std::wstring dir = ntfs_scratch("cli-list");
    std::wstring a = dir + L"\\Grüße 日本 📷.txt";
    std::wstring b = dir + L"\\plain.txt";
    ASSERT_TRUE(write_file(a, "abc"));
    ASSERT_TRUE(write_file(b, ""));
    CliRun r = run_cli({L"create", a});
    ASSERT_EQ(r.code, 0u) << narrow(r.err);
    EXPECT_EQ(linux_read_hex(to_linux_path(a) + ":z"), openssl_whirlpool_hex(to_linux_path(a)));
    r = run_cli({L"list", dir});
    EXPECT_EQ(r.code, 2u);
    EXPECT_EQ(paths_with(r.out, L"digest"), std::vector<std::wstring>{a}) << narrow(r.out);
    EXPECT_EQ(paths_with(r.out, L"no-digest"), std::vector<std::wstring>{b});
    r = run_cli({L"create", b});
    ASSERT_EQ(r.code, 0u);
    r = run_cli({L"list", dir});
    EXPECT_EQ(r.code, 0u) << narrow(r.out);
    EXPECT_EQ(paths_with(r.out, L"digest").size(), 2u);
    r = run_cli({L"check", a, b});
    EXPECT_EQ(r.code, 0u) << narrow(r.out);
    EXPECT_NE(summary_of(r.err).find(L"2 files, 2 matched"), std::wstring::npos) << narrow(r.out);
}

// Paths longer than the classic limit, through the same commands.
TEST_F(CliCycle, LongPaths)
{
    std::wstring dir = ntfs_scratch("cli-long");
    std::wstring deep = dir;
    for (int i = 0; i < 6; ++i) {
        deep += L"\\" + std::wstring(60, (wchar_t)(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    std::wstring file = deep + L"\\long file ü.bin";
    ASSERT_GT(file.size(), 300u);
    ASSERT_TRUE(write_file(L"\\\\?\\" + file, std::string(100000, 'k')));
    long long mtime = linux_mtime_ns(to_linux_path(file));

    CliRun r = run_cli({L"create", dir});
    EXPECT_EQ(r.code, 0u) << narrow(r.out) << narrow(r.err);
    EXPECT_EQ(linux_read_hex(to_linux_path(file) + ":z"), openssl_whirlpool_hex(to_linux_path(file)));
    EXPECT_EQ(linux_mtime_ns(to_linux_path(file)), mtime);
    r = run_cli({L"check", dir});
    EXPECT_EQ(r.code, 0u) << narrow(r.out);
    EXPECT_NE(summary_of(r.err).find(L"1 file, 1 matched"), std::wstring::npos) << narrow(r.out);
    r = run_cli({L"show", file});
    EXPECT_EQ(r.code, 0u) << narrow(r.err);
    EXPECT_EQ(r.out, widen(openssl_whirlpool_hex(to_linux_path(file))) + L"  " + file + L"\r\n");
}

}  // namespace

namespace {

// The progress line: on a console once a second with the window's figures;
// never with --quiet; never without a console (a scheduled run), where
// standard error stays empty.
TEST(CliProgress, OnAConsoleOnlyAndNotWhenQuiet)
{
    std::wstring dir = ntfs_scratch("cli-progress");
    std::string dir_linux = to_linux_path(dir);
    int st = -1;
    // Large enough for several once-a-second lines.
    linux_sh("head -c " + std::to_string(bytes_lasting(5)) + " /dev/zero > " + sh_quote(dir_linux + "/big.bin"), &st);
    ASSERT_EQ(st, 0);
    std::string out_linux = to_linux_path(build_scratch(L"progress-out.txt"));
    std::string quoted_dir = sh_quote(narrow(dir));

    std::string screen = on_terminal("create " + quoted_dir, out_linux, &st);
    std::string out = linux_sh("cat " + sh_quote(out_linux));
    EXPECT_NE(screen.find(" %"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" MB/s  (Average:"), std::string::npos) << screen;
    EXPECT_NE(screen.find("  Remaining: 00:00:"), std::string::npos) << screen;
    EXPECT_EQ(out.find("Remaining"), std::string::npos) << "the progress line went to standard output:\n" << out;
    EXPECT_NE(screen.find("summary  create: 1 file, 1 written"), std::string::npos) << screen;
    EXPECT_EQ(out.find("summary"), std::string::npos) << "the summary went to standard output:\n" << out;
    EXPECT_EQ(linux_read_hex(dir_linux + "/big.bin:z"), openssl_whirlpool_hex(dir_linux + "/big.bin"));

    screen = on_terminal("check --quiet " + quoted_dir, out_linux, &st);
    EXPECT_EQ(screen.find("Remaining"), std::string::npos) << screen;
    EXPECT_EQ(linux_sh("cat " + sh_quote(out_linux)), "") << "--quiet prints findings only";

    CliRun r = run_cli({L"check", dir});
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.err, summary_of(r.err) + L"\r\n") << "no progress line without a console: " << narrow(r.err);
    EXPECT_NE(summary_of(r.err).find(L"1 file, 1 matched"), std::wstring::npos) << narrow(r.err);

    // Findings on a console, through the wide console call: every letter
    // arrives (the terminal shows what Wine's console holds, as UTF-8). Wine
    // draws a character beyond the first 65,536 as two replacement marks, so
    // the name keeps to those.
    std::wstring other = dir + L"\\Grüße 日本語 Ελλάδα.txt";
    ASSERT_TRUE(write_file(other, "x"));
    screen = on_terminal("list " + quoted_dir, "", &st);
    EXPECT_NE(screen.find(narrow(L"no-digest  " + other)), std::string::npos) << screen;
    EXPECT_NE(screen.find(narrow(L"digest  " + dir + L"\\big.bin")), std::string::npos) << screen;
}

// remove on a console asks first: anything but "y" leaves every digest.
TEST(CliConsole, RemoveAsksFirst)
{
    std::wstring dir = ntfs_scratch("cli-remove-ask");
    std::wstring file = dir + L"\\kept.txt";
    ASSERT_TRUE(write_file(file, "keep my digest"));
    CliRun r = run_cli({L"create", dir});
    ASSERT_EQ(r.code, 0u);
    const std::string stream = to_linux_path(file) + ":z";
    const std::string digest = openssl_whirlpool_hex(to_linux_path(file));
    ASSERT_EQ(linux_read_hex(stream), digest);

    int st = -1;
    std::string screen = on_terminal("remove " + sh_quote(narrow(dir)), "", &st, "n");
    EXPECT_NE(screen.find("Type y and Enter to remove them"), std::string::npos) << screen;
    EXPECT_NE(screen.find("nothing removed"), std::string::npos) << screen;
    EXPECT_NE(screen.find("exit code 3"), std::string::npos) << screen;
    EXPECT_EQ(linux_read_hex(stream), digest);

    screen = on_terminal("remove " + sh_quote(narrow(dir)), "", &st, "y");
    EXPECT_NE(screen.find("summary  remove: 1 file, 1 deleted"), std::string::npos) << screen;
    EXPECT_NE(screen.find("exit code 0"), std::string::npos) << screen;
    bool exists = true;
    linux_read_hex(stream, &exists);
    EXPECT_FALSE(exists);
}

}  // namespace
