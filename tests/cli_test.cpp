#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli.h"
#include "support.h"

// Runs modextract in-process with its two streams caught in files.
struct Cli : JobTrees {
    std::string out, err;

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), "modextract");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        FILE* outFile = tmpfile();
        FILE* errFile = tmpfile();
        int status = RunModExtract((int)args.size(), argv.data(), outFile, errFile, false);
        out = Slurp(outFile);
        err = Slurp(errFile);
        return status;
    }
    int Run() { return Run({original, modded, destination}); }
    static std::string Slurp(FILE* file) {
        std::string text;
        rewind(file);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
        fclose(file);
        return text;
    }
};

TEST(Cli, UsageErrorsExitWithTwoAndWriteNothing) {
    Cli c;
    EXPECT_EQ(2, c.Run(std::vector<std::string>{}));
    EXPECT_NE(std::string::npos, c.err.find("usage: modextract"));
    EXPECT_EQ(2, c.Run({c.original, c.modded}));
    EXPECT_EQ(2, c.Run({c.original, c.modded, c.destination, "extra"}));
    EXPECT_EQ(2, c.Run({"--frobnicate", c.original, c.modded, c.destination}));
    EXPECT_NE(std::string::npos, c.err.find("unknown option '--frobnicate'"));
    EXPECT_EQ(2, c.Run({"-x", c.original, c.modded, c.destination}));
    for (const char* count : {"0", "9", "4x", ""})
        EXPECT_EQ(2, c.Run({"--jobs", count, c.original, c.modded, c.destination})) << count;
    EXPECT_NE(std::string::npos, c.err.find("--jobs takes a number from 1 to 8"));
    EXPECT_TRUE(c.out.empty());
    EXPECT_FALSE(Exists(c.destination));
    WriteFile(c.modded + Native("/a"), "a");
    EXPECT_EQ(0, c.Run({"-n", "--jobs=1", c.original, c.modded, c.destination}));
    EXPECT_EQ("A a\n", c.out);
}

TEST(Cli, HelpAndVersionGoToStandardOutput) {
    Cli c;
    EXPECT_EQ(0, c.Run({"--help"}));
    EXPECT_NE(std::string::npos, c.out.find("--dry-run"));
    EXPECT_EQ(0, c.Run({"-h"}));
    EXPECT_EQ(0, c.Run({"--version"}));
    EXPECT_EQ(0u, c.out.find("modextract "));
    EXPECT_TRUE(c.err.empty());
}

TEST(Cli, RefusedFoldersExitWithTwoAndAOneLineReason) {
    Cli c;
    WriteFile(c.modded + Native("/a"), "a");
    EXPECT_EQ(2, c.Run({c.original, c.original, c.destination}));
    EXPECT_NE(std::string::npos, c.err.find("same folder"));
    EXPECT_EQ(1, std::count(c.err.begin(), c.err.end(), '\n'));
    EXPECT_EQ(2, c.Run({c.original, c.modded, c.modded}));
    EXPECT_EQ(2, c.Run({c.dir / "nowhere", c.modded, c.destination}));
    EXPECT_FALSE(Exists(c.destination));
    EXPECT_EQ(std::vector<std::string>{"a"}, ListTree(c.modded));
}

TEST(Cli, DryRunListsWhatWouldBeCopiedInCopyOrderAndWritesNothing) {
    Cli c;
    WriteFile(c.original + Native("/sub/changed.dat"), "old");
    WriteFile(c.modded + Native("/sub/changed.dat"), "new");
    WriteFile(c.original + Native("/same"), "same");
    WriteFile(c.modded + Native("/same"), "same");
    WriteFile(c.modded + Native("/added.dat"), "added");
    OrderedListing order({"sub", "changed.dat", "added.dat"});
    EXPECT_EQ(0, c.Run({"--dry-run", c.original, c.modded, c.destination}));
    EXPECT_EQ("M " + Native("sub/changed.dat") + "\nA added.dat\n", c.out);
    EXPECT_FALSE(Exists(c.destination));
    EXPECT_NE(std::string::npos, c.err.find("1 new, 1 changed"));
}

