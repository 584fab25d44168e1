#include "folderchoice.h"

#include "appstate.h"
#include "mainwindow.h"
#include "messages.h"
#include "services.h"
#include "textconvert_win32.h"
#include "texts.h"

FolderChoice Folders[3] = {
    {OriginalPath, OriginalJobPath, &OriginalChosen, &OriginalField, &OriginalBrowse, ORIGINAL_BROWSER_TITLE, true, {}},
    {ModdedPath, ModdedJobPath, &ModdedChosen, &ModdedField, &ModdedBrowse, MODDED_BROWSER_TITLE, true, {}},
    {DestinationPath, DestinationJobPath, &DestinationChosen, &DestinationField, &DestinationBrowse,
     DESTINATION_BROWSER_TITLE, false, {}},
};

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
    browser->ulFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
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
    // The field shows the folder as it is, whatever the code page.
    if (choice->jobPath[0])
        SendMessageW(*choice->field, WM_SETTEXT, 0, (LPARAM)wide);
    else
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

void BrowseFolderOf(HWND control) {
    for (FolderChoice& choice : Folders)
        if (control == *choice.browse) BrowseFolder(&choice);
}
