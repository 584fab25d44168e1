// Message boxes that fit the screen: a box grows with its text, and one
// taller than the work area puts its caption and its button off the
// screen. The window's boxes measure their text first, in the boxes' own
// font, and cut what would not fit.
#pragma once

#include <windows.h>

struct BoxFit {
    HDC dc;              // a memory device context with the boxes' font selected
    HFONT font;
    HGDIOBJ previousFont;
    int lineWidth;       // pixels a line may take without the box wrapping it
    int textHeight;      // pixels of text a box may hold and stay inside the work area
};

// Measures for a box owned by `owner`: its font, the widest line it keeps
// whole and the tallest text that leaves its caption and button on the
// work area (Services.workArea). False when no device context could be
// made; `fit` then measures nothing and cuts nothing.
bool BeginBoxFit(HWND owner, BoxFit* fit);

// Releases what BeginBoxFit made.
void EndBoxFit(BoxFit* fit);

// Cuts `line` (one line: a path or a system's text) in its middle, keeping
// its start and its end around an ellipsis, so that it fits lineWidth. A
// character outside the basic plane is never split.
void CutToWidth(const BoxFit* fit, WCHAR* line);

// The height in pixels of `text` as a box lays it out, its lines wrapped
// at the narrowest width a box wraps them at (an overlong word, such as a
// path, stays on its line).
int BoxTextHeight(const BoxFit* fit, const WCHAR* text);
