#include "display.h"

// The scene is not drawn yet: the surface stays the class background.
HFONT LabelFont;
HBITMAP BackgroundBitmap;

void SetUpSurface() {}
void StartClock() {}
void DrawFrame() {}
