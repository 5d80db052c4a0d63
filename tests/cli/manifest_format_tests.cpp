// Manifest lines against the tools that read and write the same files on
// Linux: rhash writes and checks Whirlpool manifests, coreutils' sha256sum
// shows how names with a newline or a carriage return are escaped, and
// OpenSSL gives the digests. Paths read from a line are checked against the
// platform's own path forming (GetFullPathNameW).
#include "cli/exact_path.h"
#include "cli/manifest_format.h"
#include "cli/manifest_path.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string g_dir;   // Linux path of this program's folder in the build tree

std::vector<uint8_t> from_hex(const std::string& hex)
{
    std::vector<uint8_t> b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back((uint8_t)std::stoi(hex.substr(i, 2), nullptr, 16));
    return b;
}

std::string format_line(const std::vector<uint8_t>& digest, const std::wstring& path)
{
    static char buf[kManifestLineBytes];
    size_t n = format_manifest_line(digest.data(), path.c_str(), buf, sizeof buf);
    return std::string(buf, n);
}

struct Parsed {
    ManifestLine kind;
    std::string hex;
    std::wstring path;
};

Parsed parse_line(const std::string& line)
{
    static wchar_t path[kManifestPathChars];
    uint8_t digest[64] = {};
    Parsed p;
    p.kind = parse_manifest_line(line.data(), line.size(), digest, path);
    p.hex = to_hex(digest, 64);
    p.path = path;
    return p;
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Makes a fresh folder with files (UTF-8 names relative to it; each file's
// content is its own name) from Linux; its Linux path.
std::string make_linux_tree(const std::string& name, const std::vector<std::string>& files)
{
    std::string dir = g_dir + "/" + name;
    std::string cmd = "rm -rf " + sh_quote(dir) + " && mkdir -p " + sh_quote(dir) + " && cd " + sh_quote(dir);
    for (const std::string& f : files) {
        size_t slash = f.rfind('/');
        if (slash != std::string::npos) cmd += " && mkdir -p " + sh_quote(f.substr(0, slash));
        cmd += " && printf '%s' " + sh_quote(f) + " > " + sh_quote(f);
    }
    int st = -1;
    linux_sh(cmd, &st);
    EXPECT_EQ(st, 0) << cmd;
    return dir;
}

// OpenSSL's digest of dir/name, read on standard input so that the name
// cannot change what OpenSSL prints.
std::string openssl_hex(const std::string& dir, const std::string& name)
{
    int st = -1;
    std::string r = linux_sh("openssl dgst -provider legacy -provider default -whirlpool -r < " +
                             sh_quote(dir + "/" + name), &st);
    EXPECT_EQ(st, 0);
    return r.substr(0, 128);
}

const std::vector<std::string> kPlainNames = {
    "plain.txt", "with blanks  in it.jpg", "-leading-dash", "--", "\xc3\xbcn\xc3\xaf" " c\xc3\xb6" "d\xc3\xa9.txt",
    "\xe6\x97\xa5\xe6\x9c\xac/\xe5\x86\x99\xe7\x9c\x9f.png", "emoji \xf0\x9f\x98\x80.txt", "a/b/c/deep.bin",
    "percent %s %n", "quote ' and \"", "#not a comment", ";nor this",
};

}  // namespace

// What we write for ordinary names is byte for byte what rhash writes for the
// same files, and rhash checks our manifest as all good.
TEST(ManifestLine, PlainNamesAreWrittenAsRhashWritesThem)
{
    std::string dir = make_linux_tree("plain", kPlainNames);
    int st = -1;
    std::string theirs = linux_sh("cd " + sh_quote(dir) + " && rhash --whirlpool -r -- *", &st);
    ASSERT_EQ(st, 0);
    std::string ours;
    for (const std::string& name : kPlainNames) {
        std::wstring path = widen(name);
        std::replace(path.begin(), path.end(), L'/', L'\\');   // as the walk joins them
        ours += format_line(from_hex(openssl_hex(dir, name)), path);
    }
    ASSERT_TRUE(write_file(to_windows_path(dir + "/MANIFEST"), ours));
    std::vector<std::string> a = split_lines(ours), b = split_lines(theirs);
    ASSERT_EQ(a.size(), kPlainNames.size());
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
    EXPECT_EQ(ours.find('\r'), std::string::npos);
    EXPECT_NE(ours.substr(0, 3), "\xef\xbb\xbf");

    std::string out = linux_sh("cd " + sh_quote(dir) + " && rhash --whirlpool --brief -c MANIFEST 2>&1", &st);
    EXPECT_EQ(st, 0) << out;
    // The same check finds a changed file: rhash's verdict is not blind.
    linux_sh("cd " + sh_quote(dir) + " && printf X >> plain.txt");
    out = linux_sh("cd " + sh_quote(dir) + " && rhash --whirlpool --brief -c MANIFEST 2>&1", &st);
    EXPECT_NE(st, 0) << out;
}

// Lines rhash wrote read back to OpenSSL's digest and the exact name, `/`
// kept as written (forming it for the platform is the path check's work).
TEST(ManifestLine, RhashLinesReadBack)
{
    std::string dir = make_linux_tree("readback", kPlainNames);
    int st = -1;
    std::string theirs = linux_sh("cd " + sh_quote(dir) + " && rhash --whirlpool -r -- *", &st);
    ASSERT_EQ(st, 0);
    std::vector<std::string> lines = split_lines(theirs);
    ASSERT_EQ(lines.size(), kPlainNames.size());
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        Parsed p = parse_line(line);
        ASSERT_EQ(p.kind, LineEntry) << line;
        std::string name = narrow(p.path);
        names.push_back(name);
        EXPECT_EQ(p.hex, openssl_hex(dir, name)) << line;
    }
    std::vector<std::string> expected = kPlainNames;
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

// A name with a newline or a carriage return: written with the leading `\`
// and escapes exactly as sha256sum writes the name, and checked by rhash
// (rhash 1.4 reads `\n` and `\\`; it does not read `\r`, so a carriage
// return is only compared with sha256sum). Such names cannot be made on
// Windows, but Linux can put them on any volume Kestrin reads.
TEST(ManifestLine, EscapedNamesFollowTheCoreutilsConvention)
{
    const std::vector<std::string> names = {"new\nline", "two\n\nnew lines", "cr\rin the middle", "both\r\nends\n"};
    std::string dir = make_linux_tree("escaped", names);
    std::string rhash_manifest;
    for (const std::string& name : names) {
        std::string hex = openssl_hex(dir, name);
        std::string ours = format_line(from_hex(hex), widen(name));
        int st = -1;
        // sha256sum's line: `\`, 64 hex digits, two blanks, the escaped name.
        std::string gnu = linux_sh("cd " + sh_quote(dir) + " && sha256sum -- " + sh_quote(name), &st);
        ASSERT_EQ(st, 0);
        ASSERT_EQ(gnu.substr(0, 1), "\\") << gnu;
        EXPECT_EQ(ours, "\\" + hex + gnu.substr(1 + 64)) << ours;
        // and the line reads back to the name.
        Parsed p = parse_line(ours.substr(0, ours.size() - 1));
        EXPECT_EQ(p.kind, LineEntry);
        EXPECT_EQ(narrow(p.path), name);
        EXPECT_EQ(p.hex, hex);
        if (name.find('\r') == std::string::npos) rhash_manifest += ours;
    }
    ASSERT_TRUE(write_file(to_windows_path(dir + "/MANIFEST"), rhash_manifest));
    int st = -1;
    std::string out = linux_sh("cd " + sh_quote(dir) + " && rhash --whirlpool --brief -c MANIFEST 2>&1", &st);
    EXPECT_EQ(st, 0) << out;
    size_t oks = 0;
    for (size_t at = out.find(" OK"); at != std::string::npos; at = out.find(" OK", at + 1)) ++oks;
    EXPECT_EQ(oks, 2u + 1) << out;   // two files and "Everything OK"
}

// A backslash escaped the coreutils way reads back as a backslash, which the
// path check then takes for a separator, as Windows does.
TEST(ManifestLine, EscapedBackslashReadsAsSeparator)
{
    std::string dir = make_linux_tree("backslash", {"back\\slash"});
    int st = -1;
    std::string gnu = linux_sh("cd " + sh_quote(dir) + " && sha256sum -- " + sh_quote("back\\slash"), &st);
    ASSERT_EQ(st, 0);
    std::string line = "\\" + std::string(128, 'a') + gnu.substr(1 + 64);
    line.pop_back();   // the LF
    Parsed p = parse_line(line);
    ASSERT_EQ(p.kind, LineEntry) << line;
    EXPECT_EQ(p.path, L"back\\slash");
    wchar_t formed[kManifestPathChars];
    EXPECT_EQ(check_manifest_path(p.path.c_str(), formed, kManifestPathChars), PathInside);
    EXPECT_STREQ(formed, L"back\\slash");
    // Without the leading `\`, backslashes are the name's own letters.
    p = parse_line(std::string(128, 'b') + "  dir\\\\x");
    EXPECT_EQ(p.kind, LineEntry);
    EXPECT_EQ(p.path, L"dir\\\\x");
}

// A manifest with CRLF lines (as a Windows editor saves it) reads as with LF,
// and rhash agrees that it is the same manifest.
TEST(ManifestLine, CrlfLinesReadAsLf)
{
    std::string dir = make_linux_tree("crlf", {"one.txt", "sub dir/two.txt"});
    int st = -1;
    linux_sh("cd " + sh_quote(dir) + " && rhash --whirlpool -r -- * | sed 's/$/\\r/' > ../crlf.lst && mv ../crlf.lst MANIFEST", &st);
    ASSERT_EQ(st, 0);
    std::string text = read_file(to_windows_path(dir + "/MANIFEST"));
    std::vector<std::string> lines = split_lines(text);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) {
        ASSERT_EQ(line.back(), '\r');
        Parsed p = parse_line(line);
        ASSERT_EQ(p.kind, LineEntry);
        EXPECT_EQ(p.hex, openssl_hex(dir, narrow(p.path)));
        EXPECT_EQ(p.path.find(L'\r'), std::wstring::npos);
    }
    std::string out = linux_sh("cd " + sh_quote(dir) + " && rhash --whirlpool --brief -c MANIFEST 2>&1", &st);
    EXPECT_EQ(st, 0) << out;
}

