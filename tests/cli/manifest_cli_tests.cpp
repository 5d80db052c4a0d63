// export, verify and import of kestrin-cli.exe, run as a user runs them,
// under Wine: on the NTFS volume (true streams), on an ext4 folder of the
// build tree (no streams: Wine would make FILE:z a sibling file named so),
// and back. The witnesses are Linux's: OpenSSL's digests of the data, rhash
// checking the manifests, the streams and times as the ntfs-3g mount shows
// them, and Python's json module for the reports.
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct CliRun {
    int code = -1;
    std::string out;   // standard output (UTF-8: a file, not a console)
    std::string err;
};

// Runs kestrin-cli.exe with `args` (a command-line text) in the folder
// `cwd` (or this one), standard output and error going to files.
CliRun run_cli(const std::wstring& args, const std::wstring& cwd = L"")
{
    static int counter;
    std::wstring base = build_dir() + L"\\manifest-cli-run-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++counter);
    std::wstring out_path = base + L".out", err_path = base + L".err";
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    si.hStdInput = in;
    std::wstring exe = build_dir() + L"\\cli\\kestrin-cli.exe";
    std::wstring cmdline = L"\"" + exe + L"\" " + args;
    PROCESS_INFORMATION pi = {};
    CliRun run;
    if (CreateProcessW(exe.c_str(), cmdline.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 180000) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            run.code = (int)code;
        } else {
            TerminateProcess(pi.hProcess, 99);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(in);
    run.out = read_file(out_path);
    run.err = read_file(err_path);
    DeleteFileW(out_path.c_str());
    DeleteFileW(err_path.c_str());
    return run;
}

std::wstring q(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

// The findings of a run: "STATUS  PATH" lines, the summary left out.
std::multiset<std::string> findings(const CliRun& run)
{
    std::multiset<std::string> f;
    size_t start = 0;
    while (start < run.out.size()) {
        size_t end = run.out.find("\r\n", start);
        if (end == std::string::npos) end = run.out.size();
        std::string line = run.out.substr(start, end - start);
        if (!line.empty() && line.rfind("summary  ", 0) != 0) f.insert(line);
        start = end + 2;
    }
    return f;
}

std::string describe(const CliRun& run)
{
    return "exit " + std::to_string(run.code) + "\n--- out:\n" + run.out + "--- err:\n" + run.err;
}

std::string lx(const std::wstring& win)
{
    return sh_quote(to_linux_path(win));
}

int sh(const std::string& cmd)
{
    int st = -1;
    linux_sh(cmd, &st);
    return st;
}

// The files of the test trees, relative, `/` between names; each file's
// content is made from its name, and a few are larger.
const std::vector<std::string> kTree = {
    "plain.txt",
    "with blanks  and more.jpg",
    "-leading-dash.txt",
    "--",
    "\xc3\xbcn\xc3\xaf" "c\xc3\xb6" "d\xc3\xa9/\xc3\xb1" "and\xc3\xa9.txt",
    "\xe6\x97\xa5\xe6\x9c\xac/\xe5\x86\x99\xe7\x9c\x9f 1.png",
    "a/b/c/deep.bin",
    "empty",
    "big.bin",
    "exactly-65536.bin",
};

// Makes the tree below `root` (Windows path) from Linux.
void make_tree(const std::wstring& root)
{
    std::string cmd = "cd " + lx(root);
    for (const std::string& f : kTree) {
        size_t slash = f.rfind('/');
        if (slash != std::string::npos) cmd += " && mkdir -p " + sh_quote(f.substr(0, slash));
        if (f == "empty") cmd += " && : > empty";
        else if (f == "big.bin") cmd += " && head -c 3000001 /dev/urandom > big.bin";
        else if (f == "exactly-65536.bin") cmd += " && head -c 65536 /dev/urandom > exactly-65536.bin";
        else cmd += " && printf '%s' " + sh_quote(f) + " > " + sh_quote(f);
    }
    ASSERT_EQ(sh(cmd), 0) << cmd;
}

std::wstring win_rel(const std::string& rel)
{
    std::wstring w = widen(rel);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return w;
}

std::string openssl_of(const std::wstring& root, const std::string& rel)
{
    return openssl_whirlpool_hex(to_linux_path(root) + "/" + rel);
}

// Every line of the manifest: path -> hex. A path's second line is kept
// under "<duplicate line> PATH", so that the count of lines tells.
std::map<std::string, std::string> manifest_lines(const std::wstring& manifest, bool* only_lf = nullptr)
{
    std::string text = read_file(manifest);
    if (only_lf) *only_lf = text.find('\r') == std::string::npos;
    std::map<std::string, std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.size() <= 130) lines["<short line> " + line] = "";
        else if (!lines.emplace(line.substr(130), line.substr(0, 128)).second)
            lines["<duplicate line> " + line.substr(130)] = line.substr(0, 128);
        start = end + 1;
    }
    return lines;
}

