#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <filesystem>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli.h"
#include "paths.h"
#include "support.h"
#include "jobstop.h"

// Runs modextract in-process with its two streams caught in files.
struct Cli : JobTrees {
    std::string out, err;
    std::string input;  // standard input of the next run
    bool terminal = false;  // standard error taken for a terminal: the progress line is drawn

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), "modextract");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        FILE* in = tmpfile();
        fwrite(input.data(), 1, input.size(), in);
        rewind(in);
        FILE* outFile = tmpfile();
        FILE* errFile = tmpfile();
        int status = RunModExtract((int)args.size(), argv.data(), in, outFile, errFile, terminal);
        fclose(in);
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

TEST(Cli, OptionsAreReadWholeTheHelpFitsEightyColumnsAndAUsageErrorIsOneLine) {
    Cli c;
    EXPECT_EQ(0, c.Run({"--help"}));
    std::istringstream help(c.out);
    for (std::string line; std::getline(help, line);) EXPECT_LE(line.size(), 80u) << line;
    for (const char* said : {"--dry-run", "--verbose", "as -n lists", "prefix", "--stale", "--jobs=N",
                             "'-': standard input", "'[a-z]'", "leading '!'", "first non-blank character is '#'",
                             "SIGHUP"})
        EXPECT_NE(std::string::npos, c.out.find(said)) << said;
    EXPECT_EQ(0, c.Run({"-h"}));
    EXPECT_EQ(0, c.Run({"--version"}));
    EXPECT_EQ(0u, c.out.find("modextract "));
    EXPECT_NE(std::string::npos, c.out.find("MIT licence"));
    EXPECT_TRUE(c.err.empty());

    std::string o = c.original, m = c.modded, d = c.destination;
    struct Case {
        std::vector<std::string> args;
        std::string why;
    };
    std::vector<Case> cases = {
        {{}, "three folders are needed"},
        {{o, m}, "three folders are needed"},
        {{o, m, d, "extra"}, "too many folders"},
        {{"--frobnicate", o, m, d}, "unknown option '--frobnicate'"},
        {{o, m, d, "-x"}, "unknown option '-x'"},
        {{"--version", "--bogus"}, "unknown option '--bogus'"},
        {{"--bogus", "--version"}, "unknown option '--bogus'"},
        {{"-h", "-y"}, "unknown option '-y'"},
        {{"--jobs", "0", o, m, d}, "--jobs takes a number from 1 to 8"},
        {{"--jobs=9", o, m, d}, "--jobs takes a number from 1 to 8"},
        {{"--jobs", "4x", o, m, d}, "--jobs takes a number from 1 to 8"},
        {{o, m, d, "--jobs"}, "--jobs takes a number from 1 to 8"},
        {{o, m, d, "--exclude"}, "--exclude takes a pattern"},
        {{"--exclude-from=", o, m, d}, "--exclude-from takes a file"},
        {{"--ex", "x", o, m, d}, "option '--ex' is ambiguous; it could be '--exclude' '--exclude-from'"},
        {{"--ver", o, m, d}, "option '--ver' is ambiguous; it could be '--verbose' '--version'"},
        {{"--dry=yes", o, m, d}, "option '--dry-run' takes no value"},
        {{"--dry-runs", o, m, d}, "unknown option '--dry-runs'"},
    };
    if (PathSeparator() == '\\') {
        // cmd.exe's "D:\" reaches the program as D:", whatever the argument's place.
        cases.push_back({{o, m, d + "\""}, "'" + d + "\"' holds a '\"', which no Windows name can"});
        cases.push_back({{"--exclude-from", "C:\"", o, m, d}, "'C:\"' holds a '\"'"});
    }
    for (const Case& test : cases) {
        SCOPED_TRACE(test.why);
        EXPECT_EQ(2, c.Run(test.args)) << test.why;
        EXPECT_EQ(0u, c.err.find(std::string("modextract: ") + test.why)) << c.err;
        EXPECT_EQ(2, std::count(c.err.begin(), c.err.end(), '\n')) << c.err;
        EXPECT_NE(std::string::npos, c.err.find("\nTry 'modextract --help' for more information.\n")) << c.err;
        EXPECT_TRUE(c.out.empty());
    }
    EXPECT_FALSE(Exists(c.destination));
    WriteFile(c.modded + Native("/a"), "a");
    EXPECT_EQ(0, c.Run({"-n", "--jobs=1", c.original, c.modded, c.destination}));
    EXPECT_EQ("A a\n", c.out);
    EXPECT_EQ(0, c.Run({"-n", "--", c.original, c.modded, c.destination}));
    EXPECT_EQ("A a\n", c.out);
    // Any prefix that names one option; an exact name wins over a longer one.
    EXPECT_EQ(0, c.Run({"--dry", "--j=1", "--exclude", "b", "--exclude-f", "-", "--q", c.original, c.modded,
                        c.destination}));
    EXPECT_EQ("A a\n", c.out);
    EXPECT_TRUE(c.err.empty()) << c.err;
    EXPECT_FALSE(Exists(c.destination));
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

    // A destination that cannot hold the mod is refused once, by its Data
    // folder, before any copy: a Data that is a file (a dry run too), and
    // a folder that takes no file (only a run that writes asks).
    std::string data = c.destination + Native("/Data");
    WriteFile(data, "a file");
    for (const char* dryRun : {"-q", "-nq"}) {
        EXPECT_EQ(2, c.Run({dryRun, c.original, c.modded, c.destination}));
        EXPECT_EQ("modextract: " + data + ": the destination cannot hold the mod: not a folder\n", c.err);
    }
    std::filesystem::remove(data);
    Sys.probeFolder = [](const char*) { return ENGINE_NOT_A_FOLDER + 100; };
    EXPECT_EQ(2, c.Run());
    EXPECT_EQ(0u, c.err.find("modextract: " + data + ": the destination cannot hold the mod: ")) << c.err;
    EXPECT_EQ(1, std::count(c.err.begin(), c.err.end(), '\n'));
    EXPECT_EQ(0, c.Run({"-n", c.original, c.modded, c.destination}));
    Sys.probeFolder = PlatformCalls.probeFolder;
    EXPECT_TRUE(ListTree(c.destination).empty());
    EXPECT_EQ(0, c.Run());
    EXPECT_EQ(std::vector<std::string>{"Data/a"}, ListTree(c.destination));
}

