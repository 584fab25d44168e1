#include "appstate.h"

HINSTANCE Instance;
HWND MainWindow;
HWND SurfaceWindow;
int SurfaceWidth;
int SurfaceHeight;
int StatusCode;
int FoldersReady;
std::atomic<int32_t> JobRunning;
int QuitFlag;