std::string json_of(const std::wstring& report, const std::string& expr)
{
    int st = -1;
    std::string r = linux_sh("python3 -c " + sh_quote("import json,sys; r=json.load(open(sys.argv[1], encoding='utf-8')); print(" + expr + ")") +
                             " " + lx(report), &st);
    while (!r.empty() && (r.back() == '\n' || r.back() == '\r')) r.pop_back();
    return st == 0 ? r : "<not JSON: status " + std::to_string(st) + ">";
}

// Flips the lowest bit of the byte at `offset`, from Linux.
void flip_bit(const std::wstring& file, long offset)
{
    std::string py = "import sys; f=open(sys.argv[1],'r+b'); f.seek(" + std::to_string(offset) +
                     "); b=f.read(1); f.seek(" + std::to_string(offset) + "); f.write(bytes([b[0]^1])); f.close()";
    ASSERT_EQ(sh("python3 -c " + sh_quote(py) + " " + lx(file)), 0);
}

class ManifestCli : public testing::Test {
protected:
    void SetUp() override
    {
        root = ntfs_scratch(testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_FALSE(root.empty());
    }
    std::wstring root;
};

}  // namespace

// The whole way: create on NTFS, export, the manifest checked by rhash and
// OpenSSL, a copy on ext4 verified there, one bit flipped, verified again,
// copied back onto a fresh NTFS folder without streams, imported.
TEST_F(ManifestCli, RoundTripThroughAFileSystemWithoutStreams)
{
    make_tree(root);
    CliRun r = run_cli(L"create " + q(root));
    ASSERT_EQ(r.code, 0) << describe(r);

    std::wstring manifest = root + L"\\MANIFEST.whirlpool";
    std::wstring report = build_dir() + L"\\manifest-export-report.json";
    r = run_cli(L"export --report " + q(report) + L" " + q(manifest) + L" " + q(root));
    ASSERT_EQ(r.code, 0) << describe(r);
    EXPECT_TRUE(findings(r).empty()) << describe(r);
    EXPECT_FALSE(file_exists(manifest + L".kestrin-tmp"));
    EXPECT_EQ(json_of(report, "'%s %s %s' % (r['exit_code'], r['counts']['written'], r['command'])"), "0 " + std::to_string(kTree.size()) + " export");

    // Every file once, under its relative name, with OpenSSL's digest; LF
    // lines; the manifest not in itself.
    bool only_lf = false;
    std::map<std::string, std::string> lines = manifest_lines(manifest, &only_lf);
    EXPECT_TRUE(only_lf);
    EXPECT_EQ(lines.size(), kTree.size());
    for (const std::string& f : kTree) {
        ASSERT_TRUE(lines.count(f)) << f;
        EXPECT_EQ(lines[f], openssl_of(root, f)) << f;
    }
    int st = -1;
    std::string out = linux_sh("cd " + lx(root) + " && rhash --whirlpool --brief -c MANIFEST.whirlpool 2>&1", &st);
    EXPECT_EQ(st, 0) << out;
    // rhash under the name checksum scripts use for Whirlpool alone.
    out = linux_sh("cd " + lx(root) + " && whirlpool-hash -c MANIFEST.whirlpool 2>&1", &st);
    EXPECT_EQ(st, 0) << out;

    // A copy on ext4: data only, as a copy to any other file system.
    std::wstring copy = build_dir() + L"\\manifest-copy";
    ASSERT_EQ(sh("rm -rf " + lx(copy) + " && cp -r " + lx(root) + " " + lx(copy)), 0);
    r = run_cli(L"verify " + q(copy + L"\\MANIFEST.whirlpool"));
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_TRUE(findings(r).empty()) << describe(r);

    flip_bit(copy + L"\\" + win_rel("a/b/c/deep.bin"), 3);
    std::wstring verify_report = build_dir() + L"\\manifest-verify-report.json";
    r = run_cli(L"verify --report " + q(verify_report) + L" " + q(copy + L"\\MANIFEST.whirlpool"));
    EXPECT_EQ(r.code, 1) << describe(r);
    std::multiset<std::string> expected = {"altered  " + narrow(copy) + "\\a\\b\\c\\deep.bin"};
    EXPECT_EQ(findings(r), expected) << describe(r);
    EXPECT_EQ(json_of(verify_report, "r['exit_code']"), "1");
    EXPECT_EQ(json_of(verify_report, "[f['status'] for f in r['findings']]"), "['altered']");
    EXPECT_EQ(json_of(verify_report, "r['findings'][0]['path']"), narrow(copy) + "\\a\\b\\c\\deep.bin");
    EXPECT_EQ(json_of(verify_report, "'%s %s' % (r['counts']['altered'], r['counts']['matched'])"), "1 " + std::to_string(kTree.size() - 1));
    // rhash agrees the copy is altered, in exactly that file.
    out = linux_sh("cd " + lx(copy) + " && rhash --whirlpool --brief -c MANIFEST.whirlpool 2>&1 | grep -v ' OK *$' | grep deep.bin", &st);
    EXPECT_EQ(st, 0) << out;
    // verify never touched a stream: on ext4 Wine would have left FILE:z beside FILE.
    EXPECT_EQ(linux_sh("find " + lx(copy) + " -name '*:z' | wc -l"), "0\n");

    // Back onto a fresh NTFS folder: the data, and no stream.
    std::wstring back = ntfs_scratch("RoundTripBack");
    ASSERT_EQ(sh("cp -r " + lx(copy) + "/. " + lx(back)), 0);
    std::map<std::string, long long> mtimes;
    for (const std::string& f : kTree) {
        bool exists = true;
        linux_read_hex(to_linux_path(back) + "/" + f + ":z", &exists);
        ASSERT_FALSE(exists) << f;
        mtimes[f] = linux_mtime_ns(to_linux_path(back) + "/" + f);
    }
    r = run_cli(L"import " + q(back + L"\\MANIFEST.whirlpool"));
    EXPECT_EQ(r.code, 1) << describe(r);
    expected = {"altered  " + narrow(back) + "\\a\\b\\c\\deep.bin"};
    EXPECT_EQ(findings(r), expected) << describe(r);
    for (const std::string& f : kTree) {
        bool exists = false;
        std::string stream = linux_read_hex(to_linux_path(back) + "/" + f + ":z", &exists);
        if (f == "a/b/c/deep.bin") {
            EXPECT_FALSE(exists) << f;
        } else {
            EXPECT_TRUE(exists) << f;
            EXPECT_EQ(stream, openssl_of(back, f)) << f;
        }
        EXPECT_EQ(linux_mtime_ns(to_linux_path(back) + "/" + f), mtimes[f]) << f;
    }
    // The manifest itself got no stream and stayed as it was.
    bool exists = true;
    linux_read_hex(to_linux_path(back) + "/MANIFEST.whirlpool:z", &exists);
    EXPECT_FALSE(exists);

    // Again: the files that carry the digest already are left alone.
    long long stream_mtime = linux_mtime_ns(to_linux_path(back) + "/plain.txt");
    r = run_cli(L"import " + q(back + L"\\MANIFEST.whirlpool"));
    EXPECT_EQ(r.code, 1) << describe(r);
    EXPECT_EQ(findings(r), expected) << describe(r);
    EXPECT_EQ(linux_mtime_ns(to_linux_path(back) + "/plain.txt"), stream_mtime);
}