TEST(Cli, ListsAreSortedByPathBytesWhateverOrderTheTreesAreListedIn) {
    Cli c;
    // Made in no order; "a.b" sorts before the folder "a", whose paths go on
    // with '/', and upper case and 'é' (two bytes from 0xC3) by their bytes.
    WriteFile(c.modded + Native("/sub/changed.dat"), "new");
    WriteFile(c.original + Native("/z/removed"), "gone");
    WriteFile(c.modded + Native("/\xC3\xA9t\xC3\xA9"), "1");
    WriteFile(c.modded + Native("/a/x"), "2");
    WriteFile(c.original + Native("/sub/changed.dat"), "old");
    WriteFile(c.modded + Native("/b"), "3");
    WriteFile(c.modded + Native("/C"), "4");
    WriteFile(c.modded + Native("/a.b"), "5");
    WriteFile(c.original + Native("/a-"), "gone too");
    WriteFile(c.original + Native("/same"), "same");
    WriteFile(c.modded + Native("/same"), "same");
    std::string expected = "A C\nD a-\nA a.b\nA " + Native("a/x") + "\nA b\nM " + Native("sub/changed.dat") +
                           "\nD " + Native("z/removed") + "\nA \xC3\xA9t\xC3\xA9\n";
    for (std::vector<std::string> order : {std::vector<std::string>{"sub", "z", "C", "a", "a.b", "b", "a-"},
                                           std::vector<std::string>{"a-", "b", "a.b", "a", "C", "z", "sub"}}) {
        OrderedListing listing(order);
        EXPECT_EQ(0, c.Run({"--dry-run", "--removed", c.original, c.modded, c.destination}));
        EXPECT_EQ(expected, c.out);
        EXPECT_NE(std::string::npos, c.err.find("5 new, 1 changed")) << c.err;
        EXPECT_FALSE(Exists(c.destination));
    }
    // A real run lists its copies with -v exactly as the dry run did.
    std::string dryErr = c.err;
    EXPECT_EQ(0, c.Run({"--verbose", "--removed", c.original, c.modded, c.destination}));
    EXPECT_EQ(expected, c.out);
    EXPECT_EQ(dryErr.substr(0, dryErr.find("; would go to ")), c.err.substr(0, c.err.find("; mod in ")));
    EXPECT_EQ(0, c.Run({"--removed", "-z", c.original, c.modded, c.destination}));
    EXPECT_EQ(std::string("D a-") + '\0' + "D " + Native("z/removed") + '\0', c.out);
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
    c.Both("a", "a", "a");
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
    // The source can be read, so the copy failed on the target's side, and names it.
    EXPECT_EQ(0u, c.err.find("modextract: " + c.destination + Native("/Data/bad") + ": cannot copy: ")) << c.err;
    EXPECT_TRUE(Exists(c.destination + Native("/Data/good")));
}

TEST(Cli, UnreadableOriginalFoldersAndFilesFailEvenQuietAndTheSummarySaysWhatWentUncompared) {
    Cli c;
    WriteFile(c.original + Native("/locked/same"), "s");  // its folder cannot be listed
    WriteFile(c.modded + Native("/locked/same"), "s");
    WriteFile(c.modded + Native("/locked/deeper/x"), "x");
    WriteFile(c.original + Native("/unreadable"), "u");   // cannot be opened
    WriteFile(c.modded + Native("/unreadable"), "u");
    WriteFile(c.original + Native("/free/same"), "f");
    WriteFile(c.modded + Native("/free/same"), "f");
    WriteFile(c.modded + Native("/free/new"), "n");       // new for certain: its folder was read whole
    FaultInjector faults;  // through Sys, so that a test run as root meets them too
    faults.OnlyPaths(FAULT_LIST, Native("orig/locked"));
    faults.Fail(FAULT_LIST, 1, 13, true);
    faults.OnlyPaths(FAULT_OPEN, Native("orig/unreadable"));
    faults.Fail(FAULT_OPEN, 1, 5, true);  // EIO, or access denied on Windows: no brief hold

    EXPECT_EQ(1, c.Run({"-q", c.original, c.modded, c.destination}));
    EXPECT_NE(std::string::npos, c.err.find(c.original + Native("/locked") + ": cannot list folder")) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(c.original + Native("/unreadable") + ": cannot compare")) << c.err;
    EXPECT_EQ((std::vector<std::string>{"Data/free/new", "Data/locked/deeper/x", "Data/locked/same", "Data/unreadable"}),
              ListTree(c.destination));

    // The same counts in a dry run and a real one; what "not compared"
    // means once, on a line of its own.
    for (const char* dryRun : {"-n", "-v"}) {
        EXPECT_EQ(1, c.Run({dryRun, c.original, c.modded, c.destination}));
        EXPECT_NE(std::string::npos, c.err.find("\n5 files, 3 new, 1 changed, 3 not compared, 2 failed")) << c.err;
        EXPECT_NE(std::string::npos, c.err.find("\nnot compared: their original could not be read, so "
                                                "they count as changed\n")) << c.err;
    }
    EXPECT_EQ(1, c.Run());
    // The second run found the four targets in place: the counts still describe the mod.
    EXPECT_NE(std::string::npos, c.err.find("\n5 files, 3 new, 1 changed, 3 not compared, 2 failed, 4 already in place; "))
        << c.err;
}

