// Paths of any length: the call form that make_call_path gives, and files at
// 260 to 2,000+ characters handled in full by every mode of process_file and
// by the walk, checked from Linux against OpenSSL.
#include "harness.h"
#include "oracle.h"
#include "test_env.h"
#include "jobs/jobs.h"
#include "jobs/long_path.h"
#include "jobs/targets.h"
#include <gtest/gtest.h>
#include <algorithm>

using Paths = std::vector<std::wstring>;

namespace {

std::wstring call_path(const std::wstring& path, const wchar_t* suffix = L"", bool* ok = nullptr)
{
    static wchar_t out[kLongPathChars];
    out[0] = L'?';
    bool made = make_call_path(path.c_str(), suffix, out);
    if (ok)
        *ok = made;
    EXPECT_EQ(L'\0', out[kLongPathChars - 1]) << "terminated at its last position";
    return out;
}

std::wstring current_directory()
{
    wchar_t dir[kLongPathChars];
    GetCurrentDirectoryW(kLongPathChars, dir);
    return dir;
}

// A path of exactly `total` characters: C:\ then folders of up to 100
// characters, then a file name.
std::wstring path_of_length(size_t total, const std::wstring& start = L"C:\\")
{
    std::wstring p = start;
    while (p.size() + 101 < total)
        p += std::wstring(100, L'f') + L"\\";
    p += std::wstring(total - p.size(), L'n');
    return p;
}

}  // namespace

TEST(CallPath, ShortPathsAreTakenAsWritten)
{
    // Relative, unnormalised and forward-slashed paths stay exactly as typed
    // while they are short: the window shows and hands on what the user wrote.
    for (const wchar_t* p : {L"relative\\file.txt", L"C:/a/./b/../c.txt", L"\\\\server\\share\\f.txt", L"x"}) {
        bool ok = false;
        EXPECT_EQ(std::wstring(p) + L":z", call_path(p, L":z", &ok));
        EXPECT_TRUE(ok) << narrow(p);
    }
}

TEST(CallPath, LongFormFromTwoHundredFiftyNineCharacters)
{
    std::wstring p258 = path_of_length(258), p259 = path_of_length(259), p260 = path_of_length(260);
    EXPECT_EQ(p258, call_path(p258)) << "258 characters need no prefix";
    EXPECT_EQ(L"\\\\?\\" + p259, call_path(p259));
    EXPECT_EQ(L"\\\\?\\" + p260, call_path(p260));
    // The suffix counts: a 257-character file's stream path has 259.
    std::wstring p256 = path_of_length(256), p257 = path_of_length(257);
    EXPECT_EQ(p256 + L":z", call_path(p256, L":z"));
    EXPECT_EQ(L"\\\\?\\" + p257 + L":z", call_path(p257, L":z"));
}

TEST(CallPath, LongPathsAreMadeAbsoluteAndNormalised)
{
    std::wstring tail = std::wstring(150, L'a') + L"/./" + std::wstring(150, L'b') + L"/../c.txt";
    std::wstring expected = L"C:\\" + std::wstring(150, L'a') + L"\\c.txt";
    EXPECT_EQ(L"\\\\?\\" + expected + L":z", call_path(L"C:/" + tail, L":z")) << "slashes, . and ..";

    std::wstring relative = std::wstring(200, L'r') + L"\\" + std::wstring(100, L's');
    std::wstring cwd = current_directory();
    if (cwd.back() != L'\\')
        cwd += L'\\';
    EXPECT_EQ(L"\\\\?\\" + cwd + relative, call_path(relative)) << "relative to the current folder";

    std::wstring unc = L"\\\\server\\share\\" + std::wstring(300, L'u');
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'u'), call_path(unc)) << "network path";

    // A clean absolute path keeps its names exactly: normalising would take
    // the dot and the blank off these two and name other files.
    std::wstring exact = L"C:\\" + std::wstring(300, L'e') + L"\\dot.\\blank ";
    EXPECT_EQ(L"\\\\?\\" + exact + L":z", call_path(exact, L":z")) << "names taken exactly";
    std::wstring exact_unc = L"\\\\server\\share\\" + std::wstring(300, L'e') + L"\\dot.";
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'e') + L"\\dot.", call_path(exact_unc));

    std::wstring prefixed = L"\\\\?\\C:\\" + std::wstring(400, L'p') + L"\\..\\q";
    EXPECT_EQ(prefixed + L":z", call_path(prefixed, L":z")) << "a prefixed path is taken as it is";
}