// A CRLF manifest (as a Windows editor saves it) verifies as the LF one;
// a manifest written by rhash itself is read, relative to its folder from
// wherever verify is started.
TEST_F(ManifestCli, CrlfAndRhashManifestsVerify)
{
    make_tree(root);
    ASSERT_EQ(sh("cd " + lx(root) + " && rhash --whirlpool -r -- * > ../rhash.lst && mv ../rhash.lst RHASH && "
                 "sed 's/$/\\r/' RHASH > CRLF"), 0);
    CliRun r = run_cli(L"verify " + q(root + L"\\RHASH"));
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_NE(r.err.find("summary  verify: " + std::to_string(kTree.size()) + " files"), std::string::npos)
        << describe(r);
    r = run_cli(L"verify " + q(root + L"\\CRLF"));
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_TRUE(findings(r).empty()) << describe(r);
    // A file missing from the copy and one altered are told apart.
    ASSERT_EQ(sh("cd " + lx(root) + " && rm plain.txt && printf x >> empty"), 0);
    r = run_cli(L"verify " + q(root + L"\\CRLF"));
    EXPECT_EQ(r.code, 1) << describe(r);
    std::multiset<std::string> expected = {"missing  " + narrow(root) + "\\plain.txt",
                                           "altered  " + narrow(root) + "\\empty"};
    EXPECT_EQ(findings(r), expected) << describe(r);
}

