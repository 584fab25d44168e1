#include <windows.h>

#include <GL/gl.h>
#include <GL/wglext.h>
#include <string.h>

#include "appstate.h"
#include "display.h"
#include "surface.h"
#include "texts.h"

HFONT LabelFont;
HBITMAP BackgroundBitmap;
HDC SurfaceDC;
HGLRC SurfaceContext;
BITMAP BackgroundRecord;
GLuint BackgroundTexture;
GLuint RightArrowList;
GLuint LeftArrowList;
float GlyphAdvance[LABEL_GLYPH_COUNT];

namespace {

const int BACKGROUND_RESOURCE = 101;

HFONT MakeCalibri(int width) {
    return CreateFontA(20, width, 0, 0, FW_HEAVY, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_TT_ONLY_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, 0,
                       "Calibri");
}

void ChoosePixelLayout() {
    PIXELFORMATDESCRIPTOR format;
    memset(&format, 0, sizeof format);
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 24;
    format.cAlphaBits = 1;
    format.cAccumBits = 1;
    format.cDepthBits = 32;
    format.iLayerType = PFD_MAIN_PLANE;
    int index = ChoosePixelFormat(SurfaceDC, &format);
    if (index == 0) {
        MessageBoxA(NULL, PIXEL_FORMAT_FAILED, PIXEL_FORMAT_CAPTION, MB_OK);
    }
    if (!SetPixelFormat(SurfaceDC, index, &format)) {
        MessageBoxA(NULL, SET_PIXEL_FORMAT_FAILED, PIXEL_FORMAT_CAPTION, MB_OK);
    }
}

void SetFixedState() {
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_BLEND);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glShadeModel(GL_FLAT);
    glEnable(GL_POINT_SMOOTH);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glClearColor(0, 0, 0, 0);
    glClearAccum(0, 0, 0, 0);
}

// Wine re-creates the selected font at an em of 1,024 for the outlines but
// keeps its width of 10, so the glyphs would come out some fifty times too
// narrow. A font whose width is scaled as Wine scales the height gives the
// proportions that Windows gives LabelFont itself; on Windows nothing changes.
HFONT SelectWineOutlineFont() {
    if (!RunningUnderWine()) {
        return NULL;
    }
    TEXTMETRICA metrics;
    memset(&metrics, 0, sizeof metrics);
    GetTextMetricsA(SurfaceDC, &metrics);
    int em = metrics.tmHeight - metrics.tmInternalLeading;
    if (em <= 0) {
        return NULL;  // no device context or no font: nothing to match
    }
    HFONT scaled = MakeCalibri((10 * 1024 + em / 2) / em);
    if (scaled != NULL) {
        SelectObject(SurfaceDC, scaled);
    }
    return scaled;
}

void MakeGlyphLists() {
    SelectObject(SurfaceDC, LabelFont);
    HFONT outlineFont = SelectWineOutlineFont();
    static GLYPHMETRICSFLOAT metrics[LABEL_GLYPH_COUNT];
    wglUseFontOutlinesA(SurfaceDC, 0, LABEL_GLYPH_COUNT, LABEL_LIST_BASE, 0.0f, 0.0f,
                        WGL_FONT_POLYGONS, metrics);
    for (int c = 0; c < LABEL_GLYPH_COUNT; ++c) {
        GlyphAdvance[c] = metrics[c].gmfCellIncX;
    }
    if (outlineFont != NULL) {
        SelectObject(SurfaceDC, LabelFont);
        DeleteObject(outlineFont);
    }
}

void MakeTexture() {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glGenTextures(1, &BackgroundTexture);
    glBindTexture(GL_TEXTURE_2D, BackgroundTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, BackgroundRecord.bmWidth, BackgroundRecord.bmHeight, 0,
                 GL_BGR_EXT, GL_UNSIGNED_BYTE, BackgroundRecord.bmBits);
}

