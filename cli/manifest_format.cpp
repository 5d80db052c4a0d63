// Formatting and reading one manifest line.
#include "cli/manifest_format.h"
#include "cli/utf8.h"
#include <string.h>
#include <wchar.h>

static const char kHexDigits[] = "0123456789abcdef";

static bool needs_escape(const wchar_t* path)
{
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\n' || *p == L'\r') return true;
    return false;
}

size_t format_manifest_line(const uint8_t* digest, const wchar_t* rel_path, char* out, size_t cap)
{
    if (!rel_path[0]) return 0;
    // The marker, the digest, the blanks and the LF; the path is checked as it goes.
    if (cap < 1 + 128 + 2 + 1) return 0;
    size_t n = 0;
    bool escaped = needs_escape(rel_path);
    if (escaped) out[n++] = '\\';
    for (int i = 0; i < 64; ++i) {
        out[n++] = kHexDigits[digest[i] >> 4];
        out[n++] = kHexDigits[digest[i] & 15];
    }
    out[n++] = ' ';
    out[n++] = ' ';
    const wchar_t* end = rel_path + wcslen(rel_path);
    for (const wchar_t* p = rel_path; p < end;) {
        uint32_t cp = next_code_point(&p, end);
        if (is_surrogate(cp)) return 0;
        // Room for the longest form of this code point and the final LF.
        if (n + 4 + 1 > cap) return 0;
        if (cp == '\\' || cp == '/') {
            out[n++] = '/';
        } else if (cp == '\n') {
            out[n++] = '\\';
            out[n++] = 'n';
        } else if (cp == '\r') {
            out[n++] = '\\';
            out[n++] = 'r';
        } else {
            n += utf8_encode(cp, out + n);
        }
    }
    out[n++] = '\n';
    return n;
}

static int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes one UTF-8 code point from `s` (at most `len` bytes); returns the
// bytes it took, 0 when they are not well-formed UTF-8 (overlong forms,
// encoded surrogates and values past U+10FFFF included).
static size_t take_utf8(const unsigned char* s, size_t len, uint32_t* cp)
{
    unsigned char c = s[0];
    size_t need;
    uint32_t v, least;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        need = 2; v = c & 0x1F; least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        need = 3; v = c & 0x0F; least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        need = 4; v = c & 0x07; least = 0x10000;
    } else {
        return 0;
    }
    if (len < need) return 0;
    for (size_t i = 1; i < need; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (s[i] & 0x3F);
    }
    if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return need;
}

static ManifestLine parse_line(const char* line, size_t len, uint8_t* digest, wchar_t* path);

ManifestLine parse_manifest_line(const char* line, size_t len, uint8_t* digest, wchar_t* path)
{
    ManifestLine kind = parse_line(line, len, digest, path);
    if (kind != LineEntry) path[0] = L'\0';
    return kind;
}

static ManifestLine parse_line(const char* line, size_t len, uint8_t* digest, wchar_t* path)
{
    path[0] = L'\0';
    path[kManifestPathChars - 1] = L'\0';
    if (len > 0 && line[len - 1] == '\r') --len;
    if (len == 0) return LineBlank;
    const unsigned char* s = (const unsigned char*)line;
    size_t i = 0;
    bool escaped = s[0] == '\\';
    if (escaped) i = 1;
    if (len < i + 128) return LineBadDigest;
    for (int b = 0; b < 64; ++b) {
        int hi = hex_value((char)s[i + 2 * b]), lo = hex_value((char)s[i + 2 * b + 1]);
        if (hi < 0 || lo < 0) return LineBadDigest;
        digest[b] = (uint8_t)(hi << 4 | lo);
    }
    i += 128;
    // A 129th hex digit means a longer digest than Whirlpool's.
    if (i < len && hex_value((char)s[i]) >= 0) return LineBadDigest;
    if (i + 2 > len || s[i] != ' ' || (s[i + 1] != ' ' && s[i + 1] != '*')) return LineBadSeparator;
    i += 2;
    if (i == len) return LineNoPath;

    size_t n = 0;
    while (i < len) {
        uint32_t cp;
        if (s[i] == 0) return LineBadText;
        if (escaped && s[i] == '\\') {
            if (i + 1 == len) return LineBadEscape;
            char e = (char)s[i + 1];
            if (e == '\\') cp = '\\';
            else if (e == 'n') cp = '\n';
            else if (e == 'r') cp = '\r';
            else return LineBadEscape;
            i += 2;
        } else {
            size_t took = take_utf8(s + i, len - i, &cp);
            if (!took) return LineBadText;
            i += took;
        }
        size_t units = cp >= 0x10000 ? 2 : 1;
        if (n + units > kManifestPathChars - 1) return LineTooLong;
        if (units == 2) {
            path[n++] = (wchar_t)(0xD800 + ((cp - 0x10000) >> 10));
            path[n++] = (wchar_t)(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            path[n++] = (wchar_t)cp;
        }
    }
    path[n] = L'\0';
    return LineEntry;
}

const char* manifest_line_problem(ManifestLine kind)
{
    switch (kind) {
    case LineEntry: return "a digest and a path";
    case LineBlank: return "an empty line";
    case LineBadDigest: return "it does not begin with the 128 hex digits of a Whirlpool digest";
    case LineBadSeparator: return "the digest is not followed by two blanks";
    case LineNoPath: return "it names no file after the digest";
    case LineBadEscape: return "its path holds an escape other than \\\\, \\n or \\r";
    case LineBadText: return "its path is not UTF-8 text";
    case LineTooLong: return "its path is longer than a path can be";
    }
    return "it cannot be read";
}
