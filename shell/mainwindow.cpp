#include "mainwindow.h"

#include <commctrl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "appstate.h"
#include "display.h"
#include "job.h"
#include "joblists.h"
#include "jobreports.h"
#include "messages.h"
#include "textconvert_win32.h"
#include "paths.h"
#include "services.h"
#include "texts.h"
#include "jobstop.h"

char OriginalPath[FOLDER_PATH_SIZE];
char ModdedPath[FOLDER_PATH_SIZE];
char DestinationPath[FOLDER_PATH_SIZE];
char OriginalJobPath[JOB_PATH_SIZE];
char ModdedJobPath[JOB_PATH_SIZE];
char DestinationJobPath[JOB_PATH_SIZE];
int OriginalChosen;
int ModdedChosen;
int DestinationChosen;

HWND OriginalField, ModdedField, DestinationField;
HWND OriginalBrowse, ModdedBrowse, DestinationBrowse;
HWND CreateModButton;
HWND ProgressBar;

WINDOWINFO MainWindowInfo;
int JobStarted;
int QuitCode;

static HFONT ButtonFont;
static HFONT FieldFont;
static HANDLE JobThreadHandle;
static DWORD JobThreadId;

enum : DWORD {
    PATH_FIELD_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL,  // 0x50800880
    BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER | BS_PUSHLIKE | BS_TOP,             // 0x50801400
    PROGRESS_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | PBS_VERTICAL | PBS_SMOOTH,     // 0x50010005
};

// Where a control goes and what it is.
struct ControlLayout {
    const char* className;
    const char* text;
    DWORD style;
    int x, y, width, height;
};

static HWND MakeControl(HWND parent, const ControlLayout& layout) {
    return CreateWindowExA(0, layout.className, layout.text, layout.style, layout.x, layout.y, layout.width,
                           layout.height, parent, NULL, Instance, NULL);
}

// One of the three folders the user chooses: its buffers and flag, its
// controls and its browser record, which is used again on every click.
struct FolderChoice {
    char* path;      // FOLDER_PATH_SIZE bytes
    char* jobPath;   // JOB_PATH_SIZE bytes
    int* chosen;
    HWND* field;
    HWND* browse;
    const char* title;
    bool ownedByWindow;  // the destination's browser is not modal to the window
    BROWSEINFOA browser;
};

static FolderChoice Folders[3] = {
    {OriginalPath, OriginalJobPath, &OriginalChosen, &OriginalField, &OriginalBrowse, ORIGINAL_BROWSER_TITLE, true, {}},
    {ModdedPath, ModdedJobPath, &ModdedChosen, &ModdedField, &ModdedBrowse, MODDED_BROWSER_TITLE, true, {}},
    {DestinationPath, DestinationJobPath, &DestinationChosen, &DestinationField, &DestinationBrowse,
     DESTINATION_BROWSER_TITLE, false, {}},
};

static HFONT MakeControlFont(int height, BOOL italic) {
    return CreateFontA(height, 0, 0, 0, 800, italic, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0,
                       CONTROL_FONT_FACE);
}

