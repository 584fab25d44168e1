// The scene under Wine with Mesa's software renderer: set up through
// SetUpSurface, drawn through DrawFrame, read back and judged as a user sees
// it. Frames go to the build tree's scene-frames folder.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <math.h>

#include <string>
#include <vector>

#include "animation.h"
#include "appstate.h"
#include "display.h"
#include "scene_support.h"
#include "surface.h"

namespace {

const int GREEN[3] = {0, 255, 0};
const int AMBER[3] = {254, 210, 4};
const int ORANGE_RED[3] = {255, 35, 0};  // green is 0.2 x (0.2 + the picture's green)

Ink Find(const Frame& frame, const int colour[3], Spot from, Spot to, int tolerance = 10) {
    return Scan(frame, from, to, [&](int x, int y) { return Near(frame.At(x, y), colour, tolerance); });
}

// A run's advance in ems for LabelFont's face, weight and 20:10 shape, laid
// out by GDI a hundredfold larger, free of small-size pixel rounding. That
// rounding moves real outlines (Windows's too) by up to ~10%, so callers
// allow 12%; without the Wine work-around the glyphs are fifty times narrower.
double AdvanceInEms(const char* text) {
    HDC dc = CreateCompatibleDC(NULL);
    HFONT large = CreateFontA(2000, 1000, 0, 0, FW_HEAVY, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_TT_ONLY_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, 0,
                              "Calibri");
    HGDIOBJ old = SelectObject(dc, large);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    SIZE size = {};
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &size);
    DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
    return (double)size.cx / (metrics.tmHeight - metrics.tmInternalLeading);
}

// How far a display list moves the model-view matrix along x.
float ListShift(GLuint list) {
    GLfloat matrix[16];
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glCallList(list);
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    glPopMatrix();
    return matrix[12];
}

double PixelsPerUnit(double z) { return Project(1, 0, z).x - Project(0, 0, z).x; }

void SetScene(int status, int ready, float scroll) {
    StatusCode = status;
    FoldersReady = ready;
    JobRunning = 0;
    BackgroundDepth = BackgroundLift = 0;
    ArrowAngle = WavePhase = 0;
    ScrollOffset = scroll;
}

struct Scene : ::testing::Test {
    static void SetUpTestSuite() { SetUpScene(); }
};

