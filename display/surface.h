// What the surface set-up makes once for the frame renderer; GUI thread only.
#pragma once

#include <windows.h>
#include <GL/gl.h>

// First glyph display list: list LABEL_LIST_BASE + c draws character code c
// (0 to 254) of LabelFont and moves the current matrix by its advance.
const int LABEL_LIST_BASE = 300;
const int LABEL_GLYPH_COUNT = 255;

// The OpenGL child's own device context (its class has CS_OWNDC); never released.
extern HDC SurfaceDC;
// The rendering context, current on the GUI thread from set-up on; never deleted.
extern HGLRC SurfaceContext;
// BackgroundBitmap's record (size, row length, bits); zeroed, then filled.
extern BITMAP BackgroundRecord;
// The texture that holds the background picture.
extern GLuint BackgroundTexture;
// The two arrow shapes; LeftArrowList also moves the matrix by -0.5 along x.
extern GLuint RightArrowList;
extern GLuint LeftArrowList;

// Each glyph list's advance along x in ems, as wglUseFontOutlinesA reports
// it; all 0 when the call failed. Used only to skip glyphs that fall outside
// the surface.
extern float GlyphAdvance[LABEL_GLYPH_COUNT];

// Asks the current context for a swap interval of 1 through
// WGL_EXT_swap_control when it offers the extension, so that the idle loop
// is paced by the display's refresh; does nothing otherwise. Part of set-up.
void PaceBySwap();

// True when the program runs under Wine (ntdll exports wine_get_version).
bool RunningUnderWine();
