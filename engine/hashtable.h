// The engine's one hash table: open addressing with linear probing over
// slots of a small entry type, for its sets and maps (the original tree's
// lookups, the paths the scan carried, the folders the guard met). An entry
// is usually an index into records held elsewhere (4 bytes a slot), so the
// table never holds a pointer or a copy of a name: the caller tells how an
// entry hashes and which entry it looks for, and the table walks the slots.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "contract.h"

// A table of `capacity` slots, `count` of them full. An entry of all one
// bits (NO_INDEX for an index) marks an empty slot and is never stored.
// The capacity need not be a power of two: a hash is spread over the slots
// by multiplication, so a table sized once holds just the room it needs.
// Zero-filled, it is empty and holds nothing (a lookup finds nothing).
template <typename Entry>
struct HashTable {
    Entry* slots;
    uint32_t capacity;
    uint32_t count;
    uint32_t maxLoad;  // percent of the capacity that may be full before GrowForOne grows it; 0: 75
};

// The slot where entries of hash `hash` begin their search, below
// `capacity` (more than 0). The hash is mixed first, so hashes that differ
// in few bits (folder indices, one name's hash) still land apart.
inline uint32_t HomeSlot(uint32_t hash, uint32_t capacity) {
    hash ^= hash >> 16;
    hash *= 0x85EBCA6Bu;
    hash ^= hash >> 13;
    return (uint32_t)(((uint64_t)hash * capacity) >> 32);
}

// True for an entry of all one bits: an empty slot.
template <typename Entry>
inline bool IsEmptySlot(const Entry& entry) {
    Entry empty;
    memset(&empty, 0xFF, sizeof empty);
    return memcmp(&entry, &empty, sizeof entry) == 0;
}
// The same for the tables of indices and keys, whatever the optimiser does.
inline bool IsEmptySlot(uint32_t entry) {
    return entry == 0xFFFFFFFFu;
}
inline bool IsEmptySlot(uint64_t entry) {
    return entry == ~(uint64_t)0;
}

// Makes `table` an empty table of room for `entries` entries while at most
// `maxLoad` percent (1 to 99) of its slots are full, plus a few slots so
// that it is never full. False when memory ran out or the slots would not
// be addressable; the table is then empty (no slots), and lookups find nothing.
template <typename Entry>
bool InitHashTable(HashTable<Entry>* table, uint32_t entries, uint32_t maxLoad) {
    ENGINE_ASSERT(maxLoad > 0 && maxLoad < 100);
    table->slots = nullptr;
    table->capacity = table->count = 0;
    table->maxLoad = maxLoad;
    uint64_t wanted = (uint64_t)entries * 100 / maxLoad + 16;
    if (wanted > 0xFFFFFFFFu || wanted > SIZE_MAX / sizeof(Entry)) return false;
    Entry* slots = (Entry*)malloc((size_t)wanted * sizeof(Entry));
    if (!slots) return false;
    memset(slots, 0xFF, (size_t)wanted * sizeof(Entry));  // every slot empty
    table->slots = slots;
    table->capacity = (uint32_t)wanted;
    return true;
}

// Frees the slots; the table is empty (and may be initialised again).
template <typename Entry>
void ReleaseHashTable(HashTable<Entry>* table) {
    free(table->slots);
    table->slots = nullptr;
    table->capacity = table->count = 0;
}

// From the home slot of `hash` on, the slot holding an entry that
// `matches(entry)` accepts, or else the empty slot where such an entry
// belongs. The table must have slots. Every entry that matches must have
// been stored under the same hash.
template <typename Entry, typename Matches>
uint32_t ProbeHashTable(const HashTable<Entry>* table, uint32_t hash, Matches matches) {
    ENGINE_ASSERT(table->slots && table->count < table->capacity);
    uint32_t slot = HomeSlot(hash, table->capacity);
    while (!IsEmptySlot(table->slots[slot]) && !matches(table->slots[slot]))
        if (++slot == table->capacity) slot = 0;
    return slot;
}

// The entry that `matches` accepts among those of hash `hash`; null when
// there is none or the table has no slots.
template <typename Entry, typename Matches>
const Entry* FindInHashTable(const HashTable<Entry>* table, uint32_t hash, Matches matches) {
    if (!table->slots) return nullptr;
    uint32_t slot = ProbeHashTable(table, hash, matches);
    return IsEmptySlot(table->slots[slot]) ? nullptr : &table->slots[slot];
}

// Stores `entry` (not all one bits) in `slot`, an empty slot that
// ProbeHashTable returned for its hash since the table last changed.
// One slot always stays empty: the caller makes room first (GrowForOne)
// or sized the table for every entry.
template <typename Entry>
void FillSlot(HashTable<Entry>* table, uint32_t slot, const Entry& entry) {
    ENGINE_ASSERT(slot < table->capacity && IsEmptySlot(table->slots[slot]) && !IsEmptySlot(entry));
    ENGINE_ASSERT(table->count + 2 <= table->capacity);
    table->slots[slot] = entry;
    ++table->count;
}

// Makes room for one more entry: when it would pass the table's maxLoad,
// moves every entry into a table of twice the room (at least 1024 slots
// for a table without slots), placed by `hashOf(entry)`, the hash each was
// stored under. False when memory ran out: the table is unchanged.
template <typename Entry, typename HashOf>
bool GrowForOne(HashTable<Entry>* table, HashOf hashOf) {
    uint64_t needed = ((uint64_t)table->count + 1) * 100;
    uint32_t maxLoad = table->maxLoad ? table->maxLoad : 75;
    if (table->slots && needed <= (uint64_t)table->capacity * maxLoad) return true;
    uint64_t room = table->slots ? 2 * (uint64_t)table->capacity : 1024;
    if (room > 0xFFFFFFFFu || room > SIZE_MAX / sizeof(Entry)) return false;
    Entry* grown = (Entry*)malloc((size_t)room * sizeof(Entry));
    if (!grown) return false;
    memset(grown, 0xFF, (size_t)room * sizeof(Entry));
    for (uint32_t i = 0; i < table->capacity; ++i) {
        if (IsEmptySlot(table->slots[i])) continue;
        uint32_t slot = HomeSlot(hashOf(table->slots[i]), (uint32_t)room);
        while (!IsEmptySlot(grown[slot]))
            if (++slot == room) slot = 0;
        grown[slot] = table->slots[i];
    }
    free(table->slots);
    table->slots = grown;
    table->capacity = (uint32_t)room;
    return true;
}
