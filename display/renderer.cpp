#include <windows.h>

#include <GL/gl.h>
#include <GL/glu.h>
#include <math.h>
#include <stdint.h>

#include "animation.h"
#include "appstate.h"
#include "display.h"
#include "surface.h"
#include "texts.h"

namespace {

struct Label {
    const char* text;
    int length;
    float x, y;
};

const Label LABELS[] = {
    {ORIGINAL_LABEL, 34, -8.5f, 5.2f},
    {MODDED_LABEL, 28, -8.5f, 1.7f},
    {DESTINATION_LABEL, 30, -8.5f, -1.8f},
};

struct StatusLine {
    const char* text;
    int length;
    float red, green, blue;
    float x;
};

// Indexed by StatusCode; status 0 shows no text.
const StatusLine STATUS_LINES[] = {
    {"", 0, 0, 0, 0, 0},
    {READY_TEXT, 5, 0, 1, 0, -1.2f},
    {ORIGINAL_INDEX_TEXT, 27, 1, 0.2f, 0, -5.2f},
    {MODDED_INDEX_TEXT, 25, 1, 0.2f, 0, -5.2f},
    {DEEP_SCAN_TEXT, 19, 1, 0.2f, 0, -3.7f},
    {CREATING_MOD_TEXT, 12, 1, 0.2f, 0, -2.7f},
};

const GLuint DIGIT_TWO_LIST = LABEL_LIST_BASE + '2';

const float PI_F = 3.14159265f;

// Draws a run of glyphs whose pen starts at scene x `startX` on the plane at
// depth `z`, as a glCallLists of its characters. Mesa's software renderer
// spends some 15 us on every glyph list, seen or not, and the credit line's
// six copies are 1,344 glyphs of which about 150 are on the surface: so the
// glyphs wholly beyond either edge are left out, the pen moved past them at
// once. What shows is the same; the margin of one em covers any overhang.
void DrawText(const char* text, int length, float startX, float z) {
    float halfWidth = (10 - z) * tanf(22.5f * PI_F / 180) * SurfaceWidth / SurfaceHeight + 1;
    int first = 0;
    float x = startX;
    for (; first < length; ++first) {
        float advance = GlyphAdvance[(uint8_t)text[first]];
        if (advance <= 0 || x + advance >= -halfWidth) {
            break;  // on the surface, or no metrics to tell
        }
        x += advance;
    }
    int end = first;
    for (float pen = x; end < length && pen <= halfWidth; ++end) {
        float advance = GlyphAdvance[(uint8_t)text[end]];
        if (advance <= 0) {
            end = length;
            break;
        }
        pen += advance;
    }
    if (first > 0) {
        glTranslatef(x - startX, 0, 0);
    }
    glCallLists(end - first, GL_UNSIGNED_BYTE, text + first);
}

void DrawBackground(float dt) {
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPushMatrix();
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    glBindTexture(GL_TEXTURE_2D, BackgroundTexture);
    glTranslatef(-0.3f, BackgroundLift, BackgroundDepth - 1);
    StepBackground(dt, JobRunning.load(std::memory_order_relaxed));
    glDisable(GL_DEPTH_TEST);
    glBegin(GL_QUADS);
    glColor3f(1, 1, 1);
    glTexCoord2f(0, 0);
    glVertex3f(-9, -9, -10);
    glTexCoord2f(1, 0);
    glVertex3f(9, -9, -10);
    glTexCoord2f(1, 1);
    glVertex3f(9, 9, -10);
    glTexCoord2f(0, 1);
    glVertex3f(-9, 9, -10);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glPopMatrix();
}

void DrawLabels() {
    glColor3ub(0, 255, 0);
    glListBase(LABEL_LIST_BASE);
    for (const Label& label : LABELS) {
        glPushMatrix();
        glTranslatef(label.x, label.y, -10);
        DrawText(label.text, label.length, label.x, -10);
        glPopMatrix();
    }
}

void DrawStatusLine() {
    // Each channel becomes source x source + destination x source.
    glBlendFunc(GL_SRC_COLOR, GL_SRC_COLOR);
    if (StatusCode >= 1 && StatusCode <= 5) {
        const StatusLine& line = STATUS_LINES[StatusCode];
        glPushMatrix();
        glColor3f(line.red, line.green, line.blue);
        glTranslatef(line.x, -3.7f, -7);
        DrawText(line.text, line.length, line.x, -7);
        glPopMatrix();
    }
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

// The digit's advance is left on the matrix on purpose: the right arrow and
// the scroller of this frame sit moved by it. Returns that move along x.
float DrawArrows(float dt) {
    if (StatusCode != 0 && StatusCode != 1) {
        return 0;
    }
    if (FoldersReady != 0) {
        glColor3f(0, 1, 0);
    } else {
        glColor3ub(254, 210, 4);
    }
    glPushMatrix();
    glTranslatef(-3.7f, -5.3f, -10);
    glRotatef(ArrowAngle, 1, 0, 0);
    glCallList(RightArrowList);
    glPopMatrix();
    glCallList(DIGIT_TWO_LIST);
    glPushMatrix();
    glTranslatef(3.6f, -5.3f, -10);
    glRotatef(ArrowAngle, 1, 0, 0);
    glCallList(LeftArrowList);
    glPopMatrix();
    StepArrow(dt);
    return GlyphAdvance['2'];
}

void DrawScroller(float dt, float shift) {
    // Each channel becomes source x source alpha + destination x destination.
    glBlendFunc(GL_SRC_ALPHA, GL_DST_COLOR);
    for (int copy = 0; copy < SCROLLER_COPIES; ++copy) {
        glColor4ub(100 + 15 * copy, 10 * copy, 180 - 7 * copy, 155 + 10 * copy);
        glPushMatrix();
        glTranslatef(ScrollerX(copy), ScrollerY(copy), -3);
        DrawText(CreditText, CREDIT_LENGTH, shift + ScrollerX(copy), -3);
        glPopMatrix();
    }
    StepScroller(dt);
}

}  // namespace

void StartClock() { StartAnimationClock(GetTickCount()); }

void DrawFrame() {
    float dt = AdvanceClock(GetTickCount());

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45, (double)SurfaceWidth / SurfaceHeight, 1, 100);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_ACCUM_BUFFER_BIT);
    glLoadIdentity();
    gluLookAt(0, 0, 10, 0, 0, 0, 0, 1, 0);

    DrawBackground(dt);
    DrawLabels();
    DrawStatusLine();
    float shift = DrawArrows(dt);
    DrawScroller(dt, shift);

    glEnable(GL_DEPTH_TEST);
    glFlush();
    SwapBuffers(SurfaceDC);
}
