#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filetree.h"
#include "jobquestion.h"

// When the two trees share few enough paths to ask: fewer than a tenth of
// the original's files, or none; never when the modded tree is empty.
TEST(JobQuestion, FewSharedPathsAreThoseBelowATenthOrNone) {
    struct Case {
        const char* name;
        uint32_t shared, originalFiles, moddedFiles;
        bool ask;
    } cases[] = {
        {"nothing to write", 0, 50, 0, false},
        {"none shared", 0, 50, 40, true},
        {"an empty original", 0, 0, 3, true},
        {"below a tenth", 4, 50, 40, true},
        {"a tenth exactly", 5, 50, 40, false},
        {"most shared", 48, 50, 60, false},
        {"one of one", 1, 1, 1, false},
        {"no overflow of the tenth", 500000000, 4000000000u, 600000000, false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.ask, FewPathsShared(c.shared, c.originalFiles, c.moddedFiles)) << c.name;
}

// What a tree holds at its top: counts of both kinds, and the lowest
// names by bytes, folders first, whatever order the index met them in.
TEST(JobQuestion, TheTopOfATreeIsCountedAndItsLowestNamesShownFoldersFirst) {
    FileTree tree;
    InitFileTree(&tree, false);
    ASSERT_TRUE(SetTreeRoot(&tree, "/root", 5));
    uint32_t deep = AddFolder(&tree, ROOT_FOLDER, "zeta", 4);
    AddFolder(&tree, deep, "below", 5);
    AddFolder(&tree, ROOT_FOLDER, "Alpha", 5);
    AddFile(&tree, deep, "hidden.txt", 10, 1, 0);
    for (const char* name : {"m.esp", "b.esp", "z.esp", "a.esp"}) AddFile(&tree, ROOT_FOLDER, name, strlen(name), 1, 0);
    TreeTop top;
    DescribeTreeTop(&tree, &top);
    EXPECT_EQ(2u, top.folders);
    EXPECT_EQ(4u, top.files);
    ASSERT_EQ(3u, top.named);
    EXPECT_EQ((std::vector<std::string>{"Alpha", "zeta", "a.esp"}),
              (std::vector<std::string>{top.names[0], top.names[1], top.names[2]}));

    FileTree empty;
    InitFileTree(&empty, false);
    DescribeTreeTop(&empty, &top);
    EXPECT_EQ(0u, top.folders + top.files + top.named);
    ReleaseFileTree(&tree);
}
