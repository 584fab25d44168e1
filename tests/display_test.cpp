// The scene under Wine with Mesa's software renderer: set-up through
// SetUpSurface, frames through DrawFrame, read back and judged as a user
// would see them. Each frame is also written to the build tree.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <math.h>

#include <string>
#include <utility>
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
    return FindColour(frame, (int)from.x, (int)from.y, (int)ceil(to.x), (int)ceil(to.y),
                      colour[0], colour[1], colour[2], tolerance);
}

// The advance of a run of characters in ems for LabelFont's face, weight
// and 20:10 proportions, as GDI lays it out a hundredfold larger: free of the
// whole-pixel rounding (and of the emboldening pixel) of the small font.
// Rounding of the small font's metrics still moves real outlines by up to
// ~10% either way (Windows's too), so callers allow 12%; the squeeze that
// Wine gives without the work-around is fiftyfold.
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
    SelectObject(dc, old);
    DeleteObject(large);
    DeleteDC(dc);
    return (double)size.cx / (metrics.tmHeight - metrics.tmInternalLeading);
}

// How far the digit's glyph list moves the matrix: the scene's own advance.
double DigitAdvance() {
    GLfloat matrix[16];
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glCallList(LABEL_LIST_BASE + '2');
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    glPopMatrix();
    return matrix[12];
}

// Scene units per pixel at depth z, along x and along y.
double PixelsPerUnit(double z) { return Project(1, 0, z).x - Project(0, 0, z).x; }

void SetScene(int status, int ready, float scroll) {
    StatusCode = status;
    FoldersReady = ready;
    JobRunning = 0;
    BackgroundDepth = 0;
    BackgroundLift = 0;
    BackgroundDirection = 1;
    ArrowAngle = 0;
    ScrollOffset = scroll;
    WavePhase = 0;
}

struct Scene : ::testing::Test {
    static void SetUpTestSuite() { SetUpScene(); }
};

