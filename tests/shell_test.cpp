// The main window's procedure in this process, with the folder browser,
// the message boxes and thread creation replaced by fakes: what the user
// sees and what starts, for each command.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "appstate.h"
#include "display.h"
#include "jobreports.h"
#include "mainwindow.h"
#include "messages.h"
#include "program.h"
#include "services.h"
#include "support.h"

namespace {

struct Box {
    HWND owner;
    std::string text, caption;  // as given; UTF-8 for the wide box
    UINT type;
    bool wide;
};

struct Browse {
    HWND owner;
    std::string title;
    UINT flags;
    char* displayName;
};

std::deque<const char*> Answers;  // what the next browses choose, UTF-8; null: cancelled
std::vector<Browse> Browses;
std::vector<Box> Boxes;
std::deque<int> BoxAnswers;  // what the next boxes answer; IDOK when none is left
int FreedLists;
int ThreadsStarted;
std::vector<UINT> Sent;  // messages sent to the main window, in order
HHOOK Hook;
char ItemList[64][8];    // stand-ins for the browser's item lists
int NextItem;
std::string ItemPaths[64];

PIDLIST_ABSOLUTE WINAPI FakeBrowse(LPBROWSEINFOA info) {
    Browses.push_back({info->hwndOwner, info->lpszTitle, info->ulFlags, info->pszDisplayName});
    const char* answer = Answers.empty() ? nullptr : Answers.front();
    if (!Answers.empty()) Answers.pop_front();
    if (!answer) return nullptr;
    // The real browser leaves the display name in the buffer.
    strcpy(info->pszDisplayName, "display name");
    int item = NextItem++ % 64;
    ItemPaths[item] = answer;
    return (PIDLIST_ABSOLUTE)ItemList[item];
}

std::wstring Wide(const std::string& utf8) {
    wchar_t wide[MAX_PATH] = L"";
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide, MAX_PATH);
    return wide;
}

std::string Utf8(const wchar_t* wide) {
    std::string utf8(3 * wcslen(wide) + 1, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], (int)utf8.size(), nullptr, nullptr) - 1);
    return utf8;
}

// As the real call does: the path in the code page, letters it lacks
// rendered by best fit or as "?".
BOOL WINAPI FakePath(PCIDLIST_ABSOLUTE list, LPSTR path) {
    const std::string& chosen = ItemPaths[((const char(*)[8])list - ItemList)];
    WideCharToMultiByte(CP_ACP, 0, Wide(chosen).c_str(), -1, path, MAX_PATH, nullptr, nullptr);
    return !chosen.empty();
}

BOOL WINAPI FakePathW(PCIDLIST_ABSOLUTE list, LPWSTR path) {
    const std::string& chosen = ItemPaths[((const char(*)[8])list - ItemList)];
    wcscpy(path, Wide(chosen).c_str());
    return !chosen.empty();
}

void WINAPI FakeFree(LPVOID) { ++FreedLists; }

int NextAnswer() {
    if (BoxAnswers.empty()) return IDOK;
    int answer = BoxAnswers.front();
    BoxAnswers.pop_front();
    return answer;
}

int WINAPI FakeBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Boxes.push_back({owner, text ? text : "", caption ? caption : "", type, false});
    return NextAnswer();
}

int WINAPI FakeBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    Boxes.push_back({owner, Utf8(text ? text : L""), Utf8(caption ? caption : L""), type, true});
    return NextAnswer();
}

HANDLE WINAPI CountingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                   LPVOID parameter, DWORD flags, LPDWORD id) {
    ++ThreadsStarted;
    return CreateThread(security, stack, start, parameter, flags, id);
}

LRESULT CALLBACK WatchSent(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* sent = (const CWPSTRUCT*)lParam;
    if (code == HC_ACTION && sent->hwnd == MainWindow) Sent.push_back(sent->message);
    return CallNextHookEx(Hook, code, wParam, lParam);
}

std::vector<WPARAM> Positions;  // positions sent to the progress bar

LRESULT CALLBACK WatchPositions(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* sent = (const CWPSTRUCT*)lParam;
    if (code == HC_ACTION && sent->hwnd == ProgressBar && sent->message == PBM_SETPOS) Positions.push_back(sent->wParam);
    return CallNextHookEx(NULL, code, wParam, lParam);
}

int Count(UINT message) {
    int n = 0;
    for (UINT m : Sent) n += m == message;
    return n;
}

void Press(HWND control) {
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), (LPARAM)control);
}

std::string Text(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Pumps messages until the job's end has been taken in.
bool AwaitJob() {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000;) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        if (!JobStarted) return true;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    return false;
}

class Shell : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool registered = RegisterWindowClasses(GetModuleHandleA(NULL));  // once per process
        ASSERT_TRUE(registered);
    }

    void SetUp() override {
        OriginalPath[0] = ModdedPath[0] = DestinationPath[0] = '\0';
        OriginalJobPath[0] = ModdedJobPath[0] = DestinationJobPath[0] = '\0';
        OriginalChosen = ModdedChosen = DestinationChosen = 0;
        FoldersReady = StatusCode = QuitFlag = 0;
        Answers.clear();
        Browses.clear();
        Boxes.clear();
        BoxAnswers.clear();
        Sent.clear();
        FreedLists = ThreadsStarted = 0;
        Services = {FakeBrowse, FakePath, FakePathW, FakeFree, FakeBox, FakeBoxW, RealServices.workArea,
                    CountingCreateThread};
        ASSERT_TRUE(CreateWindows());
        Hook = SetWindowsHookExA(WH_CALLWNDPROC, WatchSent, NULL, GetCurrentThreadId());
    }

    void TearDown() override {
        UnhookWindowsHookEx(Hook);
        if (IsWindow(MainWindow)) DestroyWindow(MainWindow);
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {}
        Services = RealServices;
    }

    void Choose(const char* original, const char* modded, const char* destination) {
        Answers = {original, modded, destination};
        Press(OriginalBrowse);
        Press(ModdedBrowse);
        Press(DestinationBrowse);
    }
};

