// Files at any depth through the real window: a tree whose files lie at
// paths of 260, 300, 1,000 and over 2,000 characters (nested folders with
// long names, some not ASCII) beside ordinary ones, taken through the whole
// cycle. After every step Linux reads each stream through the mount and
// compares it with OpenSSL's Whirlpool; data and times are checked at the end.
#include <gtest/gtest.h>
#include <algorithm>
#include <wctype.h>
#include "driver.h"
#include "oracle.h"
#include "test_env.h"
#include "volume.h"
#include "res/resource.h"

namespace {

class LongPaths : public ::testing::Test {
protected:
    Kestrin k;
    std::wstring dir;
    std::vector<std::wstring> all;   // every file, sorted
    std::wstring deepest, dot_ended;

    void TearDown() override
    {
        if (HasFailure()) screenshot(k, "long_paths_failed");
        kestrin_kill(k);
    }

    // A file whose Windows path has exactly `total` characters, below
    // folders whose names start with `flavour`.
    std::wstring deep_file(size_t total, const std::wstring& flavour)
    {
        std::wstring p = dir + L"\\" + flavour;
        while (p.size() + 141 < total)
            p += L"\\" + flavour + std::wstring(130 - flavour.size(), L'x');
        std::wstring folder = p;
        p += L"\\" + std::wstring(total - p.size() - 5, L'f') + L".bin";
        std::string script = "mkdir -p " + sh_quote(to_linux_path(folder)) + " && head -c " +
                             std::to_string(1000 + total) + " /dev/urandom > " + sh_quote(to_linux_path(p));
        int st = 0;
        linux_sh(script, &st);
        EXPECT_EQ(0, st) << narrow(p);
        EXPECT_EQ(total, p.size());
        return p;
    }

    void make_tree()
    {
        dir = ntfs_scratch("long-paths");
        ASSERT_TRUE(linux_in(dir, "head -c 5000 /dev/urandom > plain.txt && mkdir -p ordinary && "
                                  "head -c 65536 /dev/urandom > ordinary/exact64k.bin"));
        deep_file(260, L"a");
        deep_file(300, L"b\u00e4");
        deep_file(1000, L"c\u03a9");
        deepest = deep_file(2200, L"d\u65e5\u672c");
        // A name ending in a dot is reached only through the long form, which
        // takes names exactly; Wine enforces no length limit of its own, so
        // this is what shows that the calls really take that form.
        dot_ended = deepest.substr(0, deepest.rfind(L'\\')) + L"\\ends with a dot.";
        ASSERT_TRUE(linux_in(dir, "head -c 777 /dev/urandom > " + sh_quote(to_linux_path(dot_ended))));
        all = keys_of(linux_report(dir));
        ASSERT_EQ(7u, all.size());
    }

    std::wstring run(int button, DWORD timeout_ms = 120000) { return run_command(k, button, timeout_ms); }

    // Every stream as Linux reads it: OpenSSL's digest of the data, or none.
    void expect_streams(bool present, const char* step)
    {
        for (auto& kv : linux_report(dir)) {
            SCOPED_TRACE(std::string(step) + ": " + narrow(kv.first).substr(0, 120) + "... (" +
                         std::to_string(kv.first.size()) + " characters)");
            if (present) {
                EXPECT_EQ(64, kv.second.stream_size);
                EXPECT_EQ(kv.second.whirlpool_hex, kv.second.stream_hex);
            } else {
                EXPECT_EQ(-1, kv.second.stream_size);
            }
        }
    }
};

bool contains_prefix_form(const std::vector<std::wstring>& items)
{
    for (auto& s : items)
        if (s.find(L"\\\\?\\") != std::wstring::npos) return true;
    return false;
}

TEST_F(LongPaths, WholeCycleAtAnyDepth)
{
    make_tree();
    auto start = linux_report(dir);
    ASSERT_TRUE(kestrin_start(k, L"\"" + dir + L"\""));

    EXPECT_EQ(L"Ready.", run(IDC_LIST));
    EXPECT_EQ(all, sorted(list_items(k, IDC_WITHOUT_LIST))) << "List: every file, at every depth";
    EXPECT_FALSE(contains_prefix_form(list_items(k, IDC_WITHOUT_LIST))) << "the window shows paths as joined";

    EXPECT_EQ(L"Ready.", run(IDC_CREATE));
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty());
    EXPECT_EQ(all, sorted(list_items(k, IDC_WITHHASH_LIST)));
    expect_streams(true, "Create");

