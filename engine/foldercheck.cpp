#include "foldercheck.h"

#include <stdio.h>
#include <string.h>

#include "destinationhold.h"
#include "platform.h"
#include "paths.h"

// A file number of 0 is what a file system without them answers (some
// network and virtual ones): it tells nothing.
static bool SameFolder(const FolderId& a, const FolderId& b) {
    return a.index != 0 && a.volume == b.volume && a.index == b.index;
}

// True when a folder above `path` (resolved), up to its root, is the folder
// `id`. Where links cannot be resolved (Windows answers no final path for
// some virtual volumes, such as RAM disks), a resolved path is only the
// path as written: the same folder may then be spelt in other letter case,
// with short names, or through a link, and only identities tell. Folders
// above that cannot be examined are passed over.
static bool Below(const char* path, const FolderId& id) {
    char above[PATH_BUFFER_SIZE];
    snprintf(above, sizeof above, "%s", path);
    for (size_t length = strlen(above);;) {
        ParentFolder(above);
        size_t shorter = strlen(above);
        if (shorter >= length) return false;
        length = shorter;
        EntryKind kind;
        FolderId found;
        if (!Sys.examine(above, &kind, &found) && kind == ENTRY_FOLDER && SameFolder(found, id)) return true;
    }
}

// Where a check says why it refused: the one-line reason, and the kind,
// role and error for a front end that words it its own way.
struct Verdict {
    char* reason;
    size_t reasonSize;
    FolderRefusal* refusal;  // may be null
};

static bool Refuse(Verdict* verdict, FolderRefusalKind kind, int role, const char* text, const char* path = nullptr,
                   SysError error = 0) {
    if (verdict->refusal) *verdict->refusal = FolderRefusal{kind, role, error};
    if (path) snprintf(verdict->reason, verdict->reasonSize, "%s: %s", path, text);
    else snprintf(verdict->reason, verdict->reasonSize, "%s", text);
    return false;
}

// Refuses for `error` met on `path`: "<path>: <what>: <the error's text>".
static bool RefuseFor(Verdict* verdict, SysError error, FolderRefusalKind kind, int role, const char* what,
                      const char* path) {
    char why[256];
    DescribeError(error, why, sizeof why);
    char text[400];
    snprintf(text, sizeof text, "%s: %s", what, why);
    return Refuse(verdict, kind, role, text, path, error);
}

static const char* const ROLES[3] = {"original", "modded", "destination"};

// Input `role` (0 or 1) at `path` must be a folder: its resolved form in
// `resolved`, its identity in `id`.
static bool CheckInput(Verdict* verdict, int role, const char* path, char* resolved, FolderId* id) {
    EntryKind kind;
    SysError error = Sys.examine(path, &kind, id);
    if (!error && kind != ENTRY_FOLDER) error = ENGINE_NOT_A_FOLDER;
    if (!error) error = Sys.resolvePath(path, resolved, PATH_BUFFER_SIZE);
    if (!error) return true;
    char what[64];
    snprintf(what, sizeof what, "the %s folder cannot be used", ROLES[role]);
    return RefuseFor(verdict, error, REFUSAL_UNUSABLE, role, what, path);
}

// Holds the destination `destination` (resolved) and probes where the mod
// will be written: in Data, `existing`, when it stands, else in the
// destination itself, made for it when missing, so that nothing is ever
// made outside it. The hold comes first: the probe's file, and the
// leftovers cleared, are then of no other job. A hold not asked for goes
// again, with the folders it made (a run with nothing to copy leaves none);
// the probe itself leaves nothing (probeFolder).
static SysError HoldAndProbe(const char* existing, const char* data, const char* destination, DestinationHold** hold) {
    bool inside = strcmp(existing, destination) == 0 || PathInside(existing, destination);
    SysError error = 0;
    DestinationHold* held =
        HoldDestination(destination, inside ? strlen(destination) : strlen(existing), data, &error);
    if (!held) return error;
    error = Sys.probeFolder(inside ? existing : destination);
    if (error || !hold) ReleaseDestination(held);
    else *hold = held;
    return error;
}

// Whether the Data folder `data` (as given) can hold the mod, `resolved`
// being its resolved form: it, or the nearest folder above it that exists,
// must be a folder, and when `willWrite` one that takes a file, tried
// inside the destination `destination` (resolved) alone, which is held
// meanwhile (HoldAndProbe).
static bool CheckDataWritable(Verdict* verdict, const char* data, const char* resolved, const char* destination,
                              bool willWrite, DestinationHold** hold) {
    char existing[PATH_BUFFER_SIZE];
    snprintf(existing, sizeof existing, "%s", resolved);
    SysError error = 0;
    for (;;) {
        EntryKind kind;
        FolderId id;
        error = Sys.examine(existing, &kind, &id);
        if (!error && kind != ENTRY_FOLDER) error = ENGINE_NOT_A_FOLDER;
        if (!IsNotFound(error)) break;
        size_t length = strlen(existing);
        ParentFolder(existing);
        if (strlen(existing) >= length) break;  // the root itself is missing
    }
    if (!error && willWrite) error = HoldAndProbe(existing, resolved, destination, hold);
    if (!error) return true;
    if (error == ENGINE_DESTINATION_BUSY) {
        char given[PATH_BUFFER_SIZE];
        snprintf(given, sizeof given, "%s", data);
        ParentFolder(given);  // the destination as given
        return Refuse(verdict, REFUSAL_DESTINATION_BUSY, 2,
                      "another job of this program is writing into this destination; try again once it has ended",
                      given, error);
    }
    return RefuseFor(verdict, error, REFUSAL_DATA_UNWRITABLE, 2, "the destination cannot hold the mod", data);
}

