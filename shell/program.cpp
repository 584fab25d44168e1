#include "program.h"

#include <commctrl.h>
#include <objbase.h>

#include "appstate.h"
#include "display.h"
#include "frameloop.h"
#include "mainwindow.h"
#include "texts.h"

enum : DWORD {
    MAIN_CLASS_STYLE = CS_VREDRAW | CS_HREDRAW | CS_DROPSHADOW,
    MAIN_EXTENDED_STYLE = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE | WS_EX_CONTEXTHELP,
    MAIN_STYLE = WS_CAPTION | WS_SYSMENU,
    SURFACE_STYLE = WS_CHILD | WS_CLIPSIBLINGS,
    ICON_RESOURCE = 102,
};

// System colour index 11 plus one, as a class background.
static HBRUSH const CLASS_BACKGROUND = (HBRUSH)(INT_PTR)12;

bool RegisterWindowClasses(HINSTANCE instance) {
    Instance = instance;
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    // The folder browser's new dialog style needs COM.
    CoInitialize(NULL);

    WNDCLASSEXA mainClass = {};
    mainClass.cbSize = sizeof mainClass;
    mainClass.style = MAIN_CLASS_STYLE;
    mainClass.lpfnWndProc = MainWindowProc;
    mainClass.hInstance = instance;
    mainClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(ICON_RESOURCE));
    mainClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    mainClass.hbrBackground = CLASS_BACKGROUND;
    mainClass.lpszClassName = MAIN_CLASS_NAME;
    if (!RegisterClassExA(&mainClass)) {
        MessageBoxA(NULL, REGISTER_CLASS_FAILED, NULL, MB_OK);
        return false;
    }

    WNDCLASSA surfaceClass = {};
    surfaceClass.style = CS_OWNDC;
    surfaceClass.lpfnWndProc = DefWindowProcA;
    surfaceClass.hInstance = instance;
    surfaceClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    surfaceClass.hbrBackground = CLASS_BACKGROUND;
    surfaceClass.lpszClassName = SURFACE_CLASS_NAME;
    if (!RegisterClassA(&surfaceClass)) {
        MessageBoxA(NULL, REGISTER_CLASS_FAILED, NULL, MB_OK);
        return false;
    }
    return true;
}

bool CreateWindows() {
    MainWindow = CreateWindowExA(MAIN_EXTENDED_STYLE, MAIN_CLASS_NAME, MAIN_WINDOW_TITLE, MAIN_STYLE, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 500, 500, NULL, NULL, Instance, NULL);
    if (!MainWindow) {
        MessageBoxA(NULL, CREATE_WINDOW_FAILED, NULL, MB_OK);
        return false;
    }
    SurfaceWidth = 500 - 2 * (int)MainWindowInfo.cxWindowBorders;
    SurfaceHeight = 500 - 2 * (int)MainWindowInfo.cyWindowBorders - GetSystemMetrics(SM_CYCAPTION);
    SurfaceWindow = CreateWindowExA(0, SURFACE_CLASS_NAME, SURFACE_WINDOW_TITLE, SURFACE_STYLE, 0, 0, SurfaceWidth,
                                    SurfaceHeight, MainWindow, NULL, NULL, NULL);
    if (!SurfaceWindow) {
        MessageBoxA(NULL, CREATE_WINDOW_FAILED, NULL, MB_OK);
        return false;
    }
    return true;
}

namespace {

bool HandleMessage() {
    MSG message;
    if (!PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) return false;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

bool MainWindowHidden() { return IsIconic(MainWindow) != FALSE; }

double Milliseconds() {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

// Every kind of message ends the wait, messages sent by the job's thread
// included, and input that came before the wait counts as well.
void WaitForMessage(uint32_t milliseconds) {
    DWORD timeout = milliseconds == WAIT_FOREVER ? INFINITE : (DWORD)milliseconds;
    MsgWaitForMultipleObjectsEx(0, NULL, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

int DisplayRefreshRate() {
    HDC screen = GetDC(NULL);
    int rate = screen ? GetDeviceCaps(screen, VREFRESH) : 0;
    if (screen) ReleaseDC(NULL, screen);
    return rate;
}

}  // namespace

void RunMessageLoop(void (*idle)()) {
    LoopCalls calls = {HandleMessage, MainWindowHidden, Milliseconds, WaitForMessage, idle};
    FramePace pace = {FrameInterval(DisplayRefreshRate(), SoftwareRenderer()), 0};
    RunFrameLoop(&calls, &pace, &QuitFlag);
}

int RunProgram(HINSTANCE instance, void (*idle)()) {
    if (!RegisterWindowClasses(instance)) return 0;
    if (!CreateWindows()) return 0;
    SetUpSurface();
    ShowWindow(MainWindow, SW_SHOWDEFAULT);
    UpdateWindow(MainWindow);
    ShowWindow(SurfaceWindow, SW_SHOWDEFAULT);
    UpdateWindow(SurfaceWindow);
    StartClock();
    RunMessageLoop(idle);
    // A job still running is not waited for. Its copiers live in the
    // engine's program-wide state, whose clean-up at exit would wait for
    // or abort them: end the process here, at once, instead.
    if (JobStarted) TerminateProcess(GetCurrentProcess(), (UINT)QuitCode);
    return QuitCode;
}