// Paths as a user types them in the folder itself: a relative manifest and
// ".", the findings under the same relative names, the lines the same as
// from full paths; the report of an import agrees with its lines.
TEST_F(ManifestCli, RelativePathsFromTheFolderItself)
{
    make_tree(root);
    CliRun r = run_cli(L"create .", root);
    ASSERT_EQ(r.code, 0) << describe(r);
    r = run_cli(L"export MANIFEST .", root);
    ASSERT_EQ(r.code, 0) << describe(r);
    std::map<std::string, std::string> lines = manifest_lines(root + L"\\MANIFEST");
    EXPECT_EQ(lines.size(), kTree.size());
    for (const std::string& f : kTree) EXPECT_EQ(lines[f], openssl_of(root, f)) << f;
    // Only a subfolder, still relative to the manifest's folder.
    r = run_cli(L"export SUB.lst a", root);
    ASSERT_EQ(r.code, 0) << describe(r);
    lines = manifest_lines(root + L"\\SUB.lst");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.begin()->first, "a/b/c/deep.bin");

    ASSERT_EQ(sh("cd " + lx(root) + " && printf x >> plain.txt && rm -- --"), 0);
    r = run_cli(L"verify MANIFEST", root);
    EXPECT_EQ(r.code, 1) << describe(r);
    std::multiset<std::string> expected = {"altered  plain.txt", "missing  --"};
    EXPECT_EQ(findings(r), expected) << describe(r);

    std::wstring report = build_dir() + L"\\manifest-import-report.json";
    ASSERT_EQ(sh("cd " + lx(root) + " && rm big.bin:z exactly-65536.bin:z"), 0);   // two files lose their digests
    r = run_cli(L"import --report " + q(report) + L" MANIFEST", root);
    EXPECT_EQ(r.code, 1) << describe(r);
    EXPECT_EQ(findings(r), expected) << describe(r);
    EXPECT_EQ(json_of(report, "'%s %s %s %s %s' % (r['exit_code'], r['counts']['written'], r['counts']['carried'], "
                              "r['counts']['altered'], r['counts']['missing'])"),
              "1 2 " + std::to_string(kTree.size() - 4) + " 1 1");
    EXPECT_EQ(linux_read_hex(to_linux_path(root) + "/big.bin:z"), openssl_of(root, "big.bin"));
}