TEST(Cli, FoldersInEveryWrittenFormAreTakenAbsoluteBeforeTheChecksAndTheJob) {
    Cli c;
    WriteFile(c.original + Native("/sub/same"), "s");
    WriteFile(c.modded + Native("/sub/same"), "s");
    WriteFile(c.modded + Native("/sub/new"), "n");
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(c.dir.path);
    auto Absolute = [](const std::string& path) {
        char out[PATH_BUFFER_SIZE];
        SysError error = AbsolutePath(path.c_str(), out, sizeof out);
        return error ? "error " + std::to_string(error) : std::string(out);
    };
    EXPECT_EQ(c.original, Absolute("orig"));
    EXPECT_EQ(c.original, Absolute(Native("./orig/")));
    EXPECT_EQ(c.original, Absolute(Native("mod/../orig//.")));
    EXPECT_EQ(c.original, Absolute(c.original + Native("//sub/..//")));
    EXPECT_EQ("", Absolute(""));
    std::string root = c.dir.path.substr(0, c.dir.path.find_first_of(Native("/")) + 1);  // "/" or "C:\"
    EXPECT_EQ(root, Absolute(root + ".."));
    EXPECT_EQ(root, Absolute(root + Native("./")));
    std::string tooLong(PathLimit(), 'x');
    EXPECT_EQ("error " + std::to_string(ENGINE_PATH_TOO_LONG), Absolute(tooLong));
    std::vector<std::string> given = {"orig", Native("./mod/"), Native("mod/../dest/")};
#ifdef _WIN32
    // A drive alone, or a drive and a relative path, is the current folder
    // of that drive; a leading separator alone the current drive's root.
    std::string drive = c.dir.path.substr(0, 2);
    EXPECT_EQ(c.dir.path, Absolute(drive));
    EXPECT_EQ(c.original, Absolute(drive + "orig"));
    EXPECT_EQ(c.original, Absolute(drive + "sub\\..\\orig\\"));
    EXPECT_EQ(c.original, Absolute(c.original.substr(2)));
    EXPECT_EQ(c.original, Absolute(drive + "/" + c.original.substr(3)));
    given = {drive + "orig", c.modded.substr(2) + "\\", drive + "mod\\..\\dest"};
#endif
    // The run reads and writes there: the summary names the absolute destination.
    EXPECT_EQ(0, c.Run({given[0], given[1], given[2]})) << c.err;
    EXPECT_EQ((std::vector<std::string>{"Data/sub/new"}), ListTree(c.destination));
    EXPECT_NE(std::string::npos, c.err.find("1 new, 0 changed, 0 failed; mod in " + c.destination + Native("/Data\n")))
        << c.err;
    std::filesystem::current_path(before);
}

TEST(Cli, DataFolderReachedInsideAnInputHoweverItIsReachedIsRefusedBeforeAnythingIsWritten) {
    Cli c;
    WriteFile(c.original + Native("/a"), "a");
    WriteFile(c.modded + Native("/a"), "changed");
    std::filesystem::create_directories(c.destination);
    auto OneRefusal = [&c](int status) {
        EXPECT_EQ(2, status) << c.err;
        EXPECT_EQ(0u, c.err.find("modextract: " + c.destination + Native("/Data") + ": cannot run: the Data folder is, "
                                 "or lies inside, a folder of an input")) << c.err;
        EXPECT_EQ(1, std::count(c.err.begin(), c.err.end(), '\n')) << c.err;
        EXPECT_TRUE(ListTree(c.destination).empty());
    };

    // A folder link in the original to the destination: its Data folder
    // lies in the original as the index walks it.
    std::error_code error;
    std::string link = c.original + Native("/linked");
    std::filesystem::create_directory_symlink(c.destination, link, error);
    if (!error && std::filesystem::is_directory(link)) {
        OneRefusal(c.Run());
        std::filesystem::remove(link);
        // A folder link in Data to a folder of the original, where a modded
        // folder would be copied to: refused alike, naming it.
        WriteFile(c.original + Native("/sub/b"), "b");
        WriteFile(c.modded + Native("/sub/b"), "changed");
        std::filesystem::create_directories(c.destination + Native("/Data"));
        std::filesystem::create_directory_symlink(c.original + Native("/sub"), c.destination + Native("/Data/sub"));
        EXPECT_EQ(2, c.Run());
        EXPECT_EQ(0u, c.err.find("modextract: " + c.destination + Native("/Data/sub") + ": cannot run: this folder of "
                                 "the Data folder is a folder of an input")) << c.err;
        EXPECT_EQ("b", ReadFile(c.original + Native("/sub/b")));
        std::filesystem::remove(c.destination + Native("/Data/sub"));
        EXPECT_TRUE(ListTree(c.destination).empty());
    }

    // A junction-like folder of the modded tree that is the Data folder
    // itself, and then one above it; a dry run is refused alike.
    std::filesystem::create_directories(c.destination + Native("/Data"));
    for (const std::string& guarded : {c.destination + Native("/Data"), c.dir.path}) {
        FakeJunction junction(c.modded, guarded);
        OneRefusal(c.Run());
        OneRefusal(c.Run({"-n", c.original, c.modded, c.destination}));
        EXPECT_TRUE(c.out.empty());
    }
    // The same folders without it make the mod.
    EXPECT_EQ(0, c.Run()) << c.err;
    EXPECT_EQ("changed", ReadFile(c.destination + Native("/Data/a")));
}

