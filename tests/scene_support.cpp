#include "scene_support.h"

#include <GL/gl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "appstate.h"
#include "display.h"

void SetUpScene() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    Instance = GetModuleHandleA(NULL);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = Instance;
    windowClass.lpszClassName = "SceneTestMain";
    RegisterClassA(&windowClass);
    windowClass.style = CS_OWNDC;
    windowClass.lpszClassName = "SceneTestOgl32";
    RegisterClassA(&windowClass);

    MainWindow = CreateWindowExA(0x700, "SceneTestMain", "scene test", WS_CAPTION | WS_SYSMENU,
                                 0, 0, 500, 500, NULL, NULL, Instance, NULL);
    WINDOWINFO info = {};
    info.cbSize = sizeof info;
    GetWindowInfo(MainWindow, &info);
    SurfaceWidth = 500 - 2 * (int)info.cxWindowBorders;
    SurfaceHeight = 500 - 2 * (int)info.cyWindowBorders - GetSystemMetrics(SM_CYCAPTION);
    SurfaceWindow = CreateWindowExA(0, "SceneTestOgl32", "GL", WS_CHILD | WS_CLIPSIBLINGS, 0, 0,
                                    SurfaceWidth, SurfaceHeight, MainWindow, NULL, NULL, NULL);
    SetUpSurface();
    ShowWindow(MainWindow, SW_SHOWDEFAULT);
    ShowWindow(SurfaceWindow, SW_SHOWDEFAULT);
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    StartClock();
}

Frame DrawAndRead() {
    StartClock();
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
    if (folder[0] == '/') {
        folder = "Z:" + folder;  // the Unix root, as Wine maps it
    }
    CreateDirectoryA(folder.c_str(), NULL);
    FILE* file = fopen((folder + "/" + name + ".bmp").c_str(), "wb");
    if (file == NULL) {
        return;
    }
    int row = (frame.width * 3 + 3) & ~3;
    BITMAPFILEHEADER head = {};
    head.bfType = 0x4D42;  // "BM"
    head.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    head.bfSize = head.bfOffBits + row * frame.height;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = frame.width;
    info.biHeight = frame.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    fwrite(&head, sizeof head, 1, file);
    fwrite(&info, sizeof info, 1, file);
    std::vector<uint8_t> line(row, 0);
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width * 3; x += 3) {
            line[x] = frame.rgb[(size_t)y * frame.width * 3 + x + 2];
            line[x + 1] = frame.rgb[(size_t)y * frame.width * 3 + x + 1];
            line[x + 2] = frame.rgb[(size_t)y * frame.width * 3 + x];
        }
        fwrite(line.data(), 1, row, file);
    }
    fclose(file);
}

Spot Project(double x, double y, double z) {
    double focal = 1 / tan(22.5 * 3.14159265358979 / 180);
    double aspect = (double)SurfaceWidth / SurfaceHeight;
    return {(focal / aspect * x / (10 - z) + 1) / 2 * SurfaceWidth,
            (focal * y / (10 - z) + 1) / 2 * SurfaceHeight};
}

Ink Scan(const Frame& frame, Spot from, Spot to, const std::function<bool(int, int)>& match) {
    Ink ink;
    for (int y = from.y < 0 ? 0 : (int)from.y; y < to.y && y < frame.height; ++y) {
        for (int x = from.x < 0 ? 0 : (int)from.x; x < to.x && x < frame.width; ++x) {
            if (match(x, y)) {
                ++ink.count;
                ink.left = x < ink.left ? x : ink.left;
                ink.right = x > ink.right ? x : ink.right;
                ink.bottom = y < ink.bottom ? y : ink.bottom;
                ink.top = y > ink.top ? y : ink.top;
            }
        }
    }
    return ink;
}

bool Near(const uint8_t* pixel, const int colour[3], int tolerance) {
    return abs(pixel[0] - colour[0]) <= tolerance && abs(pixel[1] - colour[1]) <= tolerance &&
           abs(pixel[2] - colour[2]) <= tolerance;
}