TEST(CallPath, PathsBeyondThePlatformLimitAreRefusedNotCut)
{
    // 32,767 characters in all is the most a call can take, terminator aside.
    std::wstring most = path_of_length(32767 - 4 - 2);
    bool ok = false;
    EXPECT_EQ(L"\\\\?\\" + most + L":z", call_path(most, L":z", &ok));
    EXPECT_TRUE(ok);
    std::wstring over = path_of_length(32767 - 4 - 1);
    EXPECT_EQ(L"", call_path(over, L":z", &ok)) << "one character too many";
    EXPECT_FALSE(ok);
    EXPECT_EQ(L"", call_path(path_of_length(40000), L"", &ok));
    EXPECT_FALSE(ok);
}

// Files at 260 to over 2,000 characters, some with non-ASCII names, beside
// ordinary ones: every mode handles them in full, as Linux and OpenSSL see.
class LongPathJobsTest : public JobsTest {
protected:
    // A file whose path (Windows form) has `total` characters, in nested
    // folders made from Linux: Linux takes such paths in one call, well
    // inside its own limit of 4,096 bytes.
    std::wstring deep_file(size_t total, const std::wstring& flavour)
    {
        std::wstring p = dir + L"\\" + flavour;
        while (p.size() + 121 < total)
            p += L"\\" + flavour + std::wstring(110 - flavour.size(), L'd');
        std::wstring folder = p;
        p += L"\\" + std::wstring(total - p.size() - 5, L'n') + L".txt";
        EXPECT_EQ(total, p.size());
        int st = 0;
        linux_sh("mkdir -p " + sh_quote(to_linux_path(folder)) + " && printf %s " + sh_quote(narrow(p)) + " > " +
                     sh_quote(to_linux_path(p)),
                 &st);
        EXPECT_EQ(0, st) << narrow(p);
        return p;
    }
    void make_tree()
    {
        files = {make(L"plain.txt", "ordinary\n"), deep_file(260, L"a"), deep_file(300, L"b\u00e9"),
                 deep_file(1000, L"c\u03a9"), deep_file(2100, L"d\u65e5\u672c")};
    }
    Paths files;
};

TEST_F(LongPathJobsTest, EveryModeHandlesLongPathsInFull)
{
    make_tree();
    std::string before = linux_data_snapshot(dir);
    ASSERT_TRUE(run_walk(List, L"\"" + dir + L"\""));
    Paths listed = items(g_run.without_list);
    std::sort(listed.begin(), listed.end());
    Paths expected = files;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listed) << "the walk reaches every file, under its joined path";

    for (const auto& f : files)
        linux_store_digest(f);
    harness_reset();
    ASSERT_TRUE(run_walk(List, L"\"" + dir + L"\""));
    EXPECT_EQ(files.size(), items(g_run.withhash_list).size());
    EXPECT_EQ(Paths{}, items(g_run.without_list));

    harness_reset();
    ASSERT_TRUE(run_walk(SizePass, L"\"" + dir + L"\""));
    uint64_t total = 0;
    for (const auto& f : files)
        total += linux_file_size(to_linux_path(f));
    EXPECT_EQ(total, g_run.total_bytes.load());

    harness_reset();
    ASSERT_TRUE(write_file(files[3], std::string("changed deep file")));
    linux_sh("touch -m -d '2003-04-05 06:07:08' " + sh_quote(to_linux_path(files[3])));
    for (const auto& f : files)
        ASSERT_TRUE(run_process_file(Check, f));
    EXPECT_EQ((Paths{files[3]}), items(g_run.altered_list));
    EXPECT_EQ(Paths{}, items(g_run.without_list));
    uint64_t read = 0;
    for (const auto& f : files)
        read += linux_file_size(to_linux_path(f));
    EXPECT_EQ(read, g_run.done_bytes.load()) << "every file hashed once, in full";

    harness_reset();
    for (const auto& f : files)
        ASSERT_TRUE(run_process_file(Remove, f));
    EXPECT_EQ(files, items(g_run.without_list));
    for (const auto& f : files) {
        bool exists = true;
        linux_stream_hex(f, &exists);
        EXPECT_FALSE(exists) << narrow(f) << ":z must be gone";
    }
    (void)before;
}

