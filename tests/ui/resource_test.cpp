// The resources of the built Kestrin.exe, read back from the file: the dialog
// template, the icon, the version record and the manifest, all US English.
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

std::wstring exe_path() { return build_dir() + L"\\app\\Kestrin.exe"; }

// The version as the source tree states it (res/version.h, read as text on
// Linux), so that the record is held against the release's version, not a
// copy of it here.
std::string source_version()
{
    const char* src = getenv("KESTRIN_SOURCE_DIR");
    if (!src) return {};
    std::string v = linux_sh("sed -n 's/^#define KESTRIN_VERSION_TEXT \"\\([^\"]*\\)\"$/\\1/p' " +
                             sh_quote(std::string(src) + "/res/version.h"));
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    return v;
}

HMODULE program()
{
    static HMODULE module = LoadLibraryExW(exe_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

std::vector<BYTE> resource(const wchar_t* type, const wchar_t* name)
{
    HRSRC found = FindResourceW(program(), name, type);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(program(), found);
    const BYTE* data = (const BYTE*)LockResource(loaded);
    return std::vector<BYTE>(data, data + SizeofResource(program(), found));
}

BOOL CALLBACK collect_type(HMODULE, LPWSTR type, LONG_PTR out)
{
    ((std::vector<std::wstring>*)out)->push_back(IS_INTRESOURCE(type) ? L"#" + std::to_wstring((UINT_PTR)type) : type);
    return TRUE;
}

std::vector<std::wstring> types()
{
    std::vector<std::wstring> found;
    EnumResourceTypesW(program(), collect_type, (LONG_PTR)&found);
    std::sort(found.begin(), found.end());
    return found;
}

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out)
{
    ((std::vector<WORD>*)out)->push_back(language);
    return TRUE;
}

std::vector<WORD> languages(const wchar_t* type, const wchar_t* name)
{
    std::vector<WORD> found;
    EnumResourceLanguagesW(program(), type, name, collect_language, (LONG_PTR)&found);
    return found;
}

BOOL CALLBACK collect_name(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out)
{
    ((std::vector<std::wstring>*)out)->push_back(IS_INTRESOURCE(name) ? L"#" + std::to_wstring((UINT_PTR)name) : name);
    return TRUE;
}

std::vector<std::wstring> names(const wchar_t* type)
{
    std::vector<std::wstring> found;
    EnumResourceNamesW(program(), type, collect_name, (LONG_PTR)&found);
    return found;
}

class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, program()) << "cannot open " << narrow(exe_path()) << " as data, error " << GetLastError();
    }
};

TEST_F(ResourceTest, EveryResourceIsUSEnglishAndThereAreNoOthers)
{
    // Icon 3, dialog 5, group icon 14, version 16, manifest 24, and no other type.
    std::vector<std::wstring> expected_types{L"#14", L"#16", L"#24", L"#3", L"#5"};
    ASSERT_EQ(expected_types, types()) << "resource types";
    EXPECT_EQ(std::vector<std::wstring>{L"#2"}, names(RT_GROUP_ICON));
    EXPECT_EQ(std::vector<std::wstring>{L"#1"}, names(RT_ICON));
    EXPECT_EQ(std::vector<std::wstring>{L"DLG"}, names(RT_DIALOG));
    EXPECT_EQ(std::vector<std::wstring>{L"#1"}, names(RT_VERSION));
    EXPECT_EQ(std::vector<std::wstring>{L"#1"}, names(RT_MANIFEST));
    const std::vector<WORD> us{1033};
    EXPECT_EQ(us, languages(RT_GROUP_ICON, MAKEINTRESOURCEW(2)));
    EXPECT_EQ(us, languages(RT_ICON, MAKEINTRESOURCEW(1)));
    EXPECT_EQ(us, languages(RT_DIALOG, L"DLG"));
    EXPECT_EQ(us, languages(RT_VERSION, MAKEINTRESOURCEW(1)));
    EXPECT_EQ(us, languages(RT_MANIFEST, MAKEINTRESOURCEW(1)));
}

// --- Version record -----------------------------------------------------------

// One node of the version record: key, value bytes, children.
struct VersionNode {
    std::wstring key;
    std::vector<BYTE> value;
    WORD type = 0;
    std::vector<VersionNode> children;
};

size_t align4(size_t n) { return (n + 3) & ~size_t(3); }