TEST_F(Shell, WindowAndControlsAsLaidOut) {
    EXPECT_EQ(GetWindowLongA(MainWindow, GWL_STYLE) & 0x00CF0000, 0x00C80000);
    EXPECT_EQ(GetWindowLongA(MainWindow, GWL_EXSTYLE) & 0x700, 0x700);
    RECT outer;
    GetWindowRect(MainWindow, &outer);
    EXPECT_EQ(outer.right - outer.left, 500);
    EXPECT_EQ(outer.bottom - outer.top, 500);
    int border = (int)MainWindowInfo.cxWindowBorders;
    EXPECT_EQ(SurfaceWidth, 500 - 2 * border);
    EXPECT_EQ(SurfaceHeight, 500 - 2 * (int)MainWindowInfo.cyWindowBorders - GetSystemMetrics(SM_CYCAPTION));
    EXPECT_EQ(GetWindowLongA(SurfaceWindow, GWL_STYLE) & 0xFFFF0000, 0x44000000);

    struct Expected {
        HWND control;
        const char* className;
        const char* text;
        LONG style;
        int x, y, width, height;
    } controls[] = {
        {OriginalField, "Edit", "Path to the backup of the Kessarandolin Original DATA folder", 0x50800880, 5, 100,
         480 - 2 * border, 30},
        {ModdedField, "Edit", "Path to the Kessarandolin Modded DATA folder", 0x50800880, 5, 200, 480 - 2 * border, 30},
        {DestinationField, "Edit", "Destination mod folder", 0x50800880, 5, 300, 480 - 2 * border, 30},
        {OriginalBrowse, "Button", "BROWSE", 0x50801400, 350, 65, 100, 30},
        {ModdedBrowse, "Button", "BROWSE", 0x50801400, 350, 165, 100, 30},
        {DestinationBrowse, "Button", "BROWSE", 0x50801400, 350, 265, 100, 30},
        {CreateModButton, "Button", "Create MOD", 0x58801400, 180, 375, 135, 30},  // WS_DISABLED
        {ProgressBar, "msctls_progress32", "", 0x50010005, 480, 0, 10, 400},
    };
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.text);
        char className[64];
        GetClassNameA(c.control, className, sizeof className);
        EXPECT_STRCASEEQ(className, c.className);
        EXPECT_EQ(Text(c.control), c.text);
        // Wine's EDIT draws its own frame in place of WS_BORDER.
        LONG mask = strcmp(c.className, "Edit") == 0 ? ~(LONG)WS_BORDER : ~0L;
        EXPECT_EQ(GetWindowLongA(c.control, GWL_STYLE) & mask, c.style & mask);
        EXPECT_EQ(GetDlgCtrlID(c.control), 0);
        RECT r;
        GetWindowRect(c.control, &r);
        MapWindowPoints(HWND_DESKTOP, MainWindow, (POINT*)&r, 2);
        EXPECT_EQ(r.left, c.x);
        EXPECT_EQ(r.top, c.y);
        EXPECT_EQ(r.right - r.left, c.width);
        EXPECT_EQ(r.bottom - r.top, c.height);
        HFONT font = (HFONT)SendMessageA(c.control, WM_GETFONT, 0, 0);
        if (c.control == ProgressBar) continue;
        LOGFONTA logFont;
        ASSERT_TRUE(GetObjectA(font, sizeof logFont, &logFont));
        EXPECT_STREQ(logFont.lfFaceName, "Arial");
        EXPECT_EQ(logFont.lfWeight, 800);
        EXPECT_EQ(logFont.lfQuality, ANTIALIASED_QUALITY);
        bool field = strcmp(c.className, "Edit") == 0;
        EXPECT_EQ(logFont.lfHeight, field ? 18 : 24);
        EXPECT_EQ(logFont.lfItalic != 0, field);
    }
    EXPECT_FALSE(IsWindowEnabled(CreateModButton));
    EXPECT_EQ(SendMessageA(ProgressBar, PBM_GETBKCOLOR, 0, 0), (LRESULT)RGB(0, 0, 0));
    EXPECT_EQ(SendMessageA(ProgressBar, PBM_GETBARCOLOR, 0, 0), (LRESULT)RGB(255, 0, 0));
}

TEST_F(Shell, ReadinessComesOnceAndAnEmptyChoiceTakesItBack) {
    Choose("C:\\a", "C:\\b", nullptr);
    EXPECT_EQ(Count(MSG_STATUS_READY), 0);
    EXPECT_FALSE(IsWindowEnabled(CreateModButton));
    Answers = {"C:\\c"};
    Press(DestinationBrowse);
    EXPECT_EQ(Count(MSG_STATUS_READY), 1);
    EXPECT_EQ(StatusCode, 1);
    EXPECT_EQ(FoldersReady, 1);
    EXPECT_TRUE(IsWindowEnabled(CreateModButton));
    EXPECT_EQ(Text(DestinationField), "C:\\c");
    EXPECT_STREQ(DestinationPath, "C:\\c");
    Answers = {"C:\\d"};
    Press(ModdedBrowse);
    SendMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(0, EN_SETFOCUS), (LPARAM)OriginalField);
    EXPECT_EQ(Count(MSG_STATUS_READY), 1);

    // The three browsers: titles, flags, owners, the path buffers as their
    // display-name buffers; every item list returned is freed.
    ASSERT_EQ(Browses.size(), 5u);
    const char* titles[3] = {"original data folder", "modded data folder", "destination data folder"};
    HWND owners[3] = {MainWindow, MainWindow, NULL};
    char* buffers[3] = {OriginalPath, ModdedPath, DestinationPath};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Browses[i].title, titles[i]);
        EXPECT_EQ(Browses[i].flags, 0x50u);
        EXPECT_EQ(Browses[i].owner, owners[i]);
        EXPECT_EQ(Browses[i].displayName, buffers[i]);
    }
    EXPECT_EQ(FreedLists, 4);

    // A job's phase shows, then a cancelled choice clears it at once.
    SendMessageA(MainWindow, MSG_STATUS_DEEP_SCAN, 0, 0);
    EXPECT_EQ(StatusCode, 4);
    Answers = {nullptr};
    Press(OriginalBrowse);
    EXPECT_EQ(StatusCode, 0);
    EXPECT_EQ(FoldersReady, 0);
    EXPECT_EQ(OriginalChosen, 0);
    EXPECT_EQ(OriginalPath[0], '\0');
    EXPECT_EQ(Text(OriginalField), "");
    EXPECT_FALSE(IsWindowEnabled(CreateModButton));
    EXPECT_EQ(FreedLists, 4);
    // A choice that is no folder on disk counts as cancelled.
    Answers = {""};
    Press(ModdedBrowse);
    EXPECT_EQ(ModdedChosen, 0);
    EXPECT_EQ(ModdedPath[0], '\0');
}

