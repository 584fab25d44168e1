#include "foldercheck.h"

#include <stdio.h>
#include <string.h>

#include "platform.h"
#include "rootpath.h"

static bool EndsWithSeparator(const char* path, size_t length) {
    return length > 0 && IsPathSeparator(path[length - 1]);
}

bool PathInside(const char* inner, const char* outer) {
    size_t outerLength = strlen(outer);
    size_t innerLength = strlen(inner);
    if (innerLength <= outerLength || memcmp(inner, outer, outerLength) != 0) return false;
    return EndsWithSeparator(outer, outerLength) || IsPathSeparator(inner[outerLength]);
}

// How much of `path` to keep when it is cut at `cut`: a root keeps its
// separator ("/" or "C:\"), and nothing left means the current folder.
static size_t HeadLength(const char* path, size_t cut) {
    if (cut == 0) return IsPathSeparator(path[0]) ? 1 : 0;
    if (path[cut - 1] == ':' && IsPathSeparator(path[cut])) return cut + 1;
    return cut;
}

// Takes the last name off a resolved path, never its root.
static void StepUp(char* path) {
    size_t length = strlen(path);
    while (length > 0 && !IsPathSeparator(path[length - 1])) --length;
    while (length > 0 && IsPathSeparator(path[length - 1])) --length;
    path[HeadLength(path, length)] = '\0';
}

static bool IsRoot(const char* path, size_t length) {
    if (length == 1) return IsPathSeparator(path[0]);
    return (length == 2 || (length == 3 && IsPathSeparator(path[2]))) && path[1] == ':';
}

bool ResolveLeniently(const char* path, char* out, SysError* error) {
    size_t length = strlen(path);
    if (length > PathLimit()) {
        *error = ENGINE_PATH_TOO_LONG;
        return false;
    }
    // Cut names off the end until what is left exists.
    char head[PATH_BUFFER_SIZE];
    size_t cut = length;
    for (;;) {
        size_t headLength = HeadLength(path, cut);
        memcpy(head, path, headLength);
        head[headLength] = '\0';
        *error = Sys.resolvePath(headLength ? head : ".", out, PATH_BUFFER_SIZE);
        if (!*error) break;
        if (!IsNotFound(*error) || headLength == 0 || IsRoot(head, headLength)) return false;
        while (cut > 0 && IsPathSeparator(path[cut - 1])) --cut;
        while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
        while (cut > 0 && IsPathSeparator(path[cut - 1])) --cut;
    }

    // Put the missing names back, applying "." and "..".
    size_t outLength = strlen(out);
    const char* name = path + HeadLength(path, cut);
    while (*name) {
        while (IsPathSeparator(*name)) ++name;
        size_t nameLength = 0;
        while (name[nameLength] && !IsPathSeparator(name[nameLength])) ++nameLength;
        if (nameLength == 0) break;
        if (nameLength == 2 && name[0] == '.' && name[1] == '.') {
            StepUp(out);
            outLength = strlen(out);
        } else if (!(nameLength == 1 && name[0] == '.')) {
            bool needSeparator = !EndsWithSeparator(out, outLength);
            if (outLength + needSeparator + nameLength > PathLimit()) {
                *error = ENGINE_PATH_TOO_LONG;
                return false;
            }
            if (needSeparator) out[outLength++] = PathSeparator();
            memcpy(out + outLength, name, nameLength);
            outLength += nameLength;
            out[outLength] = '\0';
        }
        name += nameLength;
    }
    *error = 0;
    return true;
}

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
        StepUp(above);
        size_t shorter = strlen(above);
        if (shorter >= length) return false;
        length = shorter;
        EntryKind kind;
        FolderId found;
        if (!Sys.examine(above, &kind, &found) && kind == ENTRY_FOLDER && SameFolder(found, id)) return true;
    }
}

static bool Refuse(char* reason, size_t reasonSize, const char* text, const char* path = nullptr) {
    if (path) snprintf(reason, reasonSize, "%s: %s", path, text);
    else snprintf(reason, reasonSize, "%s", text);
    return false;
}

