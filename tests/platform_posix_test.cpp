// What only a POSIX file system has: FIFOs, sockets, symbolic links, modes.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foldercheck.h"
#include "support.h"

using Paths = std::vector<std::string>;

TEST(PosixTree, FifosAndSocketsArePassedOverWithoutBeingOpened) {
    JobTrees t;
    ASSERT_EQ(0, mkfifo((t.modded + "/pipe").c_str(), 0600));
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string socketPath = t.modded + "/sock";
    if (socketPath.size() < sizeof address.sun_path) {
        snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        ASSERT_EQ(0, bind(sock, (sockaddr*)&address, sizeof address));
    }
    WriteFile(t.modded + "/real", "r");
    t.Run();  // would hang here if the FIFO were opened
    close(sock);
    EXPECT_EQ(Paths{"Data/real"}, ListTree(t.destination));
    EXPECT_EQ(0u, t.result.failures);
    EXPECT_GE(t.result.warnings, 1u);
    EXPECT_NE(std::string::npos, ProblemText(t.result).find("not a regular file"));
}

TEST(PosixTree, LinksToFilesAndFoldersAreFollowedAndLoopsCut) {
    JobTrees t;
    WriteFile(t.modded + "/real/file", "f");
    ASSERT_EQ(0, symlink("real", (t.modded + "/alias").c_str()));
    ASSERT_EQ(0, symlink("real/file", (t.modded + "/file-link").c_str()));
    ASSERT_EQ(0, symlink("..", (t.modded + "/real/up").c_str()));
    t.Run();
    EXPECT_EQ((Paths{"Data/alias/file", "Data/file-link", "Data/real/file"}), ListTree(t.destination));
    // Both ways into the loop are cut, each once.
    EXPECT_EQ(2u, t.result.failures) << ProblemText(t.result);
    EXPECT_NE(std::string::npos, ProblemText(t.result).find("leads back"));
}

TEST(PosixTree, DanglingLinkInTheModdedTreeIsAFailure) {
    JobTrees t;
    ASSERT_EQ(0, symlink("nowhere", (t.modded + "/dangling").c_str()));
    t.Run();
    EXPECT_EQ((Paths{t.modded + "/dangling"}), FailedPaths(t.result));
}

TEST(PosixTree, CopyKeepsTheFileMode) {
    JobTrees t;
    WriteFile(t.modded + "/script.sh", "#!/bin/sh\n");
    chmod((t.modded + "/script.sh").c_str(), 0750);
    t.Run();
    struct stat st;
    ASSERT_EQ(0, stat((t.destination + "/Data/script.sh").c_str(), &st));
    EXPECT_EQ(0750u, st.st_mode & 07777);
}

TEST(PosixTree, UnreadableModdedFileFailsItsCopy) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    JobTrees t;
    WriteFile(t.modded + "/secret", "s");
    chmod((t.modded + "/secret").c_str(), 0);
    t.Run();
    EXPECT_EQ((Paths{t.modded + "/secret"}), FailedPaths(t.result));
}

TEST(PosixTree, NamesOfDotsAloneAreFilesLikeAnyOther) {
    JobTrees t;
    WriteFile(t.modded + "/...", "three dots");  // Win32 cannot even make this name
    t.Run();
    EXPECT_EQ((Paths{"Data/..."}), ListTree(t.destination));
}

TEST(PosixFolderCheck, FoldersWhoseNamesDifferInLetterCaseAreDifferent) {
    TempDir dir;
    for (const char* name : {"orig", "mod", "Orig"}) std::filesystem::create_directories(dir / name);
    char reason[512];
    EXPECT_TRUE(CheckJobFolders((dir / "orig").c_str(), (dir / "mod").c_str(), (dir / "Orig").c_str(), reason,
                                sizeof reason))
        << reason;
}

TEST(PosixFolderCheck, DataFolderLinkedToAnInputIsRefused) {
    TempDir dir;
    std::filesystem::create_directories(dir / "orig");
    std::filesystem::create_directories(dir / "mod");
    std::filesystem::create_directories(dir / "dest");
    ASSERT_EQ(0, symlink((dir / "mod").c_str(), (dir / "dest/Data").c_str()));
    char reason[512];
    EXPECT_FALSE(CheckJobFolders((dir / "orig").c_str(), (dir / "mod").c_str(), (dir / "dest").c_str(), reason,
                                 sizeof reason));
    // And an input reached through a link is the same folder as itself.
    ASSERT_EQ(0, symlink((dir / "orig").c_str(), (dir / "orig-link").c_str()));
    EXPECT_FALSE(CheckJobFolders((dir / "orig").c_str(), (dir / "orig-link").c_str(), (dir / "out").c_str(), reason,
                                 sizeof reason));
}