TEST_F(Shell, StatusMessagesSetTheStatusAnd0x404IsLeftAlone) {
    UINT messages[6] = {MSG_STATUS_IDLE, MSG_STATUS_READY, MSG_STATUS_ORIGINAL_INDEX, MSG_STATUS_MODDED_INDEX,
                        MSG_STATUS_DEEP_SCAN, MSG_STATUS_CREATING_MOD};
    for (int code = 5; code >= 0; --code) {
        EXPECT_EQ(SendMessageA(MainWindow, messages[code], 7, 9), 0);
        EXPECT_EQ(StatusCode, code);
        EXPECT_EQ(StatusMessage(code), messages[code]);
    }
    SendMessageA(MainWindow, MSG_STATUS_READY, 0, 0);
    SendMessageA(MainWindow, WM_APP + 0x404, 0, 0);
    EXPECT_EQ(StatusCode, 1);
}

TEST_F(Shell, HelpShowsTheWholeTextByteForByte) {
    SendMessageA(MainWindow, WM_HELP, 0, 0);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].owner, MainWindow);
    EXPECT_EQ(Boxes[0].caption, "---HELP---");
    EXPECT_EQ(Boxes[0].type, (UINT)MB_OK);
    const std::string& text = Boxes[0].text;
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a of the 24 lines in Windows-1252
    for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ull;
    EXPECT_EQ(text.size(), 1317u);
    EXPECT_EQ(hash, 0x6e690ecc6a9b43e8ull);
    EXPECT_EQ(text.substr(65, 65), "                 KESSARANDOLIN MOD EXTRACTOR                    \n");
    EXPECT_NE(text.find("d\xE9tecte"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(Shell, CreateModRefusesUnusableFoldersWithOneBox) {
    TempDir dir;
    CreateDirectoryA((dir / "o").c_str(), NULL);
    CreateDirectoryA((dir / "m").c_str(), NULL);
    std::string o = dir / "o", m = dir / "m", d = dir / "d";
    // Every refusal names its folders as they are: the boxes are wide.
    const std::string different = "s\xC3\xA9lectionnez des repertoires diff\xC3\xA9rents\nselect different folders\n";
    struct Case {
        std::string original, modded, destination;
        std::string text;  // the box's text
    } cases[] = {
        {o, m, o, different + o},
        {o, o, d, different + o},
        {o, m, m, different + m},
        // Differs only in letter case: not equal byte for byte, but the
        // folder check sees the same folder, and names it both ways.
        {o, dir / "O", d, "le m\xC3\xAAme r\xC3\xA9pertoire est choisi deux fois\nthe same folder is chosen twice\n" +
                             dir / "O" + "\n" + o},
        {o, dir / "gone", d, "r\xC3\xA9pertoire introuvable ou inutilisable\nfolder not found or unusable\n" + dir / "gone\n("},
        {o, dir / "o\\sub", d, "un r\xC3\xA9pertoire est dans l'autre\none folder lies inside the other\n" +
                                   dir / "o\\sub" + "\n" + o},
        {o, m, dir / "o\\sub",
         "le r\xC3\xA9pertoire Data de la cible touche un r\xC3\xA9pertoire lu\n"
         "the target's Data folder is, holds or lies inside a folder that is only read\n" +
             dir / "o\\sub\\Data\n" + o},
        // Data a file: the destination cannot hold the mod, named by its Data.
        {o, m, dir / "d-file", "le r\xC3\xA9pertoire Data de la cible ne peut pas \xC3\xAAtre \xC3\xA9" "crit\n"
                               "the target's Data folder cannot be made or written\n" + dir / "d-file\\Data\n("},
        // Another job writes into the destination: the box names it.
        {o, m, dir / "busy", "une autre extraction \xC3\xA9" "crit d\xC3\xA9j\xC3\xA0 dans la cible, r\xC3\xA9" "essayez quand elle "
                             "sera termin\xC3\xA9" "e\nanother extraction is writing into the target; try again once it "
                             "has ended\n" + dir / "busy"},
    };
    WriteFile(dir / "d-file\\Data", "a file");
    CreateDirectoryA((dir / "o\\sub").c_str(), NULL);
    CreateDirectoryA((dir / "busy").c_str(), NULL);
    FileHandle busy = INVALID_FILE;
    ASSERT_EQ(0u, Sys.lockFolder((dir / "busy").c_str(), &busy));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.modded + " " + c.destination);
        Boxes.clear();
        Choose(c.original.c_str(), c.modded.c_str(), c.destination.c_str());
        Press(CreateModButton);
        EXPECT_EQ(ThreadsStarted, 0);
        if (ThreadsStarted) {
            ASSERT_TRUE(AwaitJob());
        }
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].caption, "erreur/error");
        EXPECT_EQ(Boxes[0].type, (UINT)MB_ICONWARNING);
        EXPECT_EQ(Boxes[0].owner, MainWindow);
        EXPECT_TRUE(Boxes[0].wide);
        EXPECT_EQ(Boxes[0].text.substr(0, c.text.size()), c.text);
    }
    Sys.unlockFolder(busy);

    // A folder cleared during a job leaves Create MOD enabled at the job's
    // end; an empty path then starts nothing either.
    Boxes.clear();
    Choose(o.c_str(), m.c_str(), d.c_str());
    OriginalPath[0] = OriginalJobPath[0] = '\0';
    Press(CreateModButton);
    EXPECT_EQ(ThreadsStarted, 0);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].text, "s\xC3\xA9lectionnez les trois r\xC3\xA9pertoires\nselect all three folders");
}

