// Bad input: each case gives a clear message on standard error and its exit
// code, and touches nothing (Linux finds no stream where there was none and
// the stream it left where there was one). Also --version, --help and show.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>

namespace {

class CliUsage : public testing::Test {
protected:
    std::wstring dir, plain, hashed;
    std::string plain_linux, hashed_linux, hashed_stream;
    void SetUp() override
    {
        dir = ntfs_scratch("cli-usage");
        plain = dir + L"\\plain.txt";
        hashed = dir + L"\\hashed.txt";
        ASSERT_TRUE(write_file(plain, "no digest here"));
        ASSERT_TRUE(write_file(hashed, "this one has a digest"));
        plain_linux = to_linux_path(plain);
        hashed_linux = to_linux_path(hashed);
        // The digest is stored by Linux, from OpenSSL: independent of the program.
        int st = -1;
        linux_sh("openssl dgst -provider legacy -provider default -whirlpool -binary " + sh_quote(hashed_linux) +
                     " > " + sh_quote(hashed_linux + ":z"),
                 &st);
        ASSERT_EQ(st, 0);
        hashed_stream = linux_read_hex(hashed_linux + ":z");
        ASSERT_EQ(hashed_stream, openssl_whirlpool_hex(hashed_linux));
    }
    // Nothing was touched: still no stream on plain, the same on hashed.
    void untouched()
    {
        bool exists = true;
        linux_read_hex(plain_linux + ":z", &exists);
        EXPECT_FALSE(exists) << "a stream appeared on " << plain_linux;
        EXPECT_EQ(linux_read_hex(hashed_linux + ":z"), hashed_stream);
    }
    void usage_error(const std::vector<std::wstring>& args, const wchar_t* message_part)
    {
        CliRun r = run_cli(args);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.code, 3u) << narrow(r.out) << narrow(r.err);
        EXPECT_NE(r.err.find(message_part), std::wstring::npos) << "stderr: " << narrow(r.err);
        EXPECT_TRUE(r.out.empty()) << narrow(r.out);
        untouched();
    }
};

TEST_F(CliUsage, NoArguments)
{
    usage_error({}, L"no command given");
}

TEST_F(CliUsage, UnknownCommandAndOption)
{
    usage_error({L"verify-all", dir}, L"unknown command: verify-all");
    usage_error({L"create", L"--fast", dir}, L"unknown option: --fast");
    usage_error({L"create"}, L"create needs PATH...");
    usage_error({L"show", plain, hashed}, L"show takes only FILE");
    usage_error({L"create", dir, L"--report"}, L"--report needs a file name");
}

TEST_F(CliUsage, MissingTargetTouchesNothing)
{
    // The existing targets come first: had the run begun, plain would carry a digest.
    usage_error({L"create", plain, hashed, dir + L"\\no such file.txt"}, L"no such file or folder: ");
    usage_error({L"remove", L"--yes", hashed, dir + L"\\gone"}, L"gone");
}

TEST_F(CliUsage, RemoveWithoutYesAndNoConsoleRefuses)
{
    usage_error({L"remove", hashed}, L"--yes");
    CliRun r = run_cli({L"remove", L"--yes", hashed});
    EXPECT_EQ(r.code, 0u) << narrow(r.err);
    bool exists = true;
    linux_read_hex(hashed_linux + ":z", &exists);
    EXPECT_FALSE(exists);
}

TEST_F(CliUsage, ReportInAMissingFolder)
{
    usage_error({L"create", dir, L"--report", dir + L"\\no folder\\r.json"}, L"cannot create the report");
}

