// MainDialog, the dialog procedure of Kestrin's one window.
#pragma once
#include <windows.h>

INT_PTR CALLBACK MainDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
