#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "comparepool.h"
#include "deepscan.h"
#include "originalindex.h"
#include "filecompare.h"
#include "support.h"
#include "jobstop.h"

using Paths = std::vector<std::string>;
static uint32_t AddPath(FileTree* tree, const std::string& path, uint64_t size = 0) {
    uint32_t folder = ROOT_FOLDER;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
        std::string part = path.substr(start, slash - start);
        uint32_t found = NO_INDEX;
        for (uint32_t f = 1; f < FolderCount(tree) && found == NO_INDEX; ++f)
            if (FolderAt(tree, f)->parent == folder && part == NameAt(tree, FolderAt(tree, f)->name)) found = f;
        folder = found != NO_INDEX ? found : AddFolder(tree, folder, part.c_str(), part.size());
    }
    std::string name = path.substr(start);
    return AddFile(tree, folder, name.c_str(), name.size(), size, 0);
}

static void MakeTree(FileTree* tree, const std::vector<std::string>& paths) {
    InitFileTree(tree, false);
    SetTreeRoot(tree, "root", 4);
    for (const std::string& path : paths) AddPath(tree, path);
}

TEST(FindOriginal, FindsByExactFolderAndNameAndTheFirstInListOrder) {
    FileTree tree;
    MakeTree(&tree, {"x/one", "two", "Two", "x/y/three"});
    uint32_t later = AddPath(&tree, "x/one", 7);  // the same path again: newer, so first in list order
    FileTree modded;
    MakeTree(&modded, {"x/y/z/four", "x/q/five", "X/one"});
    OriginalIndex index;
    BuildOriginalIndex(&tree, &index);
    OriginalIndex search = index;
    search.files.slots = search.folders.slots = nullptr;  // what stands in when the tables cannot be had
    for (const OriginalIndex* which : {&index, &search}) {
        uint32_t x = FindOriginalFolder(which, ROOT_FOLDER, "x", 1);
        ASSERT_NE(NO_INDEX, x);
        EXPECT_EQ(later, FindOriginal(which, x, "one", 3));
#ifdef _WIN32
        // Names that differ only in letter case are one name: the first in list order.
        EXPECT_EQ(2u, FindOriginal(which, ROOT_FOLDER, "two", 3));
        EXPECT_EQ(2u, FindOriginal(which, ROOT_FOLDER, "TWO", 3));
        EXPECT_EQ(x, FindOriginalFolder(which, ROOT_FOLDER, "X", 1));
#else
        EXPECT_EQ(1u, FindOriginal(which, ROOT_FOLDER, "two", 3));
        EXPECT_EQ(2u, FindOriginal(which, ROOT_FOLDER, "Two", 3));
        EXPECT_EQ(NO_INDEX, FindOriginal(which, ROOT_FOLDER, "TWO", 3));
        EXPECT_EQ(NO_INDEX, FindOriginalFolder(which, ROOT_FOLDER, "X", 1));
#endif
        EXPECT_EQ(NO_INDEX, FindOriginal(which, x, "on", 2));
        EXPECT_EQ(NO_INDEX, FindOriginal(which, ROOT_FOLDER, "one", 3));  // right name, wrong folder
        // Modded folders match folder by folder from the root: x/y/z's parent x/y is there, it is not.
        uint32_t z = FileAt(&modded, 0)->folder;
        EXPECT_EQ(NO_INDEX, MatchFolder(which, &modded, z));
        EXPECT_EQ(FindOriginalFolder(which, x, "y", 1), MatchFolder(which, &modded, FolderAt(&modded, z)->parent));
        EXPECT_EQ(NO_INDEX, MatchFolder(which, &modded, FileAt(&modded, 1)->folder));
        EXPECT_EQ(ROOT_FOLDER, MatchFolder(which, &modded, ROOT_FOLDER));
    }
    ReleaseOriginalIndex(&index);
    ReleaseFileTree(&tree);
    ReleaseFileTree(&modded);
}

TEST(FindOriginal, EmptyOriginalTreeFindsNothing) {
    FileTree rootless, empty, modded;
    InitFileTree(&rootless, false);  // its root could not be listed
    MakeTree(&empty, {});
    MakeTree(&modded, {"a"});
    for (FileTree* tree : {&rootless, &empty}) {
        OriginalIndex index;
        BuildOriginalIndex(tree, &index);
        uint32_t folder = MatchFolder(&index, &modded, ROOT_FOLDER);
        EXPECT_EQ(tree == &empty ? ROOT_FOLDER : NO_INDEX, folder);
        if (folder != NO_INDEX) {
            EXPECT_EQ(NO_INDEX, FindOriginal(&index, folder, "a", 1));
        }
        ReleaseOriginalIndex(&index);
        ReleaseFileTree(tree);
    }
    ReleaseFileTree(&modded);
}

TEST(FindOriginal, ManyFilesAreAllFound) {
    std::vector<std::string> paths;
    for (int i = 0; i < 5000; ++i) paths.push_back("d" + std::to_string(i % 37) + "/f" + std::to_string(i));
    FileTree tree;
    MakeTree(&tree, paths);
    OriginalIndex index;
    BuildOriginalIndex(&tree, &index);
    for (uint32_t i = 0; i < paths.size(); ++i) {
        std::string folder = "d" + std::to_string(i % 37);
        std::string name = "f" + std::to_string(i);
        uint32_t found = FindOriginalFolder(&index, ROOT_FOLDER, folder.c_str(), folder.size());
        ASSERT_NE(NO_INDEX, found);
        EXPECT_EQ(i, FindOriginal(&index, found, name.c_str(), name.size()));
    }
    ReleaseOriginalIndex(&index);
    ReleaseFileTree(&tree);
}

// The comparisons' opens, reads and closes, seen by path: a test may act
// before any read of a file and see the order in which files were closed.
// Several comparers call these at once.