// Paths past the old 260-character limit: the manifest itself in a deep
// folder, and a file in it. Wine opens such paths even without the "\\?\"
// form, so here this shows that they work end to end, not that the long
// form is taken (Windows needs it).
TEST_F(ManifestCli, LongPaths)
{
    std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e');
    std::string file = deep + "/" + std::string(100, 'f') + ".txt";
    ASSERT_EQ(sh("cd " + lx(root) + " && mkdir -p " + sh_quote(deep) + " && printf deep > " + sh_quote(file) +
                 " && printf top > top.txt"), 0);
    std::wstring folder = root + L"\\" + win_rel(deep);
    std::wstring manifest = folder + L"\\" + std::wstring(60, L'm') + L".whirlpool";
    ASSERT_GT(manifest.size(), 260u);
    CliRun r = run_cli(L"create " + q(root));
    ASSERT_EQ(r.code, 0) << describe(r);
    r = run_cli(L"export " + q(manifest) + L" " + q(folder));
    ASSERT_EQ(r.code, 0) << describe(r);
    std::map<std::string, std::string> lines = manifest_lines(L"\\\\?\\" + manifest);
    ASSERT_EQ(lines.size(), 1u);
    std::string rel = file.substr(deep.size() + 1);
    ASSERT_GT(folder.size() + 1 + rel.size(), 360u);
    EXPECT_EQ(lines[rel], openssl_of(root, file));
    int st = -1;
    std::string out = linux_sh("cd " + lx(folder) + " && rhash --whirlpool --brief -c " + std::string(60, 'm') + ".whirlpool 2>&1", &st);
    EXPECT_EQ(st, 0) << out;
    ASSERT_EQ(sh("rm " + sh_quote(to_linux_path(root) + "/" + file + ":z")), 0);
    r = run_cli(L"import " + q(manifest));
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(linux_read_hex(to_linux_path(root) + "/" + file + ":z"), openssl_of(root, file));
    r = run_cli(L"verify " + q(manifest));
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_NE(r.err.find("1 matched"), std::string::npos) << describe(r);
}

// A name that rhash escapes (a newline): rhash checks the line, but no
// Windows program can open such a file, so verify reports it unreadable —
// never fine, and not missing.
TEST_F(ManifestCli, EscapedNameIsReadButCannotBeOpened)
{
    std::wstring dir = build_dir() + L"\\manifest-escaped";
    std::string d = lx(dir);
    ASSERT_EQ(sh("rm -rf " + d + " && mkdir -p " + d + " && cd " + d + " && printf one > 'new\nline' && printf two > plain && "
                 "{ printf '\\\\%s  new\\\\nline\\n' $(openssl dgst -provider legacy -provider default -whirlpool -r < 'new\nline' | cut -c1-128); "
                 "rhash --whirlpool plain; } > MANIFEST"), 0);
    int st = -1;
    std::string out = linux_sh("cd " + d + " && rhash --whirlpool --brief -c MANIFEST 2>&1", &st);
    ASSERT_EQ(st, 0) << out;
    CliRun r = run_cli(L"verify " + q(dir + L"\\MANIFEST"));
    EXPECT_EQ(r.code, 2) << describe(r);
    std::multiset<std::string> expected = {"unreadable  " + narrow(dir) + "\\new\nline"};
    EXPECT_EQ(findings(r), expected) << describe(r);
}

// A malformed line anywhere, or a line naming a file outside the folder:
// a message naming the line, exit 3, and nothing hashed or written — not
// even for the sound lines before it.
TEST_F(ManifestCli, BadLinesStopEverythingBeforeAnythingIsDone)
{
    ASSERT_EQ(sh("cd " + lx(root) + " && mkdir inside && printf a > inside/a.txt && printf b > inside/b.txt && "
                 "printf o > outside.txt && cd inside && rhash --whirlpool a.txt b.txt > GOOD"), 0);
    std::string hex_o = openssl_whirlpool_hex(to_linux_path(root) + "/outside.txt");
    std::string good = read_file(root + L"\\inside\\GOOD");
    struct Case {
        std::string text;
        std::string says;
    } cases[] = {
        {good + hex_o.substr(0, 127) + "  c.txt\n", "line 3: malformed line"},
        {good + hex_o + " c.txt\n", "line 3: malformed line"},
        {good + "\n" + hex_o + "  ../outside.txt\n", "line 4: names a file outside the manifest's folder: ../outside.txt"},
        {good + hex_o + "  a.txt/../../outside.txt\n", "line 3: names a file outside"},
        {good + hex_o + "  " + narrow(root) + "\\outside.txt\n", "line 3: names a file by an absolute path"},
        {good + hex_o + "  a.txt:z\n", "line 3: holds a ':'"},
    };
    std::wstring manifest = root + L"\\inside\\BAD";
    for (const Case& c : cases) {
        ASSERT_TRUE(write_file(manifest, c.text));
        for (const wchar_t* command : {L"verify ", L"import "}) {
            CliRun r = run_cli(command + q(manifest));
            EXPECT_EQ(r.code, 3) << describe(r);
            EXPECT_NE(r.err.find(narrow(manifest) + ", " + c.says), std::string::npos) << describe(r);
            EXPECT_TRUE(r.out.empty()) << describe(r);
        }
    }
    for (const char* f : {"inside/a.txt", "inside/b.txt", "outside.txt"}) {
        bool exists = true;
        linux_read_hex(to_linux_path(root) + "/" + f + ":z", &exists);
        EXPECT_FALSE(exists) << f;
    }
    // The sound manifest does import: the cases above failed for their line alone.
    CliRun r = run_cli(L"import " + q(root + L"\\inside\\GOOD"));
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(linux_read_hex(to_linux_path(root) + "/inside/a.txt:z"), openssl_of(root, "inside/a.txt"));
}

