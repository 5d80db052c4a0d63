// UTF-16 to UTF-8, one code point at a time, without allocation: the text
// that leaves kestrin-cli for a file or a pipe is UTF-8.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The code point at *p (advancing *p past it). A surrogate without its
// partner comes back as itself (0xD800..0xDFFF): callers decide how to show
// it, since it has no UTF-8 form.
uint32_t next_code_point(const wchar_t** p, const wchar_t* end);

// Encodes `cp` (at most 0x10FFFF, not a surrogate) into `out` (4 bytes of
// room); returns the number of bytes.
size_t utf8_encode(uint32_t cp, char* out);

// True for 0xD800..0xDFFF.
inline bool is_surrogate(uint32_t cp)
{
    return cp >= 0xD800 && cp <= 0xDFFF;
}

// The character that stands for a lone surrogate in plain text.
constexpr uint32_t kReplacementChar = 0xFFFD;