// Lines that are not entries are told apart, so the message can say what is
// wrong with them; a digest in upper case and the binary-mode marker of
// `sha256sum -b` and `openssl dgst -r` are read.
TEST(ManifestLine, MalformedLinesAreNamed)
{
    const std::string hex(128, 'c');
    struct Case {
        std::string line;
        ManifestLine kind;
    } cases[] = {
        {"", LineBlank},
        {"\r", LineBlank},
        {hex.substr(1) + "  short.txt", LineBadDigest},
        {hex + "c  long.txt", LineBadDigest},
        {"g" + hex.substr(1) + "  not-hex.txt", LineBadDigest},
        {"d41d8cd98f00b204e9800998ecf8427e  md5.txt", LineBadDigest},
        {hex + " one-blank.txt", LineBadSeparator},
        {hex + "\ttab.txt", LineBadSeparator},
        {hex, LineBadSeparator},
        {hex + "  ", LineNoPath},
        {hex + "  bad\xc0\xaf" "overlong", LineBadText},
        {hex + "  lone\x80" "continuation", LineBadText},
        {hex + "  surrogate\xed\xa0\x80", LineBadText},
        {hex + "  cut\xe6\x97", LineBadText},
        {hex + "  past\xf4\x90\x80\x80", LineBadText},
        {hex + std::string("  nul\0byte", 10), LineBadText},
        {"\\" + hex + "  bad\\tescape", LineBadEscape},
        {"\\" + hex + "  trailing\\", LineBadEscape},
        {"\\" + hex + "  ok\\\\fine", LineEntry},
        {std::string(128, 'C') + "  upper.txt", LineEntry},
        {hex + " *binary-mode.txt", LineEntry},
    };
    for (const Case& c : cases) {
        Parsed p = parse_line(c.line);
        EXPECT_EQ(p.kind, c.kind) << c.line;
        if (p.kind != LineEntry) {
            EXPECT_EQ(p.path, L"") << c.line;
        }
        EXPECT_STRNE(manifest_line_problem(p.kind), "") << c.line;
    }
    EXPECT_EQ(parse_line(std::string(128, 'C') + "  upper.txt").hex, hex);
    EXPECT_EQ(parse_line(hex + " *binary-mode.txt").path, L"binary-mode.txt");
}

