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
    if (verdict->refusal) *verdict->refusal = FolderRefusal{kind, role, error, -1};
    if (path) snprintf(verdict->reason, verdict->reasonSize, "%s: %s", path, text);
    else snprintf(verdict->reason, verdict->reasonSize, "%s", text);
    return false;
}

// Refuses for what lies between folder `role` (at `path`) and folder
// `other`: "<path>: <text>", the text naming the other.
static bool RefuseBetween(Verdict* verdict, FolderRefusalKind kind, int role, int other, const char* text,
                          const char* path) {
    Refuse(verdict, kind, role, text, path);
    if (verdict->refusal) verdict->refusal->other = other;
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

struct Standing {
    const char* name;
    size_t length;
    SysError error;  // what the real run's making of the folder meets; 0: nothing stands there
};

static bool FindStanding(void* context, const FolderEntry* entry) {
    Standing* standing = (Standing*)context;
    if (entry->nameLength != standing->length || memcmp(entry->name, standing->name, standing->length) != 0) return true;
    standing->error = ENGINE_NOT_A_FOLDER;  // as the making says of whatever stands there and is no folder
    return false;
}

// What a run that writes would meet when it makes the first missing folder
// of `resolved` below the folder `existing`: a dry run makes nothing, but
// an entry that stands there though it leads nowhere (a dangling link)
// fails the real run's making, and so the dry run's verdict alike.
static SysError FirstMissingFree(const char* existing, const char* resolved) {
    size_t length = strlen(existing);
    const char* name = resolved + length;
    while (IsPathSeparator(*name)) ++name;
    size_t nameLength = 0;
    while (name[nameLength] && !IsPathSeparator(name[nameLength])) ++nameLength;
    if (nameLength == 0) return 0;
    Standing standing = {name, nameLength, 0};
    Sys.listFolder(existing, FindStanding, &standing);  // a folder that cannot be listed is the real run's to meet
    return standing.error;
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
    if (!error && !willWrite && strcmp(existing, resolved) != 0) error = FirstMissingFree(existing, resolved);
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

// What a check between two folders needs: the inputs as given, resolved,
// and their identities.
struct Inputs {
    const char* given[2];
    char resolved[2][PATH_BUFFER_SIZE];
    FolderId ids[2];
};

// The two inputs: two separate folders, neither inside the other.
static bool CheckInputsApart(Verdict* verdict, const Inputs* in) {
    char text[2 * PATH_BUFFER_SIZE + 160];
    if (strcmp(in->resolved[0], in->resolved[1]) == 0 || SameFolder(in->ids[0], in->ids[1])) {
        snprintf(text, sizeof text, "the original folder %s and the modded folder %s are the same folder",
                 in->given[0], in->given[1]);
        return RefuseBetween(verdict, REFUSAL_SAME_FOLDER, 1, 0, text, nullptr);
    }
    for (int inner = 1; inner >= 0; --inner) {
        int outer = 1 - inner;
        if (!PathInside(in->resolved[inner], in->resolved[outer]) && !Below(in->resolved[inner], in->ids[outer]))
            continue;
        snprintf(text, sizeof text, "the %s folder lies inside the %s folder %s", ROLES[inner], ROLES[outer],
                 in->given[outer]);
        return RefuseBetween(verdict, REFUSAL_NESTED, inner, outer, text, in->given[inner]);
    }
    return true;
}

// True when the last name of `path` is "Data" in another letter case.
static bool NamedDataInOtherCase(const char* path) {
    return NamedData(path) && strcmp(LastName(path), "Data") != 0;
}

// The Data folder (resolved; `data` as given) is no input, lies in none,
// holds none, and stands beside none of the same name but for letter case.
static bool CheckDataApart(Verdict* verdict, const char* data, const char* resolvedData, const Inputs* in) {
    EntryKind kind;
    FolderId dataId;
    bool dataExists = !Sys.examine(resolvedData, &kind, &dataId) && kind == ENTRY_FOLDER;
    char dataParent[PATH_BUFFER_SIZE], inputParent[PATH_BUFFER_SIZE];
    snprintf(dataParent, sizeof dataParent, "%s", resolvedData);
    ParentFolder(dataParent);
    for (int i = 0; i < 2; ++i) {
        const char* input = in->resolved[i];
        const char* problem = nullptr;
        if (strcmp(resolvedData, input) == 0 || (dataExists && SameFolder(dataId, in->ids[i]))) problem = "is";
        else if (PathInside(resolvedData, input) || Below(resolvedData, in->ids[i])) problem = "lies inside";
        else if (PathInside(input, resolvedData) || (dataExists && Below(input, dataId))) problem = "contains";
        char text[PATH_BUFFER_SIZE + 160];
        if (problem) {
            snprintf(text, sizeof text, "the destination's Data folder %s the %s folder %s, which is only read",
                     problem, ROLES[i], in->given[i]);
            return RefuseBetween(verdict, REFUSAL_DATA_OVERLAPS_INPUT, 2, i, text, data);
        }
        snprintf(inputParent, sizeof inputParent, "%s", input);
        ParentFolder(inputParent);
        if (strcmp(dataParent, inputParent) != 0 || !NamedDataInOtherCase(input)) continue;
        snprintf(text, sizeof text,
                 "the destination's Data folder would stand beside the %s folder %s, named alike but for letter case",
                 ROLES[i], in->given[i]);
        return RefuseBetween(verdict, REFUSAL_DATA_BESIDE_INPUT, 2, i, text, data);
    }
    return true;
}

bool CheckJobFolders(const char* const folders[3], char* reason, size_t reasonSize, FolderRefusal* refusal,
                     bool willWrite, DestinationHold** hold) {
    Verdict verdict = {reason, reasonSize, refusal};
    Inputs in = {{folders[0], folders[1]}, {}, {}};
    if (!CheckGiven(&verdict, folders) || !CheckInput(&verdict, 0, folders[0], in.resolved[0], &in.ids[0]) ||
        !CheckInput(&verdict, 1, folders[1], in.resolved[1], &in.ids[1]))
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
    if (!CheckInputsApart(&verdict, &in) || !CheckDataApart(&verdict, data, resolvedData, &in)) return false;

    // The destination as Data's resolved parent: where Data will be made.
    char resolvedDestination[PATH_BUFFER_SIZE];
    snprintf(resolvedDestination, sizeof resolvedDestination, "%s", resolvedData);
    ParentFolder(resolvedDestination);
    return CheckDataWritable(&verdict, data, resolvedData, resolvedDestination, willWrite, hold);
}