TEST(Cli, WhatTheRealRunWouldFailTheDryRunNamesAndAFailedStandardOutputIsSaid) {
    Cli c;
    WriteFile(c.modded + Native("/f"), "ok");
    // destination + separator + "Data" + separator + "f" is one past the
    // limit, in names that a file system takes.
    std::string destination = c.destination;
    while (destination.size() + 1 + 6 < PathLimit()) {
        destination += PathSeparator();
        destination += std::string(std::min<size_t>(200, PathLimit() - 6 - destination.size()), 'd');
    }
    EXPECT_EQ(1, c.Run({"-n", c.original, c.modded, destination}));
    EXPECT_EQ("A f\n", c.out);
    EXPECT_NE(std::string::npos, c.err.find(c.modded + Native("/f") + ": cannot copy: path too long")) << c.err;
    // Under Wine the host's own path is longer still, and folders this deep
    // cannot be made at all: the destination is refused before the job.
    int status = c.Run({"-q", c.original, c.modded, destination});
    EXPECT_TRUE(status == 1 || (PathSeparator() == '\\' && status == 2)) << status << c.err;
    EXPECT_FALSE(Exists(c.destination));

    // What stands in the destination decides too: a folder where a file
    // goes, a file where a folder is needed. The dry run fails as the real
    // run does, for the same paths.
    WriteFile(c.modded + Native("/sub/x"), "x");
    std::filesystem::create_directories(c.destination + Native("/Data/f"));
    WriteFile(c.destination + Native("/Data/sub"), "a file");
    std::string target = c.destination + Native("/Data/");
    EXPECT_EQ(1, c.Run({"-n", c.original, c.modded, c.destination}));
    EXPECT_NE(std::string::npos, c.err.find(target + "f: cannot copy: a folder stands where the file goes")) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(target + Native("sub/x: cannot create its destination folder: not a folder")))
        << c.err;
    EXPECT_NE(std::string::npos, c.err.find(", 2 failed")) << c.err;
    EXPECT_EQ(1, c.Run({"-q", c.original, c.modded, c.destination}));
    EXPECT_NE(std::string::npos, c.err.find(target + "f: cannot copy: ")) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(target + Native("sub/x: cannot create its destination folder: ")))
        << c.err;

    // A stream that refuses every write, as a full disk does.
    std::string path = c.dir / "readonly";
    WriteFile(path, "");
    FILE* out = fopen(path.c_str(), "r");
    FILE* err = tmpfile();
    char* argv[] = {(char*)"modextract", (char*)"-n", &c.original[0], &c.modded[0], &c.destination[0], nullptr};
    EXPECT_EQ(1, RunModExtract(5, argv, stdin, out, err, false));
    fclose(out);
    EXPECT_NE(std::string::npos, Cli::Slurp(err).find("modextract: write error: ")) << "nothing said about the lost list";
}

// The dry run reads the destination as the real run does: a folder link
// of Data that leads outside it fails the files below it, and a
// destination given through a link that leads nowhere is refused; both
// with the real run's exit status.
TEST(Cli, TheDryRunsVerdictOnLinksInTheDestinationIsTheRealRuns) {
    Cli c;
    WriteFile(c.modded + Native("/sub/x.txt"), "x");
    std::filesystem::create_directories(c.destination + Native("/Data"));
    std::filesystem::create_directories(c.dir / "outside");
    std::error_code failed;
    std::filesystem::create_directory_symlink(c.dir / "outside", c.destination + Native("/Data/sub"), failed);
    std::string dangling = c.dir / "dangling";
    if (!failed) std::filesystem::create_directory_symlink(c.dir / "nowhere/dest", dangling, failed);
    if (failed) GTEST_SKIP() << "no folder links can be made here: " << failed.message();
    std::string target = c.destination + Native("/Data/sub/x.txt");
    EXPECT_EQ(1, c.Run({"-n", c.original, c.modded, c.destination})) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(target + ": cannot copy: a folder link on the way leads outside")) << c.err;
    EXPECT_EQ(1, c.Run({"-q", c.original, c.modded, c.destination})) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(target + ": cannot copy: a folder link on the way leads outside")) << c.err;
    EXPECT_TRUE(ListTree(c.dir / "outside").empty());

    int real = c.Run({"-q", c.original, c.modded, dangling});
    std::string realSaid = c.err;
    EXPECT_EQ(2, real) << realSaid;
    EXPECT_EQ(real, c.Run({"-n", c.original, c.modded, dangling})) << c.err;
    EXPECT_EQ(realSaid.substr(0, realSaid.find(": cannot run")), c.err.substr(0, c.err.find(": cannot run"))) << c.err;
    EXPECT_FALSE(Exists(c.dir / "nowhere"));
}

// Lists as the platform does, but stops the job on its first listing below
// `AbandonAt`, as an interruption while the trees are indexed would.
static std::string AbandonAt;
static SysError ListThenAbandon(const char* folder, EntrySink sink, void* context) {
    if (strstr(folder, AbandonAt.c_str())) AbandonJob();
    return PlatformCalls.listFolder(folder, sink, context);
}