TEST_F(Shell, OneJobAtATimeAndItsFailuresInOneBox) {
    JobTrees trees;
    WriteFile(trees.original + "\\same.txt", "same");
    WriteFile(trees.modded + "\\same.txt", "same");
    for (int i = 0; i < 12; ++i) WriteFile(trees.modded + "\\new" + std::to_string(i) + ".txt", "new");
    CreateDirectoryA(trees.destination.c_str(), NULL);
    Choose(trees.original.c_str(), trees.modded.c_str(), trees.destination.c_str());

    // Two presses before the job has begun: one job.
    Press(CreateModButton);
    Press(CreateModButton);
    EXPECT_EQ(ThreadsStarted, 1);
    ASSERT_TRUE(AwaitJob());
    EXPECT_TRUE(Boxes.empty()) << Boxes.front().text;
    EXPECT_EQ(ListTree(trees.destination + "\\Data").size(), 12u);
    std::vector<UINT> statuses;
    for (UINT m : Sent)
        if (m >= MSG_STATUS_READY && m <= MSG_STATUS_IDLE) statuses.push_back(m);
    std::vector<UINT> expected = {MSG_STATUS_READY, MSG_STATUS_ORIGINAL_INDEX, MSG_STATUS_MODDED_INDEX,
                                  MSG_STATUS_DEEP_SCAN, MSG_STATUS_CREATING_MOD, MSG_STATUS_IDLE};
    EXPECT_EQ(statuses, expected);
    EXPECT_EQ(StatusCode, 0);
    EXPECT_EQ(JobRunning.load(), 0);
    EXPECT_TRUE(IsWindowEnabled(CreateModButton));
    EXPECT_EQ(SendMessageA(ProgressBar, PBM_GETRANGE, FALSE, 0), 12);
    EXPECT_EQ(SendMessageA(ProgressBar, PBM_GETPOS, 0, 0), 0);

    // A second job whose copies fail: one box, the count, ten paths. The
    // targets no longer hold their files' bytes, so each is copied again.
    for (int i = 0; i < 12; ++i) WriteFile(trees.destination + "\\Data\\new" + std::to_string(i) + ".txt", "other");
    FaultInjector faults;
    faults.Fail(FAULT_COPY, 1, ERROR_ACCESS_DENIED, true);
    Press(CreateModButton);
    EXPECT_EQ(ThreadsStarted, 2);
    ASSERT_TRUE(AwaitJob());
    ASSERT_EQ(Boxes.size(), 1u);
    const std::string& text = Boxes[0].text;
    EXPECT_EQ(Boxes[0].caption, "erreur/error");
    EXPECT_TRUE(Boxes[0].wide);
    EXPECT_EQ(text.substr(0, text.find('\n')), "12 fichier(s) ou r\xC3\xA9pertoire(s) en \xC3\xA9" "chec, le mod est incomplet");
    EXPECT_NE(text.find("\n12 path(s) failed, the mod is incomplete\n"), std::string::npos);
    size_t named = 0;  // by the target, which failed
    for (size_t at = text.find(trees.destination + "\\Data\\new"); at != std::string::npos;
         at = text.find(trees.destination + "\\Data\\new", at + 1))
        ++named;
    EXPECT_EQ(named, 10u);
    EXPECT_NE(text.find("\xE2\x80\xA6 and 2 more"), std::string::npos);

    // A job refused for its Data folder met inside an input (here a
    // junction-like folder of the modded tree that is the destination):
    // one box, as the refusals before a job, and nothing written.
    Boxes.clear();
    std::filesystem::remove_all(trees.destination + "\\Data");
    {
        FakeJunction junction(trees.modded, trees.destination);
        Press(CreateModButton);
        ASSERT_TRUE(AwaitJob());
    }
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].text, "le r\xC3\xA9pertoire Data de la cible touche un r\xC3\xA9pertoire lu\n"
                             "the target's Data folder is, holds or lies inside a folder that is only read\n" +
                                 trees.destination + "\\Data");
    EXPECT_FALSE(Exists(trees.destination + "\\Data"));
}

