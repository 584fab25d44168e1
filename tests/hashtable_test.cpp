#include <stdint.h>

#include <vector>

#include <gtest/gtest.h>

#include "hashtable.h"

// A hash that spreads nothing: every key starts its search in one slot.
static uint32_t SameHash(uint32_t) {
    return 7;
}

static uint32_t OwnHash(uint32_t key) {
    return key;
}

// Takes `key` in unless it is there; false when it was there.
template <typename HashOf>
static bool Insert(HashTable<uint32_t>* table, uint32_t key, HashOf hashOf) {
    EXPECT_TRUE(GrowForOne(table, hashOf));
    uint32_t slot = ProbeHashTable(table, hashOf(key), [key](uint32_t at) { return at == key; });
    if (!IsEmptySlot(table->slots[slot])) return false;
    FillSlot(table, slot, key);
    return true;
}

template <typename HashOf>
static bool Holds(const HashTable<uint32_t>* table, uint32_t key, HashOf hashOf) {
    return FindInHashTable(table, hashOf(key), [key](uint32_t at) { return at == key; }) != nullptr;
}

TEST(HashTable, GrowsKeepingEveryEntryAndItsLoadLimit) {
    HashTable<uint32_t> table = {nullptr, 0, 0, 50};
    for (uint32_t key = 0; key < 20000; ++key) {
        ASSERT_TRUE(Insert(&table, key * 3, OwnHash));
        ASSERT_LE((uint64_t)table.count * 100, (uint64_t)table.capacity * 50) << "after key " << key;
    }
    EXPECT_EQ(20000u, table.count);
    EXPECT_EQ(65536u, table.capacity);  // 1024 doubled until half full at most
    for (uint32_t key = 0; key < 60000; ++key)
        ASSERT_EQ(key % 3 == 0, Holds(&table, key, OwnHash)) << key;
    ReleaseHashTable(&table);
}

TEST(HashTable, TakesAKeyOnce) {
    HashTable<uint32_t> table = {};
    EXPECT_TRUE(Insert(&table, 42, OwnHash));
    EXPECT_FALSE(Insert(&table, 42, OwnHash));
    EXPECT_EQ(1u, table.count);
    ReleaseHashTable(&table);
}

TEST(HashTable, KeysOfOneHashAreAllFoundAcrossTheTablesEnd) {
    HashTable<uint32_t> table;
    ASSERT_TRUE(InitHashTable(&table, 3000, 67));
    // A hash whose search starts in the last slot, so that the run of
    // colliding keys wraps round to the first slots.
    uint32_t last = 0;
    while (HomeSlot(last, table.capacity) != table.capacity - 1) ASSERT_NE(0xFFFFFFFFu, ++last);
    auto lastHash = [last](uint32_t) { return last; };
    for (uint32_t key = 0; key < 3000; ++key) ASSERT_TRUE(Insert(&table, key, lastHash));
    EXPECT_FALSE(IsEmptySlot(table.slots[0]));
    for (uint32_t key = 0; key < 3000; ++key) ASSERT_TRUE(Holds(&table, key, lastHash)) << key;
    EXPECT_FALSE(Holds(&table, 3000, lastHash));
    ReleaseHashTable(&table);
}

TEST(HashTable, KeysOfOneHashSurviveGrowth) {
    HashTable<uint32_t> table = {};
    for (uint32_t key = 0; key < 2000; ++key) ASSERT_TRUE(Insert(&table, key, SameHash));
    EXPECT_GT(table.capacity, 1024u);
    for (uint32_t key = 0; key < 2000; ++key) ASSERT_TRUE(Holds(&table, key, SameHash)) << key;
    EXPECT_FALSE(Holds(&table, 2000, SameHash));
    ReleaseHashTable(&table);
}

