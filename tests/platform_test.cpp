// The platform layer against the real file system, on every platform.
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "holdwait.h"
#include "support.h"
#include "jobstop.h"

static bool Gather(void* context, const FolderEntry* entry) {
    (*(std::map<std::string, FolderEntry>*)context)[entry->name] = *entry;
    return true;
}

TEST(Platform, ListingGivesEveryEntryWithKindAndSize) {
    TempDir dir;
    WriteFile(dir / "file.dat", "12345");
    WriteFile(dir / ".hidden", "");
    WriteFile(dir / "folder/inner", "x");
    std::map<std::string, FolderEntry> entries;
    ASSERT_EQ(0u, Sys.listFolder(dir.path.c_str(), Gather, &entries));
    entries.erase(".");
    entries.erase("..");
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(ENTRY_FILE, entries["file.dat"].kind);
    if (entries["file.dat"].size == SIZE_UNKNOWN) EXPECT_EQ(0u, entries["file.dat"].stamp);  // its handle tells
    else EXPECT_EQ(5u, entries["file.dat"].size);
    EXPECT_EQ(ENTRY_FILE, entries[".hidden"].kind);
    EXPECT_EQ(ENTRY_FOLDER, entries["folder"].kind);
    // A hint counts a file for no more than it holds, so that a window of
    // small files of unknown size is not taken for one of big files.
    uint64_t asked = 1u << 30;
    EXPECT_EQ(0u, Sys.adviseWillNeed((dir / "file.dat").c_str(), 2u << 20, &asked));
    EXPECT_LE(asked, 5u);
    // The folder's identity is the one examining it gives.
    EntryKind kind;
    FolderId id;
    ASSERT_EQ(0u, Sys.examine((dir / "folder").c_str(), &kind, &id));
    EXPECT_EQ(ENTRY_FOLDER, kind);
    EXPECT_EQ(id.index, entries["folder"].id.index);
    EXPECT_EQ(id.volume, entries["folder"].id.volume);
}

TEST(Platform, MissingPathsSayNotFound) {
    TempDir dir;
    std::map<std::string, FolderEntry> entries;
    EXPECT_TRUE(IsNotFound(Sys.listFolder((dir / "none").c_str(), Gather, &entries)));
    EntryKind kind;
    FolderId id;
    EXPECT_TRUE(IsNotFound(Sys.examine((dir / "none").c_str(), &kind, &id)));
    FileHandle file;
    EXPECT_TRUE(IsNotFound(Sys.openForReading((dir / "none").c_str(), &file)));
    char out[PATH_BUFFER_SIZE];
    EXPECT_TRUE(IsNotFound(Sys.resolvePath((dir / "none").c_str(), out, sizeof out)));
    uint64_t asked = 1;
    Sys.adviseWillNeed((dir / "none").c_str(), 1, &asked);  // only a hint: it may say nothing
    EXPECT_EQ(0u, asked);
    char text[256];
    DescribeError(Sys.examine((dir / "none").c_str(), &kind, &id), text, sizeof text);
    EXPECT_GT(strlen(text), 3u);
}

TEST(Platform, ReadsComeInFullChunksUntilTheEnd) {
    TempDir dir;
    std::string contents(2500, 'q');
    WriteFile(dir / "f", contents);
    FileHandle file;
    ASSERT_EQ(0u, Sys.openForReading((dir / "f").c_str(), &file));
    char buffer[1000];
    size_t got;
    std::string back;
    std::vector<size_t> sizes;
    do {
        ASSERT_EQ(0u, Sys.readFile(file, buffer, sizeof buffer, &got));
        sizes.push_back(got);
        back.append(buffer, got);
    } while (got > 0);
    Sys.closeFile(file);
    EXPECT_EQ((std::vector<size_t>{1000, 1000, 500, 0}), sizes);
    EXPECT_EQ(contents, back);
}

TEST(Platform, OpeningAFolderForReadingFails) {
    TempDir dir;
    FileHandle file = INVALID_FILE;
    EXPECT_NE(0u, Sys.openForReading(dir.path.c_str(), &file));
    EXPECT_EQ(INVALID_FILE, file);
}

