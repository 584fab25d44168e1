#include "mainwindow.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "appstate.h"
#include "boxfit.h"
#include "display.h"
#include "folderchoice.h"
#include "job.h"
#include "joblists.h"
#include "jobbox.h"
#include "jobreports.h"
#include "messages.h"
#include "textconvert_win32.h"
#include "paths.h"
#include "questions.h"
#include "report.h"
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
HWND JobWord;

WINDOWINFO MainWindowInfo;
int JobStarted;
int QuitCode;

static HFONT ButtonFont;
static HFONT FieldFont;
static HFONT WordFont;
static HANDLE JobThreadHandle;
static DWORD JobThreadId;

enum : DWORD {
    PATH_FIELD_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL,  // 0x50800880
    BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER | BS_PUSHLIKE | BS_TOP,             // 0x50801400
    PROGRESS_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | PBS_VERTICAL | PBS_SMOOTH,     // 0x50010005
    // Shown only between a job's end and the next command; long paths
    // wrap rather than run off.
    WORD_STYLE = WS_CHILD | SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL,
};

// The word at a job's end lies below Create MOD, clear of the progress bar.
enum { WORD_X = 5, WORD_Y = 410, WORD_WIDTH = 470, WORD_FONT_HEIGHT = 15 };

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

// A control whose text is wide (a field showing a path as it is, the word
// at a job's end), with the program's own text (Windows-1252) to start with.
static HWND MakeWideControl(HWND parent, const ControlLayout& layout) {
    WCHAR className[16], text[128];
    MultiByteToWideChar(TEXTS_CODE_PAGE, 0, layout.className, -1, className, sizeof className / sizeof className[0]);
    MultiByteToWideChar(TEXTS_CODE_PAGE, 0, layout.text, -1, text, sizeof text / sizeof text[0]);
    return CreateWindowExW(0, className, text, layout.style, layout.x, layout.y, layout.width, layout.height, parent,
                           NULL, Instance, NULL);
}

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
        *Folders[i].field =
            MakeWideControl(window, {"EDIT", prompts[i], PATH_FIELD_STYLE, 5, 100 + 100 * i, fieldWidth, 30});
    for (int i = 0; i < 3; ++i)
        *Folders[i].browse = MakeControl(window, {"BUTTON", BROWSE_LABEL, BUTTON_STYLE, 350, 65 + 100 * i, 100, 30});
    CreateModButton = MakeControl(window, {"BUTTON", CREATE_MOD_LABEL, BUTTON_STYLE, 180, 375, 135, 30});
    EnableWindow(CreateModButton, FALSE);
    ProgressBar = MakeControl(window, {PROGRESS_CLASSA, NULL, PROGRESS_STYLE, 480, 0, 10, 400});
    SendMessageA(ProgressBar, PBM_SETBKCOLOR, 0, RGB(0, 0, 0));
    SendMessageA(ProgressBar, PBM_SETBARCOLOR, 0, RGB(255, 0, 0));
    // Made before the OpenGL child, as the other controls, so that it shows
    // over the scene; hidden until a job ends.
    RECT client = {};
    GetClientRect(window, &client);
    JobWord = MakeWideControl(window, {"STATIC", "", WORD_STYLE, WORD_X, WORD_Y, WORD_WIDTH,
                                       (int)client.bottom - WORD_Y - 2});
    WordFont = MakeControlFont(WORD_FONT_HEIGHT, FALSE);
    SendMessageA(JobWord, WM_SETFONT, (WPARAM)WordFont, FALSE);

    HWND fields[] = {OriginalField, ModdedField, DestinationField};
    for (HWND field : fields) SendMessageA(field, WM_SETFONT, (WPARAM)FieldFont, TRUE);
    HWND buttons[] = {OriginalBrowse, ModdedBrowse, DestinationBrowse, CreateModButton};
    for (HWND button : buttons) SendMessageA(button, WM_SETFONT, (WPARAM)ButtonFont, TRUE);
}

static void Warn(const char* text) {
    Services.messageBox(MainWindow, text, ERROR_CAPTION, MB_ICONWARNING);
}

static void ShowWideBox(const WCHAR* text, const char* caption) {
    WCHAR wideCaption[64];
    MultiByteToWideChar(TEXTS_CODE_PAGE, 0, caption, -1, wideCaption, sizeof wideCaption / sizeof wideCaption[0]);
    Services.messageBoxW(MainWindow, text, wideCaption, MB_ICONWARNING);
}