TEST(Cli, RemovedFilesAreCountedAndListedOnlyWhenCertainAndNeverFail) {
    Cli c;
    bool posix = PathSeparator() == '/';
    std::string odd = posix ? "tab\there" : "odd \"name\"";  // no control character in a Windows name
    for (const char* path : {"kept", "gone.dat", "folder/a", "folder/deep/b", "to-folder", "to-file/x"})
        WriteFile(c.original + Native("/") + Native(path), path);
    for (const char* path : {"kept", "to-folder/inner", "to-file"}) WriteFile(c.modded + Native("/") + Native(path), path);
    if (posix) WriteFile(c.original + "/" + odd, "o");
    std::vector<std::string> removed = {"gone.dat", "folder/a", "folder/deep/b", "to-folder", "to-file/x"};
    if (posix) removed.push_back(odd);
    std::string copied = "A to-file\nA " + Native("to-folder/inner") + "\n";
    std::string listed, listedZ;  // by path, merged with the copies in a dry run
    std::sort(removed.begin(), removed.end());
    for (const std::string& path : removed) {
        listed += "D " + (path == odd ? "\"tab\\there\"" : Native(path)) + "\n";
        listedZ += "D " + Native(path) + '\0';
    }
    std::string merged = listed;
    merged.insert(merged.find("D " + Native("to-file/x")), "A to-file\n");
    merged += "A " + Native("to-folder/inner") + "\n";
    std::string count = ", " + std::to_string(removed.size()) + " removed; ";
    std::string hint = "\nremoved: a mod cannot carry these";

    {
        OrderedListing order({"kept", "gone.dat", "folder", "a", "deep", "to-folder", "to-file", odd});
        EXPECT_EQ(0, c.Run({"-n", c.original, c.modded, c.destination}));
        EXPECT_EQ(copied, c.out);
        EXPECT_NE(std::string::npos, c.err.find(count + "would go to ")) << c.err;
        EXPECT_NE(std::string::npos, c.err.find(hint + ", --removed lists them\n")) << c.err;
        EXPECT_EQ(0, c.Run({"-n", "--removed", c.original, c.modded, c.destination}));
        EXPECT_EQ(merged, c.out);
        EXPECT_FALSE(Exists(c.destination));
        EXPECT_EQ(0, c.Run({"--removed", "-z", c.original, c.modded, c.destination}));
        EXPECT_EQ(listedZ, c.out);
        EXPECT_NE(std::string::npos, c.err.find(" 0 failed" + count + "mod in ")) << c.err;
        EXPECT_NE(std::string::npos, c.err.find(hint + "\n")) << c.err;
        // The counts fit 80 columns with a destination's Data path of 20 characters.
        std::string counts = c.err.substr(0, c.err.find('\n'));
        EXPECT_LE(counts.size() - (c.destination + Native("/Data")).size() + 20, 80u) << counts;
        EXPECT_EQ("to-file", ReadFile(c.destination + Native("/Data/to-file")));
        EXPECT_EQ(0, c.Run({"-q", c.original, c.modded, c.destination}));
        EXPECT_TRUE(c.err.empty()) << c.err;
    }

    // Below a modded folder that could not be listed nothing is said to be removed.
    WriteFile(c.original + Native("/unlisted/y"), "y");
    WriteFile(c.modded + Native("/unlisted/z"), "z");
    {
        FaultInjector faults;
        faults.OnlyPaths(FAULT_LIST, "mod/unlisted");
        faults.Fail(FAULT_LIST, 1, 5, true);
        EXPECT_EQ(1, c.Run({"-n", "--removed", c.original, c.modded, c.destination}));
        EXPECT_EQ(std::string::npos, c.out.find("unlisted")) << c.out;
        EXPECT_NE(std::string::npos, c.out.find("D gone.dat\n"));
    }
    // Nor when the job stopped before the scan had matched every modded file.
    for (const std::string& at : {c.original, c.modded}) {
        AbandonAt = at;
        SysSwap restore;  // the real calls come back at the end of the scope
        Sys.listFolder = ListThenAbandon;
        EXPECT_EQ(0, c.Run({"-n", "--removed", "--jobs", "1", c.original, c.modded, c.destination}));
        EXPECT_EQ("", c.out);
        EXPECT_EQ(std::string::npos, c.err.find("removed")) << c.err;
        EXPECT_NE(std::string::npos, c.err.find("interrupted"));
    }
}

// Lists as the platform does, slowly enough that the walk ahead of the
// index goes everywhere it will before the index is done, and counts the
// listings of folders named "cache".
static std::atomic<int> CacheListings;
static SysError ListSlowly(const char* folder, EntrySink sink, void* context) {
    if (strstr(folder, "cache")) ++CacheListings;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return PlatformCalls.listFolder(folder, sink, context);
}