// Each path given, and none too long for what it will be joined with.
static bool CheckGiven(Verdict* verdict, const char* const paths[3]) {
    for (int i = 0; i < 3; ++i) {
        char text[128];
        if (!paths[i] || !paths[i][0]) {
            snprintf(text, sizeof text, "no %s folder given", ROLES[i]);
            return Refuse(verdict, REFUSAL_EMPTY, i, text);
        }
        char data[PATH_BUFFER_SIZE];
        // The destination also takes its Data folder.
        if (strlen(paths[i]) > PathLimit() || (i == 2 && DataFolderPath(paths[i], data, sizeof data) == 0)) {
            snprintf(text, sizeof text, "the %s folder's path is too long", ROLES[i]);
            return Refuse(verdict, REFUSAL_TOO_LONG, i, text);
        }
    }
    return true;
}

// The two inputs (resolved, with their identities): two separate
// folders, neither inside the other.
static bool CheckInputsApart(Verdict* verdict, char inputs[2][PATH_BUFFER_SIZE], const FolderId ids[2]) {
    if (strcmp(inputs[0], inputs[1]) == 0 || SameFolder(ids[0], ids[1]))
        return Refuse(verdict, REFUSAL_SAME_FOLDER, 1, "the original and the modded folder are the same folder");
    if (PathInside(inputs[1], inputs[0]) || Below(inputs[1], ids[0]))
        return Refuse(verdict, REFUSAL_NESTED, 1, "the modded folder lies inside the original folder");
    if (PathInside(inputs[0], inputs[1]) || Below(inputs[0], ids[1]))
        return Refuse(verdict, REFUSAL_NESTED, 0, "the original folder lies inside the modded folder");
    return true;
}

// The Data folder (resolved) is no input, lies in none and holds none.
static bool CheckDataApart(Verdict* verdict, const char* resolvedData, char inputs[2][PATH_BUFFER_SIZE],
                           const FolderId ids[2]) {
    EntryKind kind;
    FolderId dataId;
    bool dataExists = !Sys.examine(resolvedData, &kind, &dataId) && kind == ENTRY_FOLDER;
    for (int i = 0; i < 2; ++i) {
        const char* problem = nullptr;
        if (strcmp(resolvedData, inputs[i]) == 0 || (dataExists && SameFolder(dataId, ids[i]))) problem = "is";
        else if (PathInside(resolvedData, inputs[i]) || Below(resolvedData, ids[i])) problem = "lies inside";
        else if (PathInside(inputs[i], resolvedData) || (dataExists && Below(inputs[i], dataId))) problem = "contains";
        if (!problem) continue;
        char text[160];
        snprintf(text, sizeof text, "the destination's Data folder %s the %s folder, which is only read", problem,
                 ROLES[i]);
        return Refuse(verdict, REFUSAL_DATA_OVERLAPS_INPUT, 2, text);
    }
    return true;
}

bool CheckJobFolders(const char* const folders[3], char* reason, size_t reasonSize, FolderRefusal* refusal,
                     bool willWrite, DestinationHold** hold) {
    Verdict verdict = {reason, reasonSize, refusal};
    char inputs[2][PATH_BUFFER_SIZE];
    FolderId ids[2];
    if (!CheckGiven(&verdict, folders) || !CheckInput(&verdict, 0, folders[0], inputs[0], &ids[0]) ||
        !CheckInput(&verdict, 1, folders[1], inputs[1], &ids[1]))
        return false;

    const char* destination = folders[2];
    EntryKind kind;
    FolderId id;
    SysError error = Sys.examine(destination, &kind, &id);
    if (!error && kind != ENTRY_FOLDER)
        return Refuse(&verdict, REFUSAL_UNUSABLE, 2, "the destination exists and is not a folder", destination,
                      ENGINE_NOT_A_FOLDER);
    char data[PATH_BUFFER_SIZE];
    char resolvedData[PATH_BUFFER_SIZE];
    DataFolderPath(destination, data, sizeof data);
    if (!ResolveLeniently(data, resolvedData, &error))
        return RefuseFor(&verdict, error, REFUSAL_UNUSABLE, 2, "the destination cannot be used", destination);
    if (!CheckInputsApart(&verdict, inputs, ids) || !CheckDataApart(&verdict, resolvedData, inputs, ids)) return false;

    // The destination as Data's resolved parent: where Data will be made.
    char resolvedDestination[PATH_BUFFER_SIZE];
    snprintf(resolvedDestination, sizeof resolvedDestination, "%s", resolvedData);
    ParentFolder(resolvedDestination);
    return CheckDataWritable(&verdict, data, resolvedData, resolvedDestination, willWrite, hold);
}