// A warning that names folders: the program's own text, each path (UTF-8,
// as chosen) on a line of its own, cut to the box's width, and the
// system's reason when there is one. Wide, so that every name shows as it
// is.
static void WarnNaming(const char* text, const char* const* paths, int count, const char* why) {
    static WCHAR box[4 * JOB_PATH_SIZE + 1024];
    BoxFit fit;
    bool measured = BeginBoxFit(MainWindow, &fit);
    WideText out = {box, sizeof box / sizeof box[0], 0, &fit};
    box[0] = L'\0';
    AppendText(&out, "%s", text);
    for (int i = 0; i < count; ++i) {
        AppendText(&out, "\n");
        AppendPath(&out, paths[i]);
    }
    if (why) {
        AppendText(&out, "\n(");
        AppendPath(&out, why);
        AppendText(&out, ")");
    }
    if (measured) EndBoxFit(&fit);
    ShowWideBox(box, ERROR_CAPTION);
}

static const char* RefusalText(FolderRefusalKind kind) {
    switch (kind) {
    case REFUSAL_EMPTY: return REFUSAL_EMPTY_TEXT;
    case REFUSAL_TOO_LONG: return REFUSAL_TOO_LONG_TEXT;
    case REFUSAL_UNUSABLE: return REFUSAL_UNUSABLE_TEXT;
    case REFUSAL_SAME_FOLDER: return REFUSAL_SAME_FOLDER_TEXT;
    case REFUSAL_NESTED: return REFUSAL_NESTED_TEXT;
    case REFUSAL_DATA_OVERLAPS_INPUT: return REFUSAL_DATA_OVERLAPS_INPUT_TEXT;
    case REFUSAL_DATA_BESIDE_INPUT: return REFUSAL_DATA_BESIDE_INPUT_TEXT;
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
// refusal is one box naming what is wrong and the path concerned, and for
// a refusal between two folders the other one too.
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
    const char* named[2] = {refusal.role >= 0 && refusal.role < 3 ? jobPaths[refusal.role] : "", nullptr};
    int count = refusal.kind == REFUSAL_EMPTY ? 0 : 1;
    // A refusal between two folders names both, as chosen, so that the
    // player sees how they meet.
    if (refusal.other >= 0 && refusal.other < 3) {
        named[1] = jobPaths[refusal.other];
        count = 2;
    }
    char data[JOB_PATH_SIZE + 8];
    bool aboutData = refusal.kind == REFUSAL_DATA_UNWRITABLE || refusal.kind == REFUSAL_DATA_OVERLAPS_INPUT ||
                     refusal.kind == REFUSAL_DATA_BESIDE_INPUT;
    if (aboutData && DataFolderPath(DestinationJobPath, data, sizeof data)) named[0] = data;
    char why[256] = "";
    if ((refusal.kind == REFUSAL_UNUSABLE || refusal.kind == REFUSAL_DATA_UNWRITABLE) && refusal.error)
        DescribeError(refusal.error, why, sizeof why);  // in UTF-8, as paths are
    WarnNaming(RefusalText(refusal.kind), named, count, why[0] ? why : nullptr);
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

// A folder chosen for two roles, written alike: the path, or null. The
// choices are compared as chosen (UTF-8), never as the code page renders
// them, which may make two folders look alike. An empty choice is left to
// the folder check.
static const char* ChosenTwice() {
    const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (const auto& pair : pairs) {
        const char* first = Folders[pair[0]].jobPath;
        if (first[0] && strcmp(first, Folders[pair[1]].jobPath) == 0) return first;
    }
    return nullptr;
}

static void StartJob() {
    // A second press before the job has ended starts nothing: the job's
    // state exists once.
    if (JobStarted) return;
    const char* twice = ChosenTwice();
    if (twice) {
        WarnNaming(DIFFERENT_FOLDERS_TEXT, &twice, 1, nullptr);
        return;
    }
    JobParameters* record = PrepareWindowJob();
    if (!record) return;
    // The mod's own Data folder chosen as the destination puts the mod in Data\Data.
    char data[JOB_PATH_SIZE + 8];
    if (NamedData(record->destinationPath) && DataFolderPath(record->destinationPath, data, sizeof data) &&
        !AskDataNamed(MainWindow, data)) {
        DiscardJobParameters(record);
        return;
    }
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
    // The word at a job's end stays until the player's next step.
    if (notification == 0 && control && control != JobWord) ShowWindow(JobWord, SW_HIDE);
    if (notification == 0 && control) BrowseFolderOf(control);

    if (FoldersReady == 0 && OriginalChosen == 1 && ModdedChosen == 1 && DestinationChosen == 1) {
        EnableWindow(CreateModButton, TRUE);
        SendMessageA(MainWindow, MSG_STATUS_READY, 0, 0);
        FoldersReady = 1;
    }

    if (notification == 0 && control && control == CreateModButton) StartJob();
}

// Room for the box's paths: ten of each list and the Data folder, each of
// up to PATH_BUFFER_SIZE - 1 units, and the texts.
static WCHAR BoxText[34 * PATH_BUFFER_SIZE];

// The word after a job that went well, in the window's own control (a
// screen reader reads it), over the scene, until the next command.
static void ShowJobWord(const JobResult* result) {
    static WCHAR word[PATH_BUFFER_SIZE + 512];
    JobDoneText(result, word, sizeof word / sizeof word[0]);
    SetWindowTextW(JobWord, word);
    ShowWindow(JobWord, SW_SHOWNA);
}

// A job that lost files, or whose mod folder holds files it did not make,
// or that met files the mod cannot take away, says all of it once, in one
// box that fits the screen, with what the mod holds; any other says what
// the mod holds in the window's word. Nothing is deleted.
static void OnJobFinished(JobResult* result) {
    JobStarted = 0;
    if (!result) return;
    if (result->declined) {
        // Stopped at its question: nothing was written, and the folders wait for another choice.
        ReleaseJobResult(result);
        free(result);
        if (FoldersReady) SendMessageA(MainWindow, MSG_STATUS_READY, 0, 0);
        return;
    }
    SysError refusal = result->refused && result->problems ? result->problems->error : 0;
    if (refusal == ENGINE_DATA_IN_INPUT || refusal == ENGINE_DATA_HOLDS_INPUT) {
        // Refused before anything was written (the Data folder met inside
        // an input, or an input folder standing in it): one box, as a
        // refusal before the job.
        char data[JOB_PATH_SIZE + 8];
        if (!DataFolderPath(DestinationJobPath, data, sizeof data)) data[0] = '\0';
        const char* named = data;
        WarnNaming(REFUSAL_DATA_OVERLAPS_INPUT_TEXT, &named, 1, nullptr);
    } else if (JobNeedsBox(result)) {
        BoxFit fit;
        bool measured = BeginBoxFit(MainWindow, &fit);
        JobBoxText(result, &fit, BoxText, sizeof BoxText / sizeof BoxText[0]);
        if (measured) EndBoxFit(&fit);
        ShowWideBox(BoxText, result->failures > 0 ? ERROR_CAPTION : NOTICE_CAPTION);
    } else if (!result->refused) {
        ShowJobWord(result);
    }
    ReleaseJobResult(result);
    free(result);
}

// The word at a job's end in the scene's colours, as the labels over it.
static LRESULT OnStaticColour(HDC dc, HWND control, WPARAM wParam, LPARAM lParam) {
    if (control != JobWord) return DefWindowProcA(MainWindow, WM_CTLCOLORSTATIC, wParam, lParam);
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkColor(dc, RGB(0, 0, 0));
    return (LRESULT)GetStockObject(BLACK_BRUSH);
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
    case MSG_STATUS_READY: StatusCode = STATUS_READY; return 0;
    case MSG_STATUS_ORIGINAL_INDEX: StatusCode = STATUS_ORIGINAL_INDEX; return 0;
    case MSG_STATUS_MODDED_INDEX: StatusCode = STATUS_MODDED_INDEX; return 0;
    case MSG_STATUS_DEEP_SCAN: StatusCode = STATUS_DEEP_SCAN; return 0;
    case MSG_STATUS_CREATING_MOD: StatusCode = STATUS_CREATING_MOD; return 0;
    case MSG_STATUS_IDLE: StatusCode = STATUS_IDLE; return 0;
    case MSG_JOB_FINISHED: OnJobFinished((JobResult*)lParam); return 0;
    case WM_CTLCOLORSTATIC: return OnStaticColour((HDC)wParam, (HWND)lParam, wParam, lParam);
    case MSG_JOB_QUESTION: return AskTreesApart(window, (const JobQuestion*)lParam) ? 1 : 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