TEST(Cli, ExclusionsLeaveOutWhatTheyMatchInBothTreesAndMalformedOnesRefuseTheRun) {
    Cli c;
    bool caseBlind = PathSeparator() == '\\';
    for (const char* path : {"game.log", "sub/deep/old.log", "cache/c.dat", "sub/cache", "top.txt", "sub/top.txt",
                             "a/z.tmp", "a/b/c/z.tmp", "ab.ini", "abc.ini", "docs/x/y.txt", "Upper.LOG",
                             "\xC3\x89T\xC3\x89/e.txt"}) {  // "ÉTÉ"
        WriteFile(c.original + Native("/") + Native(path), "old");
        WriteFile(c.modded + Native("/") + Native(path), "new");
    }
    WriteFile(c.original + Native("/only.log"), "gone, but excluded");
    WriteFile(c.original + Native("/only.txt"), "gone");
    std::vector<std::string> options = {"--exclude", "*.log",   "--exclude=cache/", "--exclude", "/top.txt",
                                        "--exclude", "a/**/z.tmp", "--exclude", "??.ini", "--exclude", "docs/**",
                                        "--exclude", "\xC3\xA9t\xC3\xA9/"};  // "été/"
    std::vector<std::string> expected = {"D only.txt", "M abc.ini", "M " + Native("sub/cache"),
                                         "M " + Native("sub/top.txt")};
    if (!caseBlind) {
        expected.push_back("M Upper.LOG");
        expected.push_back("M " + Native("\xC3\x89T\xC3\x89/e.txt"));
    }
    std::sort(expected.begin(), expected.end());
    auto run = [&](std::vector<std::string> patterns) {
        std::vector<std::string> args = patterns;
        args.insert(args.end(), {"-n", "--removed", c.original, c.modded, c.destination});
        CacheListings = 0;  // an excluded folder is never listed, by the index or the walk ahead of it
        SysSwap restore;  // the real calls come back at the end of the scope
        Sys.listFolder = ListSlowly;
        EXPECT_EQ(0, c.Run(args)) << c.err;
        EXPECT_EQ(0, CacheListings.load());
        std::vector<std::string> lines;
        std::istringstream out(c.out);
        for (std::string line; std::getline(out, line);) lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(expected, lines);
        EXPECT_NE(std::string::npos, c.err.find(caseBlind ? ", 10 excluded," : ", 8 excluded,")) << c.err;
    };
    run(options);
    // "été/" leaves out nothing where letter case counts.
    auto unmatched = [&c]() {
        int count = 0;
        for (size_t at = 0; (at = c.err.find(" matched nothing", at)) != std::string::npos; ++at) ++count;
        return count;
    };
    EXPECT_EQ(caseBlind ? 0 : 1, unmatched()) << c.err;

    // A pattern that matched nothing is named, the exit status unchanged; one
    // in single quotes, as cmd.exe passes them on, gets a word on cmd.exe.
    options.insert(options.end(), {"--exclude", "'*.log'", "--exclude", "none-*", "--exclude", "!none-*"});
    run(options);
    EXPECT_NE(std::string::npos, c.err.find("modextract: warning: --exclude \"'*.log'\" matched nothing; cmd.exe keeps "
                                            "single quotes as part of the pattern: write \"*.log\" there\n")) << c.err;
    EXPECT_NE(std::string::npos, c.err.find("modextract: warning: --exclude 'none-*' matched nothing\n")) << c.err;
    EXPECT_NE(std::string::npos, c.err.find("modextract: warning: --exclude '!none-*' matched nothing\n")) << c.err;
    EXPECT_EQ(caseBlind ? 3 : 4, unmatched()) << c.err;
    EXPECT_EQ(0, c.Run({"-nq", "--exclude", "none-*", c.original, c.modded, c.destination}));
    EXPECT_TRUE(c.err.empty()) << c.err;

    // The same patterns from a file: a byte order mark, CRLF, comments and blank lines.
    std::string file = c.dir / "patterns";
    WriteFile(file, "\xEF\xBB\xBF# logs\r\n*.log\r\n\r\n  cache/  \ndocs/**\n  gone/\n");
    run({"--exclude-from", file, "--exclude=/top.txt", "--exclude", "a/**/z.tmp", "--exclude", "??.ini",
         "--exclude", "\xC3\xA9t\xC3\xA9/"});
    EXPECT_NE(std::string::npos, c.err.find("modextract: warning: " + file + ", line 6: 'gone/' matched nothing\n"))
        << c.err;

    // From standard input, in UTF-16 as Notepad saves it.
    c.input = "\xFF\xFE";
    for (char ch : std::string("*.log\r\ncache/\r\ndocs/**\r\n")) c.input += std::string(1, ch) + '\0';
    run({"--exclude-from", "-", "--exclude=/top.txt", "--exclude", "a/**/z.tmp", "--exclude", "??.ini", "--exclude",
         "\xC3\xA9t\xC3\xA9/"});
    c.input = "";

    for (const char* bad : {"", "a//b", "sub/../x", "a**", "/", "x/***/y", "!"}) {
        EXPECT_EQ(2, c.Run({"--exclude", bad, c.original, c.modded, c.destination})) << bad;
        EXPECT_NE(std::string::npos, c.err.find("modextract: --exclude")) << c.err;
    }
    WriteFile(file, "# fine\n*.log\n./x\n");
    EXPECT_EQ(2, c.Run({"--exclude-from", file, c.original, c.modded, c.destination}));
    EXPECT_NE(std::string::npos, c.err.find(file + ", line 3: ")) << c.err;
    c.input = std::string("*.log\n\0\n", 8);
    EXPECT_EQ(2, c.Run({"--exclude-from=-", c.original, c.modded, c.destination}));
    EXPECT_EQ("modextract: standard input, line 2: a NUL character: a pattern file is text, UTF-8 or UTF-16 with its "
              "byte order mark\n", c.err);
    c.input = "";
    EXPECT_EQ(2, c.Run({"--exclude-from", c.dir / "nowhere", c.original, c.modded, c.destination}));
    EXPECT_NE(std::string::npos, c.err.find("nowhere: cannot read: ")) << c.err;
    EXPECT_TRUE(c.out.empty());
    EXPECT_FALSE(Exists(c.destination));
}

