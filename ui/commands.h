// What the user does in the main window: the commands behind the buttons, the
// path field's changes, the folder browser, drag and drop, the digest view,
// and Exit.
#pragma once
#include <windows.h>
#include <shellapi.h>

// WM_COMMAND: the preamble every command shares, then the command of the
// control. FALSE before initialisation, for ids without a command, and after
// Exit has ended the dialog.
INT_PTR on_command(HWND dialog, WPARAM wparam);

// WM_DROPFILES: the dropped paths go into the path field.
void on_drop_files(HDROP drop);

// Grows PathBuffer to `capacity` wide characters (it never shrinks). False
// when the memory cannot be had: PathBuffer and path_capacity stay as they were.
bool grow_path_buffer(int capacity);
