// protect and repair on the NTFS volume, judged by par2cmdline, OpenSSL and
// what Linux reads through the mount: Kestrin's set verifies with par2, and
// damage within its recovery slices (bytes flipped under a kept time, a file
// cut short, a file deleted, a recovery file damaged) comes back byte for
// byte, with "z", its record and the recorded time as they were, as par2
// repairs the same damage; more damage is refused, nothing written, with
// par2's count of slices short. A set par2 made is repaired by Kestrin. A
// file that rotted is not protected; an edited one is not rolled back
// without --force. A kill during protect leaves no partial set under its
// names, and during repair the file holds the damaged bytes or the original
// ones, nothing between.
#include "cli_run.h"
#include "oracle.h"
#include "sizing.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <regex>

namespace {

std::string q(const std::string& s)
{
    return sh_quote(s);
}

std::string sh_ok(const std::string& command)
{
    int st = -1;
    std::string out = linux_sh(command, &st, 600000);
    EXPECT_EQ(st, 0) << command << "\n" << out;
    return out;
}

int sh_status(const std::string& command, std::string* out = nullptr)
{
    int st = -1;
    std::string o = linux_sh(command, &st, 600000);
    if (out)
        *out = o;
    return st;
}

// Random files from Python's generator with `seed` (printed), as
// "SIZE NAME" lines, under `dir`.
void make_files(const std::string& dir, unsigned seed, const std::string& layout)
{
    printf("files under %s from seed %u\n", dir.c_str(), seed);
    sh_ok("python3 -c 'import os,random,sys\nr=random.Random(int(sys.argv[2]))\n"
          "for line in sys.argv[3].split(\";\"):\n"
          "  size,name=line.split(\" \",1); p=os.path.join(sys.argv[1],name)\n"
          "  os.makedirs(os.path.dirname(p),exist_ok=True)\n"
          "  open(p,\"wb\").write(r.randbytes(int(size)))' " +
          q(dir) + " " + std::to_string(seed) + " " + q(layout));
}

// SHA-256 of every file below `dir` (relative names), one line each, sorted.
std::string sums(const std::string& dir)
{
    return sh_ok("cd " + q(dir) + " && find . -type f ! -name '*:*' -print0 | sort -z | xargs -0 sha256sum");
}

// The streams and the last-write time of `file` as Linux reads them.
std::string streams_and_time(const std::string& file)
{
    bool a = false, b = false;
    std::string z = linux_read_hex(file + ":z", &a), rec = linux_read_hex(file + ":z.rec", &b);
    return z + "|" + rec + "|" + std::to_string(linux_mtime_ns(file));
}

// Flips `count` bytes at `offset`, the last-write time put back to the ns.
void flip(const std::string& file, long offset, long count)
{
    sh_ok("python3 -c 'import os,sys\np=sys.argv[1]; st=os.stat(p); o=int(sys.argv[2]); n=int(sys.argv[3])\n"
          "f=open(p,\"r+b\"); f.seek(o); b=f.read(n); f.seek(o); f.write(bytes(x^0xA5 for x in b)); f.close()\n"
          "os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))' " +
          q(file) + " " + std::to_string(offset) + " " + std::to_string(count));
}

// Cuts `file` to `size` bytes, its time put back.
void cut(const std::string& file, long size)
{
    sh_ok("python3 -c 'import os,sys\np=sys.argv[1]; st=os.stat(p)\nos.truncate(p,int(sys.argv[2]))\n"
          "os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))' " +
          q(file) + " " + std::to_string(size));
}

std::vector<std::wstring> sorted_paths(const CliRun& r, const wchar_t* status)
{
    return paths_with(r.out, status);
}

// "the set is N recovery slices short" from Kestrin, or -1.
long kestrin_short(const CliRun& r)
{
    std::wsmatch m;
    std::wregex re(L"is (\\d+) recovery slices? short");
    return std::regex_search(r.err, m, re) ? std::stol(m[1].str()) : -1;
}

// "You need N more recovery blocks" from par2, or -1.
long par2_short(const std::string& out)
{
    std::smatch m;
    std::regex re("You need (\\d+) more recovery block");
    return std::regex_search(out, m, re) ? std::stol(m[1].str()) : -1;
}

std::string leftovers(const std::string& dir)
{
    return sh_ok("find " + q(dir) + " -name '*.kestrin-*' ! -name '*:*'");
}

struct Tree {
    std::wstring root, photos, set;
    std::string root_l, photos_l, set_l;
    explicit Tree(const char* name)
    {
        root = ntfs_scratch(name);
        photos = root + L"\\photos";
        set = root + L"\\sets\\photos.par2";
        root_l = to_linux_path(root);
        photos_l = root_l + "/photos";
        set_l = root_l + "/sets/photos.par2";
        sh_ok("mkdir -p " + q(root_l + "/sets"));
    }
};

TEST(RecoveryCli, ProtectedByKestrinVerifiedByPar2AndRepairedAsPar2Repairs)
{
    Tree t("recovery-cli");
    std::string layout = "600000 big1.bin;300000 big2.bin;50000 Ünïcödé/日本 ü.bin;1 one.bin;0 empty.bin";
    for (int i = 0; i < 150; ++i)
        layout += ";" + std::to_string(100 + (i * 37) % 2900) + " sub/d" + std::to_string(i % 5) + "/f" +
                std::to_string(i) + ".txt";
    make_files(t.photos_l, (unsigned)GetTickCount(), layout);
    ASSERT_EQ(run_cli({L"create", t.photos}).code, 0u);
    CliRun p = run_cli({L"protect", t.set, t.photos, L"--slices", L"400", L"--redundancy", L"10%"});
    ASSERT_EQ(p.code, 0u) << narrow(p.err);
    EXPECT_NE(p.err.find(L"protected 154 files"), std::wstring::npos) << narrow(p.err);
    std::string listing = sh_ok("cd " + q(t.root_l + "/sets") + " && ls");
    EXPECT_NE(listing.find("photos.par2\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("photos.vol"), std::string::npos) << listing;
    EXPECT_EQ(sh_status("par2 v -q -q -B " + q(t.photos_l) + " " + q(t.set_l)), 0);

    const std::string before = sums(t.photos_l);
    const std::string big1 = t.photos_l + "/big1.bin", big2 = t.photos_l + "/big2.bin",
                      uni = t.photos_l + "/Ünïcödé/日本 ü.bin", gone = t.photos_l + "/sub/d1/f6.txt";
    const std::string kept1 = streams_and_time(big1), kept2 = streams_and_time(big2), kept3 = streams_and_time(uni);
    flip(big1, 10000, 5000);
    cut(big2, 290000);
    flip(uni, 0, 1);
    sh_ok("rm " + q(gone));
    // One recovery file damaged in its middle: its packets there are skipped.
    sh_ok("cd " + q(t.root_l + "/sets") + " && f=$(ls -S photos.vol*.par2 | head -1) && "
          "printf 'XXXXXXXXXXXXXXXX' | dd of=\"$f\" bs=1 seek=$(( $(stat -c %s \"$f\") / 2 )) conv=notrunc 2>/dev/null");
    std::wstring check_report = build_scratch(L"check-set-report.json");
    CliRun c = run_cli({L"check", L"--set", t.set, t.photos, L"--report", check_report});
    EXPECT_EQ(c.code, 1u);
    // The set can rebuild both corrupt files: the report says so.
    std::string cr = read_file(check_report);
    size_t repairable = 0;
    for (size_t at = cr.find("\"repairable\":true"); at != std::string::npos; at = cr.find("\"repairable\":true", at + 1))
        ++repairable;
    EXPECT_EQ(repairable, 2u) << cr;
    EXPECT_EQ(sorted_paths(c, L"corrupt"), (std::vector<std::wstring>{t.photos + L"\\big1.bin", t.photos + L"\\Ünïcödé\\日本 ü.bin"}));
    // Cut short, its time put back: the size is not the recorded one, so the
    // record calls it edited, and repair leaves it until told otherwise.
    EXPECT_EQ(sorted_paths(c, L"edited"), std::vector<std::wstring>{t.photos + L"\\big2.bin"});
    // par2 gets a copy of the same damage.
    sh_ok("rm -rf " + q(t.root_l + "/copy") + " && cp -r " + q(t.photos_l) + " " + q(t.root_l + "/copy"));

    CliRun dry = run_cli({L"repair", L"--check", t.set, t.photos});
    EXPECT_EQ(dry.code, 1u);
    EXPECT_EQ(sorted_paths(dry, L"repairable").size(), 3u) << narrow(dry.out);
    EXPECT_FALSE(file_exists(t.photos + L"\\sub\\d1\\f6.txt"));

    std::wstring report = build_scratch(L"repair-report.json");
    CliRun r = run_cli({L"repair", t.set, t.photos, L"--report", report});
    EXPECT_EQ(r.code, 2u) << narrow(r.out) << narrow(r.err);
    EXPECT_EQ(sorted_paths(r, L"repaired"), (std::vector<std::wstring>{t.photos + L"\\big1.bin", t.photos + L"\\sub\\d1\\f6.txt",
                                                                      t.photos + L"\\Ünïcödé\\日本 ü.bin"}));
    EXPECT_EQ(sorted_paths(r, L"edited"), std::vector<std::wstring>{t.photos + L"\\big2.bin"});
    EXPECT_NE(r.err.find(L"damaged packet"), std::wstring::npos) << narrow(r.err);
    EXPECT_NE(read_file(report).find("\"intact\":150"), std::string::npos) << read_file(report);
    EXPECT_EQ(streams_and_time(big1), kept1);
    EXPECT_EQ(streams_and_time(uni), kept3);
    EXPECT_EQ(leftovers(t.photos_l), "");
    EXPECT_EQ(linux_file_size(big2), 290000);
    // Rolled back when asked: the cut file comes back whole, with its digest,
    // record and time.
    CliRun forced = run_cli({L"repair", L"--force", t.set, t.photos});
    EXPECT_EQ(forced.code, 0u) << narrow(forced.out) << narrow(forced.err);
    EXPECT_EQ(sorted_paths(forced, L"repaired"), std::vector<std::wstring>{t.photos + L"\\big2.bin"});
    EXPECT_TRUE(sums(t.photos_l) == before);
    EXPECT_EQ(streams_and_time(big2), kept2);
    EXPECT_EQ(run_cli({L"check", t.photos}).code, 2u);   // the deleted file is back, without a digest

    std::string par2_out;
    EXPECT_EQ(sh_status("par2 r -B " + q(t.root_l + "/copy") + " " + q(t.set_l) + " 2>&1", &par2_out), 0) << par2_out;
    sh_ok("find " + q(t.root_l + "/copy") + " -name '*.1' -delete");   // par2's backups of the damaged files
    EXPECT_TRUE(sums(t.root_l + "/copy") == before);

    // Edited after the set was made: newer than the set, never rolled back
    // unless asked.
    sh_ok("printf 'x' >> " + q(t.photos_l + "/one.bin"));
    std::string edited = sh_ok("sha256sum < " + q(t.photos_l + "/one.bin"));
    CliRun e = run_cli({L"repair", t.set, t.photos});
    EXPECT_EQ(e.code, 2u) << narrow(e.out);
    EXPECT_EQ(sorted_paths(e, L"edited"), std::vector<std::wstring>{t.photos + L"\\one.bin"});
    EXPECT_EQ(sh_ok("sha256sum < " + q(t.photos_l + "/one.bin")), edited);

    CliRun f = run_cli({L"repair", L"--force", t.set, t.photos});
    EXPECT_EQ(f.code, 0u) << narrow(f.out) << narrow(f.err);
    EXPECT_TRUE(sums(t.photos_l) == before);
    // Edited again, update gives it a new digest and says the set went stale.
    sh_ok("printf 'y' >> " + q(t.photos_l + "/one.bin"));
    CliRun st = run_cli({L"update", L"--set", t.set, t.photos});
    EXPECT_EQ(st.code, 0u) << narrow(st.out) << narrow(st.err);
    EXPECT_EQ(sorted_paths(st, L"stale"), std::vector<std::wstring>{t.set});
    sh_ok("truncate -s 1 " + q(t.photos_l + "/one.bin"));   // the set's data again, for par2's count below

    // More damage than recovery slices: nothing written, and par2 agrees
    // on how many are short.
    sh_ok("rm " + q(big1));
    flip(big2, 0, 100000);
    std::string damaged = sums(t.photos_l);
    CliRun u = run_cli({L"repair", t.set, t.photos});
    EXPECT_EQ(u.code, 1u);
    EXPECT_EQ(sorted_paths(u, L"unrepairable"), (std::vector<std::wstring>{t.photos + L"\\big1.bin", t.photos + L"\\big2.bin"}));
    EXPECT_TRUE(sums(t.photos_l) == damaged);
    EXPECT_EQ(leftovers(t.photos_l), "");
    EXPECT_EQ(sh_status("par2 v -B " + q(t.photos_l) + " " + q(t.set_l) + " 2>&1", &par2_out), 2);
    EXPECT_EQ(kestrin_short(u), par2_short(par2_out)) << narrow(u.err) << par2_out;
}

TEST(RecoveryCli, SetsMadeByPar2RepairedUpToTheirRecoverySlices)
{
    Tree t("recovery-par2");
    make_files(t.photos_l, (unsigned)GetTickCount() ^ 77u, "200000 a.bin;70001 b/c.bin;4096 d.bin;3 e.bin");
    const std::string before = sums(t.photos_l);
    // Ten recovery slices of 4096 bytes in three files, the names relative to photos.
    ASSERT_EQ(sh_status("cd " + q(t.photos_l) + " && par2 c -q -q -s4096 -c10 -n3 -B \"$PWD\" ../sets/photos.par2 a.bin b/c.bin d.bin e.bin"), 0);
    flip(t.photos_l + "/a.bin", 4096 * 3, 4096 * 4 + 1);   // five slices
    sh_ok("rm " + q(t.photos_l + "/d.bin"));
    cut(t.photos_l + "/b/c.bin", 4096 * 15);                // three slices
    CliRun r = run_cli({L"repair", t.set, t.photos});
    EXPECT_EQ(r.code, 0u) << narrow(r.out) << narrow(r.err);
    EXPECT_EQ(sorted_paths(r, L"repaired").size(), 3u) << narrow(r.out);
    EXPECT_TRUE(sums(t.photos_l) == before);

    // Eleven slices gone from ten: one short, as par2 says.
    flip(t.photos_l + "/a.bin", 0, 4096 * 10 + 1);
    std::string par2_out;
    EXPECT_EQ(sh_status("par2 v -B " + q(t.photos_l) + " " + q(t.set_l) + " 2>&1", &par2_out), 2);
    CliRun u = run_cli({L"repair", t.set, t.photos});
    EXPECT_EQ(u.code, 1u);
    EXPECT_EQ(sorted_paths(u, L"unrepairable"), std::vector<std::wstring>{t.photos + L"\\a.bin"});
    EXPECT_EQ(kestrin_short(u), 1);
    EXPECT_EQ(par2_short(par2_out), 1) << par2_out;
}

TEST(RecoveryCli, RotIsNotProtectedUnlessForced)
{
    Tree t("recovery-rot");
    make_files(t.photos_l, 5u, "10000 a.bin;20000 b.bin");
    ASSERT_EQ(run_cli({L"create", t.photos}).code, 0u);
    flip(t.photos_l + "/b.bin", 10, 1);
    CliRun p = run_cli({L"protect", t.set, t.photos});
    EXPECT_EQ(p.code, 1u);
    EXPECT_EQ(sorted_paths(p, L"corrupt"), std::vector<std::wstring>{t.photos + L"\\b.bin"});
    EXPECT_EQ(sh_ok("ls " + q(t.root_l + "/sets")), "");
    CliRun f = run_cli({L"protect", L"--force", t.set, t.photos});
    EXPECT_EQ(f.code, 0u) << narrow(f.err);
    EXPECT_EQ(sh_status("par2 v -q -q -B " + q(t.photos_l) + " " + q(t.set_l)), 0);
}

TEST(RecoveryCli, BadUsageIsRefusedBeforeAnythingIsDone)
{
    Tree t("recovery-usage");
    make_files(t.photos_l, 3u, "1000 a.bin");
    const std::vector<std::pair<std::vector<std::wstring>, std::wstring>> cases = {
        {{L"protect", t.root + L"\\sets\\photos.zip", t.photos}, L"must end in .par2"},
        {{L"protect", t.set, t.photos + L"\\a.bin"}, L"protect takes a folder"},
        {{L"protect", t.set, t.photos, L"--redundancy", L"0"}, L"--redundancy needs a percentage"},
        {{L"protect", t.set, t.photos, L"--slices", L"40000"}, L"--slices needs a number"},
        {{L"create", L"--set", t.set, t.photos}, L"--set is an option of check and update only"},
        {{L"check", L"--redundancy", L"5", t.photos}, L"options of protect only"},
        {{L"repair", t.set, t.photos}, L"no such file"},
        {{L"repair", t.photos + L"\\a.bin", t.photos}, L"ends in .par2"},
        {{L"check", L"--set", t.set, t.photos}, L"no recovery set found"},
    };
    write_file(t.set, "not a set");   // for the last: a file of that name, without packets
    for (size_t i = 0; i < cases.size(); ++i) {
        if (i == 6)
            DeleteFileW(t.set.c_str());
        if (i == 8)
            write_file(t.set, "not a set");
        CliRun r = run_cli(cases[i].first);
        EXPECT_EQ(r.code, 3u) << i << ": " << narrow(r.err);
        EXPECT_NE(r.err.find(cases[i].second), std::wstring::npos) << i << ": " << narrow(r.err);
    }
    EXPECT_EQ(sh_ok("ls -A " + q(t.root_l + "/sets")), "photos.par2\n");
    bool exists = true;
    linux_read_hex(t.photos_l + "/a.bin:z", &exists);
    EXPECT_FALSE(exists);
}

// Starts kestrin-cli without waiting, its output into files.
PROCESS_INFORMATION launch(const std::vector<std::wstring>& args)
{
    std::wstring command = quote_arg(cli_exe());
    for (auto& a : args)
        command += L" " + quote_arg(a);
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    std::wstring out = build_scratch(L"recovery-kill-out.txt"), in = build_scratch(L"empty-input.txt");
    write_file(in, "");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = CreateFileW(in.c_str(), GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr);
    si.hStdOutput = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    si.hStdError = si.hStdOutput;
    PROCESS_INFORMATION pi = {};
    CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(si.hStdInput);
    CloseHandle(si.hStdOutput);
    return pi;
}

// Kills the run after `delay_ms` (unless it ended first); true when killed.
bool kill_after(PROCESS_INFORMATION pi, DWORD delay_ms)
{
    bool ended = WaitForSingleObject(pi.hProcess, delay_ms) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return !ended;
}

TEST(RecoveryCli, KilledDuringProtectAndRepair)
{
    Tree t("recovery-kill");
    // protect and repair on it last several seconds, natively or emulated: as
    // long as 0.6 s of hashing (about 120 MB natively), in which the kills fall
    // at random. The damage below is a fortieth of it, within the 10 % of
    // recovery data whatever the size (the set has 2,000 slices).
    const long big = (long)bytes_lasting(0.6);
    make_files(t.photos_l, 9u, std::to_string(big) + " big.bin;5000 small.bin");
    ASSERT_EQ(run_cli({L"create", t.photos}).code, 0u);
    const unsigned seed = (unsigned)GetTickCount();
    printf("delays: srand(%u)\n", seed);
    srand(seed);
    DWORD whole = GetTickCount();
    ASSERT_EQ(run_cli({L"protect", t.set, t.photos, L"--redundancy", L"10"}).code, 0u);
    whole = GetTickCount() - whole;
    printf("protect takes %lu ms\n", whole);
    const std::string first_set = sh_ok("cd " + q(t.root_l + "/sets") + " && ls photos*.par2 | xargs sha256sum");
    // Killed while making a new set of other files: the old set stands whole,
    // or the new one does; no set file under its name is anything else.
    sh_ok("printf 'new' > " + q(t.photos_l + "/new.bin"));
    int killed = 0;
    for (int i = 0; i < 3; ++i) {
        killed += kill_after(launch({L"protect", t.set, t.photos, L"--redundancy", L"10"}), 300 + rand() % (whole + 1));
        std::string out;
        int st = sh_status("par2 v -q -q -B " + q(t.photos_l) + " " + q(t.set_l) + " 2>&1", &out);
        std::string now = sh_ok("cd " + q(t.root_l + "/sets") + " && ls photos*.par2 | xargs sha256sum");
        EXPECT_TRUE(st == 0 || now == first_set) << "kill " << i << ": par2 v " << st << "\n" << out;
        // par2 verifies the old set too: new.bin is not in it, and needs nothing.
    }
    printf("protect killed %d of 3 times\n", killed);
    sh_ok("rm -f " + q(t.photos_l + "/new.bin") + " " + q(t.root_l) + "/sets/*.kestrin-tmp");
    ASSERT_EQ(run_cli({L"protect", t.set, t.photos, L"--redundancy", L"10"}).code, 0u);

    const std::string original = sh_ok("sha256sum < " + q(t.photos_l + "/big.bin"));
    DWORD repair_ms = 0;
    int repair_kills = 0;
    for (int i = 0; i < 4; ++i) {
        flip(t.photos_l + "/big.bin", big / 120 + 7919 * i, big / 40);
        std::string damaged = sh_ok("sha256sum < " + q(t.photos_l + "/big.bin"));
        if (i == 0) {
            repair_ms = GetTickCount();
            ASSERT_EQ(run_cli({L"repair", t.set, t.photos}).code, 0u);
            repair_ms = GetTickCount() - repair_ms;
            printf("repair takes %lu ms\n", repair_ms);
            EXPECT_EQ(sh_ok("sha256sum < " + q(t.photos_l + "/big.bin")), original);
            continue;
        }
        repair_kills += kill_after(launch({L"repair", t.set, t.photos}), 200 + rand() % (repair_ms + 1));
        std::string now = sh_ok("sha256sum < " + q(t.photos_l + "/big.bin"));
        EXPECT_TRUE(now == original || now == damaged) << "kill " << i;
        if (now == damaged) {
            ASSERT_EQ(run_cli({L"repair", t.set, t.photos}).code, 0u);
        }
        EXPECT_EQ(sh_ok("sha256sum < " + q(t.photos_l + "/big.bin")), original);
        sh_ok("find " + q(t.photos_l) + " -name '*.kestrin-*' ! -name '*:*' -delete");
    }
    printf("repair killed %d of 3 times\n", repair_kills);
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty())
        return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    int st = -1;
    linux_sh("command -v par2", &st);
    if (st != 0)
        return skip_program("par2 (par2cmdline) is not installed");
    return RUN_ALL_TESTS();
}
