// UTF-16 to UTF-8.
#include "cli/utf8.h"

uint32_t next_code_point(const wchar_t** p, const wchar_t* end)
{
    uint32_t unit = (uint16_t)**p;
    ++*p;
    if (unit >= 0xD800 && unit <= 0xDBFF && *p < end) {
        uint32_t low = (uint16_t)**p;
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++*p;
            return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return unit;
}

size_t utf8_encode(uint32_t cp, char* out)
{
    if (cp < 0x80) {
        out[0] = (char)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | (cp >> 6));
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (char)(0xE0 | (cp >> 12));
        out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (char)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (cp >> 18));
    out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (char)(0x80 | (cp & 0x3F));
    return 4;
}