// A path that cannot be written in UTF-8, or does not fit, gives no line at
// all rather than a line naming another file.
TEST(ManifestLine, UnwritablePathsGiveNoLine)
{
    std::vector<uint8_t> digest(64, 0x5a);
    EXPECT_EQ(format_line(digest, L""), "");
    EXPECT_EQ(format_line(digest, std::wstring(L"lone\xd800") + L"high"), "");
    EXPECT_EQ(format_line(digest, std::wstring(L"lone\xdc00") + L"low"), "");
    EXPECT_EQ(format_line(digest, std::wstring(L"end\xd83d")), "");
    char small[200];
    EXPECT_EQ(format_manifest_line(digest.data(), std::wstring(100, L'x').c_str(), small, sizeof small), 0u);
    EXPECT_EQ(format_manifest_line(digest.data(), std::wstring(60, L'x').c_str(), small, sizeof small), 128u + 2 + 60 + 1);
    // The longest path Windows has (32,767 UTF-16 units in the long form)
    // reads back whole; one unit more does not fit.
    std::wstring longest(32767, L'\x65e5');
    std::string line = format_line(digest, longest);
    ASSERT_FALSE(line.empty());
    ASSERT_LE(line.size(), kManifestLineBytes);
    EXPECT_EQ(parse_line(line.substr(0, line.size() - 1)).path, longest);
    EXPECT_EQ(parse_line(line.substr(0, line.size() - 1) + "x").kind, LineTooLong);
}

