// System32 as the user named it. A 32-bit program on 64-bit Windows that
// opens <windir>\System32 is sent to SysWOW64 (Wine does the same for the
// 32-bit build): create and check must reach the real folder, and findings
// name it as typed. Judged from Linux: which files got a digest beside them
// (the prefix is on ext4, where Wine keeps FILE:z as a sibling file) and
// whether it is OpenSSL's digest of the System32 copy.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>

TEST(CliSystemFolder, System32IsTheRealFolder)
{
    SystemPair pair = make_system_pair("kestrin-cli-redirect");
    CliRun made = run_cli({L"create", pair.win});
    ASSERT_TRUE(made.finished);
    EXPECT_EQ(0u, made.code) << narrow(made.out + made.err);
    for (const char* name : {"/only.txt", "/both.txt"}) {
        bool exists = false;
        std::string stored = linux_read_hex(pair.sys32_linux + name + ":z", &exists);
        EXPECT_TRUE(exists) << name << " in System32 got no digest";
        EXPECT_EQ(openssl_whirlpool_hex(pair.sys32_linux + name), stored) << name;
    }
    bool wow64_touched = true;
    linux_read_hex(pair.wow64_linux + "/both.txt:z", &wow64_touched);
    EXPECT_FALSE(wow64_touched) << "the SysWOW64 copy got a digest";

    linux_sh("printf 'System32 cppy' > " + sh_quote(pair.sys32_linux + "/both.txt"));
    CliRun checked = run_cli({L"check", pair.win});
    ASSERT_TRUE(checked.finished);
    // On ext4 the streams' sibling files are listed as files without a digest.
    std::vector<std::wstring> changed;
    for (const Finding& f : findings_of(checked.out))
        if (f.status != L"no-digest") changed.push_back(f.status + L"  " + f.path);
    EXPECT_EQ(std::vector<std::wstring>{L"edited  " + pair.win + L"\\both.txt"}, changed) << narrow(checked.out + checked.err);
    remove_system_pair(pair);
}