    EXPECT_EQ(L"All files checked successfully.", run(IDC_START));
    EXPECT_TRUE(list_items(k, IDC_ALTERED_LIST).empty());
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty());

    // The digest view of the deepest file shows the bytes Linux reads.
    EXPECT_EQ(L"Ready.", run(IDC_LIST));
    {
        HWND box = open_digest_view(k, deepest);
        ASSERT_TRUE(box) << "no \"Hash\" box for the deepest file";
        std::string hex = linux_read_hex(to_linux_path(deepest) + ":z");
        ASSERT_EQ(128u, hex.size());
        std::wstring digest_lines = digest_view_lines(hex);
        std::wstring text = box_text(box);
        EXPECT_EQ(deepest + L"\n\n" + digest_lines, text) << "the Hash box: the path as listed, then the digest";
        answer(box, IDOK);
        EXPECT_TRUE(wait_until([&] { return other_dialogs(k).empty(); }, 5000));
    }

    // One bit flipped in the deepest file, its time put back.
    std::string deep_linux = to_linux_path(deepest);
    ASSERT_TRUE(linux_in(dir, "t=$(stat -c %y " + sh_quote(deep_linux) + ") && "
                              "python3 -c 'import sys; f=open(sys.argv[1],\"r+b\"); f.seek(1234); b=f.read(1); "
                              "f.seek(1234); f.write(bytes([b[0]^1]))' " + sh_quote(deep_linux) +
                              " && touch -d \"$t\" " + sh_quote(deep_linux)));
    EXPECT_EQ(L"Ready.", run(IDC_START));
    EXPECT_EQ(std::vector<std::wstring>{deepest}, list_items(k, IDC_ALTERED_LIST)) << "exactly the flipped file";
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty());

    auto before_rewrite = linux_report(dir);
    EXPECT_EQ(L"Ready.", run(IDC_REWRITE));
    EXPECT_TRUE(list_items(k, IDC_ALTERED_LIST).empty());
    expect_streams(true, "Rewrite");
    EXPECT_EQ(before_rewrite[deepest].mtime_ns, linux_report(dir)[deepest].mtime_ns) << "time kept by Rewrite";
    EXPECT_EQ(L"All files checked successfully.", run(IDC_START));

    EXPECT_EQ(L"Ready.", run(IDC_REMOVE));
    EXPECT_EQ(all, sorted(list_items(k, IDC_WITHOUT_LIST)));
    expect_streams(false, "Remove");

    auto end = linux_report(dir);
    for (auto& kv : end) {
        SCOPED_TRACE(narrow(kv.first).substr(0, 120));
        EXPECT_EQ(kv.first == deepest ? before_rewrite[kv.first].sha256_hex : start[kv.first].sha256_hex,
                  kv.second.sha256_hex)
            << "data unchanged (but for the one flipped bit)";
        EXPECT_EQ(start[kv.first].mtime_ns, kv.second.mtime_ns) << "last-write time unchanged";
    }
}

// The deepest folder named on the command line, or typed into the field
// through "..", reaches the same file.
TEST_F(LongPaths, DeepTargetsFromTheCommandLineAndTheField)
{
    make_tree();
    std::wstring folder = deepest.substr(0, deepest.rfind(L'\\'));
    ASSERT_TRUE(kestrin_start(k, L"\"" + folder + L"\""));
    EXPECT_EQ(L"Ready.", run(IDC_START));
    EXPECT_EQ(sorted({deepest, dot_ended}), sorted(list_items(k, IDC_WITHOUT_LIST))) << "from the command line";

    // Typed, through "..": listed under the text as typed and joined.
    std::wstring last = folder.substr(folder.rfind(L'\\') + 1);
    std::wstring typed = folder + L"\\..\\" + last;
    erase_path_field(k);
    type_text(k, L"\"" + typed + L"\"");
    EXPECT_EQ(L"Ready.", run(IDC_LIST));
    EXPECT_EQ(sorted({typed + deepest.substr(deepest.rfind(L'\\')), typed + dot_ended.substr(dot_ended.rfind(L'\\'))}),
              sorted(list_items(k, IDC_WITHOUT_LIST)));
}

// The folder browser gives back the folder picked whole, and quoted when it
// holds a blank: a folder a few levels down, its path just short of MAX_PATH
// (Wine's browser shows no folder past MAX_PATH; deeper targets are named on
// the command line and in the field, above).
TEST_F(LongPaths, FolderBrowserPicksAFolderWholeAndQuoted)
{
    make_tree();
    std::wstring deep = dir + L"\\with blank";
    for (wchar_t level = L'1'; deep.size() + 41 < MAX_PATH - 20; ++level)
        deep += L"\\" + std::wstring(1, level) + std::wstring(39, L'w');
    ASSERT_TRUE(linux_in(dir, "mkdir -p " + sh_quote(to_linux_path(deep)) + " && echo x > " +
                                  sh_quote(to_linux_path(deep) + "/inside.txt")));
    ASSERT_TRUE(kestrin_start(k, L""));
    std::string err = browse_pick(k, deep, nullptr);
    ASSERT_EQ("", err) << "driving the folder browser to a " << deep.size() << "-character folder";
    EXPECT_EQ(L"\"" + deep + L"\"", control_text(k, IDC_PATH)) << "the picked folder, whole and quoted";
    EXPECT_EQ(L"Ready.", run(IDC_LIST));
    EXPECT_EQ(std::vector<std::wstring>{deep + L"\\inside.txt"}, list_items(k, IDC_WITHOUT_LIST));
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty()) return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    return RUN_ALL_TESTS();
}
