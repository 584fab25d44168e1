#include "paths.h"

#include <string.h>

// Characters of the root at the start of an absolute path: "/" or "\",
// "C:\", or "\\server\share".
static size_t RootLength(const char* path) {
    if (IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        size_t at = 2;
        for (int part = 0; part < 2; ++part) {
            while (path[at] && !IsPathSeparator(path[at])) ++at;
            if (part == 0 && path[at]) ++at;
        }
        return at;
    }
    if (path[0] && path[1] == ':') return IsPathSeparator(path[2]) ? 3 : 2;
    return IsPathSeparator(path[0]) ? 1 : 0;
}

static const char DATA_FOLDER[] = "Data";

size_t DataFolderPath(const char* destination, char* out, size_t outSize) {
    size_t length = strlen(destination);
    size_t separator = length > 0 && IsPathSeparator(destination[length - 1]) ? 0 : 1;
    size_t total = length + separator + (sizeof DATA_FOLDER - 1);
    if (outSize == 0) return 0;
    out[0] = '\0';
    if (total > PathLimit() || total >= outSize) return 0;
    memcpy(out, destination, length);
    if (separator) out[length] = PathSeparator();
    memcpy(out + length + separator, DATA_FOLDER, sizeof DATA_FOLDER);
    return total;
}

SysError AbsolutePath(const char* path, char* out, size_t outSize) {
    if (outSize == 0) return ENGINE_PATH_TOO_LONG;
    out[0] = '\0';
    if (!path[0]) return 0;
    size_t limit = outSize - 1 < PathLimit() ? outSize - 1 : PathLimit();
    size_t taken = 0;
    SysError error = PathBase(path, out, outSize, &taken);
    if (error) return error;
    if (strlen(out) > limit) return ENGINE_PATH_TOO_LONG;
    if (!path[taken]) return 0;

    size_t root = RootLength(out);
    size_t length = strlen(out);
    for (const char* name = path + taken; *name;) {
        while (IsPathSeparator(*name)) ++name;
        size_t nameLength = 0;
        while (name[nameLength] && !IsPathSeparator(name[nameLength])) ++nameLength;
        if (nameLength == 0) break;
        if (nameLength == 2 && name[0] == '.' && name[1] == '.') {
            while (length > root && !IsPathSeparator(out[length - 1])) --length;
            while (length > root && IsPathSeparator(out[length - 1])) --length;
            out[length] = '\0';
        } else if (!(nameLength == 1 && name[0] == '.')) {
            bool separator = length > 0 && !IsPathSeparator(out[length - 1]);
            if (length + separator + nameLength > limit) return ENGINE_PATH_TOO_LONG;
            if (separator) out[length++] = PathSeparator();
            memcpy(out + length, name, nameLength);
            length += nameLength;
            out[length] = '\0';
        }
        name += nameLength;
    }
    while (length > root && IsPathSeparator(out[length - 1])) out[--length] = '\0';
    return 0;
}

size_t BuildTargetPath(const char* destinationRoot, const char* relativePath, char* out) {
    size_t dataLength = DataFolderPath(destinationRoot, out, PATH_BUFFER_SIZE);
    size_t relativeLength = strlen(relativePath);
    if (dataLength == 0 || dataLength + relativeLength > PathLimit()) {
        out[0] = '\0';
        return 0;
    }
    memcpy(out + dataLength, relativePath, relativeLength + 1);
    return dataLength + relativeLength;
}

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

void ParentFolder(char* path) {
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
            ParentFolder(out);
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

const char* LastName(const char* path) {
    const char* name = path + strlen(path);
    while (name > path && !IsPathSeparator(name[-1])) --name;
    return name;
}

bool NamedData(const char* path) {
    const char* name = LastName(path);
    for (size_t at = 0; at < sizeof DATA_FOLDER; ++at) {
        char c = name[at], d = DATA_FOLDER[at];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (d >= 'A' && d <= 'Z') d = (char)(d - 'A' + 'a');
        if (c != d) return false;
    }
    return true;
}
