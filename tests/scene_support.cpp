#include "scene_support.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "animation.h"
#include "appstate.h"
#include "display.h"

void MakeProgramWindows() {
    static bool made = false;
    if (made) {
        return;
    }
    made = true;
    Instance = GetModuleHandleA(NULL);
    WNDCLASSA mainClass = {};
    mainClass.lpfnWndProc = DefWindowProcA;
    mainClass.hInstance = Instance;
    mainClass.lpszClassName = "SceneTestMain";
    RegisterClassA(&mainClass);
    WNDCLASSA surfaceClass = {};
    surfaceClass.style = CS_OWNDC;
    surfaceClass.lpfnWndProc = DefWindowProcA;
    surfaceClass.hInstance = Instance;
    surfaceClass.hbrBackground = (HBRUSH)12;
    surfaceClass.lpszClassName = "SceneTestOgl32";
    RegisterClassA(&surfaceClass);

    MainWindow = CreateWindowExA(0x700, "SceneTestMain", "scene test", WS_CAPTION | WS_SYSMENU,
                                 0, 0, 500, 500, NULL, NULL, Instance, NULL);
    WINDOWINFO info = {};
    info.cbSize = sizeof info;
    GetWindowInfo(MainWindow, &info);
    SurfaceWidth = 500 - 2 * (int)info.cxWindowBorders;
    SurfaceHeight = 500 - 2 * (int)info.cyWindowBorders - GetSystemMetrics(SM_CYCAPTION);
    SurfaceWindow = CreateWindowExA(0, "SceneTestOgl32", "GL", WS_CHILD | WS_CLIPSIBLINGS, 0, 0,
                                    SurfaceWidth, SurfaceHeight, MainWindow, NULL, NULL, NULL);
}

void SetUpScene() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    MakeProgramWindows();
    SetUpSurface();
    ShowWindow(MainWindow, SW_SHOWDEFAULT);
    UpdateWindow(MainWindow);
    ShowWindow(SurfaceWindow, SW_SHOWDEFAULT);
    UpdateWindow(SurfaceWindow);
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    StartClock();
}

Frame DrawAndRead() {
    LastTick = GetTickCount();
    DrawFrame();
    Frame frame;
    frame.width = SurfaceWidth;
    frame.height = SurfaceHeight;
    frame.rgb.resize((size_t)frame.width * frame.height * 3);
    // Wine shows the child's frames through an off-screen window whose front
    // buffer reads back black; Mesa's swap copies the back buffer and keeps
    // it, so the back buffer right after the swap is the frame just shown.
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frame.width, frame.height, GL_RGB, GL_UNSIGNED_BYTE, frame.rgb.data());
    return frame;
}

void SaveFrame(const Frame& frame, const char* name) {
    std::string folder = SCENE_FRAMES_DIR;
    if (!folder.empty() && folder[0] == '/') {
        folder = "Z:" + folder;  // the Unix root, as Wine maps it
    }
    CreateDirectoryA(folder.c_str(), NULL);
    std::string path = folder + "/" + name + ".bmp";
    FILE* file = fopen(path.c_str(), "wb");
    if (file == NULL) {
        return;
    }
    int row = (frame.width * 3 + 3) & ~3;
    BITMAPFILEHEADER head = {};
    BITMAPINFOHEADER info = {};
    head.bfType = 0x4D42;
    head.bfOffBits = sizeof head + sizeof info;
    head.bfSize = head.bfOffBits + row * frame.height;
    info.biSize = sizeof info;
    info.biWidth = frame.width;
    info.biHeight = frame.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = row * frame.height;
    fwrite(&head, sizeof head, 1, file);
    fwrite(&info, sizeof info, 1, file);
    std::vector<uint8_t> line(row, 0);
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const uint8_t* p = frame.At(x, y);
            line[x * 3] = p[2];
            line[x * 3 + 1] = p[1];
            line[x * 3 + 2] = p[0];
        }
        fwrite(line.data(), 1, row, file);
    }
    fclose(file);
}

Spot Project(double x, double y, double z) {
    double focal = 1 / tan(22.5 * 3.14159265358979 / 180);
    double aspect = (double)SurfaceWidth / SurfaceHeight;
    double distance = 10 - z;
    double ndcX = focal / aspect * x / distance;
    double ndcY = focal * y / distance;
    return {(ndcX + 1) / 2 * SurfaceWidth, (ndcY + 1) / 2 * SurfaceHeight};
}

static void Widen(Ink& ink, int x, int y) {
    ++ink.count;
    ink.left = x < ink.left ? x : ink.left;
    ink.right = x > ink.right ? x : ink.right;
    ink.bottom = y < ink.bottom ? y : ink.bottom;
    ink.top = y > ink.top ? y : ink.top;
}

Ink FindColour(const Frame& frame, int x0, int y0, int x1, int y1, int r, int g, int b,
               int tolerance) {
    Ink ink;
    for (int y = y0 < 0 ? 0 : y0; y < y1 && y < frame.height; ++y) {
        for (int x = x0 < 0 ? 0 : x0; x < x1 && x < frame.width; ++x) {
            const uint8_t* p = frame.At(x, y);
            if (abs(p[0] - r) <= tolerance && abs(p[1] - g) <= tolerance &&
                abs(p[2] - b) <= tolerance) {
                Widen(ink, x, y);
            }
        }
    }
    return ink;
}

Ink FindChange(const Frame& a, const Frame& b, int x0, int y0, int x1, int y1, int tolerance) {
    Ink ink;
    for (int y = y0 < 0 ? 0 : y0; y < y1 && y < a.height; ++y) {
        for (int x = x0 < 0 ? 0 : x0; x < x1 && x < a.width; ++x) {
            const uint8_t* p = a.At(x, y);
            const uint8_t* q = b.At(x, y);
            if (abs(p[0] - q[0]) > tolerance || abs(p[1] - q[1]) > tolerance ||
                abs(p[2] - q[2]) > tolerance) {
                Widen(ink, x, y);
            }
        }
    }
    return ink;
}