TEST_F(Scene, SetUpPreparesTextureListsAndPacing) {
    ASSERT_EQ(wglGetCurrentContext(), SurfaceContext);
    GLint width = 0, height = 0;
    glBindTexture(GL_TEXTURE_2D, BackgroundTexture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    EXPECT_EQ(width * 1000 + height, 500500);
    EXPECT_TRUE(glIsList(LABEL_LIST_BASE) && glIsList(LABEL_LIST_BASE + 254));
    EXPECT_NEAR(ListShift(LABEL_LIST_BASE + '2'), AdvanceInEms("2"), 0.12 * AdvanceInEms("2"));
    EXPECT_FLOAT_EQ(ListShift(LABEL_LIST_BASE + '2'), GlyphAdvance['2']);
    EXPECT_FLOAT_EQ(ListShift(LeftArrowList), -0.5f);

    typedef int(WINAPI * GetInterval)(void);
    typedef BOOL(WINAPI * SetInterval)(int);
    GetInterval getInterval = (GetInterval)(void*)wglGetProcAddress("wglGetSwapIntervalEXT");
    SetInterval setInterval = (SetInterval)(void*)wglGetProcAddress("wglSwapIntervalEXT");
    if (getInterval == nullptr || setInterval == nullptr) {
        GTEST_SKIP() << "the context offers no WGL_EXT_swap_control";
    }
    EXPECT_EQ(getInterval(), 1);
    setInterval(0);  // Wine's default is 1 already: start from 0 to see the call work
    PaceBySwap();
    EXPECT_EQ(getInterval(), 1);
}

TEST_F(Scene, PictureIsUprightAndLabelsAreGreenAtTheirPlaces) {
    SetScene(0, 0, 0);
    Frame frame = DrawAndRead();
    SaveFrame(frame, "idle");

    // Where each picture pixel should land, against the picture mirrored and flipped.
    const uint8_t* bits = (const uint8_t*)BackgroundRecord.bmBits;
    ASSERT_NE(bits, nullptr);
    double differences[3] = {0, 0, 0};
    int samples = 0;
    for (int py = 40; py < 460; py += 23) {
        for (int px = 30; px < 470; px += 23) {
            Spot spot = Project(-9.3 + 18 * (px + 0.5) / 500, 9 - 18 * (py + 0.5) / 500, -11);
            const uint8_t* shown = frame.At((int)spot.x, (int)spot.y);
            const int places[3][2] = {{px, py}, {499 - px, py}, {px, 499 - py}};
            for (int c = 0; c < 3; ++c) {
                const uint8_t* bgr = bits + (499 - places[c][1]) * 1500 + places[c][0] * 3;
                differences[c] += abs(shown[0] - bgr[2]) + abs(shown[1] - bgr[1]) + abs(shown[2] - bgr[0]);
            }
            ++samples;
        }
    }
    EXPECT_LT(differences[0] / samples, 30.0);
    EXPECT_LT(differences[0] * 2, differences[1]) << "mirrored";
    EXPECT_LT(differences[0] * 2, differences[2]) << "upside down";

    const char* texts[3] = {"backup of the original DATA folder", "your modded game DATA folder",
                            "destination folder for the mod"};
    const double lines[3] = {5.2, 1.7, -1.8}, em = PixelsPerUnit(-10);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(texts[i]);
        Spot origin = Project(-8.5, lines[i], -10);
        Ink ink = Find(frame, GREEN, Project(-9, lines[i] - 0.45, -10), Project(10, lines[i] + 1.1, -10));
        EXPECT_NEAR(ink.left, origin.x, 0.15 * em);
        EXPECT_NEAR(ink.bottom, origin.y - (i < 2 ? 0.2 : 0) * em, 0.1 * em);  // descenders
        // Width against height in Calibri's proportions; the first two labels
        // run off the right edge, as on Windows.
        double width = ink.right - ink.left + 1, expected = AdvanceInEms(texts[i]) * em;
        EXPECT_NEAR(width, ink.right < frame.width - 2 ? expected : frame.width - origin.x, 0.12 * expected);
        EXPECT_NEAR(ink.top - ink.bottom + 1, 0.9 * em, 0.2 * em);
    }
}

TEST_F(Scene, StatusLineAndArrowsFollowStatusAndReadiness) {
    const double advance = GlyphAdvance['2'], lineZ = -7;
    const double starts[6] = {0, -1.2, -5.2, -5.2, -3.7, -2.7};
    for (int status = 0; status <= 5; ++status) {
        for (int ready = 0; ready <= 1; ++ready) {
            SetScene(status, ready, 0);
            ArrowAngle = 45;
            Frame frame = DrawAndRead();
            std::string name = "status-" + std::to_string(status) + (ready ? "-ready" : "");
            SaveFrame(frame, name.c_str());
            SCOPED_TRACE(name);

            Spot bandLow = Project(-7, -3.8, lineZ), bandHigh = Project(7, -2.9, lineZ);
            Ink green = Find(frame, GREEN, bandLow, bandHigh);
            Ink orange = Find(frame, ORANGE_RED, bandLow, bandHigh, 35);
            Ink& text = status == 1 ? green : orange;
            EXPECT_EQ((status == 1 ? orange : green).count, 0);
            if (status == 0) {
                EXPECT_EQ(text.count, 0);
            } else {
                EXPECT_NEAR(text.left, Project(starts[status], 0, lineZ).x, 0.15 * PixelsPerUnit(lineZ));
            }

            // Left arrow, the digit at the centre, the right arrow moved by the digit.
            const int* colour = ready ? GREEN : AMBER;
            Ink left = Find(frame, colour, Project(-6, -6, -10), Project(-2.4, -4.6, -10));
            Ink digit = Find(frame, colour, Project(-0.1, -0.1, 0), Project(0.6, 0.5, 0));
            Ink right = Find(frame, colour, Project(1.8, -6, -10), Project(6.5, -4.6, -10));
            if (status <= 1) {
                EXPECT_NEAR(left.left, Project(-5.7, 0, -10).x, 3);
                EXPECT_GT(digit.count, 100);
                EXPECT_NEAR(right.right, Project(5.1 + advance, 0, -10).x, 3);
            } else {
                EXPECT_EQ(left.count + digit.count + right.count, 0);
                LastTick = GetTickCount() - 50;
                DrawFrame();
                EXPECT_EQ(ArrowAngle, 45.0f) << "arrows stand still during a job";
            }
        }
    }
}