static void OnCreate(HWND window) {
    ButtonFont = MakeControlFont(24, FALSE);
    FieldFont = MakeControlFont(18, TRUE);
    MainWindowInfo.cbSize = sizeof MainWindowInfo;  // 60
    GetWindowInfo(window, &MainWindowInfo);

    int fieldWidth = 480 - 2 * (int)MainWindowInfo.cxWindowBorders;
    const char* prompts[3] = {ORIGINAL_FIELD_PROMPT, MODDED_FIELD_PROMPT, DESTINATION_FIELD_PROMPT};
    for (int i = 0; i < 3; ++i)
        *Folders[i].field = MakeControl(window, {"EDIT", prompts[i], PATH_FIELD_STYLE, 5, 100 + 100 * i, fieldWidth, 30});
    for (int i = 0; i < 3; ++i)
        *Folders[i].browse = MakeControl(window, {"BUTTON", BROWSE_LABEL, BUTTON_STYLE, 350, 65 + 100 * i, 100, 30});
    CreateModButton = MakeControl(window, {"BUTTON", CREATE_MOD_LABEL, BUTTON_STYLE, 180, 375, 135, 30});
    EnableWindow(CreateModButton, FALSE);
    ProgressBar = MakeControl(window, {PROGRESS_CLASSA, NULL, PROGRESS_STYLE, 480, 0, 10, 400});
    SendMessageA(ProgressBar, PBM_SETBKCOLOR, 0, RGB(0, 0, 0));
    SendMessageA(ProgressBar, PBM_SETBARCOLOR, 0, RGB(255, 0, 0));

    HWND fields[] = {OriginalField, ModdedField, DestinationField};
    for (HWND field : fields) SendMessageA(field, WM_SETFONT, (WPARAM)FieldFont, TRUE);
    HWND buttons[] = {OriginalBrowse, ModdedBrowse, DestinationBrowse, CreateModButton};
    for (HWND button : buttons) SendMessageA(button, WM_SETFONT, (WPARAM)ButtonFont, TRUE);
}

// One BROWSE click: the folder browser, then the path in its buffer and
// field, and the same folder exactly for the job. An empty result
// (cancelled, or a choice that is no folder on disk) clears the choice and
// takes the window out of readiness.
static void BrowseFolder(FolderChoice* choice) {
    BROWSEINFOA* browser = &choice->browser;
    char* path = choice->path;
    browser->hwndOwner = choice->ownedByWindow ? MainWindow : NULL;
    browser->pidlRoot = NULL;
    browser->pszDisplayName = path;
    browser->lpszTitle = choice->title;
    browser->ulFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX;  // 0x50
    browser->lpfn = NULL;
    browser->lParam = 0;
    PIDLIST_ABSOLUTE list = Services.browseForFolder(browser);
    // The browser wrote the chosen item's display name into the buffer;
    // only a file-system path may stay there.
    if (!list || !Services.pathFromIDList(list, path)) path[0] = '\0';
    // The code page renders a letter it lacks as a look-alike (a Polish
    // L with stroke as a plain L) or as "?": the job reads the folder that
    // was chosen, not its rendering.
    WCHAR wide[MAX_PATH];
    if (!path[0] || !Services.pathFromIDListW(list, wide) || !Utf8FromWide(wide, choice->jobPath, JOB_PATH_SIZE))
        choice->jobPath[0] = '\0';
    if (list) Services.freeIDList(list);
    SendMessageA(*choice->field, WM_SETTEXT, 0, (LPARAM)path);
    if (path[0]) {
        *choice->chosen = 1;
    } else {
        EnableWindow(CreateModButton, FALSE);
        SendMessageA(MainWindow, MSG_STATUS_IDLE, 0, 0);
        FoldersReady = 0;
        *choice->chosen = 0;
    }
}

static void Warn(const char* text) {
    Services.messageBox(MainWindow, text, ERROR_CAPTION, MB_ICONWARNING);
}

static const char* RefusalText(FolderRefusalKind kind) {
    switch (kind) {
    case REFUSAL_EMPTY: return REFUSAL_EMPTY_TEXT;
    case REFUSAL_TOO_LONG: return REFUSAL_TOO_LONG_TEXT;
    case REFUSAL_UNUSABLE: return REFUSAL_UNUSABLE_TEXT;
    case REFUSAL_SAME_FOLDER: return REFUSAL_SAME_FOLDER_TEXT;
    case REFUSAL_NESTED: return REFUSAL_NESTED_TEXT;
    case REFUSAL_DATA_OVERLAPS_INPUT: return REFUSAL_DATA_OVERLAPS_INPUT_TEXT;
    case REFUSAL_DATA_UNWRITABLE: return REFUSAL_DATA_UNWRITABLE_TEXT;
    case REFUSAL_NOT_ABSOLUTE: return REFUSAL_UNUSABLE_TEXT;
    case REFUSAL_OUT_OF_MEMORY: return JOB_NOT_STARTED_TEXT;
    case REFUSAL_DESTINATION_BUSY: return REFUSAL_DESTINATION_BUSY_TEXT;
    }
    return REFUSAL_UNUSABLE_TEXT;
}