// The player's road: a combined mod extracted, one mod taken out of the
// game, the mod extracted again into the same folder. What the second job
// did not make rides along in the mod, so the box names it; so does what
// a mod cannot carry (files gone from the game's folder). Nothing is
// deleted, and a job with nothing to say shows no box.
TEST_F(Shell, WhatTheModFolderHoldsThatTheJobDidNotMakeIsNamedInTheOneBox) {
    JobTrees trees;
    WriteFile(trees.original + "\\same.txt", "same");
    WriteFile(trees.modded + "\\same.txt", "same");
    WriteFile(trees.modded + "\\kept.esp", "kept mod");
    const char* swordMod[] = {"scripts\\main.lua", "meshes\\weapons\\sword.nif", "textures\\sword.dds"};
    for (const char* file : swordMod) WriteFile(trees.modded + "\\" + file, "sword mod");
    Choose(trees.original.c_str(), trees.modded.c_str(), trees.destination.c_str());
    Press(CreateModButton);
    ASSERT_TRUE(AwaitJob());
    EXPECT_TRUE(Boxes.empty()) << "an empty destination: " << Boxes.front().text;
    Press(CreateModButton);
    ASSERT_TRUE(AwaitJob());
    EXPECT_TRUE(Boxes.empty()) << "only files the job rewrites: " << Boxes.front().text;

    for (const char* file : swordMod) ASSERT_TRUE(DeleteFileA((trees.modded + "\\" + file).c_str()));
    Press(CreateModButton);
    ASSERT_TRUE(AwaitJob());
    ASSERT_EQ(Boxes.size(), 1u);
    std::string text = Boxes[0].text;
    EXPECT_TRUE(Boxes[0].wide);
    EXPECT_EQ(Boxes[0].caption, "attention/notice");
    EXPECT_EQ(text, "3 fichier(s) du r\xC3\xA9pertoire Data ne viennent pas de cette extraction et restent dans le mod\n"
                    "3 file(s) in the Data folder did not come from this job and ride along in the mod\n" +
                        trees.destination + "\\Data\n"
                        "    meshes\\weapons\\sword.nif\n    scripts\\main.lua\n    textures\\sword.dds\n"
                        "extrayez dans un r\xC3\xA9pertoire vide, ou supprimez-les \xC3\xA0 la main (rien n'est supprim\xC3\xA9)\n"
                        "extract into an empty folder, or remove them by hand (nothing is deleted)\n\n"
                        "extraction termin\xC3\xA9" "e : 1 nouveau(x), 0 modifi\xC3\xA9(s), 1 d\xC3\xA9j\xC3\xA0 en place\n"
                        "extraction done: 1 new, 0 changed, 1 already in place\n" +
                        trees.destination + "\\Data");
    EXPECT_EQ(ListTree(trees.destination + "\\Data").size(), 4u) << "nothing is deleted";

    // Files of the backup gone from the game, and a copy that fails (of a
    // file changed since, so that its target is no longer in place): all
    // in the one box.
    WriteFile(trees.original + "\\gone.txt", "gone");
    WriteFile(trees.modded + "\\kept.esp", "kept mod, changed");
    Boxes.clear();
    {
        FaultInjector faults;
        faults.Fail(FAULT_COPY, 1, ERROR_ACCESS_DENIED, true);
        Press(CreateModButton);
        ASSERT_TRUE(AwaitJob());
    }
    ASSERT_EQ(Boxes.size(), 1u);
    text = Boxes[0].text;
    EXPECT_EQ(Boxes[0].caption, "erreur/error");
    size_t failed = text.find("1 path(s) failed"), stale = text.find("\n\n3 fichier(s) du r\xC3\xA9pertoire Data"),
           removed = text.find("\n\n1 fichier(s) de la sauvegarde manquent");
    EXPECT_TRUE(failed < stale && stale < removed && removed != std::string::npos) << text;
    EXPECT_NE(text.find("a mod cannot carry a removal\n    gone.txt"), std::string::npos) << text;
}

// The two most common mistakes: the backup's parent chosen instead of its
// DATA folder (the trees share no path), asked by the job once both are
// indexed; and the mod's own Data folder chosen as the destination, asked
// before the job. No stops with nothing written and the window ready
// again; Yes goes on.
TEST_F(Shell, ALikelyMistakeIsAskedOnceBeforeAnythingIsWritten) {
    JobTrees apart;
    for (const char* name : {"a.dat", "b.dat", "c.dat"}) {
        WriteFile(apart.original + "\\DATA\\" + name, "old");
        WriteFile(apart.modded + "\\" + name, "new");
    }
    Choose(apart.original.c_str(), apart.modded.c_str(), apart.destination.c_str());
    const UINT yesNo = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "going on" : "stopping");
        Boxes.clear();
        BoxAnswers = {answer};
        Press(CreateModButton);
        ASSERT_TRUE(AwaitJob());
        ASSERT_GE(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].type, yesNo);
        EXPECT_EQ(Boxes[0].owner, MainWindow);
        EXPECT_EQ(Boxes[0].caption, "attention/notice");
        const std::string& text = Boxes[0].text;
        EXPECT_EQ(text.substr(0, text.find('\n')),
                  "0 fichier(s) sur les 3 de la sauvegarde se retrouvent dans le jeu modd\xC3\xA9 : "
                  "un r\xC3\xA9pertoire est peut-\xC3\xAAtre choisi un niveau trop haut ou trop bas");
        EXPECT_NE(text.find("\nla sauvegarde contient un r\xC3\xA9pertoire, DATA\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\nthe backup holds one folder, DATA\n"
                            "the modded folder holds 3 files: a.dat, b.dat, c.dat\n\ncontinuer ? / go on?"),
                  std::string::npos) << text;
        EXPECT_EQ(StatusCode, answer == IDYES ? 0 : 1);
        EXPECT_TRUE(IsWindowEnabled(CreateModButton));
    }
    // Stopped: nothing written, no other box. Gone on: the mod, and the
    // box that says the backup's files are gone from the modded folder.
    EXPECT_EQ(ListTree(apart.destination + "\\Data"), (std::vector<std::string>{"a.dat", "b.dat", "c.dat"}));
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(ThreadsStarted, 2);

    JobTrees named;
    named.Both("a.dat", "old", "new");
    std::string destination = named.dir / "dAtA";
    Choose(named.original.c_str(), named.modded.c_str(), destination.c_str());
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "going on" : "stopping");
        Boxes.clear();
        BoxAnswers = {answer};
        Press(CreateModButton);
        ASSERT_TRUE(AwaitJob());
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].type, yesNo);
        EXPECT_EQ(Boxes[0].text, "le r\xC3\xA9pertoire cible s'appelle d\xC3\xA9j\xC3\xA0 Data : le mod sera cr\xC3\xA9\xC3\xA9 dans\n"
                                 "the destination folder is already named Data: the mod will be made in\n" +
                                     destination + "\\Data\ncontinuer ? / go on?");
        EXPECT_EQ(ThreadsStarted, answer == IDYES ? 3 : 2);
    }
    EXPECT_EQ(ListTree(destination), std::vector<std::string>{"Data/a.dat"});
}