TEST_F(Scene, ScrollerRunsAlongTheBottomShiftedByTheDigit) {
    // Each frame against the same one with the credit line still beyond the
    // right edge (offset 0): what changed is the scroller.
    int leftEdges[2];
    for (int k = 0; k < 2; ++k) {
        SetScene(k == 0 ? 1 : 4, 1, 0);
        Frame without = DrawAndRead();
        SetScene(k == 0 ? 1 : 4, 1, 10);
        WavePhase = 1.0f;
        Frame with = DrawAndRead();
        SaveFrame(with, k == 0 ? "scroller-ready" : "scroller-job");
        auto changed = [&](int x, int y) {
            const uint8_t* before = without.At(x, y);
            const int colour[3] = {before[0], before[1], before[2]};
            return !Near(with.At(x, y), colour, 4);
        };
        Ink scroller = Scan(with, Project(-20, -20, 0), Project(20, 20, 0), changed);
        ASSERT_GT(scroller.count, 2000);
        EXPECT_LE(scroller.top, Project(0, -3.3, -3).y);
        EXPECT_GE(scroller.bottom, Project(0, -4.3 - 1 / 1.3 - 0.35, -3).y);
        EXPECT_GE(scroller.right, with.width - 2) << "the line runs off the right edge";
        leftEdges[k] = scroller.left;
    }
    EXPECT_NEAR(leftEdges[0] - leftEdges[1], GlyphAdvance['2'] * PixelsPerUnit(-3), 2.0);
    EXPECT_NEAR(leftEdges[1], Project(-4.2, 0, -3).x, 0.15 * PixelsPerUnit(-3));
}

TEST_F(Scene, ReferenceFrames) {
    // Compared with the committed references by compare_frames.sh.
    SetScene(1, 1, 7.5f);
    ArrowAngle = 30;
    WavePhase = 2.0f;
    SaveFrame(DrawAndRead(), "reference-ready");
    SetScene(4, 1, 31.0f);
    BackgroundDepth = 1.5f;
    BackgroundLift = 0.75f;
    WavePhase = 5.0f;
    SaveFrame(DrawAndRead(), "reference-job");
    SetScene(0, 0, 60.0f);
    ArrowAngle = 300;
    SaveFrame(DrawAndRead(), "reference-idle");
}

// CTest runs it in a process of its own; by hand it comes last, for it
// leaves no context current.
std::vector<std::string> Boxes;  // "text|caption"

LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    char name[16] = "", caption[64] = "", text[64] = "";
    GetClassNameA((HWND)wParam, name, sizeof name);
    if (code == HCBT_ACTIVATE && strcmp(name, "#32770") == 0 && GetPropA((HWND)wParam, "seen") == NULL) {
        SetPropA((HWND)wParam, "seen", (HANDLE)1);
        GetWindowTextA((HWND)wParam, caption, sizeof caption);
        for (HWND child = GetWindow((HWND)wParam, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            GetClassNameA(child, name, sizeof name);
            if (lstrcmpiA(name, "Static") == 0 && GetWindowTextLengthA(child) > 0) {
                GetWindowTextA(child, text, sizeof text);
            }
        }
        Boxes.push_back(std::string(text) + "|" + caption);
        PostMessageA((HWND)wParam, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

TEST(SurfaceFailure, EachFailureGetsItsBoxAndStartUpGoesOn) {
    Instance = GetModuleHandleA(NULL);
    SurfaceWindow = (HWND)(INT_PTR)0x7FFF0;  // no such window: GetDC fails
    SurfaceWidth = 480;
    SurfaceHeight = 450;
    HHOOK hook = SetWindowsHookExA(WH_CBT, AnswerBoxes, NULL, GetCurrentThreadId());
    SetUpSurface();
    StartClock();
    DrawFrame();  // no context: nothing drawn, nothing broken
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(Boxes, (std::vector<std::string>{"gl DC failure|OGL error", "pixelformat error|OPENGL",
                                               "set pixelformat error|OPENGL"}));
    EXPECT_TRUE(LabelFont != NULL && BackgroundBitmap != NULL);
}

}  // namespace
