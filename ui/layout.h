// The main window's initialisation, its layout that follows the window's size,
// and its minimum size.
#pragma once
#include <windows.h>
#include <stdint.h>

// Where one control sits, captured once from the initial layout. The fixed
// values are the control's own; the gaps and margins are measured from the
// right client edge and from the client height or half-height, whichever the
// control follows, so a resize needs nothing but the new client size.
struct ControlAnchor {
    int32_t left, top, width, height;
    int32_t right_gap;      // initial client width - left edge
    int32_t top_gap;        // initial client height (or half-height) - top edge
    int32_t width_margin;   // initial client width - width
    int32_t height_margin;  // initial client height (or half-height) - height
};

struct LayoutAnchors {
    ControlAnchor outer_frame;     // 501
    ControlAnchor path_field;      // 301
    ControlAnchor list_button;     // 102
    ControlAnchor remove_button;   // 103
    ControlAnchor upper_frame;     // 502
    ControlAnchor rewrite_button;  // 104, also the place of 105
    ControlAnchor show_altered;    // 105 (its own size)
    ControlAnchor altered_list;    // 401, also the size of 402 and 403
    ControlAnchor withhash_list;   // 402 (its own place)
    ControlAnchor lower_frame;     // 503 (its place; its size follows 502)
    ControlAnchor without_label;   // 203
    ControlAnchor create_button;   // 106
    ControlAnchor without_list;    // 403 (its place; its size follows 401)
    ControlAnchor status_line;     // 204
    ControlAnchor start_button;    // 1
    ControlAnchor exit_button;     // 2
    int32_t status_bar_height;     // 601
};

extern LayoutAnchors layout_anchors;
extern POINT min_track_size;   // whole-window minimum, pixels; 0 x 0 before initialisation
extern HFONT list_font;

// WM_INITDIALOG: every initialisation step of the window, ending with init_done.
void init_main_dialog(HWND dialog);

// WM_SIZE: places every control for a client area of width x height.
void layout_controls(int width, int height);

// WM_GETMINMAXINFO.
void apply_min_track_size(MINMAXINFO* info);