TEST(Cli, RunCopiesTheModAndSummarises) {
    Cli c;
    WriteFile(c.modded + Native("/a/b.dat"), "b");
    EXPECT_EQ(0, c.Run());
    EXPECT_TRUE(c.out.empty());
    EXPECT_EQ("b", ReadFile(c.destination + Native("/Data/a/b.dat")));
    EXPECT_NE(std::string::npos, c.err.find("1 new, 0 changed, 0 failed"));
    EXPECT_NE(std::string::npos, c.err.find(c.destination + Native("/Data")));
}

TEST(Cli, QuietSaysNothingWhenAllGoesWell) {
    Cli c;
    WriteFile(c.modded + Native("/a"), "a");
    EXPECT_EQ(0, c.Run({"-q", c.original, c.modded, c.destination}));
    EXPECT_TRUE(c.err.empty()) << c.err;
    EXPECT_TRUE(Exists(c.destination + Native("/Data/a")));
}

TEST(Cli, NothingChangedWritesNothing) {
    Cli c;
    WriteFile(c.original + Native("/a"), "a");
    WriteFile(c.modded + Native("/a"), "a");
    EXPECT_EQ(0, c.Run());
    EXPECT_FALSE(Exists(c.destination));
    EXPECT_NE(std::string::npos, c.err.find("nothing new or changed"));
}

TEST(Cli, FailedPathsAreNamedAndExitWithOne) {
    Cli c;
    WriteFile(c.modded + Native("/good"), "g");
    WriteFile(c.modded + Native("/bad"), "b");
    FaultInjector faults;
    faults.OnlyPaths(FAULT_COPY, "bad");
    faults.Fail(FAULT_COPY, 1, 5);
    EXPECT_EQ(0, c.Run({"-nq", c.original, c.modded, c.destination}));  // a dry run copies nothing
    EXPECT_EQ(0, faults.Calls(FAULT_COPY));
    EXPECT_EQ(1, c.Run({"-q", c.original, c.modded, c.destination}));
    EXPECT_EQ(0u, c.err.find("modextract: " + c.modded + Native("/bad") + ": cannot copy: ")) << c.err;
    EXPECT_TRUE(Exists(c.destination + Native("/Data/good")));
}

TEST(Cli, WhatTheRealRunWouldFailTheDryRunNamesAndAFailedStandardOutputIsSaid) {
    Cli c;
    WriteFile(c.modded + Native("/f"), "ok");
    // destination + separator + "Data" + separator + "f" is one past the limit.
    std::string destination = c.destination + PathSeparator();
    destination += std::string(PathLimit() - 6 - destination.size(), 'd');
    EXPECT_EQ(1, c.Run({"-n", c.original, c.modded, destination}));
    EXPECT_EQ("A f\n", c.out);
    EXPECT_NE(std::string::npos, c.err.find(c.modded + Native("/f") + ": cannot copy: path too long")) << c.err;
    EXPECT_EQ(1, c.Run({"-q", c.original, c.modded, destination}));
    EXPECT_FALSE(Exists(c.destination));

    // A stream that refuses every write, as a full disk does.
    std::string path = c.dir / "readonly";
    WriteFile(path, "");
    FILE* out = fopen(path.c_str(), "r");
    FILE* err = tmpfile();
    char* argv[] = {(char*)"modextract", (char*)"-n", &c.original[0], &c.modded[0], &c.destination[0], nullptr};
    EXPECT_EQ(1, RunModExtract(5, argv, out, err, false));
    fclose(out);
    EXPECT_NE(std::string::npos, Cli::Slurp(err).find("modextract: write error: ")) << "nothing said about the lost list";
}