VersionNode parse_version(const BYTE* base, size_t offset, size_t* end)
{
    VersionNode node;
    const BYTE* p = base + offset;
    WORD length = *(const WORD*)p;
    WORD value_length = *(const WORD*)(p + 2);
    node.type = *(const WORD*)(p + 4);
    const wchar_t* key = (const wchar_t*)(p + 6);
    node.key = key;
    size_t at = align4(offset + 6 + (node.key.size() + 1) * 2);
    size_t value_bytes = node.type == 1 ? value_length * 2u : value_length;
    node.value.assign(base + at, base + at + value_bytes);
    at = align4(at + value_bytes);
    *end = offset + length;
    while (at < *end) {
        size_t child_end;
        node.children.push_back(parse_version(base, at, &child_end));
        at = align4(child_end);
    }
    return node;
}

std::wstring text_value(const VersionNode& n)
{
    std::wstring s((const wchar_t*)n.value.data(), n.value.size() / 2);
    while (!s.empty() && s.back() == 0)
        s.pop_back();
    return s;
}

TEST_F(ResourceTest, VersionRecordHoldsExactlyTheListedValues)
{
    std::vector<BYTE> record = resource(RT_VERSION, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(record.empty());
    const std::string text = source_version();
    unsigned a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(4, sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d)) << "res/version.h says '" << text << "'";
    const std::wstring version = widen(text);

    // Through the platform's own reader.
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", (void**)&fixed, &size));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), size);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ((a << 16) | b, fixed->dwFileVersionMS) << "file version " << text;
    EXPECT_EQ((c << 16) | d, fixed->dwFileVersionLS) << "file version " << text;
    EXPECT_EQ(0u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    EXPECT_EQ(0u, fixed->dwFileFlagsMask);
    EXPECT_EQ(0u, fixed->dwFileFlags);
    EXPECT_EQ(0u, fixed->dwFileOS);
    EXPECT_EQ(0u, fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileSubtype);
    EXPECT_EQ(0u, fixed->dwFileDateMS);
    EXPECT_EQ(0u, fixed->dwFileDateLS);

    const wchar_t* keys[][2] = {{L"FileDescription", L"Kestrin"},
                                {L"OriginalFilename", L"Kestrin.exe"},
                                {L"ProductName", L"Kestrin"},
                                {L"ProductVersion", version.c_str()}};
    for (auto& kv : keys) {
        wchar_t* value = nullptr;
        UINT chars = 0;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + kv[0];
        ASSERT_TRUE(VerQueryValueW(record.data(), query.c_str(), (void**)&value, &chars)) << narrow(kv[0]);
        EXPECT_EQ(std::wstring(kv[1]), std::wstring(value)) << narrow(kv[0]);
    }
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", (void**)&translation, &size));
    ASSERT_EQ(4u, size);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    // Walked by hand: no other table, key or translation.
    size_t end;
    VersionNode root = parse_version(record.data(), 0, &end);
    EXPECT_EQ(L"VS_VERSION_INFO", root.key);
    ASSERT_EQ(2u, root.children.size());
    const VersionNode& strings = root.children[0];
    EXPECT_EQ(L"StringFileInfo", strings.key);
    ASSERT_EQ(1u, strings.children.size()) << "one string table";
    EXPECT_EQ(L"040904b0", strings.children[0].key);
    std::vector<std::wstring> found;
    for (const VersionNode& v : strings.children[0].children)
        found.push_back(v.key + L"=" + text_value(v));
    std::vector<std::wstring> expected{L"FileDescription=Kestrin", L"OriginalFilename=Kestrin.exe",
                                       L"ProductName=Kestrin", L"ProductVersion=" + version};
    EXPECT_EQ(expected, found);
    const VersionNode& vars = root.children[1];
    EXPECT_EQ(L"VarFileInfo", vars.key);
    ASSERT_EQ(1u, vars.children.size());
    EXPECT_EQ(L"Translation", vars.children[0].key);
    EXPECT_EQ(4u, vars.children[0].value.size()) << "one language and code page pair";
}

// --- Manifest ---------------------------------------------------------------------

TEST_F(ResourceTest, ManifestAsksForCommonControlsSixAndNothingElse)
{
    std::vector<BYTE> bytes = resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(bytes.empty());
    std::string xml(bytes.begin(), bytes.end());
    const char* required[] = {
        "<?xml version=\"1.0\"",
        "xmlns=\"urn:schemas-microsoft-com:asm.v1\"",
        "manifestVersion=\"1.0\"",
        "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"*\" name=\"Kestrin\" type=\"win32\"/>",
        "name=\"Microsoft.Windows.Common-Controls\"",
        "version=\"6.0.0.0\"",
        "publicKeyToken=\"6595b64144ccf1df\"",
    };
    for (const char* r : required)
        EXPECT_NE(std::string::npos, xml.find(r)) << "missing: " << r;
    EXPECT_EQ(std::string::npos, xml.find("requestedExecutionLevel"));
    EXPECT_EQ(std::string::npos, xml.find("trustInfo"));
    EXPECT_EQ(std::string::npos, xml.find("compatibility"));
    // Exactly one dependency and two identities (its own and the dependency's).
    auto count = [&](const char* s) {
        size_t n = 0;
        for (size_t at = xml.find(s); at != std::string::npos; at = xml.find(s, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(1u, count("<dependentAssembly>"));
    EXPECT_EQ(2u, count("<assemblyIdentity"));
}

// --- Icon --------------------------------------------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ResourceTest, IconIsOne48x48ImageWithAlpha)
{
    std::vector<BYTE> group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(2));
    ASSERT_EQ(6u + 14u, group.size()) << "a group header and one entry";
    const WORD* head = (const WORD*)group.data();
    EXPECT_EQ(0, head[0]);
    EXPECT_EQ(1, head[1]) << "type icon";
    EXPECT_EQ(1, head[2]) << "one image";
    const GroupIconEntry* entry = (const GroupIconEntry*)(group.data() + 6);
    EXPECT_EQ(48, entry->width);
    EXPECT_EQ(48, entry->height);
    EXPECT_EQ(32, entry->bit_count);
    EXPECT_EQ(9640u, entry->bytes);
    EXPECT_EQ(1, entry->id);

    std::vector<BYTE> image = resource(RT_ICON, MAKEINTRESOURCEW(1));
    ASSERT_EQ(9640u, image.size());
    const BITMAPINFOHEADER* h = (const BITMAPINFOHEADER*)image.data();
    EXPECT_EQ(40u, h->biSize);
    EXPECT_EQ(48, h->biWidth);
    EXPECT_EQ(96, h->biHeight) << "colour and mask stacked";
    EXPECT_EQ(32, h->biBitCount);
    EXPECT_EQ((DWORD)BI_RGB, h->biCompression);
    // The alpha channel is used: clear corners, opaque middle, soft edges.
    int clear = 0, opaque = 0, partial = 0;
    for (int i = 0; i < 48 * 48; ++i) {
        BYTE a = image[40 + 4 * i + 3];
        (a == 0 ? clear : a == 255 ? opaque : partial)++;
    }
    EXPECT_GT(clear, 0);
    EXPECT_GT(opaque, 48 * 48 / 3);
    EXPECT_GT(partial, 0);
    // The mask marks exactly the clear pixels (rows bottom up, 8 bytes each).
    for (int row = 0; row < 48; ++row)
        for (int col = 0; col < 48; ++col) {
            bool masked = (image[40 + 9216 + row * 8 + col / 8] >> (7 - col % 8)) & 1;
            BYTE a = image[40 + 4 * (row * 48 + col) + 3];
            ASSERT_EQ(a == 0, masked) << "row " << row << " col " << col;
        }
}

// --- Dialog template ---------------------------------------------------------------

struct Reader {
    const BYTE* p;
    WORD word() { WORD w = *(const WORD*)p; p += 2; return w; }
    DWORD dword() { DWORD d = *(const DWORD*)p; p += 4; return d; }
    short sh() { return (short)word(); }
    std::wstring text() { std::wstring s((const wchar_t*)p); p += (s.size() + 1) * 2; return s; }
    // A name or an ordinal ("#n").
    std::wstring name_or_ordinal()
    {
        if (*(const WORD*)p == 0xFFFF) {
            p += 2;
            return L"#" + std::to_wstring(word());
        }
        return text();
    }
    void align(const BYTE* base) { p = base + align4(p - base); }
};

std::wstring class_name(const std::wstring& c)
{
    if (c == L"#128") return L"button";
    if (c == L"#129") return L"edit";
    if (c == L"#130") return L"static";
    if (c == L"#131") return L"listbox";
    std::wstring lower = c;
    for (wchar_t& ch : lower)
        ch = towlower(ch);
    return lower;
}

struct Item {
    int id;
    const wchar_t* kind;
    const wchar_t* caption;
    short x, y, cx, cy;
    DWORD style;  // beyond WS_CHILD | WS_VISIBLE
};

constexpr DWORD kList = WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_DISABLENOSCROLL;
constexpr DWORD kLabel = SS_LEFTNOWORDWRAP | SS_NOPREFIX;

const Item kItems[20] = {
    {501, L"button", L"", 6, 3, 348, 251, BS_GROUPBOX},
    {301, L"edit", L"", 13, 26, 334, 12, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
    {101, L"button", L"Add Files/Folders", 13, 12, 64, 13, WS_TABSTOP},
    {102, L"button", L"List Files", 236, 12, 43, 13, WS_TABSTOP},
    {103, L"button", L"Remove Hashes", 283, 12, 64, 13, WS_TABSTOP},
    {502, L"button", L"", 11, 43, 338, 92, BS_GROUPBOX},
    {201, L"static", L"Altered Files:", 16, 52, 50, 10, kLabel},
    {104, L"button", L"Rewrite Hashes", 283, 49, 64, 13, WS_TABSTOP | WS_DISABLED},
    {401, L"listbox", L"", 13, 63, 334, 70, kList},
    {202, L"static", L"Files with Hash:", 16, 52, 60, 10, kLabel},
    {105, L"button", L"Show Altered Files", 283, 49, 64, 13, WS_TABSTOP},
    {402, L"listbox", L"", 13, 63, 334, 70, kList},
    {503, L"button", L"", 11, 139, 338, 92, BS_GROUPBOX},
    {203, L"static", L"Files without Hash:", 16, 148, 70, 10, kLabel},
    {106, L"button", L"Create Hashes", 283, 145, 64, 13, WS_TABSTOP | WS_DISABLED},
    {403, L"listbox", L"", 13, 159, 334, 70, kList},
    {204, L"static", L"Ready.", 16, 237, 328, 10, kLabel},
    {1, L"button", L"Start", 265, 258, 43, 13, WS_TABSTOP | BS_DEFPUSHBUTTON},
    {2, L"button", L"Exit", 312, 258, 43, 13, WS_TABSTOP},
    {601, L"msctls_statusbar32", L"", 0, 0, 0, 0, 0},
};

TEST_F(ResourceTest, DialogTemplateIsTheMainWindowAsDesigned)
{
    std::vector<BYTE> bytes = resource(RT_DIALOG, L"DLG");
    ASSERT_GT(bytes.size(), 100u);
    const BYTE* base = bytes.data();
    Reader r{base};
    EXPECT_EQ(1, r.word()) << "extended template";
    EXPECT_EQ(0xFFFF, r.word());
    EXPECT_EQ(0u, r.dword()) << "help id";
    EXPECT_EQ(0u, r.dword()) << "extended style";
    EXPECT_EQ((DWORD)(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                      DS_CENTER | DS_SETFONT | DS_FIXEDSYS),
              r.dword()) << "dialog style";
    WORD count = r.word();
    EXPECT_EQ(20, count);
    EXPECT_EQ(0, r.sh());
    EXPECT_EQ(0, r.sh());
    EXPECT_EQ(360, r.sh());
    EXPECT_EQ(289, r.sh());
    EXPECT_EQ(L"", r.name_or_ordinal()) << "no menu";
    EXPECT_EQ(L"", r.name_or_ordinal()) << "no class of its own";
    EXPECT_EQ(L"Kestrin", r.text());
    EXPECT_EQ(9, r.word()) << "points";
    EXPECT_EQ(FW_NORMAL, r.word()) << "weight";
    EXPECT_EQ(0, *r.p) << "not italic";
    r.p += 2;
    EXPECT_EQ(L"MS Shell Dlg", r.text());

    ASSERT_EQ(20, count);
    for (int i = 0; i < 20; ++i) {
        const Item& want = kItems[i];
        r.align(base);
        r.dword();  // help id
        EXPECT_EQ(0u, r.dword()) << "item " << want.id << " extended style";
        DWORD style = r.dword();
        short x = r.sh(), y = r.sh(), cx = r.sh(), cy = r.sh();
        DWORD id = r.dword();
        std::wstring kind = class_name(r.name_or_ordinal());
        std::wstring caption = r.name_or_ordinal();
        WORD extra = r.word();
        r.p += extra;
        EXPECT_EQ((DWORD)want.id, id) << "item " << i;
        EXPECT_EQ(std::wstring(want.kind), kind) << "item " << want.id;
        EXPECT_EQ(std::wstring(want.caption), caption) << "item " << want.id;
        EXPECT_EQ(want.x, x) << "item " << want.id;
        EXPECT_EQ(want.y, y) << "item " << want.id;
        EXPECT_EQ(want.cx, cx) << "item " << want.id;
        EXPECT_EQ(want.cy, cy) << "item " << want.id;
        EXPECT_EQ(want.style | WS_CHILD | WS_VISIBLE, style) << "item " << want.id << " style";
    }
}

}  // namespace
