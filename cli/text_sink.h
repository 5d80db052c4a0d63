// A buffered UTF-8 writer onto a file or pipe handle. Fixed storage; a failed
// write is remembered rather than retried.
#pragma once
#include <windows.h>
#include <stddef.h>

constexpr size_t kSinkBytes = 16384;

struct TextSink {
    HANDLE handle;
    bool failed;          // a write failed or fell short
    size_t used;
    char bytes[kSinkBytes];
};

// Raw bytes (already UTF-8).
void sink_bytes(TextSink* sink, const char* data, size_t len);
// Wide text, `len` units (or up to the terminator when len is (size_t)-1),
// as UTF-8; a lone surrogate becomes U+FFFD.
void sink_text(TextSink* sink, const wchar_t* text, size_t len = (size_t)-1);
// ASCII text up to its terminator.
void sink_ascii(TextSink* sink, const char* text);
// Writes out what is buffered. False when any write so far failed.
bool sink_flush(TextSink* sink);
