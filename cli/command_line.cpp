// Text in a fixed buffer, XML escapes and command-line quoting.
#include "cli/command_line.h"
#include <wchar.h>

void text_begin(WideText* t, wchar_t* buffer, size_t cap)
{
    t->text = buffer;
    t->cap = cap;
    t->len = 0;
    t->overflow = false;
    buffer[0] = L'\0';
}

static void add_char(WideText* t, wchar_t c)
{
    if (t->len + 1 >= t->cap) {
        t->overflow = true;
        return;
    }
    t->text[t->len++] = c;
    t->text[t->len] = L'\0';
}

void text_add(WideText* t, const wchar_t* s)
{
    for (; *s; ++s)
        add_char(t, *s);
}

void text_add_xml(WideText* t, const wchar_t* s)
{
    for (; *s; ++s) {
        switch (*s) {
        case L'&': text_add(t, L"&amp;"); break;
        case L'<': text_add(t, L"&lt;"); break;
        case L'>': text_add(t, L"&gt;"); break;
        case L'"': text_add(t, L"&quot;"); break;
        case L'\'': text_add(t, L"&apos;"); break;
        default: add_char(t, *s); break;
        }
    }
}

void text_add_arg(WideText* t, const wchar_t* arg)
{
    if (*arg && !wcspbrk(arg, L" \t\"")) {
        text_add(t, arg);
        return;
    }
    add_char(t, L'"');
    size_t backslashes = 0;
    for (const wchar_t* p = arg; *p; ++p) {
        if (*p == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only before a quote.
        for (size_t i = 0; i < (*p == L'"' ? backslashes * 2 + 1 : backslashes); ++i)
            add_char(t, L'\\');
        backslashes = 0;
        add_char(t, *p);
    }
    for (size_t i = 0; i < backslashes * 2; ++i)
        add_char(t, L'\\');
    add_char(t, L'"');
}
