#include <windows.h>

#include "display.h"
#include "program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return RunProgram(instance, DrawFrame);
}