// Bad input as for every command: each a clear message and exit 3.
TEST_F(ManifestCli, BadManifestsAndTargets)
{
    ASSERT_EQ(sh("cd " + lx(root) + " && mkdir sub && printf a > sub/a.txt && : > EMPTY && printf '\\n\\r\\n\\n' > BLANK"), 0);
    struct Case {
        std::wstring args;
        std::string says;
    } cases[] = {
        {L"verify " + q(root + L"\\NONE"), "no such manifest"},
        {L"import " + q(root + L"\\NONE"), "no such manifest"},
        {L"verify " + q(root + L"\\EMPTY"), "names no files"},
        {L"import " + q(root + L"\\BLANK"), "names no files"},
        {L"verify " + q(root + L"\\sub"), "is a folder"},
        {L"verify", "verify needs"},
        {L"verify " + q(root + L"\\EMPTY") + L" " + q(root + L"\\EMPTY"), "verify takes only"},
        {L"export " + q(root + L"\\M"), "export needs"},
        {L"export " + q(root + L"\\sub\\M") + L" " + q(root), "not inside the manifest's folder"},
        {L"export " + q(root + L"\\nofolder\\M") + L" " + q(root), "the manifest's folder does not exist"},
        {L"export " + q(root + L"\\M") + L" " + q(root + L"\\none"), "no such file or folder"},
        {L"export " + q(root + L"\\sub") + L" " + q(root), "is a folder's"},
        {L"verify --hash " + q(root + L"\\EMPTY"), "--hash"},
    };
    for (const Case& c : cases) {
        CliRun r = run_cli(c.args);
        EXPECT_EQ(r.code, 3) << narrow(c.args) << "\n" << describe(r);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << narrow(c.args) << "\n" << describe(r);
    }
    EXPECT_FALSE(file_exists(root + L"\\M"));
    EXPECT_FALSE(file_exists(root + L"\\M.kestrin-tmp"));

    // A manifest another program holds open without sharing.
    std::wstring locked = root + L"\\LOCKED";
    ASSERT_TRUE(write_file(locked, std::string(128, 'a') + "  sub/a.txt\n"));
    HANDLE h = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CliRun r = run_cli(L"verify " + q(locked));
    CloseHandle(h);
    EXPECT_EQ(r.code, 3) << describe(r);
    EXPECT_NE(r.err.find("cannot be read"), std::string::npos) << describe(r);
}

