// Text built up in a fixed buffer (a command line, a task definition), and
// arguments quoted for it as the C runtime splits a command line.
#pragma once
#include <stddef.h>

struct WideText {
    wchar_t* text;     // always terminated
    size_t cap;        // characters, terminator included
    size_t len;
    bool overflow;     // something did not fit: the text must not be used
};

// Starts `t` empty over `buffer` (`cap` characters).
void text_begin(WideText* t, wchar_t* buffer, size_t cap);
// Appends `s` as it stands.
void text_add(WideText* t, const wchar_t* s);
// Appends `s` with &, <, >, " and ' as XML's entities.
void text_add_xml(WideText* t, const wchar_t* s);
// Appends `arg` as one argument: as it stands when it holds no blank, tab
// or quote (and is not empty), else in quotes, with the backslashes before
// a quote (or the closing quote) doubled.
void text_add_arg(WideText* t, const wchar_t* arg);