// The progress line on a terminal: the index counts the files found so
// far, the copies count against the files to copy from their first line.
TEST(Cli, ProgressOnATerminalCountsTheFilesFoundAndTheFilesToCopy) {
    Cli c;
    for (int folder = 0; folder < 30; ++folder) {
        std::string name = Native("/f") + std::to_string(folder);
        for (const char* file : {"/a", "/b", "/c"}) {
            WriteFile(c.original + name + Native(file), "same");
            WriteFile(c.modded + name + Native(file), folder % 10 ? "same" : "changed");
        }
    }
    SysSwap restore;
    Sys.listFolder = ListSlowly;  // over 100 ms a tree, so that the counts are drawn
    c.terminal = true;
    // One folder at a time: no walk lists the folders ahead of the index.
    EXPECT_EQ(0, c.Run({"--jobs=1", c.original, c.modded, c.destination})) << c.err;
    std::vector<std::string> drawn;
    std::istringstream err(c.err);
    for (std::string line; std::getline(err, line, '\r');)
        drawn.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
    int found[2] = {0, 0}, copying = 0;
    for (const std::string& line : drawn) {
        SCOPED_TRACE(line);
        unsigned count = 0, range = 0;
        if (sscanf(line.c_str(), "indexing original %u files found", &count) == 1) found[0] = (int)count;
        if (sscanf(line.c_str(), "indexing modded %u files found", &count) == 1) found[1] = (int)count;
        if (sscanf(line.c_str(), "comparing %u/%u", &count, &range) == 2) {
            EXPECT_EQ(90u, range);
        }
        if (line.compare(0, 7, "copying") == 0 && ++copying && line.find('/') != std::string::npos) {
            EXPECT_EQ(2, sscanf(line.c_str(), "copying %u/%u", &count, &range));
            EXPECT_EQ(9u, range) << "the files to copy, never the comparison's 90";
        }
    }
    EXPECT_GT(found[0], 0) << c.err;
    EXPECT_LE(found[0], 90);
    EXPECT_GT(found[1], 0) << c.err;
    EXPECT_GT(copying, 0) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(", 0 new, 9 changed, 0 failed; mod in ")) << c.err;
}

// Files an earlier run left in DESTINATION/Data that this run neither
// copies nor would copy: counted, listed with --stale, never deleted.
TEST(Cli, StaleFilesOfAnEarlierRunAreCountedAndListedButNeverDeleted) {
    Cli c;
    WriteFile(c.modded + Native("/kept.dat"), "1");
    WriteFile(c.modded + Native("/gone.dat"), "2");
    WriteFile(c.modded + Native("/old/deep/x"), "3");
    EXPECT_EQ(0, c.Run());
    EXPECT_EQ(std::string::npos, c.err.find("stale")) << "an empty destination holds nothing stale";

    // The player removes a mod and changes another; this program's own
    // temporary names are not the player's files.
    std::filesystem::remove_all(c.modded + Native("/old"));
    std::filesystem::remove(c.modded + Native("/gone.dat"));
    WriteFile(c.modded + Native("/kept.dat"), "1 again");
    WriteFile(c.modded + Native("/new.dat"), "4");
    std::string temporary = PathSeparator() == '/' ? ".modextract-12-3.tmp" : "~mx12_3.tmp";
    ASSERT_TRUE(IsTemporaryName(temporary.c_str()));
    WriteFile(c.destination + Native("/Data/") + temporary, "partial");
    std::vector<std::string> before = ListTree(c.destination);

    std::string count = " 0 failed, 2 stale; ";
    std::string hint = "\nstale: left in Data by an earlier run";
    EXPECT_EQ(0, c.Run({"-n", c.original, c.modded, c.destination}));
    EXPECT_EQ("A kept.dat\nA new.dat\n", c.out);
    EXPECT_NE(std::string::npos, c.err.find(count + "would go to ")) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(hint + ", --stale lists them\n")) << c.err;
    EXPECT_EQ(0, c.Run({"-n", "--stale", c.original, c.modded, c.destination}));
    std::string listed = "S gone.dat\nA kept.dat\nA new.dat\nS " + Native("old/deep/x") + "\n";
    EXPECT_EQ(listed, c.out);
    EXPECT_NE(std::string::npos, c.err.find(hint + "\n")) << c.err;
    // A real run with -v lists its copies among the stale files as the dry run did.
    EXPECT_EQ(0, c.Run({"--stale", "-vz", c.original, c.modded, c.destination}));
    std::replace(listed.begin(), listed.end(), '\n', '\0');
    EXPECT_EQ(listed, c.out);
    EXPECT_NE(std::string::npos, c.err.find(count + "mod in ")) << c.err;
    EXPECT_EQ(0, c.Run({"--stale", "-q", c.original, c.modded, c.destination}));
    EXPECT_TRUE(c.err.empty()) << c.err;
    std::vector<std::string> after = ListTree(c.destination);
    std::vector<std::string> expected = before;
    expected.erase(std::find(expected.begin(), expected.end(), "Data/" + temporary));  // a leftover of ours, cleared
    expected.push_back("Data/new.dat");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, after) << "nothing deleted";
    EXPECT_EQ("1 again", ReadFile(c.destination + Native("/Data/kept.dat")));

    // A file that failed to copy is no stale file: the run meant to replace it.
    FaultInjector faults;
    faults.OnlyPaths(FAULT_COPY, "kept");
    faults.Fail(FAULT_COPY, 1, 5, true);
    WriteFile(c.modded + Native("/kept.dat"), "1 once more");
    EXPECT_EQ(1, c.Run({"--stale", c.original, c.modded, c.destination}));
    EXPECT_EQ("S gone.dat\nS " + Native("old/deep/x") + "\n", c.out);
}