static void Name(FolderRefusal* refusal, FolderRefusalKind kind, int role, SysError error = 0) {
    if (!refusal) return;
    refusal->kind = kind;
    refusal->role = role;
    refusal->error = error;
}

// Refuses for `error` met on `path`: "<path>: <what>: <the error's text>".
static bool RefuseFor(SysError error, FolderRefusal* refusal, FolderRefusalKind kind, int role, const char* what,
                      const char* path, char* reason, size_t reasonSize) {
    Name(refusal, kind, role, error);
    char why[256];
    DescribeError(error, why, sizeof why);
    char text[400];
    snprintf(text, sizeof text, "%s: %s", what, why);
    return Refuse(reason, reasonSize, text, path);
}

static bool CheckInput(const char* role, const char* path, char* resolved, FolderId* id, char* reason,
                       size_t reasonSize, FolderRefusal* refusal, int roleIndex) {
    EntryKind kind;
    SysError error = Sys.examine(path, &kind, id);
    if (!error && kind != ENTRY_FOLDER) error = ENGINE_NOT_A_FOLDER;
    if (!error) error = Sys.resolvePath(path, resolved, PATH_BUFFER_SIZE);
    if (!error) return true;
    char what[64];
    snprintf(what, sizeof what, "the %s folder cannot be used", role);
    return RefuseFor(error, refusal, REFUSAL_UNUSABLE, roleIndex, what, path, reason, reasonSize);
}

// Makes the folders of `path` (resolved) from the nearest one that exists
// down, and probes the last: a destination that does not exist yet is
// tried where it will be, so that nothing is ever made outside it. The
// folders made are removed again, deepest first, so that a run with
// nothing to copy leaves none. The probe itself leaves nothing (probeFolder).
static SysError ProbeByMaking(const char* path, size_t existingLength) {
    char folder[PATH_BUFFER_SIZE];
    snprintf(folder, sizeof folder, "%s", path);
    size_t length = strlen(folder);
    size_t made[PATH_BUFFER_SIZE / 2];
    size_t madeCount = 0;
    SysError error = 0;
    for (size_t end = existingLength + 1; end <= length && !error; ++end) {
        if (end < length && !IsPathSeparator(folder[end])) continue;
        char kept = folder[end];
        folder[end] = '\0';
        bool madeNow = false;
        error = Sys.makeFolder(folder, &madeNow);
        if (!error && madeNow && madeCount < PATH_BUFFER_SIZE / 2) made[madeCount++] = end;
        folder[end] = kept;
    }
    if (!error) error = Sys.probeFolder(path);
    while (madeCount > 0) {
        folder[made[--madeCount]] = '\0';
        Sys.removeFolder(folder);  // an empty folder of ours; one another program filled stays
    }
    return error;
}

// Whether the Data folder `data` (as given) can hold the mod, `resolved`
// being its resolved form: it, or the nearest folder above it that exists,
// must be a folder, and when `willWrite` one that takes a file, tried
// inside the destination `destination` (resolved) alone.
static bool CheckDataWritable(const char* data, const char* resolved, const char* destination, bool willWrite,
                              char* reason, size_t reasonSize, FolderRefusal* refusal) {
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
        StepUp(existing);
        if (strlen(existing) >= length) break;  // the root itself is missing
    }
    if (!error && willWrite) {
        // Data, or the destination itself; else the destination is made for the probe.
        if (strcmp(existing, destination) == 0 || PathInside(existing, destination)) error = Sys.probeFolder(existing);
        else error = ProbeByMaking(destination, strlen(existing));
    }
    if (!error) return true;
    return RefuseFor(error, refusal, REFUSAL_DATA_UNWRITABLE, 2, "the destination cannot hold the mod", data, reason,
                     reasonSize);
}