TEST(Platform, CreateFoldersMakesTheWholeChainAndAcceptsExistingOnes) {
    TempDir dir;
    std::string deep = dir / "a/b/c/d";
    EXPECT_EQ(0u, Sys.createFolders(deep.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_EQ(0u, Sys.createFolders(deep.c_str()));
    WriteFile(dir / "plain", "p");
    EXPECT_NE(0u, Sys.createFolders((dir / "plain").c_str()));
    EXPECT_NE(0u, Sys.createFolders((dir / "plain/below").c_str()));
    std::string tooLong = dir.path + PathSeparator() + std::string(PathLimit(), 'x');
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.createFolders(tooLong.c_str()));
}

TEST(Platform, CopyReplacesTheTargetAndLeavesNothingElse) {
    TempDir dir;
    std::string big(3 * 1024 * 1024 + 5, 'b');
    WriteFile(dir / "src/big", big);
    WriteFile(dir / "dst/big", "old");
    uint64_t copied = 0;
    ASSERT_EQ(0u, CopyPlain((dir / "src/big").c_str(), (dir / "dst/big").c_str(), &copied));
    EXPECT_EQ(big.size(), copied);
    EXPECT_EQ(big, ReadFile(dir / "dst/big"));
    EXPECT_EQ(std::vector<std::string>{"big"}, ListTree(dir / "dst"));
}

TEST(Platform, FailedCopyKeepsTheOldTargetAndLeavesNoTemporary) {
    TempDir dir;
    WriteFile(dir / "dst/t", "old");
    uint64_t copied = 0;
    EXPECT_NE(0u, CopyPlain((dir / "src/missing").c_str(), (dir / "dst/t").c_str(), &copied));
    std::filesystem::create_directories(dir / "src/folder");
    EXPECT_NE(0u, CopyPlain((dir / "src/folder").c_str(), (dir / "dst/t").c_str(), &copied));
    // A folder standing where the file should go.
    WriteFile(dir / "src/f", "new");
    std::filesystem::create_directories(dir / "dst/blocked");
    EXPECT_NE(0u, CopyPlain((dir / "src/f").c_str(), (dir / "dst/blocked").c_str(), &copied));
    EXPECT_EQ("old", ReadFile(dir / "dst/t"));
    EXPECT_EQ(std::vector<std::string>{"t"}, ListTree(dir / "dst"));
}

// What the listing saw of a file, for a copy that expects it.
struct Seen {
    uint64_t size = 0, stamp = 0;
};
static bool RememberFile(void* context, const FolderEntry* entry) {
    if (entry->kind == ENTRY_FILE && strcmp(entry->name, "f") == 0) *(Seen*)context = Seen{entry->size, entry->stamp};
    return true;
}

TEST(Platform, CopyOfASourceThatMovedSinceTheListingOrWhenStoppedLeavesNothing) {
    TempDir dir;
    WriteFile(dir / "src/f", "listed");
    Seen seen;
    ASSERT_EQ(0u, Sys.listFolder((dir / "src").c_str(), RememberFile, &seen));
    if (seen.size == SIZE_UNKNOWN) {  // the listing left it to the open file, as a comparison asks it
        ASSERT_TRUE(SizeAndStampOf(dir / "src/f", &seen.size, &seen.stamp));
    }
    ASSERT_NE(0u, seen.stamp);
    unsigned char* chunk = AllocateChunk(1 << 20);
    ASSERT_NE(nullptr, chunk);
    EXPECT_EQ(0u, (uintptr_t)chunk % 4096);
    std::string source = dir / "src/f", target = dir / "dst/f";
    std::filesystem::create_directories(dir / "dst");
    CopyRequest request = {source.c_str(), target.c_str(), seen.size, seen.stamp, chunk, 1 << 20, nullptr, nullptr,
                           false, INVALID_FILE, nullptr};
    uint64_t copied = 0;
    EXPECT_EQ(0u, Sys.copyFile(&request, &copied));
    EXPECT_EQ("listed", ReadFile(target));

    WriteFile(source, "rewritten");
    EXPECT_EQ(ENGINE_SOURCE_CHANGED, Sys.copyFile(&request, &copied));
    EXPECT_EQ("listed", ReadFile(target));
    std::atomic<bool> stop{true};
    request.stamp = 0;
    request.stop = &stop;
    EXPECT_EQ(ENGINE_ABANDONED, Sys.copyFile(&request, &copied));
    EXPECT_EQ(std::vector<std::string>{"f"}, ListTree(dir / "dst"));
    FreeChunk(chunk);
}

TEST(Platform, ResolvePathGivesTheSameTextForTheSameFolder) {
    TempDir dir;
    std::filesystem::create_directories(dir / "a/b");
    char one[PATH_BUFFER_SIZE], two[PATH_BUFFER_SIZE];
    ASSERT_EQ(0u, Sys.resolvePath((dir / "a/b").c_str(), one, sizeof one));
    ASSERT_EQ(0u, Sys.resolvePath((dir / "a/b/../b/.").c_str(), two, sizeof two));
    EXPECT_STREQ(one, two);
    char tiny[4];
    EXPECT_NE(0u, Sys.resolvePath((dir / "a/b").c_str(), tiny, sizeof tiny));
}