// The job's preparation, which every front end makes: the folders made
// absolute and checked (the same folder written differently, nested
// inputs, a mod that would land in an input, a folder that has gone). A
// refusal is one box naming what is wrong and the path concerned.
static JobParameters* PrepareWindowJob() {
    char reason[512];
    FolderRefusal refusal = {};
    const char* jobPaths[3] = {Folders[0].jobPath, Folders[1].jobPath, Folders[2].jobPath};
    JobParameters* record = PrepareJob(jobPaths, true, &refusal, reason, sizeof reason);
    if (record) return record;
    if (refusal.kind == REFUSAL_OUT_OF_MEMORY) {
        Warn(JOB_NOT_STARTED_TEXT);
        return nullptr;
    }
    if (refusal.kind == REFUSAL_NOT_ABSOLUTE) refusal.kind = REFUSAL_UNUSABLE;  // worded alike in the box
    const char* path = refusal.role >= 0 && refusal.role < 3 ? Folders[refusal.role].path : "";
    char data[FOLDER_PATH_SIZE + 8];
    if (refusal.kind == REFUSAL_DATA_UNWRITABLE && DataFolderPath(DestinationPath, data, sizeof data)) path = data;
    char text[1024];
    if ((refusal.kind == REFUSAL_UNUSABLE || refusal.kind == REFUSAL_DATA_UNWRITABLE) && refusal.error) {
        // The system's text comes in UTF-8; this box shows the code page's.
        char why[256];
        DescribeError(refusal.error, why, sizeof why);
        WCHAR wide[256];
        if (WideFromUtf8(why, wide, sizeof wide / sizeof wide[0]))
            WideCharToMultiByte(CP_ACP, 0, wide, -1, why, sizeof why, NULL, NULL);
        snprintf(text, sizeof text, "%s\n%s\n(%s)", RefusalText(refusal.kind), path, why);
    } else {
        snprintf(text, sizeof text, "%s\n%s", RefusalText(refusal.kind), path);
    }
    Warn(text);
    return nullptr;
}

// The job's thread: the job, then word to the main window that it has
// made its last report, with what it found.
static DWORD WINAPI JobThread(LPVOID parameters) {
    JobParameters* record = (JobParameters*)parameters;
    HWND mainWindow = (HWND)record->mainWindow;
    JobResult* result = record->result;
    ExtractionJob(record);
    PostMessageA(mainWindow, MSG_JOB_FINISHED, 0, (LPARAM)result);
    return 1;
}

static void StartJob() {
    // A second press before the job has ended starts nothing: the job's
    // state exists once.
    if (JobStarted) return;
    if (strcmp(OriginalPath, ModdedPath) == 0 || strcmp(OriginalPath, DestinationPath) == 0 ||
        strcmp(ModdedPath, DestinationPath) == 0) {
        Warn(DIFFERENT_FOLDERS_TEXT);
        return;
    }
    JobParameters* record = PrepareWindowJob();
    if (!record) return;
    // The record carries its own copies of the paths, so that a folder
    // chosen while the job starts up cannot change what it reads.
    JobResult* result = (JobResult*)calloc(1, sizeof(JobResult));
    if (!result) {
        DiscardJobParameters(record);
        Warn(JOB_NOT_STARTED_TEXT);
        return;
    }
    result->keepRemovedList = true;  // the box names the first of them
    record->mainWindow = MainWindow;
    record->createModButton = CreateModButton;
    record->progressBar = ProgressBar;
    record->jobRunning = &JobRunning;
    record->instance = Instance;
    record->report = &WindowReports;
    record->result = result;

    ClearJobStop();  // no job runs: a stop asked of an earlier one is done with
    DWORD id = 0;
    HANDLE thread = Services.createThread(NULL, 0, JobThread, record, 0, &id);
    if (!thread) {
        DiscardJobParameters(record);
        free(result);
        Warn(JOB_NOT_STARTED_TEXT);
        return;
    }
    if (JobThreadHandle) CloseHandle(JobThreadHandle);
    JobThreadHandle = thread;
    JobThreadId = id;
    JobStarted = 1;
}

