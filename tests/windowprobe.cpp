// Looks at another program's windows from outside, in the same Wine prefix,
// for the end-to-end test of the window program:
//
//   windowprobe wait TITLE [MILLISECONDS]  waits for a visible top-level window
//   windowprobe gone TITLE [MILLISECONDS]  waits until no such window is left
//   windowprobe list TITLE                 the window and its controls, a line each
//   windowprobe click TITLE TEXT [N]       clicks the Nth control (from 1) with TEXT
//   windowprobe close TITLE                asks the window to close
//   windowprobe minimize TITLE             minimizes the window
//   windowprobe restore TITLE              shows a minimized window again
//   windowprobe progress TITLE             the progress bar's "position range"
//
// Clicks are posted, so a click that opens a dialog does not hold the
// probe. Exit status 0 when the window was found, 1 when not, 2 usage.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* Wanted;
static HWND Found;

static BOOL CALLBACK MatchTitle(HWND window, LPARAM) {
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    if (IsWindowVisible(window) && strcmp(title, Wanted) == 0) {
        Found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND FindTopLevel(const char* title) {
    Wanted = title;
    Found = NULL;
    EnumWindows(MatchTitle, 0);
    return Found;
}

static HWND AwaitTopLevel(const char* title, DWORD milliseconds, bool present) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindTopLevel(title);
        if ((window != NULL) == present) return present ? window : (HWND)1;
        if (GetTickCount() - start >= milliseconds) return NULL;
        Sleep(50);
    }
}

struct Search {
    const char* text;
    int skip;
    HWND found;
};

static BOOL CALLBACK MatchControl(HWND control, LPARAM context) {
    Search* search = (Search*)context;
    char text[512] = "";
    GetWindowTextA(control, text, sizeof text);
    if (strcmp(text, search->text) == 0 && search->skip-- == 0) {
        search->found = control;
        return FALSE;
    }
    return TRUE;
}

// Text with line feeds and tabs written as \n and \t, so one control is one line.
static void PrintEscaped(const char* text) {
    for (const char* c = text; *c; ++c) {
        if (*c == '\n') fputs("\\n", stdout);
        else if (*c == '\r') fputs("\\r", stdout);
        else if (*c == '\t') fputs("\\t", stdout);
        else if (*c == '\\') fputs("\\\\", stdout);
        else putchar(*c);
    }
}

static BOOL CALLBACK PrintControl(HWND control, LPARAM parent) {
    char className[64] = "";
    GetClassNameA(control, className, sizeof className);
    static char text[8192];
    text[0] = '\0';
    SendMessageA(control, WM_GETTEXT, sizeof text, (LPARAM)text);
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, (HWND)parent, (POINT*)&r, 2);
    printf("control class=%s style=%08lx enabled=%d visible=%d x=%ld y=%ld w=%ld h=%ld", className,
           (unsigned long)GetWindowLongA(control, GWL_STYLE), IsWindowEnabled(control) ? 1 : 0,
           IsWindowVisible(control) ? 1 : 0, r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (strcmp(className, "Static") == 0 && SendMessageA(control, STM_GETICON, 0, 0)) printf(" icon=1");
    printf(" text=");
    PrintEscaped(text);
    printf("\n");
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: windowprobe wait|gone|list|click|close|minimize|restore|progress TITLE ...\n");
        return 2;
    }
    // Lines end with a line feed alone, as the shell that reads them expects.
    _setmode(_fileno(stdout), _O_BINARY);
    const char* command = argv[1];
    const char* title = argv[2];
    if (strcmp(command, "wait") == 0 || strcmp(command, "gone") == 0) {
        DWORD milliseconds = argc > 3 ? (DWORD)atol(argv[3]) : 10000;
        return AwaitTopLevel(title, milliseconds, strcmp(command, "wait") == 0) ? 0 : 1;
    }
    HWND window = AwaitTopLevel(title, 5000, true);
    if (!window) {
        fprintf(stderr, "windowprobe: no window \"%s\"\n", title);
        return 1;
    }
    if (strcmp(command, "list") == 0) {
        RECT r;
        GetWindowRect(window, &r);
        printf("window style=%08lx exstyle=%08lx x=%ld y=%ld w=%ld h=%ld\n",
               (unsigned long)GetWindowLongA(window, GWL_STYLE), (unsigned long)GetWindowLongA(window, GWL_EXSTYLE),
               r.left, r.top, r.right - r.left, r.bottom - r.top);
        POINT client = {0, 0};
        ClientToScreen(window, &client);
        printf("client x=%ld y=%ld\n", client.x, client.y);
        EnumChildWindows(window, PrintControl, (LPARAM)window);
        return 0;
    }
    if (strcmp(command, "click") == 0 && argc >= 4) {
        Search search = {argv[3], argc > 4 ? atoi(argv[4]) - 1 : 0, NULL};
        EnumChildWindows(window, MatchControl, (LPARAM)&search);
        if (!search.found) {
            fprintf(stderr, "windowprobe: no control \"%s\" in \"%s\"\n", argv[3], title);
            return 1;
        }
        PostMessageA(search.found, BM_CLICK, 0, 0);
        return 0;
    }
    if (strcmp(command, "close") == 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (strcmp(command, "minimize") == 0 || strcmp(command, "restore") == 0) {
        ShowWindow(window, strcmp(command, "minimize") == 0 ? SW_MINIMIZE : SW_RESTORE);
        return 0;
    }
    if (strcmp(command, "progress") == 0) {
        HWND bar = FindWindowExA(window, NULL, PROGRESS_CLASSA, NULL);
        if (!bar) return 1;
        printf("%ld %ld\n", (long)SendMessageA(bar, PBM_GETPOS, 0, 0),
               (long)SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
        return 0;
    }
    fprintf(stderr, "windowprobe: unknown command %s\n", command);
    return 2;
}
