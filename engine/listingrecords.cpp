#include "listingrecords.h"

#include <stdlib.h>
#include <string.h>

#include "jobstate.h"

unsigned char* MakeRoom(RecordBuffer* buffer, size_t bytes) {
    if (buffer->used + bytes > buffer->size) {
        size_t grown = buffer->size ? buffer->size * 2 : 4096;
        while (grown < buffer->used + bytes) grown *= 2;
        unsigned char* bigger = (unsigned char*)realloc(buffer->data, grown);
        if (!bigger) {
            buffer->full = true;
            return nullptr;
        }
        buffer->data = bigger;
        buffer->size = grown;
    }
    unsigned char* at = buffer->data + buffer->used;
    buffer->used += bytes;
    return at;
}

bool AppendEntry(void* context, const FolderEntry* entry) {
    if (StopRequested()) return false;
    EntryRecord* record = (EntryRecord*)MakeRoom((RecordBuffer*)context, RecordSize(entry->nameLength));
    if (!record) return true;
    record->size = entry->size;
    record->stamp = entry->stamp;
    record->id = entry->id;
    record->error = entry->error;
    record->nameLength = (uint32_t)entry->nameLength;
    record->kind = entry->kind;
    memcpy(record + 1, entry->name, entry->nameLength + 1);
    return true;
}
