// The buffered UTF-8 writer.
#include "cli/text_sink.h"
#include "cli/utf8.h"
#include <string.h>
#include <wchar.h>

bool sink_flush(TextSink* sink)
{
    size_t at = 0;
    while (at < sink->used && !sink->failed) {
        DWORD wrote = 0;
        if (!WriteFile(sink->handle, sink->bytes + at, (DWORD)(sink->used - at), &wrote, nullptr) || wrote == 0)
            sink->failed = true;
        at += wrote;
    }
    sink->used = 0;
    return !sink->failed;
}

void sink_bytes(TextSink* sink, const char* data, size_t len)
{
    while (len != 0) {
        if (sink->used == kSinkBytes)
            sink_flush(sink);
        size_t room = kSinkBytes - sink->used;
        size_t n = len < room ? len : room;
        memcpy(sink->bytes + sink->used, data, n);
        sink->used += n;
        data += n;
        len -= n;
    }
}

void sink_text(TextSink* sink, const wchar_t* text, size_t len)
{
    if (len == (size_t)-1)
        len = wcslen(text);
    const wchar_t* end = text + len;
    while (text < end) {
        uint32_t cp = next_code_point(&text, end);
        if (is_surrogate(cp))
            cp = kReplacementChar;
        if (kSinkBytes - sink->used < 4)
            sink_flush(sink);
        sink->used += utf8_encode(cp, sink->bytes + sink->used);
    }
}

void sink_ascii(TextSink* sink, const char* text)
{
    sink_bytes(sink, text, strlen(text));
}