static void OnCommand(WPARAM wParam, LPARAM lParam) {
    UINT notification = HIWORD(wParam);
    HWND control = (HWND)lParam;
    for (FolderChoice& choice : Folders)
        if (notification == 0 && control && control == *choice.browse) BrowseFolder(&choice);

    if (FoldersReady == 0 && OriginalChosen == 1 && ModdedChosen == 1 && DestinationChosen == 1) {
        EnableWindow(CreateModButton, TRUE);
        SendMessageA(MainWindow, MSG_STATUS_READY, 0, 0);
        FoldersReady = 1;
    }

    if (notification == 0 && control && control == CreateModButton) StartJob();
}

// Appends to the wide text of the failure box, cutting what does not fit:
// the program's own texts (Windows-1252, formatted here) or a path (UTF-8,
// as the engine holds it).
__attribute__((format(printf, 4, 5)))
static void AppendText(WCHAR* text, size_t size, size_t* used, const char* format, ...) {
    char part[512];
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(part, sizeof part, format, arguments);
    va_end(arguments);
    if (written < 0 || *used >= size - 1) return;
    int got = MultiByteToWideChar(1252, 0, part, -1, text + *used, (int)(size - *used));
    if (got > 0) *used += (size_t)got - 1;
}

static void AppendPath(WCHAR* text, size_t size, size_t* used, const char* path) {
    if (*used >= size - 1) return;
    // A text cut inside a character (a long system text) still shows, with
    // a stand-in for the cut character: this is a message, not a name.
    if (WideFromUtf8(path, text + *used, size - *used) ||
        MultiByteToWideChar(CP_UTF8, 0, path, -1, text + *used, (int)(size - *used)) > 0)
        *used += wcslen(text + *used);
    else
        text[*used] = L'\0';
}

// Room for the box's paths: ten of each list and the Data folder, each of
// up to PATH_BUFFER_SIZE - 1 units, and the texts.
static WCHAR BoxText[34 * PATH_BUFFER_SIZE];

// The first JOB_FAILURES_LISTED entries of the job's list `kind`, each on
// a line of its own, indented, and how many more there are.
static void AppendListed(const JobResult* result, ListKinds kind, uint32_t count, size_t* used) {
    const size_t size = sizeof BoxText / sizeof BoxText[0];
    ListCursor cursor = {};
    ListedEntry entry;
    char path[PATH_BUFFER_SIZE];
    uint32_t listed = 0;
    while (listed < JOB_FAILURES_LISTED && NextListed(result, kind, &cursor, &entry)) {
        AppendText(BoxText, size, used, "\n    ");
        AppendPath(BoxText, size, used, ListedPath(&entry, path));
        ++listed;
    }
    if (count > listed) {
        AppendText(BoxText, size, used, "\n");
        AppendText(BoxText, size, used, JOB_MORE_FAILURES_FORMAT, count - listed, count - listed);
    }
}

static void AppendFailures(const JobResult* result, size_t* used) {
    const size_t size = sizeof BoxText / sizeof BoxText[0];
    AppendText(BoxText, size, used, JOB_FAILURES_FORMAT, result->failures, result->failures);
    if (result->warnings > 0) {
        AppendText(BoxText, size, used, "\n");
        AppendText(BoxText, size, used, JOB_WARNINGS_FORMAT, result->warnings, result->warnings);
    }
    AppendText(BoxText, size, used, "\n");
    unsigned listed = 0;
    for (const Problem* problem = result->problems; problem; problem = problem->next) {
        if (!problem->failure) continue;
        if (listed == JOB_FAILURES_LISTED) break;
        char why[300];
        DescribeProblem(problem, why, sizeof why);
        AppendText(BoxText, size, used, "\n");
        AppendPath(BoxText, size, used, problem->path);
        AppendText(BoxText, size, used, "\n    ");
        AppendPath(BoxText, size, used, why);  // system texts come in UTF-8 too
        ++listed;
    }
    if (result->failures > listed) {
        unsigned more = result->failures - listed;
        AppendText(BoxText, size, used, "\n");
        AppendText(BoxText, size, used, JOB_MORE_FAILURES_FORMAT, more, more);
    }
}

