#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "filelist.h"

TEST(FileList, EmptyListIsALoneSentinelThatEndsEveryWalk) {
    FileList list = NewFileList();
    ASSERT_NE(nullptr, list);
    EXPECT_TRUE(IsSentinel(list));
    EXPECT_EQ(0u, CountFiles(list));
    ReleaseFileList(&list);
    EXPECT_EQ(nullptr, list);
}

TEST(FileList, PushedPathsComeBackNewestFirstWithTheirSizes) {
    FileList list = NewFileList();
    const char* paths[] = {"r/one", "r/two", "r/three"};
    for (int i = 0; i < 3; ++i) ASSERT_NE(nullptr, PushPath(&list, paths[i], strlen(paths[i]), 10u + i));
    EXPECT_EQ(3u, CountFiles(list));
    int i = 2;
    for (FileNode* node = list; !IsSentinel(node); node = node->next, --i) {
        EXPECT_STREQ(paths[i], node->path);
        EXPECT_EQ(strlen(paths[i]), node->length);
        EXPECT_EQ(10u + i, node->size);
        EXPECT_EQ(0, node->flags);
    }
    EXPECT_EQ(-1, i);
    ReleaseFileList(&list);
}

TEST(FileList, PathIsCopiedWholeWhateverItsLengthAndOnlyUpToTheGivenLength) {
    FileList list = NewFileList();
    std::string longPath(4000, 'x');
    longPath += "/tail";
    FileNode* node = PushPath(&list, longPath.c_str(), longPath.size(), 0);
    ASSERT_NE(nullptr, node);
    EXPECT_EQ(longPath, node->path);
    // A prefix: the node holds exactly the characters asked for, terminated.
    FileNode* prefix = PushPath(&list, "abcdef", 3, 0);
    EXPECT_STREQ("abc", prefix->path);
    ReleaseFileList(&list);
}
