// Paths: built, resolved and compared.
#include <string.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "paths.h"
#include "support.h"

TEST(BuildTargetPath, JoinsDestinationDataAndTheRelativePath) {
    char out[PATH_BUFFER_SIZE];
    std::string separator(1, PathSeparator());
    std::string relative = Native("/Sub/Deep/a.dat");
    size_t length = BuildTargetPath(Native("/mods/MyMod").c_str(), relative.c_str(), out);
    EXPECT_EQ(Native("/mods/MyMod/Data/Sub/Deep/a.dat"), out);
    EXPECT_EQ(strlen(out), length);
    // A destination that is a root keeps its one separator.
    BuildTargetPath(Native("/").c_str(), relative.c_str(), out);
    EXPECT_EQ(Native("/Data/Sub/Deep/a.dat"), out);
}

TEST(BuildTargetPath, RefusesPathsPastTheLimitWithoutWritingPastTheBuffer) {
    struct {
        char out[PATH_BUFFER_SIZE];
        char guard[16];
    } buffer;
    memset(buffer.guard, 'G', sizeof buffer.guard);
    std::string root(PathLimit() - 5 - 3, 'r');  // room for separator, "Data" and 3 more
    EXPECT_EQ(PathLimit(), BuildTargetPath(root.c_str(), Native("/ab").c_str(), buffer.out));
    EXPECT_EQ(0u, BuildTargetPath(root.c_str(), Native("/abc").c_str(), buffer.out));
    std::string huge(PATH_BUFFER_SIZE * 2, 'h');
    EXPECT_EQ(0u, BuildTargetPath(huge.c_str(), Native("/a").c_str(), buffer.out));
    EXPECT_EQ(std::string(16, 'G'), std::string(buffer.guard, 16));
}

TEST(PathInside, NeedsASeparatorAtTheBoundary) {
    std::string s(1, PathSeparator());
    EXPECT_TRUE(PathInside((s + "a" + s + "b").c_str(), (s + "a").c_str()));
    EXPECT_FALSE(PathInside((s + "ab").c_str(), (s + "a").c_str()));
    EXPECT_FALSE(PathInside((s + "a").c_str(), (s + "a").c_str()));
    EXPECT_FALSE(PathInside((s + "a").c_str(), (s + "a" + s + "b").c_str()));
    EXPECT_TRUE(PathInside((s + "x").c_str(), s.c_str()));  // a root ends in its separator
}

TEST(ResolveLeniently, ResolvesTheExistingHeadAndAppendsTheRest) {
    TempDir dir;
    std::filesystem::create_directories(dir / "orig");
    WriteFile(dir / "a-file", "f");
    char resolved[PATH_BUFFER_SIZE];
    char existing[PATH_BUFFER_SIZE];
    SysError error;
    ASSERT_TRUE(ResolveLeniently((dir / "orig").c_str(), existing, &error));
    ASSERT_TRUE(ResolveLeniently((dir / "orig/new/deeper").c_str(), resolved, &error));
    EXPECT_EQ(std::string(existing) + Native("/new/deeper"), resolved);
    ASSERT_TRUE(ResolveLeniently((dir / "orig/new/../other/.").c_str(), resolved, &error));
    EXPECT_EQ(std::string(existing) + Native("/other"), resolved);
    // Relative paths start from the current folder.
    ASSERT_TRUE(ResolveLeniently(Native("no-such-folder/x/..").c_str(), resolved, &error));
    char here[PATH_BUFFER_SIZE];
    ASSERT_EQ(0u, Sys.resolvePath(".", here, sizeof here));
    EXPECT_EQ(std::string(here) + Native("/no-such-folder"), resolved);
    // ".." never climbs above the root, and a thousand missing levels are no trouble.
    std::string deep = dir.path;
    for (int i = 0; i < 1000 && deep.size() + 2 < PathLimit(); ++i) deep += Native("/x");
    ASSERT_TRUE(ResolveLeniently(deep.c_str(), resolved, &error));
    std::string climb = std::string(existing) + Native("/../../../../../../../../../../../../../../../../../../../../..");
    if (climb.size() <= PathLimit()) {
        ASSERT_TRUE(ResolveLeniently(climb.c_str(), resolved, &error));
        EXPECT_LE(strlen(resolved), 3u) << resolved;
    }
    // Under a file nothing can be made.
    EXPECT_FALSE(ResolveLeniently((dir / "a-file/below").c_str(), resolved, &error));
}

// A folder named Data in any letter case, by its last name alone.
TEST(NamedData, IsTheLastNameDataInAnyLetterCase) {
    struct Case {
        std::string path;
        bool named;
    } cases[] = {
        {Native("/games/mod/Data"), true},   {Native("/games/mod/dAtA"), true}, {Native("/games/DATA"), true},
        {Native("/games/Data/mod"), false},  {Native("/games/Database"), false}, {Native("/games/Dat"), false},
        {Native("/games/mod/old-Data"), false}, {"Data", true}, {Native("/"), false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.named, NamedData(c.path.c_str())) << c.path;
    EXPECT_STREQ("DATA", LastName(Native("/games/DATA").c_str()));
}