// Every path the check lets through stays inside the folder when the
// platform forms it; every path it refuses for climbing out would, joined
// naively, name something outside.
TEST(ManifestPath, OnlyPathsInsideTheFolderPass)
{
    const std::wstring folder = L"Z:\\base\\folder";
    struct Case {
        const wchar_t* path;
        ManifestPath kind;
        const wchar_t* formed;
    } cases[] = {
        {L"a.txt", PathInside, L"a.txt"},
        {L"./a//b/./c.txt", PathInside, L"a\\b\\c.txt"},
        {L"sub\\dir\\x", PathInside, L"sub\\dir\\x"},
        {L"-dash/ blank .txt", PathInside, L"-dash\\ blank .txt"},
        {L"..a/b..", PathInside, L"..a\\b.."},
        {L"COM0", PathInside, L"COM0"},
        {L"console.log", PathInside, L"console.log"},
        {L"../x", PathOutside, L""},
        {L"a/../../x", PathOutside, L""},
        {L"a/..", PathOutside, L""},
        {L"a\\..\\..\\x", PathOutside, L""},
        {L".../x", PathOutside, L""},
        {L"a/. ./x", PathOutside, L""},
        {L"/etc/passwd", PathAbsolute, L""},
        {L"\\Windows\\win.ini", PathAbsolute, L""},
        {L"\\\\server\\share\\x", PathAbsolute, L""},
        {L"C:x", PathAbsolute, L""},
        {L"c:/x", PathAbsolute, L""},
        {L"file.txt:z", PathStream, L""},
        {L"a/b:c/d", PathStream, L""},
        // Device names and names ending in a dot or blank are files' names
        // here: they are opened by their exact names.
        {L"NUL", PathInside, L"NUL"},
        {L"sub/nul.txt", PathInside, L"sub\\nul.txt"},
        {L"com1/x", PathInside, L"com1\\x"},
        {L"CON .txt", PathInside, L"CON .txt"},
        {L"name.", PathInside, L"name."},
        {L".", PathNoName, L""},
        {L"./", PathNoName, L""},
        {L"", PathNoName, L""},
    };
    static wchar_t formed[kManifestPathChars], full[kManifestPathChars];
    for (const Case& c : cases) {
        ManifestPath kind = check_manifest_path(c.path, formed, kManifestPathChars);
        EXPECT_EQ(kind, c.kind) << narrow(c.path);
        EXPECT_STREQ(formed, c.formed) << narrow(c.path);
        EXPECT_STRNE(manifest_path_problem(kind), "");
        std::wstring joined = folder + L"\\" + (kind == PathInside ? formed : c.path);
        bool kept = false;
        ASSERT_TRUE(exact_full_path(joined.c_str(), full, kManifestPathChars, &kept));
        std::wstring f = full;
        bool inside = f.size() > folder.size() + 1 && f.compare(0, folder.size() + 1, folder + L"\\") == 0;
        if (kind == PathInside) {
            EXPECT_TRUE(inside) << narrow(c.path) << " -> " << narrow(f);
        }
        // Wine keeps "..." as ".." where Windows drops the dots: either way the
        // platform's form is no clean path inside the folder.
        bool clean = f.find(L"\\..") == std::wstring::npos && f.find(L"\\. ") == std::wstring::npos;
        if (kind == PathOutside) {
            EXPECT_FALSE(inside && clean) << narrow(c.path) << " -> " << narrow(f);
        }
    }
}

