#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "copyqueue.h"
#include "modassembly.h"
#include "support.h"
#include "paths.h"

using Paths = std::vector<std::string>;

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

TEST(ModAssembly, CopiesNewAndChangedFilesAtTheirRelativePaths) {
    JobTrees a;
    a.Both("same.txt", "same", "same");
    a.Both("top.txt", "old", "new top");
    WriteFile(a.modded + Native("/Sub/Deep/added.dat"), "added");
    a.Run();
    EXPECT_EQ((Paths{"Data/Sub/Deep/added.dat", "Data/top.txt"}), ListTree(a.destination));
    EXPECT_EQ("new top", ReadFile(a.destination + Native("/Data/top.txt")));
    EXPECT_EQ("added", ReadFile(a.destination + Native("/Data/Sub/Deep/added.dat")));
    EXPECT_EQ(2u, a.result.copiedFiles);
    EXPECT_EQ(12u, a.result.bytesCopied);
    EXPECT_EQ(0u, a.result.failures) << ProblemText(a.result);
}

TEST(ModAssembly, ReplacesExistingTargetsAndLeavesTheRestOfTheDestinationAlone) {
    JobTrees a;
    WriteFile(a.modded + Native("/a.txt"), "fresh");
    WriteFile(a.destination + Native("/Data/a.txt"), "stale and longer than fresh");
    WriteFile(a.destination + Native("/Data/other.txt"), "keep me");
    WriteFile(a.destination + Native("/readme"), "mine");
    a.Run();
    EXPECT_EQ("fresh", ReadFile(a.destination + Native("/Data/a.txt")));
    EXPECT_EQ("keep me", ReadFile(a.destination + Native("/Data/other.txt")));
    EXPECT_EQ("mine", ReadFile(a.destination + Native("/readme")));
    EXPECT_EQ((Paths{"Data/a.txt", "Data/other.txt", "readme"}), ListTree(a.destination));  // no temporary left
}

TEST(ModAssembly, NothingChangedCreatesNothingNotEvenData) {
    JobTrees a;
    a.Both("x", "x", "x");
    a.Run();
    EXPECT_FALSE(Exists(a.destination));
    EXPECT_EQ((Paths{"range 1", "range 0"}), a.recorder.Only("range"));
}

TEST(ModAssembly, DryRunWritesNothing) {
    JobTrees a;
    WriteFile(a.modded + Native("/new/file"), "n");
    a.Run(true);
    EXPECT_FALSE(Exists(a.destination));
    EXPECT_EQ(1u, a.result.newFiles);
    EXPECT_EQ(0u, a.result.copiedFiles);
}

TEST(ModAssembly, FailedCopyIsNamedAndTheNextFileStillFollows) {
    JobTrees a;
    WriteFile(a.modded + Native("/first"), "1");
    WriteFile(a.modded + Native("/second"), "2");
    FaultInjector faults;
    faults.Fail(FAULT_COPY, 1, 28);
    a.Run();
    ASSERT_EQ(1u, a.result.failures) << ProblemText(a.result);
    EXPECT_EQ(1u, a.result.copiedFiles);
    EXPECT_EQ(2u, ListTree(a.modded).size());
    // The one that failed is named, by its target (the source was readable); the other one is there.
    std::string failed = FailedPaths(a.result).front();
    std::string other = failed == a.destination + Native("/Data/first") ? "second" : "first";
    EXPECT_TRUE(Exists(a.destination + Native("/Data/") + other));
    // Both files still moved the bar.
    Paths positions = a.recorder.Only("position");
    EXPECT_EQ((Paths{"position 1", "position 2", "position 0"}), Paths(positions.end() - 3, positions.end()));
}

TEST(ModAssembly, FolderThatCannotBeMadeFailsItsFilesOnly) {
    JobTrees a;
    WriteFile(a.modded + Native("/blocked/one"), "1");
    WriteFile(a.modded + Native("/open/two"), "2");
    FaultInjector faults;
    faults.OnlyPaths(FAULT_CREATE_FOLDERS, "blocked");
    faults.Fail(FAULT_CREATE_FOLDERS, 1, 13, true);
    a.Run();
    // Named by the target: the source was never the trouble.
    EXPECT_EQ((Paths{a.destination + Native("/Data/blocked/one")}), FailedPaths(a.result));
    EXPECT_EQ((Paths{"Data/open/two"}), ListTree(a.destination));
}

TEST(ModAssembly, FileWhoseTargetPathIsTooLongIsNamedNotCut) {
    JobTrees a;
    WriteFile(a.modded + Native("/f"), "ok");
    // destination + separator + "Data" + separator + "f" is one past the limit.
    size_t length = PathLimit() - 6;
    a.destination += PathSeparator() + std::string(length - a.destination.size() - 1, 'd');
    a.Run();
    EXPECT_EQ((Paths{a.modded + Native("/f")}), FailedPaths(a.result));
    EXPECT_NE(std::string::npos, ProblemText(a.result).find("path too long"));
    EXPECT_FALSE(Exists(a.dir / "dest"));
}
