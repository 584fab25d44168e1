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

int WINAPI FakeBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Boxes.push_back({owner, text ? text : "", caption ? caption : "", type, false});
    return IDOK;
}

int WINAPI FakeBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    Boxes.push_back({owner, Utf8(text ? text : L""), Utf8(caption ? caption : L""), type, true});
    return IDOK;
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
        Sent.clear();
        FreedLists = ThreadsStarted = 0;
        Services = {FakeBrowse, FakePath, FakePathW, FakeFree, FakeBox, FakeBoxW, CountingCreateThread};
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
    const std::string different = "s\xE9lectionnez des repertoires diff\xE9rents\nselect different folders";
    struct Case {
        std::string original, modded, destination;
        std::string text;  // the box's text
    } cases[] = {
        {o, m, o, different},
        {o, o, d, different},
        {o, m, m, different},
        // Differs only in letter case: not equal byte for byte, but the
        // folder check sees the same folder.
        {o, dir / "O", d, ""},
        {o, dir / "gone", d, "repertoire introuvable ou inutilisable\nfolder not found or unusable\n" + dir / "gone"},
        {o, dir / "o\\sub", d, "un repertoire est dans l'autre\none folder lies inside the other\n" + dir / "o\\sub"},
        {o, m, dir / "o\\sub", "le repertoire Data de la cible touche un repertoire lu\n"},
        // Data a file: the destination cannot hold the mod, named by its Data.
        {o, m, dir / "d-file", "le repertoire Data de la cible ne peut pas \xEAtre \xE9" "crit\n"
                               "the target's Data folder cannot be made or written\n" + dir / "d-file\\Data\n"},
        // Another job writes into the destination: the box names it.
        {o, m, dir / "busy", "une autre extraction \xE9" "crit d\xE9j\xE0 dans la cible, r\xE9" "essayez quand elle "
                             "sera termin\xE9" "e\nanother extraction is writing into the target; try again once it "
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
        if (!c.text.empty()) EXPECT_EQ(Boxes[0].text.substr(0, c.text.size()), c.text);
        else EXPECT_EQ(Boxes[0].text, "le meme repertoire est choisi deux fois\nthe same folder is chosen twice\n" + c.modded);
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
    EXPECT_EQ(Boxes[0].text.substr(0, 12), "s\xE9lectionnez");
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
    EXPECT_EQ(text.substr(0, text.find('\n')), "12 fichier(s) ou repertoire(s) en \xC3\xA9" "chec, le mod est incomplet");
    EXPECT_NE(text.find("\n12 path(s) failed, the mod is incomplete\n"), std::string::npos);
    size_t named = 0;  // by the target, which failed
    for (size_t at = text.find(trees.destination + "\\Data\\new"); at != std::string::npos;
         at = text.find(trees.destination + "\\Data\\new", at + 1))
        ++named;
    EXPECT_EQ(named, 10u);
    EXPECT_NE(text.find("... and 2 more"), std::string::npos);

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
    EXPECT_EQ(Boxes[0].text, "le repertoire Data de la cible touche un repertoire lu\n"
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
    EXPECT_EQ(text, "3 fichier(s) du repertoire Data ne viennent pas de cette extraction et restent dans le mod\n"
                    "3 file(s) in the Data folder did not come from this job and ride along in the mod\n" +
                        trees.destination + "\\Data\n"
                        "    meshes\\weapons\\sword.nif\n    scripts\\main.lua\n    textures\\sword.dds\n"
                        "extrayez dans un repertoire vide, ou supprimez-les \xC3\xA0 la main (rien n'est supprim\xC3\xA9)\n"
                        "extract into an empty folder, or remove them by hand (nothing is deleted)");
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
    size_t failed = text.find("1 path(s) failed"), stale = text.find("\n\n3 fichier(s) du repertoire Data"),
           removed = text.find("\n\n1 fichier(s) de la sauvegarde manquent");
    EXPECT_TRUE(failed < stale && stale < removed && removed != std::string::npos) << text;
    EXPECT_NE(text.find("a mod cannot carry a removal\n    gone.txt"), std::string::npos) << text;
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
    EXPECT_NE(std::string(OriginalPath), original);  // the field shows the rendering
    EXPECT_EQ(Text(OriginalField), OriginalPath);
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