void MakeArrowLists() {
    RightArrowList = glGenLists(1);
    glNewList(RightArrowList, GL_COMPILE);
    glBegin(GL_TRIANGLES);
    glVertex3f(-0.5f, 0.5f, 0);
    glVertex3f(-0.5f, -0.5f, 0);
    glVertex3f(1, 0, 0);
    glEnd();
    glBegin(GL_TRIANGLES);
    glVertex3f(-2, 0.2f, 0);
    glVertex3f(-2, -0.2f, 0);
    glVertex3f(0.3f, 0, 0);
    glEnd();
    glEndList();

    LeftArrowList = glGenLists(1);
    glNewList(LeftArrowList, GL_COMPILE);
    glTranslatef(-0.5f, 0, 0);
    glBegin(GL_TRIANGLES);
    glVertex3f(0.5f, -0.5f, 0);
    glVertex3f(0.5f, 0.5f, 0);
    glVertex3f(-1, 0, 0);
    glEnd();
    glBegin(GL_TRIANGLES);
    glVertex3f(2, -0.2f, 0);
    glVertex3f(2, 0.2f, 0);
    glVertex3f(-0.3f, 0, 0);
    glEnd();
    glEndList();
}

bool HasWglExtension(const char* name) {
    typedef const char*(WINAPI * ExtensionsArb)(HDC);
    typedef const char*(WINAPI * ExtensionsExt)(void);
    const char* all = NULL;
    ExtensionsArb arb = (ExtensionsArb)(void*)wglGetProcAddress("wglGetExtensionsStringARB");
    if (arb != NULL) {
        all = arb(SurfaceDC);
    } else {
        ExtensionsExt ext = (ExtensionsExt)(void*)wglGetProcAddress("wglGetExtensionsStringEXT");
        if (ext != NULL) {
            all = ext();
        }
    }
    size_t length = strlen(name);
    for (const char* at = all; at != NULL && (at = strstr(at, name)) != NULL; at += length) {
        bool starts = at == all || at[-1] == ' ';
        if (starts && (at[length] == ' ' || at[length] == '\0')) {
            return true;
        }
    }
    return false;
}

}  // namespace

// Where the swap waits for the display's refresh, it paces the loop by
// itself; the loop's own pacing (frameloop.h) covers a swap that does not.
void PaceBySwap() {
    if (!HasWglExtension("WGL_EXT_swap_control")) {
        return;
    }
    PFNWGLSWAPINTERVALEXTPROC setInterval =
        (PFNWGLSWAPINTERVALEXTPROC)(void*)wglGetProcAddress("wglSwapIntervalEXT");
    if (setInterval != NULL) {
        setInterval(1);
    }
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

bool SoftwareRenderer() {
    const char* name = (const char*)glGetString(GL_RENDERER);
    if (name == NULL) return false;
    static const char* const SOFTWARE_NAMES[] = {"llvmpipe", "softpipe", "Software", "GDI Generic"};
    for (const char* software : SOFTWARE_NAMES) {
        if (strstr(name, software) != NULL) return true;
    }
    return false;
}

void SetUpSurface() {
    LabelFont = MakeCalibri(10);
    BackgroundBitmap = (HBITMAP)LoadImageA(Instance, MAKEINTRESOURCEA(BACKGROUND_RESOURCE),
                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    memset(&BackgroundRecord, 0, sizeof BackgroundRecord);
    GetObjectA(BackgroundBitmap, sizeof BackgroundRecord, &BackgroundRecord);

    SurfaceDC = GetDC(SurfaceWindow);
    if (SurfaceDC == NULL) {
        MessageBoxA(NULL, GL_DC_FAILED, GL_DC_CAPTION, MB_OK);
    }
    ChoosePixelLayout();
    SurfaceContext = wglCreateContext(SurfaceDC);
    wglMakeCurrent(SurfaceDC, SurfaceContext);

    SetFixedState();
    MakeGlyphLists();
    MakeTexture();
    MakeArrowLists();
    glViewport(0, 0, SurfaceWidth, SurfaceHeight);
    PaceBySwap();
}

void TearDownSurface() {
    if (LabelFont) DeleteObject(LabelFont);
    if (BackgroundBitmap) DeleteObject(BackgroundBitmap);
    LabelFont = NULL;
    BackgroundBitmap = NULL;
}
