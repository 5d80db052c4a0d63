// Everything kestrin-cli prints. To a console the text goes through the wide
// console call, so every path shows whatever its letters; to a file or a
// pipe it goes as UTF-8. Standard output is buffered when it is not a
// console; standard error never is. One lock keeps the progress line and the
// findings from cutting into each other.
#pragma once

// Takes the standard handles and finds out which of them are consoles.
void console_setup();

// A finding's line on standard output: "STATUS  PATH".
void out_finding(const wchar_t* status, const wchar_t* path);
// Text on standard output as it stands (lines end in "\r\n" by the caller).
void out_text(const wchar_t* text);
// Writes out what standard output holds back.
void out_flush();

// "kestrin-cli: <text>" and a line end on standard error, at once.
void err_message(const wchar_t* text);
// "kestrin-cli: <what>: <path>" and a line end on standard error, at once:
// what could not be done, and to which file.
void err_path(const wchar_t* what, const wchar_t* path);
// Text on standard error as it stands, at once.
void err_text(const wchar_t* text);

// Rewrites the one progress line on standard error (a console).
void progress_put(const wchar_t* line);
// Blanks the progress line so the next text starts at the left.
void progress_clear();

// The line end of everything kestrin-cli prints.
#define CLI_EOL L"\r\n"
