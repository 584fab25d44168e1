// The list of file paths that the index builds and the change detection
// and mod assembly walk: singly linked, newest first, ending in a sentinel.
#pragma once

#include <stddef.h>
#include <stdint.h>

// `slot` of a node that is in no copy queue.
const uint32_t NOT_QUEUED = 0xFFFFFFFFu;

// Node flags.
enum : uint8_t {
    NODE_NEW = 1,  // on the changed list: no original at this relative path
};

// One list entry, one heap block: the path is stored right after the node
// and sized to fit, so a node never costs more than its path needs.
struct FileNode {
    FileNode* next;   // null only in the sentinel
    char* path;       // full path, NUL-terminated; "" in the sentinel
    uint64_t size;    // bytes, as the listing saw them
    uint64_t stamp;   // the listing's FolderEntry stamp; 0 unknown
    uint32_t length;  // characters in path
    uint32_t slot;    // place in the copy queue, or NOT_QUEUED
    uint8_t flags;
};

// A list is held as a pointer to its head node.
typedef FileNode* FileList;

// A new empty list (a lone sentinel), or null when memory ran out.
FileList NewFileList();

// Pushes a copy of `path` (`length` characters) at the head of `*list`.
// Returns the new node, or null when memory ran out (the list is unchanged).
FileNode* PushPath(FileList* list, const char* path, size_t length, uint64_t size);

// True for the sentinel, which ends every walk unprocessed.
inline bool IsSentinel(const FileNode* node) { return node->next == nullptr; }

// Number of nodes before the sentinel.
uint32_t CountFiles(FileList list);

// Frees every node from the head, the sentinel included, and sets *list to null.
void ReleaseFileList(FileList* list);