// The original tree's tables are sized once for all their entries.
TEST(HashTable, SizedForAMillionEntriesCostsAtMostSixBytesEach) {
    const uint32_t million = 1000000;
    HashTable<uint32_t> table;
    ASSERT_TRUE(InitHashTable(&table, million, 67));
    for (uint32_t key = 0; key < million; ++key) {
        uint32_t slot = ProbeHashTable(&table, key * 2654435761u, [key](uint32_t at) { return at == key; });
        ASSERT_TRUE(IsEmptySlot(table.slots[slot]));
        FillSlot(&table, slot, key);
    }
    EXPECT_LE((double)table.capacity * sizeof(uint32_t) / million, 6.0);
    for (uint32_t key = 0; key < million; key += 997)
        ASSERT_TRUE(FindInHashTable(&table, key * 2654435761u, [key](uint32_t at) { return at == key; }));
    ReleaseHashTable(&table);
}

TEST(HashTable, GrownToAMillionEntriesCostsAtMostTwiceItsLoadLimit) {
    const uint32_t million = 1000000;
    HashTable<uint32_t> table = {nullptr, 0, 0, 75};
    for (uint32_t key = 0; key < million; ++key) ASSERT_TRUE(Insert(&table, key, OwnHash));
    // Doubling leaves a table at least half its limit full: 4 / 0.75 * 2 bytes at most.
    EXPECT_LE((double)table.capacity * sizeof(uint32_t) / million, 4 / 0.75 * 2);
    ReleaseHashTable(&table);
}

TEST(HashTable, AnUnaddressableSizeLeavesAnEmptyTableThatFindsNothing) {
    HashTable<uint64_t> table;
    EXPECT_FALSE(InitHashTable(&table, 0xFFFFFFFFu, 50));
    EXPECT_EQ(nullptr, table.slots);
    EXPECT_EQ(nullptr, FindInHashTable(&table, 1, [](uint64_t) { return true; }));
}

// A map: a key (here a name's position, as a folder's path would be) to a
// small record beside it in the slot.
struct NamedRecord {
    uint32_t name;
    uint32_t value;
};

TEST(HashTable, MapsAKeyToTheRecordStoredWithIt) {
    HashTable<NamedRecord> table = {};
    auto hashOf = [](const NamedRecord& entry) { return entry.name * 31u; };
    for (uint32_t name = 0; name < 5000; ++name) {
        ASSERT_TRUE(GrowForOne(&table, hashOf));
        uint32_t slot = ProbeHashTable(&table, name * 31u, [name](const NamedRecord& at) { return at.name == name; });
        FillSlot(&table, slot, NamedRecord{name, name ^ 0x5555u});
    }
    for (uint32_t name = 0; name < 5000; ++name) {
        const NamedRecord* found = FindInHashTable(&table, name * 31u, [name](const NamedRecord& at) { return at.name == name; });
        ASSERT_NE(nullptr, found);
        EXPECT_EQ(name ^ 0x5555u, found->value);
    }
    ReleaseHashTable(&table);
}

#if defined(ENGINE_CHECKS) && ENGINE_CHECKS && GTEST_HAS_DEATH_TEST
TEST(HashTableDeathTest, FillingAFullSlotNamesTheBrokenContractsFileAndLine) {
    ::testing::GTEST_FLAG(death_test_style) = "threadsafe";  // the sanitizers' threads do not survive a fork
    HashTable<uint32_t> table;
    ASSERT_TRUE(InitHashTable(&table, 4, 50));
    uint32_t slot = ProbeHashTable(&table, 1, [](uint32_t) { return false; });
    FillSlot(&table, slot, 1u);
    EXPECT_DEATH(FillSlot(&table, slot, 2u), "hashtable\\.h:.*: contract broken: .*IsEmptySlot");
    ReleaseHashTable(&table);
}
#else
TEST(HashTableDeathTest, FillingAFullSlotNamesTheBrokenContractsFileAndLine) {
    GTEST_SKIP() << "contracts are not checked in this build, or it cannot run death tests";
}
#endif