TEST_F(CliUsage, ShowPrintsTheStoredDigestOrSaysWhyNot)
{
    CliRun r = run_cli({L"show", hashed});
    EXPECT_EQ(r.code, 0u) << narrow(r.err);
    EXPECT_EQ(r.out, widen(hashed_stream) + L"  " + hashed + L"\r\n");

    r = run_cli({L"show", plain});
    EXPECT_EQ(r.code, 2u);
    EXPECT_EQ(r.out, L"no-digest  " + plain + L"\r\n");

    int st = -1;
    linux_sh("printf 'short' > " + sh_quote(plain_linux + ":z"), &st);
    r = run_cli({L"show", plain});
    EXPECT_EQ(r.code, 1u);
    EXPECT_EQ(r.out, L"damaged  " + plain + L"\r\n");
    // The bytes after the 64th are ignored.
    linux_sh("printf 'trailing' >> " + sh_quote(hashed_linux + ":z"), &st);
    r = run_cli({L"show", hashed});
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.out, widen(hashed_stream) + L"  " + hashed + L"\r\n");

    r = run_cli({L"show", dir});
    EXPECT_EQ(r.code, 3u);
    EXPECT_NE(r.err.find(L"not a folder"), std::wstring::npos) << narrow(r.err);
}

TEST_F(CliUsage, VersionAndHelp)
{
    // The version text as the version header states it.
    const char* src = getenv("KESTRIN_SOURCE_DIR");
    std::string header = linux_sh(std::string("sed -n 's/^#define KESTRIN_VERSION_TEXT \"\\(.*\\)\"/\\1/p' ") +
                                  sh_quote(std::string(src ? src : ".") + "/res/version.h"));
    while (!header.empty() && (header.back() == '\n' || header.back() == '\r')) header.pop_back();
    ASSERT_FALSE(header.empty());
    CliRun r = run_cli({L"--version"});
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.out, L"kestrin-cli " + widen(header) + L"\r\n");

    // The program's own version record says the same, through the platform's reader.
    std::wstring exe = cli_exe();
    DWORD ignored = 0, size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));
    wchar_t* value = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\ProductVersion", (void**)&value, &len));
    EXPECT_EQ(std::wstring(value), widen(header));
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\OriginalFilename", (void**)&value, &len));
    EXPECT_STREQ(value, L"kestrin-cli.exe");
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\FileDescription", (void**)&value, &len));
    EXPECT_STREQ(value, L"Kestrin command line");

    r = run_cli({L"--help"});
    EXPECT_EQ(r.code, 0u);
    for (const wchar_t* part : {L"Usage: kestrin-cli COMMAND [OPTIONS] PATH...", L"Exit codes:", L"  3  ", L"  4  ",
                                L"--report FILE", L"check", L"create", L"rewrite", L"list", L"remove", L"show"})
        EXPECT_NE(r.out.find(part), std::wstring::npos) << narrow(part);
    untouched();
}

}  // namespace

// A folder that cannot be enumerated: Wine reaches no path whose Linux form
// passes 4,096 bytes, so the chain below is beyond it. Its files are not
// checked, so the run is never all good: `skipped` and exit 2, while every
// file it could reach matched.
TEST(CliSkipped, AFolderThatCannotBeEnumeratedIsReportedAndNeverAllGood)
{
    std::wstring dir = ntfs_scratch("cli-skipped");
    ASSERT_TRUE(write_file(dir + L"\\reached.txt", "reached"));
    CliRun create = run_cli({L"create", dir});
    ASSERT_TRUE(create.finished);
    ASSERT_EQ(0u, create.code) << narrow(create.out) << narrow(create.err);
    std::string top = linux_make_unreachable_folder(to_linux_path(dir));
    ASSERT_NE("", top);

    std::wstring report = build_scratch(L"cli-skipped.json");
    CliRun check = run_cli({L"check", L"--report", report, dir});
    ASSERT_TRUE(check.finished);
    EXPECT_EQ(2u, check.code) << narrow(check.out) << narrow(check.err);
    std::vector<Finding> found = findings_of(check.out);
    ASSERT_EQ(1u, found.size()) << narrow(check.out);
    EXPECT_EQ(L"skipped", found[0].status);
    EXPECT_EQ(0u, found[0].path.find(dir + L"\\unreachable\\")) << narrow(found[0].path).substr(0, 200);
    int st = -1;
    std::string parsed = linux_sh("python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); "
                                  "print(r[\"exit_code\"], [f[\"status\"] for f in r[\"findings\"]])' " +
                                      sh_quote(to_linux_path(report)),
                                  &st);
    EXPECT_EQ(0, st);
    EXPECT_EQ("2 ['skipped']\n", parsed) << "the report agrees";
    linux_sh("rm -rf " + sh_quote(top));
}