TEST_F(Scene, SetUpPreparesContextTextureListsAndPacing) {
    ASSERT_NE(wglGetCurrentContext(), nullptr);
    EXPECT_EQ(wglGetCurrentContext(), SurfaceContext);

    GLint width = 0, height = 0;
    glBindTexture(GL_TEXTURE_2D, BackgroundTexture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    EXPECT_EQ(width, 500);
    EXPECT_EQ(height, 500);
    EXPECT_TRUE(glIsList(LABEL_LIST_BASE) && glIsList(LABEL_LIST_BASE + 254));

    // The digit's list moves the matrix by its advance, in LabelFont's
    // proportions (Wine would squeeze it fiftyfold without the work-around);
    // the left arrow's list moves it by -0.5.
    EXPECT_NEAR(DigitAdvance(), AdvanceInEms("2"), 0.12 * AdvanceInEms("2"));
    GLfloat matrix[16];
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glCallList(LeftArrowList);
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    EXPECT_FLOAT_EQ(matrix[12], -0.5f);

    typedef int(WINAPI * GetInterval)(void);
    GetInterval getInterval = (GetInterval)(void*)wglGetProcAddress("wglGetSwapIntervalEXT");
    if (getInterval == nullptr) {
        GTEST_SKIP() << "the context offers no WGL_EXT_swap_control";
    }
    EXPECT_EQ(getInterval(), 1);
}

TEST_F(Scene, PictureIsUprightAndLabelsAreGreenAtTheirPlaces) {
    SetScene(0, 0, 0);
    Frame frame = DrawAndRead();
    SaveFrame(frame, "idle");

    // Compare the frame with the bitmap where each picture pixel should land,
    // and with the picture mirrored and flipped.
    const uint8_t* bits = (const uint8_t*)BackgroundRecord.bmBits;
    ASSERT_NE(bits, nullptr);
    double differences[3] = {0, 0, 0};
    int samples = 0;
    for (int py = 20; py < 480; py += 23) {
        for (int px = 20; px < 480; px += 23) {
            Spot spot = Project(-0.3 - 9 + 18 * (px + 0.5) / 500, 9 - 18 * (py + 0.5) / 500, -11);
            if (spot.x < 0 || spot.y < 0 || spot.x >= frame.width || spot.y >= frame.height) {
                continue;
            }
            const uint8_t* shown = frame.At((int)spot.x, (int)spot.y);
            const int candidates[3][2] = {{px, py}, {499 - px, py}, {px, 499 - py}};
            for (int c = 0; c < 3; ++c) {
                const uint8_t* bgr = bits + (size_t)(499 - candidates[c][1]) * 1500 +
                                     candidates[c][0] * 3;
                differences[c] += abs(shown[0] - bgr[2]) + abs(shown[1] - bgr[1]) +
                                  abs(shown[2] - bgr[0]);
            }
            ++samples;
        }
    }
    ASSERT_GT(samples, 300);
    EXPECT_LT(differences[0] / samples, 30.0) << "picture where it belongs";
    EXPECT_LT(differences[0] * 2, differences[1]) << "mirrored";
    EXPECT_LT(differences[0] * 2, differences[2]) << "upside down";

    const char* texts[3] = {"backup of the original DATA folder", "your modded game DATA folder",
                            "destination folder for the mod"};
    const double lines[3] = {5.2, 1.7, -1.8};
    double em = PixelsPerUnit(-10);
    for (int i = 0; i < 3; ++i) {
        Spot origin = Project(-8.5, lines[i], -10);
        Ink ink = Find(frame, GREEN, Project(-9, lines[i] - 0.45, -10),
                       Project(10, lines[i] + 1.1, -10));
        ASSERT_GT(ink.count, 200) << texts[i];
        EXPECT_NEAR(ink.left, origin.x, 0.15 * em) << texts[i];
        double descent = i < 2 ? 0.2 : 0;  // the last label has no descender
        EXPECT_NEAR(ink.bottom, origin.y - descent * em, 0.1 * em) << texts[i];
        // Width against height: Calibri's proportions at 20 by 10 (the
        // first two labels run off the right edge, as on Windows).
        double width = ink.right - ink.left + 1, height = ink.top - ink.bottom + 1;
        double expected = AdvanceInEms(texts[i]) * em;
        if (ink.right < frame.width - 2) {
            EXPECT_NEAR(width, expected, 0.12 * expected) << texts[i];
        } else {
            EXPECT_GT(width, 0.88 * (frame.width - origin.x)) << texts[i];
        }
        EXPECT_GT(height, 0.7 * em) << texts[i];
        EXPECT_LT(height, 1.15 * em) << texts[i];
    }
}

TEST_F(Scene, StatusLineAndArrowsFollowStatusAndReadiness) {
    const double advance = DigitAdvance();
    const double lineZ = -7;
    for (int status = 0; status <= 5; ++status) {
        for (int ready = 0; ready <= 1; ++ready) {
            SetScene(status, ready, 0);
            ArrowAngle = 45;
            Frame frame = DrawAndRead();
            std::string name = "status-" + std::to_string(status) + (ready ? "-ready" : "");
            SaveFrame(frame, name.c_str());
            SCOPED_TRACE(name);

            // The status line's band, above the arrows.
            Spot bandLow = Project(-7, -3.8, lineZ), bandHigh = Project(7, -2.9, lineZ);
            Ink green = Find(frame, GREEN, bandLow, bandHigh);
            Ink orange = Find(frame, ORANGE_RED, bandLow, bandHigh, 35);
            const double starts[6] = {0, -1.2, -5.2, -5.2, -3.7, -2.7};
            if (status == 1) {
                EXPECT_GT(green.count, 100);
                EXPECT_NEAR(green.left, Project(starts[1], 0, lineZ).x, 0.15 * PixelsPerUnit(lineZ));
            } else {
                EXPECT_EQ(green.count, 0);
            }
            if (status >= 2) {
                EXPECT_GT(orange.count, 100);
                EXPECT_NEAR(orange.left, Project(starts[status], 0, lineZ).x,
                            0.15 * PixelsPerUnit(lineZ));
            } else {
                EXPECT_EQ(orange.count, 0);
            }

            // Left arrow, the digit at the centre, right arrow moved by the digit.
            const int* colour = ready ? GREEN : AMBER;
            Ink left = Find(frame, colour, Project(-6, -6, -10), Project(-2.4, -4.6, -10));
            Ink digit = Find(frame, colour, Project(-0.1, -0.1, 0), Project(0.6, 0.5, 0));
            Ink right = Find(frame, colour, Project(1.8, -6, -10), Project(6.5, -4.6, -10));
            float angleBefore = ArrowAngle;
            if (status <= 1) {
                EXPECT_GT(left.count, 100);
                EXPECT_NEAR(left.left, Project(-5.7, 0, -10).x, 3);
                EXPECT_GT(digit.count, 100);
                EXPECT_GT(right.count, 100);
                EXPECT_NEAR(right.right, Project(5.1 + advance, 0, -10).x, 3);
            } else {
                EXPECT_EQ(left.count + digit.count + right.count, 0);
                LastTick = GetTickCount() - 50;
                DrawFrame();
                EXPECT_EQ(ArrowAngle, angleBefore) << "arrows stand still during a job";
            }
        }
    }
}

TEST_F(Scene, ScrollerCopiesRunAlongTheBottomShiftedByTheDigit) {
    // Each frame against the same frame with the credit line still off the
    // right edge (offset 0): what changed is the scroller.
    int leftEdges[2];
    const int statuses[2] = {1, 4};
    for (int k = 0; k < 2; ++k) {
        SetScene(statuses[k], 1, 0);
        Frame without = DrawAndRead();
        SetScene(statuses[k], 1, 10);
        WavePhase = 1.0f;
        Frame with = DrawAndRead();
        SaveFrame(with, k == 0 ? "scroller-ready" : "scroller-job");
        EXPECT_EQ(FindChange(without, with, 0, 0, with.width, with.height, 4).count,
                  FindChange(without, with, 0, 0, with.width, (int)Project(0, -3.3, -3).y, 4).count)
            << "nothing above the bottom band changes";
        Ink scroller = FindChange(without, with, 0, 0, with.width, with.height, 4);
        ASSERT_GT(scroller.count, 2000);
        EXPECT_GE(scroller.bottom, (int)Project(0, -4.3 - 1 / 1.3 - 0.35, -3).y);
        EXPECT_GE(scroller.right, with.width - 2) << "the line runs off the right edge";
        leftEdges[k] = scroller.left;

        // Violet: red and blue above green, as the six colours blend.
        long sums[3] = {0, 0, 0};
        int counted = 0;
        for (int y = scroller.bottom; y <= scroller.top; ++y) {
            for (int x = scroller.left; x <= scroller.right; ++x) {
                const uint8_t* p = with.At(x, y);
                const uint8_t* q = without.At(x, y);
                if (abs(p[0] - q[0]) + abs(p[1] - q[1]) + abs(p[2] - q[2]) > 12) {
                    sums[0] += p[0], sums[1] += p[1], sums[2] += p[2], ++counted;
                }
            }
        }
        EXPECT_GT(sums[0], sums[1] * 1.3);
        EXPECT_GT(sums[2], sums[1] * 1.3);
    }
    double shift = DigitAdvance() * PixelsPerUnit(-3);
    EXPECT_NEAR(leftEdges[0] - leftEdges[1], shift, 2.0);
    EXPECT_NEAR(leftEdges[1], Project(-4 - 0.2, 0, -3).x, 0.15 * PixelsPerUnit(-3));
}

TEST_F(Scene, ReferenceFrames) {
    // Written for the comparison with the committed references.
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

// Runs in a process of its own under CTest; run by hand, it comes last
// because it leaves no context current.
std::vector<std::pair<std::string, std::string>> Boxes;  // text, caption
HWND LastBox;

BOOL CALLBACK TakeText(HWND child, LPARAM found) {
    char name[16], text[128];
    GetClassNameA(child, name, sizeof name);
    GetWindowTextA(child, text, sizeof text);
    std::string& longest = *(std::string*)found;
    if (lstrcmpiA(name, "Static") == 0 && strlen(text) > longest.size()) {
        longest = text;
    }
    return TRUE;
}

LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    HWND box = (HWND)wParam;
    char boxClass[16] = "";
    GetClassNameA(box, boxClass, sizeof boxClass);
    if (code == HCBT_ACTIVATE && box != LastBox && strcmp(boxClass, "#32770") == 0) {
        LastBox = box;
        char caption[64] = "";
        GetWindowTextA(box, caption, sizeof caption);
        std::string text;
        EnumChildWindows(box, TakeText, (LPARAM)&text);
        Boxes.push_back({text, caption});
        PostMessageA(box, WM_COMMAND, IDOK, 0);
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
    std::vector<std::pair<std::string, std::string>> expected = {
        {"gl DC failure", "OGL error"},
        {"pixelformat error", "OPENGL"},
        {"set pixelformat error", "OPENGL"}};
    EXPECT_EQ(Boxes, expected);
    EXPECT_NE(LabelFont, nullptr);
    EXPECT_NE(BackgroundBitmap, nullptr);
}

}  // namespace
