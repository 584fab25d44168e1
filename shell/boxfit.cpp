#include "boxfit.h"

#include <string.h>
#include <wchar.h>

#include "services.h"

enum {
    // A box's text wraps at a width of its own, narrower on some systems
    // than on others: heights are reckoned at the narrowest met, so that
    // they are never short.
    WRAP_WIDTH = 240,
    // What a box adds to its text in height: the space around the text,
    // and a line's worth to spare.
    BOX_TEXT_MARGIN = 24,
    LONGEST_CUT_LINE = 600,
};

static const WCHAR ELLIPSIS = 0x2026;

bool BeginBoxFit(HWND owner, BoxFit* fit) {
    memset(fit, 0, sizeof *fit);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        fit->font = CreateFontIndirectW(&metrics.lfMessageFont);
    fit->dc = CreateCompatibleDC(NULL);
    if (!fit->dc) {
        if (fit->font) DeleteObject(fit->font);
        fit->font = NULL;
        return false;
    }
    fit->previousFont = SelectObject(fit->dc, fit->font ? (HGDIOBJ)fit->font : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW text = {};
    GetTextMetricsW(fit->dc, &text);
    RECT area = {};
    Services.workArea(owner, &area);
    int frames = GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFIXEDFRAME);
    // The button is twice a line high; a line more is kept to spare.
    int button = 2 * (int)text.tmHeight;
    fit->textHeight = (int)(area.bottom - area.top) - frames - BOX_TEXT_MARGIN - button - (int)text.tmHeight;
    // Lines are cut to well inside the work area's width, icon and frames
    // aside, and to no more than a box shows whole on any system.
    fit->lineWidth = (int)(area.right - area.left) / 2;
    if (fit->lineWidth > LONGEST_CUT_LINE) fit->lineWidth = LONGEST_CUT_LINE;
    return true;
}

void EndBoxFit(BoxFit* fit) {
    if (fit->dc) {
        SelectObject(fit->dc, fit->previousFont);
        DeleteDC(fit->dc);
    }
    if (fit->font) DeleteObject(fit->font);
    memset(fit, 0, sizeof *fit);
}

static int LineWidth(const BoxFit* fit, const WCHAR* line, int length) {
    SIZE size = {};
    GetTextExtentPoint32W(fit->dc, line, length, &size);
    return (int)size.cx;
}

static bool IsLowSurrogate(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

void CutToWidth(const BoxFit* fit, WCHAR* line) {
    if (!fit->dc) return;
    int length = (int)wcslen(line);
    if (LineWidth(fit, line, length) <= fit->lineWidth) return;
    // Keep a third from the start (the drive and the first folders) and the
    // rest from the end (the file's name), one character less each time.
    WCHAR cut[1024];
    for (int kept = length - 1; kept > 0; --kept) {
        int head = kept / 3, tail = kept - head;
        if (head > 0 && IsLowSurrogate(line[head])) --head;
        if (IsLowSurrogate(line[length - tail])) --tail;
        if (head + 1 + tail >= (int)(sizeof cut / sizeof cut[0])) continue;
        memcpy(cut, line, head * sizeof(WCHAR));
        cut[head] = ELLIPSIS;
        memcpy(cut + head + 1, line + length - tail, tail * sizeof(WCHAR));
        cut[head + 1 + tail] = L'\0';
        if (LineWidth(fit, cut, head + 1 + tail) <= fit->lineWidth) {
            wcscpy(line, cut);
            return;
        }
    }
    line[0] = ELLIPSIS;
    line[1] = L'\0';
}

int BoxTextHeight(const BoxFit* fit, const WCHAR* text) {
    if (!fit->dc) return 0;
    RECT rect = {0, 0, WRAP_WIDTH, 0};
    DrawTextW(fit->dc, text, -1, &rect, DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
    return (int)(rect.bottom - rect.top);
}