TEST_F(Shell, TheJobReadsTheChosenFoldersNotTheirCodePageRendering) {
    // A Western code page renders "\xC5\x81\xC3\xB3" "d\xC5\xBA" as "L\xC3\xB3" "dz", and a folder of
    // that name stands beside it, holding other trees.
    TempDir dir;
    std::string chosen = dir / "\xC5\x81\xC3\xB3" "d\xC5\xBA", rendering = dir / "L\xC3\xB3" "dz";
    for (const std::string& root : {chosen, rendering}) {
        WriteFile(root + "\\original\\same.txt", "same");
        WriteFile(root + "\\modded\\same.txt", root == chosen ? "same" : "other");
        WriteFile(root + "\\original\\changed.txt", "old");
        WriteFile(root + "\\modded\\changed.txt", root == chosen ? "new" : "old");
    }
    const std::string added = "\xED\x95\x9C\xEA\xB5\xAD\xF0\x9F\x98\x80.txt";  // 한국😀.txt
    WriteFile(chosen + "\\modded\\" + added, "added");
    std::string original = chosen + "\\original", modded = chosen + "\\modded";
    std::string destination = chosen + "\\\xD0\xA6\xD0\xB5\xD0\xBB\xD1\x8C";  // Цель
    Choose(original.c_str(), modded.c_str(), destination.c_str());
    EXPECT_NE(std::string(OriginalPath), original);  // the code page's rendering
    EXPECT_EQ(std::string(OriginalJobPath), original);
    Press(CreateModButton);
    ASSERT_TRUE(AwaitJob());
    EXPECT_TRUE(Boxes.empty()) << Boxes.front().text;
    EXPECT_EQ(ListTree(destination + "\\Data"), (std::vector<std::string>{"changed.txt", added}));
    EXPECT_EQ(ReadFile(destination + "\\Data\\changed.txt"), "new");
    EXPECT_EQ(ReadFile(destination + "\\Data\\" + added), "added");
    EXPECT_EQ(ListTree(rendering).size(), 4u);

    // The failure box names the path as it is (the target's, which failed),
    // once the target no longer holds the file's bytes.
    WriteFile(destination + "\\Data\\" + added, "other");
    FaultInjector faults;
    faults.Fail(FAULT_COPY, 1, ERROR_ACCESS_DENIED, true);
    Press(CreateModButton);
    ASSERT_TRUE(AwaitJob());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].wide);
    EXPECT_NE(Boxes[0].text.find("\n" + destination + "\\Data\\" + added + "\n"), std::string::npos) << Boxes[0].text;
}

bool Shown(HWND control) { return (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0; }

std::string WideTextOf(HWND control) {
    wchar_t text[2048] = L"";
    GetWindowTextW(control, text, 2048);
    return Utf8(text);
}

// The player's road once more, as a new player sees it: a job that went
// well says what the mod holds and where, without a box, until the next
// command; a job with nothing to copy says so; a job that leaves stale
// files keeps its one box, which says what the mod holds too.
TEST_F(Shell, EveryJobEndsWithAWordOrItsOneBox) {
    JobTrees trees;
    WriteFile(trees.original + "\\same.txt", "same");
    WriteFile(trees.modded + "\\same.txt", "same");
    WriteFile(trees.original + "\\changed.txt", "old");
    WriteFile(trees.modded + "\\changed.txt", "new");
    WriteFile(trees.modded + "\\new1.txt", "new");
    WriteFile(trees.modded + "\\new2.txt", "new");
    Choose(trees.original.c_str(), trees.modded.c_str(), trees.destination.c_str());
    EXPECT_FALSE(Shown(JobWord));
    Press(CreateModButton);
    ASSERT_TRUE(AwaitJob());
    EXPECT_TRUE(Boxes.empty()) << Boxes.front().text;
    EXPECT_TRUE(Shown(JobWord));
    const std::string data = trees.destination + "\\Data";
    EXPECT_EQ(WideTextOf(JobWord), "extraction termin\xC3\xA9" "e : 2 nouveau(x), 1 modifi\xC3\xA9(s), 0 d\xC3\xA9j\xC3\xA0 en place\n"
                                   "extraction done: 2 new, 1 changed, 0 already in place\n" + data);
    // Over the scene, below Create MOD and clear of the progress bar.
    RECT word, button, bar, client;
    GetWindowRect(JobWord, &word);
    GetWindowRect(CreateModButton, &button);
    GetWindowRect(ProgressBar, &bar);
    MapWindowPoints(HWND_DESKTOP, MainWindow, (POINT*)&word, 2);
    MapWindowPoints(HWND_DESKTOP, MainWindow, (POINT*)&button, 2);
    MapWindowPoints(HWND_DESKTOP, MainWindow, (POINT*)&bar, 2);
    GetClientRect(MainWindow, &client);
    EXPECT_GE(word.top, button.bottom);
    EXPECT_LE(word.right, bar.left);
    EXPECT_LE(word.bottom, client.bottom);
    EXPECT_GE(word.bottom - word.top, 45) << "room for three lines";

    // The next command takes the word away.
    Answers = {trees.destination.c_str()};
    Press(DestinationBrowse);
    EXPECT_FALSE(Shown(JobWord));

    // Nothing new or changed: nothing to copy, said so.
    JobTrees alike;
    WriteFile(alike.original + "\\same.txt", "same");
    WriteFile(alike.modded + "\\same.txt", "same");
    Choose(alike.original.c_str(), alike.modded.c_str(), alike.destination.c_str());
    EXPECT_FALSE(Shown(JobWord));
    Press(CreateModButton);
    ASSERT_TRUE(AwaitJob());
    EXPECT_TRUE(Boxes.empty()) << Boxes.front().text;
    EXPECT_TRUE(Shown(JobWord));
    EXPECT_EQ(WideTextOf(JobWord),
              "extraction termin\xC3\xA9" "e : 1 fichier(s), rien de nouveau ni de modifi\xC3\xA9, rien n'est \xC3\xA9" "crit\n"
              "extraction done: 1 file(s), nothing new or changed, nothing written");

    // A file in the Data folder that this job did not make: the one box,
    // with what the mod holds (all of it in place already), and no word.
    Choose(trees.original.c_str(), trees.modded.c_str(), trees.destination.c_str());
    WriteFile(data + "\\old.txt", "an earlier job's");
    Press(CreateModButton);
    ASSERT_TRUE(AwaitJob());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].caption, "attention/notice");
    const std::string& text = Boxes[0].text;
    EXPECT_NE(text.find("1 file(s) in the Data folder did not come from this job"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.rfind("\n\n")), "\n\nextraction termin\xC3\xA9" "e : 2 nouveau(x), 1 modifi\xC3\xA9(s), "
                                              "3 d\xC3\xA9j\xC3\xA0 en place\n"
                                              "extraction done: 2 new, 1 changed, 3 already in place\n" + data);
    EXPECT_FALSE(Shown(JobWord));
}

