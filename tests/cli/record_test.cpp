// The digest record beside "z" and what it tells: one scenario on the NTFS
// volume, every change made from Linux and every stream judged by Linux and
// OpenSSL. An appended file is edited, a flipped byte under a kept time is
// corrupt, a touched file and a digest Linux wrote still match; update
// stores new digests only for the edited and the new, refreshes the records
// of the others, and leaves the corrupt one's digest byte for byte; rewrite
// blesses corruption only with --force; a record whose digest bytes are not
// those of "z" is ignored.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {

std::string q(const std::string& s)
{
    return sh_quote(s);
}

// Runs a Linux command that must succeed.
void sh_ok(const std::string& command)
{
    int st = -1;
    std::string out = linux_sh(command, &st);
    ASSERT_EQ(st, 0) << command << "\n" << out;
}

// "LEN VERSION SIZE TIME DIGEST16HEX" of FILE:z.rec as Linux reads it, or
// "absent".
std::string record_of(const std::string& file)
{
    return linux_sh("python3 -c 'import struct,sys\n"
                    "try: b=open(sys.argv[1],\"rb\").read()\n"
                    "except FileNotFoundError: print(\"absent\"); sys.exit()\n"
                    "v,s,t=struct.unpack(\"<IQQ\",b[:20]) if len(b)>=20 else (0,0,0)\n"
                    "print(len(b),v,s,t,b[20:36].hex())' " +
                    q(file + ":z.rec"));
}

// What the record of `file` must hold now that its digest is OpenSSL's: the
// file's size and last-write time in 100 ns units since 1601.
std::string expected_record(const std::string& file)
{
    long long units = linux_mtime_ns(file) / 100 + 116444736000000000LL;
    return "36 1 " + std::to_string(linux_file_size(file)) + " " + std::to_string(units) + " " +
           openssl_whirlpool_hex(file).substr(0, 32) + "\n";
}

// Flips the first byte of `file` and puts its last-write time back to the ns.
void flip_keeping_time(const std::string& file)
{
    sh_ok("python3 -c 'import os,sys\np=sys.argv[1]; st=os.stat(p)\n"
          "with open(p,\"r+b\") as f: b=f.read(1); f.seek(0); f.write(bytes([b[0]^1]))\n"
          "os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))' " +
          q(file));
}

// OpenSSL's digest of the data, stored as FILE:z from Linux.
void linux_store(const std::string& file)
{
    sh_ok("openssl dgst -provider legacy -provider default -whirlpool -binary " + q(file) + " > " + q(file + ":z"));
}

