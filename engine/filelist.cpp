#include "filelist.h"

#include <stdlib.h>
#include <string.h>

static FileNode* NewNode(const char* path, size_t length, uint64_t size) {
    FileNode* node = (FileNode*)malloc(sizeof(FileNode) + length + 1);
    if (!node) return nullptr;
    node->next = nullptr;
    node->path = (char*)(node + 1);
    memcpy(node->path, path, length);
    node->path[length] = '\0';
    node->size = size;
    node->stamp = 0;
    node->length = (uint32_t)length;
    node->slot = NOT_QUEUED;
    node->flags = 0;
    return node;
}

FileList NewFileList() {
    return NewNode("", 0, 0);
}

FileNode* PushPath(FileList* list, const char* path, size_t length, uint64_t size) {
    FileNode* node = NewNode(path, length, size);
    if (!node) return nullptr;
    node->next = *list;
    *list = node;
    return node;
}

uint32_t CountFiles(FileList list) {
    uint32_t count = 0;
    for (FileNode* node = list; node && !IsSentinel(node); node = node->next) ++count;
    return count;
}

void ReleaseFileList(FileList* list) {
    FileNode* node = *list;
    while (node) {
        FileNode* next = node->next;
        free(node);
        node = next;
    }
    *list = nullptr;
}