TEST_F(Shell, FieldsShowTheChosenFoldersAsTheyAreWhateverTheCodePage) {
    const std::string cyrillic = "C:\\\xD0\x9C\xD0\xBE\xD0\xB4\xD1\x8B\\DATA";   // C:\Моды\DATA
    const std::string cjk = "D:\\\xE6\xB8\xB8\xE6\x88\x8F\\\xE6\x95\xB0\xE6\x8D\xAE";  // D:\游戏\数据
    Choose(cyrillic.c_str(), cjk.c_str(), "C:\\mod");
    EXPECT_TRUE(IsWindowUnicode(OriginalField));
    EXPECT_EQ(WideTextOf(OriginalField), cyrillic);
    wchar_t text[MAX_PATH] = L"";
    SendMessageW(ModdedField, WM_GETTEXT, MAX_PATH, (LPARAM)text);
    EXPECT_EQ(Utf8(text), cjk);
    EXPECT_EQ(Text(DestinationField), "C:\\mod");
    EXPECT_NE(std::string(OriginalPath), cyrillic) << "the code page renders it otherwise";
}

// Two folders whose names the code page renders alike ("????") are two
// folders: the job runs.
TEST_F(Shell, FoldersThatLookAlikeInTheCodePageAreNotRefusedAsOne) {
    TempDir dir;
    std::string original = dir / "\xD0\x90\xD0\x91\xD0\x92", modded = dir / "\xD0\x93\xD0\x94\xD0\x95";  // АБВ, ГДЕ
    WriteFile(original + "\\same.txt", "same");
    WriteFile(modded + "\\same.txt", "same");
    WriteFile(modded + "\\new.txt", "new");
    std::string destination = dir / "dest";
    Choose(original.c_str(), modded.c_str(), destination.c_str());
    ASSERT_STREQ(OriginalPath, ModdedPath) << "the code page should render both alike";
    Press(CreateModButton);
    EXPECT_EQ(ThreadsStarted, 1);
    ASSERT_TRUE(AwaitJob());
    EXPECT_TRUE(Boxes.empty()) << Boxes.front().text;
    EXPECT_EQ(ListTree(destination + "\\Data"), std::vector<std::string>{"new.txt"});
}

RECT SmallArea = {0, 0, 800, 600};
void SmallWorkArea(HWND, RECT* area) { *area = SmallArea; }

std::wstring WideWhole(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], (int)wide.size()) - 1);
    return wide;
}

// The height a box takes for `text`, as the message box lays it out: its
// text wrapped at the narrowest width boxes use, the caption, the frames,
// the margins and the button.
int BoxHeight(const std::wstring& text, int* widestPathLine) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT rect = {0, 0, 240, 0};
    DrawTextW(dc, text.c_str(), -1, &rect, DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
    TEXTMETRICW line;
    GetTextMetricsW(dc, &line);
    *widestPathLine = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        while (start < end && text[start] == L' ') ++start;  // a list's indent
        SIZE size = {};
        GetTextExtentPoint32W(dc, text.c_str() + start, (int)(end - start), &size);
        if (text.substr(start, end - start).find(L'\\') != std::wstring::npos && size.cx > *widestPathLine)
            *widestPathLine = size.cx;
        start = end + 1;
    }
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(font);
    return (int)rect.bottom + GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFIXEDFRAME) + 24 +
           2 * (int)line.tmHeight;
}

// A job that fails forty copies, leaves forty stale files and meets forty
// removed ones, under long names.
void ManyFailures(JobTrees* trees) {
    const std::string deep = "\\" + std::string(90, 'n') + "\\";
    // Files both trees hold alike, enough that no question about trees
    // one level off comes before the job's box.
    for (int i = 0; i < 10; ++i) {
        WriteFile(trees->original + "\\same" + std::to_string(i) + ".txt", "same");
        WriteFile(trees->modded + "\\same" + std::to_string(i) + ".txt", "same");
    }
    for (int i = 0; i < 40; ++i) {
        std::string n = std::to_string(i);
        WriteFile(trees->modded + deep + "new" + n + ".txt", "new");
        WriteFile(trees->original + deep + "gone" + n + ".txt", "gone");
        WriteFile(trees->destination + "\\Data" + deep + "old" + n + ".txt", "old");
    }
}

// Boxes fit a small work area: lists shortened, down to none, and summed
// up; paths cut in their middle.
TEST_F(Shell, BoxesFitASmallWorkArea) {
    JobTrees trees;
    ManyFailures(&trees);
    Services.workArea = SmallWorkArea;
    Choose(trees.original.c_str(), trees.modded.c_str(), trees.destination.c_str());
    {
        FaultInjector faults;
        faults.Fail(FAULT_COPY, 1, ERROR_ACCESS_DENIED, true);
        Press(CreateModButton);
        ASSERT_TRUE(AwaitJob());
    }
    ASSERT_EQ(Boxes.size(), 1u);
    const std::string& text = Boxes[0].text;
    int widest = 0;
    EXPECT_LE(BoxHeight(WideWhole(text), &widest), SmallArea.bottom) << text;
    EXPECT_LE(widest, 400) << "paths cut to half the work area's width";
    // Each list is summed up: what it names (one indented line a path, or
    // a failure's reason) and how many more make its count.
    const char* lists[3] = {"40 path(s) failed", "40 file(s) in the Data folder", "40 file(s) of the backup"};
    for (int i = 0; i < 3; ++i) {
        size_t at = text.find(lists[i]);
        ASSERT_NE(at, std::string::npos) << lists[i] << " in:\n" << text;
        size_t more = text.find("\xE2\x80\xA6 and ", at);
        ASSERT_NE(more, std::string::npos) << lists[i];
        int named = 0;
        for (size_t line = text.find("\n    ", at); line < more; line = text.find("\n    ", line + 1)) ++named;
        EXPECT_EQ(named + atoi(text.c_str() + more + strlen("\xE2\x80\xA6 and ")), 40) << lists[i];
    }

    // The refusals too: a long path is cut in its middle, to half the
    // work area's width.
    Boxes.clear();
    std::string gone = trees.dir / std::string(200, 'g');
    Choose(trees.original.c_str(), gone.c_str(), trees.destination.c_str());
    Press(CreateModButton);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_LE(BoxHeight(WideWhole(Boxes[0].text), &widest), SmallArea.bottom);
    EXPECT_LE(widest, 400);
    EXPECT_EQ(Boxes[0].text.find(std::string(200, 'g')), std::string::npos);
}