// A job that lost files, or whose mod folder holds files it did not make,
// or that met files the mod cannot take away, says all of it once, in one
// box, after its last report; any other ends silently. The box names the
// paths as they are, whatever the code page: it is the wide one. Nothing
// is deleted.
static void OnJobFinished(JobResult* result) {
    JobStarted = 0;
    if (!result) return;
    SysError refusal = result->refused && result->problems ? result->problems->error : 0;
    uint32_t stale = result->lists.staleKnown ? result->lists.stale.count : 0;
    const size_t size = sizeof BoxText / sizeof BoxText[0];
    if (refusal == ENGINE_DATA_IN_INPUT || refusal == ENGINE_DATA_HOLDS_INPUT) {
        // Refused before anything was written (the Data folder met inside
        // an input, or an input folder standing in it): one box, as a
        // refusal before the job.
        char text[FOLDER_PATH_SIZE + 256];
        char data[FOLDER_PATH_SIZE + 8];
        if (!DataFolderPath(DestinationPath, data, sizeof data)) data[0] = '\0';
        snprintf(text, sizeof text, "%s\n%s", REFUSAL_DATA_OVERLAPS_INPUT_TEXT, data);
        Warn(text);
    } else if (result->failures > 0 || stale > 0 || result->removedFiles > 0) {
        size_t used = 0;
        BoxText[0] = L'\0';
        if (result->failures > 0) AppendFailures(result, &used);
        if (stale > 0) {
            if (used) AppendText(BoxText, size, &used, "\n\n");
            AppendText(BoxText, size, &used, JOB_STALE_FORMAT, stale, stale);
            AppendText(BoxText, size, &used, "\n");
            AppendPath(BoxText, size, &used, result->dataFolder);
            AppendListed(result, LIST_STALE, stale, &used);
            AppendText(BoxText, size, &used, "\n");
            AppendText(BoxText, size, &used, "%s", JOB_STALE_ADVICE);
        }
        if (result->removedFiles > 0) {
            if (used) AppendText(BoxText, size, &used, "\n\n");
            AppendText(BoxText, size, &used, JOB_REMOVED_FORMAT, result->removedFiles, result->removedFiles);
            AppendListed(result, LIST_REMOVED, result->removedFiles, &used);
        }
        WCHAR caption[64];
        MultiByteToWideChar(1252, 0, result->failures > 0 ? ERROR_CAPTION : NOTICE_CAPTION, -1, caption,
                            sizeof caption / sizeof caption[0]);
        Services.messageBoxW(MainWindow, BoxText, caption, MB_ICONWARNING);
    }
    ReleaseJobResult(result);
    free(result);
}

static void OnDestroy() {
    if (JobThreadHandle) CloseHandle(JobThreadHandle);
    JobThreadHandle = NULL;
    // The process ends without waiting for the job; what it was writing
    // must not stay behind as temporary files in the mod.
    if (JobStarted) AbandonJob();
    TearDownSurface();
    QuitCode = 0;
    PostQuitMessage(QuitCode);
    QuitFlag = 1;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: MainWindow = window; OnCreate(window); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_HELP: Services.messageBox(window, HELP_TEXT, HELP_CAPTION, MB_OK); return 0;
    case WM_COMMAND: OnCommand(wParam, lParam); return 0;
    case MSG_STATUS_READY: StatusCode = 1; return 0;
    case MSG_STATUS_ORIGINAL_INDEX: StatusCode = 2; return 0;
    case MSG_STATUS_MODDED_INDEX: StatusCode = 3; return 0;
    case MSG_STATUS_DEEP_SCAN: StatusCode = 4; return 0;
    case MSG_STATUS_CREATING_MOD: StatusCode = 5; return 0;
    case MSG_STATUS_IDLE: StatusCode = 0; return 0;
    case MSG_JOB_FINISHED: OnJobFinished((JobResult*)lParam); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