TEST_F(LongPathJobsTest, CreateAndRewriteStoreDigestsAtAnyDepth)
{
    make_tree();
    std::vector<long long> times;
    for (const auto& f : files) {
        linux_sh("touch -m -d '2002-03-04 05:06:07.123456789' " + sh_quote(to_linux_path(f)));
        times.push_back(linux_mtime_ns(to_linux_path(f)));
    }
    add_items(g_run.without_list, files);
    ASSERT_TRUE(run_job(Create, WriteJob, &g_run.without_list));
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ(files, items(g_run.withhash_list)) << "plain paths, as they were listed";
    for (size_t i = 0; i < files.size(); ++i) {
        bool exists = false;
        EXPECT_EQ(openssl_whirlpool_hex(to_linux_path(files[i])), linux_stream_hex(files[i], &exists))
            << narrow(files[i]);
        EXPECT_EQ(times[i], linux_mtime_ns(to_linux_path(files[i]))) << "last-write time kept";
    }

    // A stale digest at 2,100 characters is rewritten in place.
    linux_store_junk(files[4], 64);
    linux_sh("touch -m -d '2004-05-06 07:08:09.5' " + sh_quote(to_linux_path(files[4])));
    long long stale_time = linux_mtime_ns(to_linux_path(files[4]));
    harness_reset();
    add_items(g_run.altered_list, {files[4]});
    ASSERT_TRUE(run_job(Rewrite, WriteJob, &g_run.altered_list));
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ(openssl_whirlpool_hex(to_linux_path(files[4])), linux_stream_hex(files[4]));
    EXPECT_EQ(stale_time, linux_mtime_ns(to_linux_path(files[4])));
}

TEST_F(LongPathJobsTest, RelativeDottedAndSlashedTargetsReachTheSameFiles)
{
    make_tree();
    for (const auto& f : files)
        linux_store_digest(f);
    // The deepest file's folder, named three ways: absolute; through ".."
    // and forward slashes; relative to the current folder.
    std::wstring deep = files[4].substr(0, files[4].rfind(L'\\'));
    std::wstring last = deep.substr(deep.rfind(L'\\') + 1);
    std::wstring dotted = deep + L"\\..\\" + last;
    for (auto& c : dotted)
        if (c == L'\\')
            c = L'/';
    std::wstring relative = deep.substr(dir.size() + 1);
    // Far beyond MAX_PATH however deep the scratch folder lies (the clone's
    // own path sets that).
    ASSERT_GT(relative.size(), 4u * MAX_PATH);
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    for (const std::wstring& target : {deep, dotted, relative}) {
        harness_reset();
        ASSERT_TRUE(run_walk(Check, L"\"" + target + L"\"")) << narrow(target);
        EXPECT_EQ(Paths{}, items(g_run.altered_list)) << narrow(target);
        EXPECT_EQ(Paths{}, items(g_run.without_list)) << narrow(target);
        EXPECT_EQ((uint64_t)linux_file_size(to_linux_path(files[4])), g_run.done_bytes.load())
            << "the deep file was hashed through " << narrow(target);
    }
    SetCurrentDirectoryW(saved);
}
