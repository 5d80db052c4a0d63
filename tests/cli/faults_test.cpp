// kestrin-cli against faults that once ended in a wrong answer, run as a
// script runs it: a report that cannot be put in place, a bare drive letter,
// names the platform would shorten or take for a device, its own report
// inside the walked folder, and a link that leads back into the walk. Linux,
// OpenSSL and rhash are the witnesses.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>

namespace {

std::string lx(const std::wstring& win)
{
    return sh_quote(to_linux_path(win));
}

void sh_ok(const std::string& command)
{
    int st = -1;
    std::string out = linux_sh(command, &st);
    ASSERT_EQ(0, st) << command << "\n" << out;
}

std::string describe(const CliRun& r)
{
    return "exit " + std::to_string(r.code) + "\nstdout:\n" + narrow(r.out) + "stderr:\n" + narrow(r.err);
}

}  // namespace

// A report that cannot be moved into place (an old report that cannot be
// replaced) is an error: exit 3, a message, the old report as it was, no
// temporary left. Altered files keep their stronger code. Wine replaces a
// read-only file, so the old report is made immutable from Linux as well.
TEST(CliFaults, ReportThatCannotBePlacedIsAnError)
{
    std::wstring dir = ntfs_scratch("cli-faults-report");
    ASSERT_TRUE(write_file(dir + L"\\a.txt", "a"));
    ASSERT_EQ(0u, run_cli({L"create", dir}).code);
    std::wstring report = build_scratch(L"faults-readonly.json");
    SetFileAttributesW(report.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(write_file(report, "last week"));
    ASSERT_TRUE(SetFileAttributesW(report.c_str(), FILE_ATTRIBUTE_READONLY));
    sh_ok("chattr +i " + lx(report));

    CliRun r = run_cli({L"check", L"--report", report, dir});
    EXPECT_EQ(3u, r.code) << describe(r);
    EXPECT_NE(std::wstring::npos, r.err.find(L"kestrin-cli: the report could not be written: " + report)) << describe(r);
    EXPECT_EQ("last week", read_file(report));
    EXPECT_EQ("", linux_sh("ls " + lx(report) + ".*.partial 2>/dev/null"));

    // Corrupt (content changed, size and time kept): its stronger code stays.
    sh_ok("touch -r " + lx(dir + L"\\a.txt") + " " + lx(report + L".time") + " && printf b > " + lx(dir + L"\\a.txt") +
          " && touch -r " + lx(report + L".time") + " " + lx(dir + L"\\a.txt") + " && rm " + lx(report + L".time"));
    r = run_cli({L"check", L"--report", report, dir});
    EXPECT_EQ(1u, r.code) << describe(r);
    sh_ok("chattr -i " + lx(report));
    SetFileAttributesW(report.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// "D:" is the drive's current folder, as everywhere in Windows, not its
// root; findings name the folder it resolved to.
TEST(CliFaults, BareDriveLetterIsTheDrivesCurrentFolder)
{
    std::wstring root = ntfs_scratch("cli-faults-drive");
    ASSERT_TRUE(CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(write_file(root + L"\\top.txt", "top"));
    ASSERT_TRUE(write_file(root + L"\\sub\\in.txt", "in"));
    WineDriveD drive(root);
    if (!drive.ok)
        GTEST_SKIP() << "Wine's drive D: cannot be mapped here (no WINEPREFIX)";
    ASSERT_TRUE(SetEnvironmentVariableW(L"=D:", L"D:\\sub"));
    CliRun r = run_cli({L"list", L"D:"});
    SetEnvironmentVariableW(L"=D:", nullptr);
    EXPECT_EQ(2u, r.code) << describe(r);
    std::vector<Finding> found = findings_of(r.out);
    ASSERT_EQ(1u, found.size()) << describe(r);
    EXPECT_EQ(L"no-digest", found[0].status);
    EXPECT_EQ(L"D:\\sub\\in.txt", found[0].path);
}

// Names made by another system that the platform's normalising would change
// ("name." is not "name", "aux" and "con" are not devices here): digests go
// into their own streams, export writes lines that name those files (held
// against OpenSSL name by name) and that verify and import take to the same
// files, and a name no manifest can carry ("...") is reported and left out.
TEST(CliFaults, NamesThePlatformWouldChangeAreCarriedExactly)
{
    std::wstring dir = ntfs_scratch("cli-faults-names");
    std::string d = to_linux_path(dir);
    sh_ok("cd " + sh_quote(d) + " && mkdir aux && printf one > aux/f.bin && printf dot > 'name.' && printf plain > name"
          " && printf blank > 'trail ' && printf device > con && printf dots > '...'");
    CliRun r = run_cli({L"create", dir});
    EXPECT_EQ(0u, r.code) << describe(r);
    for (const char* name : {"aux/f.bin", "name.", "name", "trail ", "con"})
        EXPECT_EQ(openssl_whirlpool_hex(d + "/" + name), linux_read_hex(d + "/" + name + ":z")) << name;

    std::wstring manifest = dir + L"\\MANIFEST.whirlpool";
    r = run_cli({L"export", manifest, dir});
    EXPECT_EQ(2u, r.code) << describe(r);
    EXPECT_EQ((std::vector<std::wstring>{dir + L"\\..."}), paths_with(r.out, L"not-written")) << describe(r);
    int st = -1;
    std::string lines = linux_sh("cd " + sh_quote(d) + " && python3 -c 'import subprocess\n"
                                 "for l in sorted(open(\"MANIFEST.whirlpool\").read().splitlines(), key=lambda l: l[130:]):\n"
                                 "  o = subprocess.run([\"openssl\", \"dgst\", \"-provider\", \"legacy\", \"-provider\", "
                                 "\"default\", \"-whirlpool\", \"-r\", l[130:]], capture_output=True).stdout\n"
                                 "  print(repr(l[130:]), o[:128].decode() == l[:128])'", &st);
    EXPECT_EQ(0, st) << lines;
    EXPECT_EQ("'aux/f.bin' True\n'con' True\n'name' True\n'name.' True\n'trail ' True\n", lines);

    r = run_cli({L"verify", manifest});
    EXPECT_EQ(0u, r.code) << describe(r);
    sh_ok("printf DOT > " + sh_quote(d + "/name."));
    r = run_cli({L"verify", manifest});
    EXPECT_EQ(1u, r.code) << describe(r);
    EXPECT_EQ((std::vector<std::wstring>{dir + L"\\name."}), paths_with(r.out, L"altered")) << describe(r);

    // import puts each line's digest back into its own file's stream.
    sh_ok("printf dot > " + sh_quote(d + "/name.") + " && cd " + sh_quote(d) +
          " && for f in aux/f.bin name. name 'trail ' con; do rm \"$f:z\"; done");
    r = run_cli({L"import", manifest});
    EXPECT_EQ(0u, r.code) << describe(r);
    for (const char* name : {"aux/f.bin", "name.", "name", "trail ", "con"})
        EXPECT_EQ(openssl_whirlpool_hex(d + "/" + name), linux_read_hex(d + "/" + name + ":z")) << name;
}

// A report written inside the walked folder is the run's own: neither its
// temporary nor last run's report is a file without a digest.
TEST(CliFaults, RunLeavesItsOwnReportOut)
{
    std::wstring dir = ntfs_scratch("cli-faults-own");
    ASSERT_TRUE(write_file(dir + L"\\a.txt", "a"));
    ASSERT_EQ(0u, run_cli({L"create", dir}).code);
    std::wstring report = dir + L"\\report.json";
    for (int run = 0; run < 2; ++run) {
        CliRun r = run_cli({L"check", L"--report", report, dir});
        EXPECT_EQ(0u, r.code) << "run " << run << "\n" << describe(r);
        EXPECT_TRUE(file_exists(report));
    }
}

// A link that leads back to a folder being walked is entered once: each
// file is reached once and the link is reported skipped.
TEST(CliFaults, LinkBackIntoTheWalkIsSkipped)
{
    std::wstring dir = ntfs_scratch("cli-faults-loop");
    std::string d = to_linux_path(dir);
    sh_ok("mkdir -p " + sh_quote(d + "/a") + " && printf f > " + sh_quote(d + "/a/f.txt") + " && ln -s .. " +
          sh_quote(d + "/a/back"));
    CliRun r = run_cli({L"list", dir}, 120000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(2u, r.code) << describe(r);
    EXPECT_EQ((std::vector<std::wstring>{dir + L"\\a\\f.txt"}), paths_with(r.out, L"no-digest")) << describe(r);
    EXPECT_EQ((std::vector<std::wstring>{dir + L"\\a\\back"}), paths_with(r.out, L"skipped")) << describe(r);
}

// A file past 4 GiB is hashed whole: its size travels as 64 bits through
// every step (on a host that runs the 32-bit build, the 32-bit program is the
// one tested). Sparse, in the build folder, so it costs neither disk nor the
// NTFS volume's space; there Wine keeps the digest in a sibling "FILE:z".
TEST(CliFaults, FileOverFourGiBIsHashedWhole)
{
    std::wstring dir = build_scratch(L"over-4gib");
    std::string d = to_linux_path(dir);
    sh_ok("rm -rf " + sh_quote(d) + " && mkdir -p " + sh_quote(d) + " && truncate -s 4294967296 " +
          sh_quote(d + "/big.bin") + " && printf abc >> " + sh_quote(d + "/big.bin"));
    ASSERT_EQ(4294967299LL, linux_file_size(d + "/big.bin"));
    // The file itself is named: on ext4 the digest's sibling file would be
    // walked too.
    const std::wstring big = dir + L"\\big.bin";
    CliRun r = run_cli({L"create", big}, 600000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(0u, r.code) << describe(r);
    std::string want = openssl_whirlpool_hex(d + "/big.bin");
    ASSERT_EQ(128u, want.size());
    EXPECT_EQ(want, linux_read_hex(d + "/big.bin:z"));
    r = run_cli({L"check", big}, 600000);
    EXPECT_EQ(0u, r.code) << describe(r);
    EXPECT_NE(std::wstring::npos, r.err.find(L"4294967299 bytes hashed")) << describe(r);
    sh_ok("rm -rf " + sh_quote(d));
}