TEST(ManifestPath, RelativePathsOfFilesInsideTheFolder)
{
    static wchar_t out[kManifestPathChars];
    EXPECT_TRUE(make_relative_path(L"Z:\\Photos", L"z:\\photos\\2024\\a b.jpg", out, kManifestPathChars));
    EXPECT_STREQ(out, L"2024/a b.jpg");
    EXPECT_TRUE(make_relative_path(L"C:\\", L"C:\\x\\y", out, kManifestPathChars));
    EXPECT_STREQ(out, L"x/y");
    EXPECT_TRUE(make_relative_path(L"\\\\nas\\share", L"\\\\NAS\\share\\f", out, kManifestPathChars));
    EXPECT_STREQ(out, L"f");
    EXPECT_FALSE(make_relative_path(L"Z:\\Photos", L"Z:\\Photos2\\a.jpg", out, kManifestPathChars));
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(make_relative_path(L"Z:\\Photos", L"Z:\\Photos", out, kManifestPathChars));
    EXPECT_FALSE(make_relative_path(L"Z:\\Photos", L"Z:\\Other\\a.jpg", out, kManifestPathChars));
    EXPECT_FALSE(make_relative_path(L"Z:\\Photos", L"Z:\\Pho", out, kManifestPathChars));
    EXPECT_FALSE(make_relative_path(L"Z:\\Photos", L"Z:\\Photos\\abc", out, 3));

    // Full paths of the same place compare equal whichever way they were written.
    static wchar_t a[kManifestPathChars], b[kManifestPathChars];
    ASSERT_TRUE(full_path_of(L"\\\\?\\Z:\\one\\two", a, kManifestPathChars));
    EXPECT_STREQ(a, L"Z:\\one\\two");
    ASSERT_TRUE(full_path_of(L"z:/ONE/three/../two/", b, kManifestPathChars));
    EXPECT_TRUE(same_full_path(a, b));
    ASSERT_TRUE(full_path_of(L"\\\\?\\UNC\\nas\\share\\x", a, kManifestPathChars));
    EXPECT_STREQ(a, L"\\\\nas\\share\\x");
    ASSERT_TRUE(full_path_of(L"Z:\\", a, kManifestPathChars));
    EXPECT_STREQ(a, L"Z:\\");
    EXPECT_FALSE(same_full_path(L"Z:\\one\\two", L"Z:\\one\\twoo"));
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char* build = getenv("KESTRIN_BUILD_DIR");
    if (!build) return skip_program("KESTRIN_BUILD_DIR is not set");
    int st = -1;
    linux_sh("rhash --version && sha256sum --version && openssl version", &st);
    if (st != 0) return skip_program("rhash, sha256sum or openssl is not installed on the Linux side");
    g_dir = std::string(build) + "/manifest-format";
    return RUN_ALL_TESTS();
}