bool CheckJobFolders(const char* original, const char* modded, const char* destination, char* reason,
                     size_t reasonSize, FolderRefusal* refusal, bool willWrite) {
    const char* roles[3] = {"original", "modded", "destination"};
    const char* paths[3] = {original, modded, destination};
    for (int i = 0; i < 3; ++i) {
        char text[128];
        if (!paths[i] || !paths[i][0]) {
            Name(refusal, REFUSAL_EMPTY, i);
            snprintf(text, sizeof text, "no %s folder given", roles[i]);
            return Refuse(reason, reasonSize, text);
        }
        char data[PATH_BUFFER_SIZE];
        // The destination also takes its Data folder.
        if (strlen(paths[i]) > PathLimit() || (i == 2 && DataFolderPath(paths[i], data, sizeof data) == 0)) {
            Name(refusal, REFUSAL_TOO_LONG, i);
            snprintf(text, sizeof text, "the %s folder's path is too long", roles[i]);
            return Refuse(reason, reasonSize, text);
        }
    }

    char resolvedOriginal[PATH_BUFFER_SIZE];
    char resolvedModded[PATH_BUFFER_SIZE];
    char resolvedData[PATH_BUFFER_SIZE];
    FolderId ids[2];
    if (!CheckInput("original", original, resolvedOriginal, &ids[0], reason, reasonSize, refusal, 0)) return false;
    if (!CheckInput("modded", modded, resolvedModded, &ids[1], reason, reasonSize, refusal, 1)) return false;

    EntryKind kind;
    FolderId id;
    SysError error = Sys.examine(destination, &kind, &id);
    if (!error && kind != ENTRY_FOLDER) {
        Name(refusal, REFUSAL_UNUSABLE, 2, ENGINE_NOT_A_FOLDER);
        return Refuse(reason, reasonSize, "the destination exists and is not a folder", destination);
    }

    char data[PATH_BUFFER_SIZE];
    DataFolderPath(destination, data, sizeof data);
    if (!ResolveLeniently(data, resolvedData, &error))
        return RefuseFor(error, refusal, REFUSAL_UNUSABLE, 2, "the destination cannot be used", destination, reason,
                         reasonSize);

    if (strcmp(resolvedOriginal, resolvedModded) == 0 || SameFolder(ids[0], ids[1])) {
        Name(refusal, REFUSAL_SAME_FOLDER, 1);
        return Refuse(reason, reasonSize, "the original and the modded folder are the same folder");
    }
    if (PathInside(resolvedModded, resolvedOriginal) || Below(resolvedModded, ids[0])) {
        Name(refusal, REFUSAL_NESTED, 1);
        return Refuse(reason, reasonSize, "the modded folder lies inside the original folder");
    }
    if (PathInside(resolvedOriginal, resolvedModded) || Below(resolvedOriginal, ids[1])) {
        Name(refusal, REFUSAL_NESTED, 0);
        return Refuse(reason, reasonSize, "the original folder lies inside the modded folder");
    }

    const char* inputs[2] = {resolvedOriginal, resolvedModded};
    FolderId dataId;
    bool dataExists = !Sys.examine(resolvedData, &kind, &dataId) && kind == ENTRY_FOLDER;
    for (int i = 0; i < 2; ++i) {
        char text[160];
        const char* problem = nullptr;
        if (strcmp(resolvedData, inputs[i]) == 0 || (dataExists && SameFolder(dataId, ids[i]))) problem = "is";
        else if (PathInside(resolvedData, inputs[i]) || Below(resolvedData, ids[i])) problem = "lies inside";
        else if (PathInside(inputs[i], resolvedData) || (dataExists && Below(inputs[i], dataId))) problem = "contains";
        if (problem) {
            Name(refusal, REFUSAL_DATA_OVERLAPS_INPUT, 2);
            snprintf(text, sizeof text, "the destination's Data folder %s the %s folder, which is only read", problem,
                     roles[i]);
            return Refuse(reason, reasonSize, text);
        }
    }
    // The destination as Data's resolved parent: where Data will be made.
    char resolvedDestination[PATH_BUFFER_SIZE];
    snprintf(resolvedDestination, sizeof resolvedDestination, "%s", resolvedData);
    StepUp(resolvedDestination);
    return CheckDataWritable(data, resolvedData, resolvedDestination, willWrite, reason, reasonSize, refusal);
}