// The backup's parent chosen instead of its DATA folder: the two trees
// share no path. And the mod's own Data folder chosen as the destination.
// Each gets one warning, the run goes on as asked, and -q says nothing.
TEST(Cli, ALikelyMistakeGetsOneWarningAndTheRunGoesOnUnlessQuiet) {
    Cli c;
    for (const char* name : {"a.dat", "b.dat", "c.dat"}) {
        WriteFile(c.original + Native("/DATA/") + name, "old");
        WriteFile(c.modded + Native("/") + name, "new");
    }
    const std::string apart = "modextract: warning: only 0 of the original's 3 files are found in the modded folder";
    const std::string tops = "the original holds one folder, DATA; the modded folder holds 3 files: a.dat, b.dat, c.dat\n";
    EXPECT_EQ(0, c.Run());
    EXPECT_EQ(0u, c.err.find(apart)) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(tops)) << c.err;
    EXPECT_EQ(c.err.find("warning"), c.err.rfind("warning")) << "one warning: " << c.err;
    EXPECT_EQ("new", ReadFile(c.destination + Native("/Data/a.dat")));
    EXPECT_EQ(0, c.Run({"-q", c.original, c.modded, c.destination}));
    EXPECT_EQ("", c.err);

    // Trees that share their paths: no warning.
    Cli shared;
    shared.Both("a.dat", "old", "new");
    EXPECT_EQ(0, shared.Run());
    EXPECT_EQ(std::string::npos, shared.err.find("warning")) << shared.err;

    std::string named = c.dir / "dAtA";
    std::string warned = "modextract: warning: " + named + Native("/Data") +
                         ": the destination is itself named Data, so the mod goes into a Data folder inside it\n";
    EXPECT_EQ(0, c.Run({c.original, c.modded, named}));
    EXPECT_EQ(0u, c.err.find(warned)) << c.err;
    EXPECT_EQ("new", ReadFile(named + Native("/Data/b.dat")));
    EXPECT_EQ(0, c.Run({"-q", c.original, c.modded, named}));
    EXPECT_EQ("", c.err);
}

// game/Data beside game/DATA: a program that ignores letter case takes
// them for one folder. Refused on every platform (where names ignore
// letter case, as the modded folder itself), naming both, before anything
// is written.
TEST(Cli, ADataFolderBesideTheModdedFolderNamedAlikeButForLetterCaseIsRefused) {
    Cli c;
    std::string game = c.dir / "game", modded = c.dir / "game/DATA";
    WriteFile(modded + Native("/a.dat"), "a");
    c.Both("a.dat", "old", "new");
    for (const char* quiet : {"-v", "-q"}) {
        EXPECT_EQ(2, c.Run({quiet, c.original, modded, game}));
        EXPECT_EQ(0u, c.err.find("modextract: " + game + Native("/Data") + ": the destination's Data folder "))
            << c.err;
        EXPECT_NE(std::string::npos, c.err.find(" the modded folder " + modded + ",")) << c.err;
        EXPECT_EQ(1, std::count(c.err.begin(), c.err.end(), '\n')) << c.err;
    }
    EXPECT_EQ(std::vector<std::string>{"DATA/a.dat"}, ListTree(game));
}

// The counts of an interrupted run's line, by their words.
static std::map<std::string, uint32_t> InterruptedCounts(const std::string& err) {
    std::map<std::string, uint32_t> counts;
    size_t at = err.find("modextract: interrupted: ");
    if (at == std::string::npos) return counts;
    std::string line = err.substr(at, err.find(';', at) - at);
    for (const char* word : {" files copied", " already in place", " not copied", " unchanged", " never compared"}) {
        size_t end = line.find(word);
        if (end == std::string::npos) continue;
        size_t begin = line.rfind(' ', end - 1) + 1;
        counts[word + 1] = (uint32_t)std::stoul(line.substr(begin, end - begin));
    }
    return counts;
}

static std::atomic<int> StopAfter;
static SysError ReadThenStop(FileHandle file, void* buffer, size_t size, size_t* got) {
    if (--StopAfter == 0) StopJob();
    return PlatformCalls.readFile(file, buffer, size, got);
}
static SysError CopyThenStop(const CopyRequest* request, uint64_t* copied) {
    if (--StopAfter == 0) StopJob();
    return PlatformCalls.copyFile(request, copied);
}

// Stopped while comparing 400 changed files (and 100 unchanged ones), or
// once 10 of 60 new files are being copied: the line accounts for every
// modded file.
TEST(Cli, AnInterruptedRunsCountsAddUpToEveryModdedFile) {
    Cli c;
    for (int i = 0; i < 400; ++i) c.Both("changed" + std::to_string(i), "old " + std::to_string(i), "new " + std::to_string(i));
    for (int i = 0; i < 100; ++i) c.Both("same" + std::to_string(i), "same", "same");
    {
        SysSwap restore;
        StopAfter = 40;
        Sys.readFile = ReadThenStop;
        c.Run();
        ClearJobStop();
    }
    std::map<std::string, uint32_t> counts = InterruptedCounts(c.err);
    EXPECT_LT(0u, counts["never compared"]) << c.err;
    uint32_t total = 0;
    for (const auto& count : counts) total += count.second;
    EXPECT_EQ(500u, total) << c.err;

    Cli copies;
    for (int i = 0; i < 60; ++i) WriteFile(copies.modded + Native("/new" + std::to_string(i)), "n");
    copies.Both("same", "same", "same");
    {
        SysSwap restore;
        StopAfter = 10;
        Sys.copyFile = CopyThenStop;
        copies.Run();
        ClearJobStop();
    }
    // The copies run while the scan still decides, so the scan may or may
    // not have ended at the stop: either way every file is counted once.
    counts = InterruptedCounts(copies.err);
    EXPECT_LT(0u, counts["not copied"]) << copies.err;
    total = 0;
    for (const auto& count : counts) total += count.second;
    EXPECT_EQ(61u, total) << copies.err;
}
