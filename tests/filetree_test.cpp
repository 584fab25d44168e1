#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filetree.h"
#include "platform.h"

static std::string PathOf(const FileTree* tree, uint32_t file) {
    char path[PATH_BUFFER_SIZE];
    size_t length = FilePath(tree, file, path);
    EXPECT_EQ(strlen(path), length);
    return std::string(path, length);
}

TEST(FileTree, EmptyTreeHoldsOnlyItsRoot) {
    FileTree tree;
    InitFileTree(&tree, false);
    EXPECT_EQ(0u, FileCount(&tree));
    EXPECT_EQ(0u, FolderCount(&tree));
    ASSERT_TRUE(SetTreeRoot(&tree, "root", 4));
    EXPECT_EQ(1u, FolderCount(&tree));
    EXPECT_EQ(0u, FileCount(&tree));
    EXPECT_EQ(NO_INDEX, FolderAt(&tree, ROOT_FOLDER)->parent);
    ReleaseFileTree(&tree);
    EXPECT_EQ(0u, FolderCount(&tree));
    ReleaseFileTree(&tree);  // twice is harmless
}

// Folders, names and records each fill more than one block: every path,
// size and stamp must come back whole, whichever block its parts landed in.
TEST(FileTree, FoldersNamesAndRecordsSurviveBlockBoundaries) {
    const char sep = PathSeparator();
    FileTree tree;
    InitFileTree(&tree, true);
    const std::string root = std::string("root") + sep;  // a trailing separator is kept: doubled below it
    ASSERT_TRUE(SetTreeRoot(&tree, root.c_str(), root.size()));

    // 5000 folders (more than one block of folder records), each below
    // folder i / 2, so paths go 13 folders deep.
    std::vector<std::string> folderPaths = {root};
    for (uint32_t i = 1; i < 5000; ++i) {
        std::string name = "d" + std::to_string(i);
        ASSERT_EQ(i, AddFolder(&tree, i / 2, name.c_str(), name.size()));
        folderPaths.push_back(folderPaths[i / 2] + sep + name);
    }
    // 70,000 files (more than one block of 65,536 records) with names of 1
    // to 200 bytes, odd bytes and letter case included (about 7 MiB of
    // names: several 1 MiB blocks, names never cut at a block's end).
    std::vector<std::string> expected;
    for (uint32_t i = 0; i < 70000; ++i) {
        std::string name(1 + i % 200, (char)('a' + i % 26));
        name[0] = (i % 3 == 0) ? 'N' : 'n';
        if (name.size() > 2) name[1] = (char)(0x80 + i % 0x7F);  // any byte but NUL and the separators
        if (name.size() > 3) name[2] = '\x01';
        uint32_t folder = (i * 7) % 5000;
        uint64_t size = i % 5 ? i : 0xFFFFFFFFull + i;
        ASSERT_EQ(i, AddFile(&tree, folder, name.c_str(), name.size(), size, 0x5000000000ull + i));
        expected.push_back(folderPaths[folder] + sep + name);
    }
    EXPECT_GT(tree.folders.blockCount, 1u);
    EXPECT_GT(tree.files.blockCount, 1u);
    EXPECT_GT(tree.names.blockCount, 5u);
    ASSERT_EQ(70000u, FileCount(&tree));
    for (uint32_t i = 0; i < 70000; ++i) {
        ASSERT_EQ(expected[i], PathOf(&tree, i)) << i;
        EXPECT_EQ(i % 5 ? i : 0xFFFFFFFFull + i, FileSize(&tree, i));  // sizes from 4 GiB - 1 up live apart
        EXPECT_EQ(0x5000000000ull + i, StampOf(&tree, i));
    }
    // The root's doubled separator, and a root-level file.
    uint32_t top = AddFile(&tree, ROOT_FOLDER, "top", 3, 0, 0);
    EXPECT_EQ(root + sep + "top", PathOf(&tree, top));

    // A path longer than the buffer is refused whole, nothing written past it.
    std::string longName(PATH_BUFFER_SIZE / 2, 'L');
    uint32_t deep = AddFolder(&tree, ROOT_FOLDER, longName.c_str(), longName.size());
    uint32_t tooLong = AddFile(&tree, deep, longName.c_str(), longName.size(), 0, 0);
    std::vector<char> buffer(PATH_BUFFER_SIZE + 16, '#');
    EXPECT_EQ(0u, FilePath(&tree, tooLong, buffer.data()));
    for (size_t i = PATH_BUFFER_SIZE; i < buffer.size(); ++i) ASSERT_EQ('#', buffer[i]);
    // Just within the buffer.
    std::string fits(PATH_BUFFER_SIZE - 1 - root.size() - 1 - longName.size() - 1, 'f');
    uint32_t fitting = AddFile(&tree, deep, fits.c_str(), fits.size(), 0, 0);
    EXPECT_EQ(root + sep + longName + sep + fits, PathOf(&tree, fitting));

    ReleaseFileTree(&tree);
    EXPECT_EQ(0u, FileCount(&tree));
}

TEST(FileTree, WithoutStampsFilesCostNoStampAndReadAsUnknown) {
    FileTree tree;
    InitFileTree(&tree, false);
    ASSERT_TRUE(SetTreeRoot(&tree, "r", 1));
    ASSERT_EQ(0u, AddFile(&tree, ROOT_FOLDER, "a", 1, 5, 99));
    EXPECT_EQ(0u, StampOf(&tree, 0));
    EXPECT_EQ(0u, tree.stamps.count);
    EXPECT_EQ(5u, FileSize(&tree, 0));
    ReleaseFileTree(&tree);
}