RECT RealBox;
int RealBoxTries;

void CALLBACK MeasureAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
    for (HWND box = FindWindowExA(NULL, NULL, "#32770", NULL); box; box = FindWindowExA(NULL, box, "#32770", NULL)) {
        if (GetWindowThreadProcessId(box, NULL) != GetCurrentThreadId() || !IsWindowVisible(box)) continue;
        KillTimer(NULL, timer);
        GetWindowRect(box, &RealBox);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
    }
    if (++RealBoxTries > 100) {  // no box: end its loop, and the test fails
        KillTimer(NULL, timer);
        PostQuitMessage(0);
    }
}

int WINAPI MeasuredBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    FakeBoxW(owner, text, caption, type);
    RealBoxTries = 0;
    SetTimer(NULL, 0, 100, MeasureAndClose);
    return MessageBoxW(owner, text, caption, type);
}

TEST_F(Shell, ARealBoxOfManyFailuresStaysInsideTheWorkArea) {
    JobTrees trees;
    ManyFailures(&trees);
    Services.workArea = RealServices.workArea;
    Services.messageBoxW = MeasuredBoxW;
    RealBox = {};
    Choose(trees.original.c_str(), trees.modded.c_str(), trees.destination.c_str());
    {
        FaultInjector faults;
        faults.Fail(FAULT_COPY, 1, ERROR_ACCESS_DENIED, true);
        Press(CreateModButton);
        ASSERT_TRUE(AwaitJob());
    }
    ASSERT_EQ(Boxes.size(), 1u);
    RECT area;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0));
    ASSERT_GT(RealBox.bottom, RealBox.top) << "the box was not seen";
    EXPECT_GE(RealBox.top, area.top);
    EXPECT_LE(RealBox.bottom, area.bottom);
    EXPECT_GE(RealBox.left, area.left);
    EXPECT_LE(RealBox.right, area.right);
}

TEST_F(Shell, PositionsAreSentAtMostOncePerFrameButEachPhaseEndsRight) {
    WindowReports.setProgressRange(ProgressBar, 100000);
    HHOOK countPositions = SetWindowsHookExA(WH_CALLWNDPROC, WatchPositions, NULL, GetCurrentThreadId());
    DWORD start = GetTickCount();
    for (uint32_t position = 0; position <= 100000; ++position) WindowReports.setProgressPosition(ProgressBar, position);
    DWORD elapsed = GetTickCount() - start;
    UnhookWindowsHookEx(countPositions);
    int sent = (int)Positions.size();
    ASSERT_GE(sent, 2);
    EXPECT_EQ(Positions.front(), 0u);
    EXPECT_EQ(Positions.back(), 100000u);
    EXPECT_LE(sent, 3 + (int)elapsed / POSITION_INTERVAL_MS);
    EXPECT_EQ(SendMessageA(ProgressBar, PBM_GETPOS, 0, 0), 100000);
}

// Every copy, once begun, waits for the job's stop: the window is closed
// while copies are surely in flight, whatever the machine's speed.
static std::atomic<bool> CopyInFlight;
static SysError CopyAfterTheStop(const CopyRequest* request, uint64_t* copied) {
    CopyInFlight = true;
    while (!request->stop->load()) Sleep(1);
    return PlatformCalls.copyFile(request, copied);
}

TEST_F(Shell, ClosingDuringTheCopiesLeavesNoTemporaryFile) {
    JobTrees trees;
    std::string big(2 << 20, 'x');
    for (int i = 0; i < 16; ++i) WriteFile(trees.modded + "\\big" + std::to_string(i) + ".bin", big);
    trees.Both("same.txt", "same", "same");  // trees that share their paths: no question first
    CreateDirectoryA(trees.destination.c_str(), NULL);
    SysSwap restore;
    CopyInFlight = false;
    Sys.copyFile = CopyAfterTheStop;
    Choose(trees.original.c_str(), trees.modded.c_str(), trees.destination.c_str());
    Press(CreateModButton);
    for (DWORD start = GetTickCount(); !CopyInFlight && GetTickCount() - start < 30000;) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(1);
    }
    ASSERT_TRUE(CopyInFlight.load());
    SendMessageA(MainWindow, WM_CLOSE, 0, 0);
    // What the process would leave if it ended now: whole files only, and
    // none of those that waited for the stop.
    std::vector<std::string> left = ListTree(trees.destination + "\\Data");
    for (const std::string& name : left) EXPECT_EQ(name.find("~mx"), std::string::npos) << name;
    for (const std::string& name : left) EXPECT_EQ(ReadFile(trees.destination + "\\Data\\" + name).size(), big.size());
    EXPECT_EQ(left.size(), 0u);
    // The job runs on without writing; let it end before the next test.
    for (DWORD start = GetTickCount(); JobRunning.load() && GetTickCount() - start < 60000;) Sleep(10);
    EXPECT_EQ(ListTree(trees.destination + "\\Data"), left);
    JobStarted = 0;
}

TEST_F(Shell, TearDownFreesTheSceneObjectsAndQuitsWithCodeZero) {
    LabelFont = CreateFontA(20, 10, 0, 0, 900, 0, 0, 0, 1, 7, 0, 4, 0, "Calibri");
    BackgroundBitmap = CreateBitmap(4, 4, 1, 24, NULL);
    HGDIOBJ font = LabelFont, bitmap = BackgroundBitmap;
    SendMessageA(MainWindow, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(MainWindow));
    EXPECT_EQ(QuitFlag, 1);
    EXPECT_EQ(QuitCode, 0);
    EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(GetObjectType(bitmap), 0u);
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

}  // namespace
