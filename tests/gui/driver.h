// Drives the real Kestrin.exe from outside, as a user would: starts it with a
// command line, finds its window and controls, reads what they show, presses
// buttons, types into the path field, answers its message boxes, resizes and
// closes the window. Everything goes through window messages that Wine carries
// across processes, or through the Kestrin process's memory where a message
// carries a pointer that Wine does not carry.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// One running Kestrin.exe.
struct Kestrin {
    PROCESS_INFORMATION pi{};
    HWND dlg = nullptr;
    std::wstring command_line;  // exactly as passed to CreateProcessW
};

// Path of the program under test: <build>\app\Kestrin.exe, or the
// environment's KESTRIN_EXE where a benchmark compares two builds.
std::wstring kestrin_exe();

// Starts Kestrin.exe with the command line `"<exe>" <args>` (with `blank`
// false: `"<exe>"<args>`) and waits until its main window has opened.
// Returns false (and explains on stderr) when it did not.
bool kestrin_start(Kestrin& k, const std::wstring& args, bool blank = true, DWORD timeout_ms = 30000);

// Ends the process if it still runs and releases the handles.
void kestrin_kill(Kestrin& k);

// Waits for the process to end; true with its exit code when it did.
bool kestrin_wait_exit(Kestrin& k, DWORD timeout_ms, DWORD* exit_code);
bool kestrin_running(const Kestrin& k);
// How the process ended, for a failure's message: its exit code in hex (an
// unhandled exception's code, say 0xC0000005), or that it still runs.
std::string kestrin_end_note(const Kestrin& k);

// Polls `cond` every 20 ms until it holds or `timeout_ms` passes.
bool wait_until(const std::function<bool()>& cond, DWORD timeout_ms);

HWND control(const Kestrin& k, int id);
std::wstring window_text(HWND w);           // WM_GETTEXT (caption of a window or control)
std::wstring control_text(const Kestrin& k, int id);
bool control_visible(const Kestrin& k, int id);
bool control_enabled(const Kestrin& k, int id);
std::vector<std::wstring> list_items(const Kestrin& k, int list_id);

// Status bar (601): the text of one part (through the Kestrin process's memory) and the parts' right edges
// (SB_GETPARTS) and rectangles (SB_GETRECT), in the status bar's coordinates.
std::wstring status_part(const Kestrin& k, int part);
std::vector<int> status_part_edges(const Kestrin& k);
bool status_part_rect(const Kestrin& k, int part, RECT* r);

// A control's rectangle in the dialog's client coordinates.
RECT control_rect(const Kestrin& k, int id);
RECT window_rect(const Kestrin& k);
SIZE client_size(const Kestrin& k);
// SetWindowPos on the main window: keep its place, ask for this whole-window size.
void set_window_size(const Kestrin& k, int width, int height);

// Presses a button as a user can: only when it is visible and enabled (false
// otherwise). Posted, so that a message box it opens does not block us.
bool press(const Kestrin& k, int id);

// Types text into the path field one character at a time (WM_CHAR), so that
// the field sends EN_CHANGE for each; each returns after the window handled it.
void type_text(const Kestrin& k, const std::wstring& text);
// Selects the whole field and deletes it with Backspace.
void erase_path_field(const Kestrin& k);

// A message box or other dialog of the Kestrin process other than the main
// window, by title; `title` null finds any. Waits up to `timeout_ms`.
HWND find_dialog(const Kestrin& k, const wchar_t* title, DWORD timeout_ms);
// Every other visible dialog of the process (to show that none opened).
std::vector<HWND> other_dialogs(const Kestrin& k);
// The message text of a message box (its static control with text).
std::wstring box_text(HWND box);
// Presses IDOK, IDYES, IDNO, ... in a message box; false when it has no such button.
bool answer(HWND box, int button_id);

// The id of a message box's default push button (0 when none).
int default_button(HWND box);

// Picks `path` (a file or folder on the Z: drive) in the folder browser that
// Add Files/Folders opens, by walking its tree as a user clicks through it,
// and presses OK. `text_above_tree` receives the browser's text above the
// tree. Returns "" on success, else what went wrong.
std::string browse_pick(const Kestrin& k, const std::wstring& path, std::wstring* text_above_tree);

// Marks the StatusLine so that the end of the next job can be recognised, then
// waits for it: Start enabled and reading "Start", and the StatusLine holding
// a summary. Returns false on timeout.
void mark_status_line(const Kestrin& k);
bool wait_job_end(const Kestrin& k, DWORD timeout_ms);
bool is_summary(const std::wstring& s);

// Presses a command button (answering Remove's question with Yes) and waits
// for its job to end. The StatusLine's summary, or "<...>" saying what went
// wrong.
std::wstring run_command(const Kestrin& k, int button, DWORD timeout_ms);

// Selects `item` in "Files with Hash:" and double-clicks it, as a user opens
// the digest view; the "Hash" box, or null when the item is not listed or no
// box opened.
HWND open_digest_view(const Kestrin& k, const std::wstring& item);

// The digest view's four lines for a stored digest given as 128 hex digits:
// upper-case bytes, blanks between, a line break after every sixteenth.
std::wstring digest_view_lines(const std::string& hex);

// Saves a PNG of the main window as <build>/screenshots/<name>.png; returns
// its Linux path ("" on failure).
std::string screenshot(const Kestrin& k, const char* name);
// The same of one control's rectangle on the screen.
std::string screenshot_control(const Kestrin& k, int id, const char* name);

// ImageMagick's count of pixels that differ between two images of the same
// size. False, with `why`, when the comparison itself could not be made
// (a missing or unreadable image, different sizes): never read as a count.
bool differing_pixels(const std::string& a, const std::string& b, long* pixels, std::string* why);
// Pixels darker than mid-grey in an image (text on a light ground); -1 when
// the image cannot be read.
long dark_pixels(const std::string& image);