// export reports and leaves out the files it cannot vouch for: without a
// digest, with a damaged one, and (with --hash) altered ones; an old
// manifest and a stale temporary in the folder are not part of it.
TEST_F(ManifestCli, ExportLeavesOutWhatItCannotVouchFor)
{
    ASSERT_EQ(sh("cd " + lx(root) + " && printf good > good.txt && printf changed > changed.txt && "
                 "printf short > short.txt && printf none > none.txt"), 0);
    CliRun r = run_cli(L"create " + q(root + L"\\good.txt") + L" " + q(root + L"\\changed.txt") + L" " +
                       q(root + L"\\short.txt"));
    ASSERT_EQ(r.code, 0) << describe(r);
    ASSERT_EQ(sh("cd " + lx(root) + " && printf '0123456789' > short.txt:z && printf X >> changed.txt && "
                 "printf old > M && printf stale > M.kestrin-tmp"), 0);
    std::string r_ = narrow(root);

    r = run_cli(L"export " + q(root + L"\\M") + L" " + q(root));
    EXPECT_EQ(r.code, 1) << describe(r);
    std::multiset<std::string> expected = {"no-digest  " + r_ + "\\none.txt", "damaged  " + r_ + "\\short.txt"};
    EXPECT_EQ(findings(r), expected) << describe(r);
    std::map<std::string, std::string> lines = manifest_lines(root + L"\\M");
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines["good.txt"], openssl_of(root, "good.txt"));
    // Without --hash the stored digest is taken as it stands.
    EXPECT_TRUE(lines.count("changed.txt"));
    EXPECT_NE(lines["changed.txt"], openssl_of(root, "changed.txt"));
    EXPECT_FALSE(file_exists(root + L"\\M.kestrin-tmp"));

    r = run_cli(L"export --hash " + q(root + L"\\M") + L" " + q(root));
    EXPECT_EQ(r.code, 1) << describe(r);
    // Appended to since its digest was made: an edit, left out all the same.
    expected.insert("edited  " + r_ + "\\changed.txt");
    EXPECT_EQ(findings(r), expected) << describe(r);
    lines = manifest_lines(root + L"\\M");
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines["good.txt"], openssl_of(root, "good.txt"));

    // Only files without a digest: exit 2; the manifest holds the others.
    ASSERT_EQ(sh("cd " + lx(root) + " && rm short.txt changed.txt"), 0);
    r = run_cli(L"export " + q(root + L"\\M") + L" " + q(root));
    EXPECT_EQ(r.code, 2) << describe(r);
    expected = {"no-digest  " + r_ + "\\none.txt"};
    EXPECT_EQ(findings(r), expected) << describe(r);
    EXPECT_EQ(manifest_lines(root + L"\\M").size(), 1u);
}

// A manifest is never half-written under its name: an export killed at any
// moment leaves the old manifest whole (the temporary beside it is replaced
// by the next export, which then completes).
TEST_F(ManifestCli, KilledExportLeavesTheOldManifest)
{
    ASSERT_EQ(sh("cd " + lx(root) + " && mkdir many && cd many && for i in $(seq 1 1500); do printf $i > f$i.txt; done"), 0);
    CliRun r = run_cli(L"create " + q(root + L"\\many"));
    ASSERT_EQ(r.code, 0) << describe(r);
    const std::string old_text = "old manifest, whole\n";
    std::wstring manifest = root + L"\\M";
    ASSERT_TRUE(write_file(manifest, old_text));

    // Killed once as soon as the temporary exists, once when it holds the
    // first 64 KiB of lines.
    std::wstring temp = manifest + L".kestrin-tmp";
    for (long long kill_at : {0LL, 65536LL}) {
        std::wstring exe = build_dir() + L"\\cli\\kestrin-cli.exe";
        std::wstring cmdline = q(exe) + L" export --quiet " + q(manifest) + L" " + q(root + L"\\many");
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        DeleteFileW(temp.c_str());
        ASSERT_TRUE(CreateProcessW(exe.c_str(), cmdline.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &si, &pi));
        bool reached = false;
        for (int waited = 0; waited < 60000 && WaitForSingleObject(pi.hProcess, 2) == WAIT_TIMEOUT; waited += 2) {
            WIN32_FILE_ATTRIBUTE_DATA info;
            if (GetFileAttributesExW(temp.c_str(), GetFileExInfoStandard, &info) &&
                ((long long)info.nFileSizeHigh << 32 | info.nFileSizeLow) >= kill_at) {
                reached = true;
                break;
            }
        }
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        EXPECT_TRUE(reached) << "export ended before its temporary held " << kill_at << " bytes";
        EXPECT_EQ(read_file(manifest), old_text) << kill_at;
        if (kill_at > 0) {
            EXPECT_GE(read_file(temp).size(), 65536u);
        }
    }
    r = run_cli(L"export " + q(manifest) + L" " + q(root + L"\\many"));
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(manifest_lines(manifest).size(), 1500u);
    EXPECT_FALSE(file_exists(manifest + L".kestrin-tmp"));
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty())
        return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    int st = -1;
    linux_sh("rhash --version && openssl version && python3 --version", &st);
    if (st != 0) return skip_program("rhash, openssl or python3 is not installed on the Linux side");
    if (!file_exists(build_dir() + L"\\cli\\kestrin-cli.exe")) return skip_program("kestrin-cli.exe is not built");
    return RUN_ALL_TESTS();
}