std::vector<std::wstring> sorted(std::vector<std::wstring> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// The findings as "status path" lines, sorted.
std::vector<std::wstring> lines(const CliRun& r)
{
    std::vector<std::wstring> out;
    for (const Finding& f : findings_of(r.out))
        out.push_back(f.status + L" " + f.path);
    return sorted(out);
}

TEST(CliRecord, EditedCorruptAlteredAndUpdate)
{
    std::wstring dir = ntfs_scratch("cli-record");
    std::string d = to_linux_path(dir);
    auto W = [&](const char* name) { return dir + L"\\" + widen(name); };
    auto L = [&](const char* name) { return d + "/" + name; };
    for (const char* name : {"A", "B", "C"})
        sh_ok("head -c 70000 /dev/urandom > " + q(L(name)) + " && touch -d '2003-04-05 06:07:08.1234567' " + q(L(name)));

    CliRun r = run_cli({L"create", dir});
    ASSERT_EQ(r.code, 0u) << narrow(r.out) << narrow(r.err);
    for (const char* name : {"A", "B", "C"}) {
        EXPECT_EQ(linux_read_hex(L(name) + ":z"), openssl_whirlpool_hex(L(name))) << name;
        EXPECT_EQ(record_of(L(name)), expected_record(L(name))) << name << ": the record's bytes as documented";
    }
    const std::string b_stream = linux_read_hex(L("B") + ":z");

    sh_ok("printf appended >> " + q(L("A")));
    flip_keeping_time(L("B"));
    sh_ok("touch " + q(L("C")));
    sh_ok("printf new > " + q(L("D")));
    sh_ok("printf 'from linux' > " + q(L("E")));
    linux_store(L("E"));

    // check: standard output holds the findings alone, the summary is on
    // standard error.
    r = run_cli({L"check", dir});
    EXPECT_EQ(r.code, 1u) << narrow(r.out) << narrow(r.err);
    EXPECT_EQ(lines(r), sorted({L"edited " + W("A"), L"corrupt " + W("B"), L"no-digest " + W("D")})) << narrow(r.out);
    EXPECT_EQ(r.out.find(L"summary"), std::wstring::npos) << narrow(r.out);
    EXPECT_NE(summary_of(r.err).find(L"5 files, 2 matched, 1 corrupt, 1 edited, 1 no-digest"), std::wstring::npos)
        << narrow(r.err);

    // update: new digests for the edited and the new file only; the report
    // agrees with the printed findings.
    std::wstring report = build_scratch(L"record-update.json");
    const long long a_time = linux_mtime_ns(L("A"));
    r = run_cli({L"update", L"--report", report, dir});
    EXPECT_EQ(r.code, 1u) << narrow(r.out) << narrow(r.err);
    EXPECT_EQ(lines(r), sorted({L"updated " + W("A"), L"corrupt " + W("B"), L"added " + W("D")})) << narrow(r.out);
    int st = -1;
    std::string verdict = cli_tree("report " + q(to_linux_path(report)) + " " + q(to_linux_path(r.out_file)) + " 1 update", &st);
    EXPECT_EQ(st, 0) << verdict;
    EXPECT_EQ(linux_mtime_ns(L("A")), a_time) << "update moved a last-write time";
    EXPECT_EQ(linux_read_hex(L("A") + ":z"), openssl_whirlpool_hex(L("A")));
    EXPECT_EQ(linux_read_hex(L("D") + ":z"), openssl_whirlpool_hex(L("D")));
    EXPECT_EQ(linux_read_hex(L("B") + ":z"), b_stream) << "update wrote over a corrupt file's digest";
    for (const char* name : {"A", "C", "D", "E"})
        EXPECT_EQ(record_of(L(name)), expected_record(L(name))) << name << ": record missing or not refreshed";

    // The refreshed records make a flipped byte under a kept time corrupt.
    flip_keeping_time(L("C"));
    flip_keeping_time(L("E"));
    r = run_cli({L"check", W("C"), W("E")});
    EXPECT_EQ(r.code, 1u);
    EXPECT_EQ(lines(r), sorted({L"corrupt " + W("C"), L"corrupt " + W("E")})) << narrow(r.out);

    // rewrite leaves the corrupt file alone unless it is told so by name.
    const std::string c_stream = linux_read_hex(L("C") + ":z");
    r = run_cli({L"rewrite", W("C"), W("A")});
    EXPECT_EQ(r.code, 1u);
    EXPECT_EQ(lines(r), std::vector<std::wstring>{L"corrupt " + W("C")}) << narrow(r.out);
    EXPECT_EQ(linux_read_hex(L("C") + ":z"), c_stream);
    r = run_cli({L"rewrite", L"--force", W("C")});
    EXPECT_EQ(r.code, 0u) << narrow(r.out) << narrow(r.err);
    EXPECT_EQ(linux_read_hex(L("C") + ":z"), openssl_whirlpool_hex(L("C")));
    EXPECT_EQ(record_of(L("C")), expected_record(L("C")));
    EXPECT_EQ(linux_mtime_ns(L("A")), a_time) << "times move only where the data was written";

    // B's "z" replaced from Linux by the digest of other data, its time put
    // back: its record belongs to another digest and is ignored.
    long long b_time = linux_mtime_ns(L("B"));
    sh_ok("printf other | openssl dgst -provider legacy -provider default -whirlpool -binary > " + q(L("B") + ":z") +
          " && touch -d @" + std::to_string(b_time / 1000000000) + "." + std::to_string(1000000000 + b_time % 1000000000).substr(1) +
          " " + q(L("B")));
    ASSERT_EQ(linux_mtime_ns(L("B")), b_time);
    r = run_cli({L"check", W("B")});
    EXPECT_EQ(r.code, 1u);
    EXPECT_EQ(lines(r), std::vector<std::wstring>{L"altered " + W("B")}) << narrow(r.out);

    // remove takes both streams.
    r = run_cli({L"remove", L"--yes", W("C")});
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(record_of(L("C")), "absent\n");
    EXPECT_EQ(r.err.find(L"summary  remove: 1 file, 1 deleted"), 0u) << narrow(r.err);
}

// create never replaces a digest, not even one held open by another
// program, and counts a short stream as damaged; a time that cannot be put
// back is not a written digest.
TEST(CliRecord, CreateLeavesWhatIsThere)
{
    std::wstring dir = ntfs_scratch("cli-record-create");
    std::string d = to_linux_path(dir);
    sh_ok("printf short > " + q(d + "/short") + " && printf 0123456789 > " + q(d + "/short:z"));
    sh_ok("printf held > " + q(d + "/held") + " && head -c 64 /dev/zero > " + q(d + "/held:z"));
    // NTFS's time 0 (1601): the platform's time call takes it as "leave
    // the time as it is", so the time the stream's write moved stays moved.
    sh_ok("printf old > " + q(d + "/old") + " && touch -d '1601-01-01 00:00:00 UTC' " + q(d + "/old"));
    HANDLE hold = CreateFileW((dir + L"\\held").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    CliRun r = run_cli({L"create", dir});
    CloseHandle(hold);
    EXPECT_EQ(r.code, 1u) << narrow(r.out) << narrow(r.err);
    EXPECT_EQ(lines(r), sorted({L"damaged " + dir + L"\\short", L"not-written " + dir + L"\\old"})) << narrow(r.out);
    EXPECT_NE(summary_of(r.err).find(L"3 files, 1 already with digest, 1 damaged, 1 not-written"), std::wstring::npos) << narrow(r.err);
    EXPECT_NE(r.err.find(L"the last-write time could not be put back: " + dir + L"\\old"), std::wstring::npos)
        << narrow(r.err);
    EXPECT_EQ(linux_read_hex(d + "/short:z"), to_hex("0123456789", 10));
    EXPECT_EQ(linux_read_hex(d + "/held:z"), std::string(128, '0')) << "a digest held by another program was replaced";
}

}  // namespace
