// What only a POSIX file system has: FIFOs, sockets, symbolic links, modes.
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <array>

#include <gtest/gtest.h>

#include "cli.h"
#include "copyqueue.h"
#include "fileindex.h"
#include "treewalk.h"
#include "foldercheck.h"
#include "support.h"
#include "jobstop.h"

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

static std::vector<std::string> Listed;
static SysError RememberListing(const char* folder, EntrySink sink, void* context) {
    Listed.push_back(folder);
    return PlatformCalls.listFolder(folder, sink, context);
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

    // The listing leaves a regular file's size to its open handle, but a
    // link, which may lead anywhere, is examined.
    std::map<std::string, uint64_t> sizes;
    EntrySink gather = [](void* context, const FolderEntry* entry) {
        (*(std::map<std::string, uint64_t>*)context)[entry->name] = entry->size;
        return true;
    };
    ASSERT_EQ(0u, PlatformCalls.listFolder((t.modded + "/real").c_str(), gather, &sizes));
    ASSERT_EQ(0u, PlatformCalls.listFolder(t.modded.c_str(), gather, &sizes));
    EXPECT_EQ(SIZE_UNKNOWN, sizes["file"]);
    EXPECT_EQ(1u, sizes["file-link"]);

    // The read-ahead walk goes every way the index goes, and no further.
    Listed.clear();
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = RememberListing;
    PrefetchTree(t.modded.c_str());
    std::sort(Listed.begin(), Listed.end());
    EXPECT_EQ((Paths{t.modded, t.modded + "/alias", t.modded + "/real"}), Listed);
}

// A link that leads nowhere holds nothing to copy or compare: skipped with
// a warning, as a FIFO is, in either tree, and the run stays clean.
TEST(PosixTree, DanglingLinksAreSkippedWithAWarningInEitherTree) {
    JobTrees t;
    ASSERT_EQ(0, symlink("nowhere", (t.modded + "/dangling").c_str()));
    ASSERT_EQ(0, symlink("nowhere", (t.original + "/dangling").c_str()));
    t.Run();
    EXPECT_TRUE(FailedPaths(t.result).empty());
    EXPECT_EQ(2u, t.result.warnings);
    EXPECT_TRUE(ListTree(t.destination).empty());
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
    EXPECT_TRUE(CheckJobFolders(std::array<const char*, 3>{(dir / "orig").c_str(), (dir / "mod").c_str(), (dir / "Orig").c_str()}.data(), reason,
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
    EXPECT_FALSE(CheckJobFolders(std::array<const char*, 3>{(dir / "orig").c_str(), (dir / "mod").c_str(), (dir / "dest").c_str()}.data(), reason,
                                 sizeof reason));
    // And an input reached through a link is the same folder as itself.
    ASSERT_EQ(0, symlink((dir / "orig").c_str(), (dir / "orig-link").c_str()));
    EXPECT_FALSE(CheckJobFolders(std::array<const char*, 3>{(dir / "orig").c_str(), (dir / "orig-link").c_str(), (dir / "out").c_str()}.data(), reason,
                                 sizeof reason));
}

static int RunCli(std::vector<std::string> args, std::string* out, std::string* err);

// A bind mount is no link: every path through it resolves to itself, and
// only the folder's identity tells where it leads.
TEST(PosixFolderCheck, DataFolderThatIsABindMountOfAnInputFolderRefusesTheRun) {
    if (geteuid() != 0) GTEST_SKIP() << "a bind mount needs root";
    // A mount namespace of this process's own, so that nothing outside sees the mount.
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "no mount namespace of its own: " << strerror(errno);
    TempDir dir;
    std::string original = dir / "orig", modded = dir / "mod", destination = dir / "dest";
    WriteFile(original + "/sub/a", "a");
    WriteFile(modded + "/sub/a", "changed");
    std::filesystem::create_directories(destination + "/Data");
    ASSERT_EQ(0, mount((original + "/sub").c_str(), (destination + "/Data").c_str(), nullptr, MS_BIND, nullptr))
        << strerror(errno);
    char reason[512];
    EXPECT_TRUE(CheckJobFolders(std::array<const char*, 3>{original.c_str(), modded.c_str(), destination.c_str()}.data(), reason, sizeof reason))
        << "the paths alone cannot tell";
    std::string out, err;
    EXPECT_EQ(2, RunCli({original, modded, destination}, &out, &err));
    EXPECT_NE(std::string::npos, err.find("Data folder is, or lies inside, a folder of an input")) << err;
    EXPECT_EQ((Paths{"sub/a"}), ListTree(original));
    EXPECT_EQ("a", ReadFile(original + "/sub/a"));
    umount((destination + "/Data").c_str());
}

TEST(PosixTree, FolderLinkInsideDataNeverLeadsACopyOutsideIt) {
    JobTrees t;
    WriteFile(t.original + "/sub/a.txt", "original");
    WriteFile(t.modded + "/sub/a.txt", "modded");
    WriteFile(t.modded + "/sub/deeper/new.txt", "new");
    WriteFile(t.modded + "/inner/b.txt", "b");
    WriteFile(t.modded + "/file.txt", "replaces the link");
    std::filesystem::create_directories(t.destination + "/Data/elsewhere");
    std::filesystem::create_directories(t.dir / "outside");  // no input: one would refuse the whole run
    std::filesystem::create_directory_symlink(t.dir / "outside", t.destination + "/Data/sub");
    std::filesystem::create_directory_symlink("elsewhere", t.destination + "/Data/inner");  // stays inside: used
    WriteFile(t.dir / "outside.txt", "kept");
    std::filesystem::create_symlink(t.dir / "outside.txt", t.destination + "/Data/file.txt");
    t.Run();
    Paths failed = FailedPaths(t.result);
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ((Paths{t.destination + "/Data/sub/a.txt", t.destination + "/Data/sub/deeper/new.txt"}), failed)
        << ProblemText(t.result);
    EXPECT_NE(std::string::npos, ProblemText(t.result).find("outside the destination's Data folder"));
    EXPECT_TRUE(ListTree(t.dir / "outside").empty());
    EXPECT_EQ("b", ReadFile(t.destination + "/Data/elsewhere/b.txt"));
    EXPECT_FALSE(std::filesystem::is_symlink(t.destination + "/Data/file.txt"));
    EXPECT_EQ("kept", ReadFile(t.dir / "outside.txt"));
}

TEST(PosixTree, TakenTemporaryNamesArePassedOver) {
    TempDir dir;
    WriteFile(dir / "src/f", "new");
    // The names this process tries first, all taken: a leftover of an earlier
    // run in a container, where every run has the same process id.
    for (int n = 0; n < 50; ++n)
        WriteFile(dir / ("dst/.modextract-" + std::to_string(getpid()) + "-" + std::to_string(n) + ".tmp"), "");
    uint64_t copied = 0;
    EXPECT_EQ(0u, CopyPlain((dir / "src/f").c_str(), (dir / "dst/f").c_str(), &copied));
    EXPECT_EQ("new", ReadFile(dir / "dst/f"));
    EXPECT_EQ(51u, ListTree(dir / "dst").size());
}

// Runs modextract in-process, its two streams caught in files.
static int RunCli(std::vector<std::string> args, std::string* out, std::string* err) {
    args.insert(args.begin(), "modextract");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    FILE* files[2] = {tmpfile(), tmpfile()};
    int status = RunModExtract((int)argv.size(), argv.data(), stdin, files[0], files[1], false);
    std::string* texts[2] = {out, err};
    for (int i = 0; i < 2; ++i) {
        rewind(files[i]);
        char buffer[4096];
        size_t n;
        texts[i]->clear();
        while ((n = fread(buffer, 1, sizeof buffer, files[i])) > 0) texts[i]->append(buffer, n);
        fclose(files[i]);
    }
    return status;
}

TEST(PosixCli, OddNamesAreQuotedAsGitQuotesThemAndNullEndedWithZ) {
    JobTrees t;
    // Sorted: 0x01, 'a', 'b', 'p', 's'.
    const char* names[] = {"\x01" "ctl", "a\nb.txt", "bad\xff" "\xc3.txt", "plain \\ caf\xc3\xa9.txt", "say \"hi\"\t.txt",
                           "\xe2\x82\xac ok"};
    for (const char* name : names) WriteFile(t.modded + "/" + name, "1");
    OrderedListing order({names[4], names[2], names[0], names[3], names[1]});
    std::string out, err;
    EXPECT_EQ(0, RunCli({"-nq", t.original, t.modded, t.destination}, &out, &err));
    EXPECT_EQ("A \"\\001ctl\"\n"
              "A \"a\\nb.txt\"\n"
              "A \"bad\\377\\303.txt\"\n"          // bytes that are not UTF-8, each in octal
              "A \"plain \\\\ caf\xc3\xa9.txt\"\n"  // the backslash doubled, the 'é' as it is
              "A \"say \\\"hi\\\"\\t.txt\"\n"
              "A \xe2\x82\xac ok\n",               // valid UTF-8 alone needs no quotes
              out);
    EXPECT_EQ(0, RunCli({"-n", "-z", t.original, t.modded, t.destination}, &out, &err));
    std::string expected;
    for (int i : {0, 1, 2, 3, 4, 5}) expected += std::string("A ") + names[i] + '\0';
    EXPECT_EQ(expected, out);

    // Messages quote alike.
    FaultInjector faults;
    faults.OnlyPaths(FAULT_COPY, "bad");
    faults.Fail(FAULT_COPY, 1, EIO);
    EXPECT_EQ(1, RunCli({"-q", t.original, t.modded, t.destination}, &out, &err));
    EXPECT_EQ("modextract: \"" + t.destination + "/Data/bad\\377\\303.txt\": cannot copy: " + strerror(EIO) + "\n", err);
}

// A device or FIFO is no file to copy: it is skipped with a warning, and
// the run still ends 0; a run with failures always says how many.
TEST(PosixCli, TheSummaryCountsFailuresInEveryKindOfRunAndSkipsWhatIsNoFile) {
    JobTrees t;
    WriteFile(t.original + "/same", "s");
    WriteFile(t.modded + "/same", "s");
    ASSERT_EQ(0, mkfifo((t.modded + "/fifo").c_str(), 0600));
    std::string out, err;
    EXPECT_EQ(0, RunCli({"-n", t.original, t.modded, t.destination}, &out, &err));
    EXPECT_NE(std::string::npos, err.find("warning: " + t.modded + "/fifo: ")) << err;
    EXPECT_NE(std::string::npos, err.find("nothing new or changed, 0 failed; nothing written")) << err;

    WriteFile(t.modded + "/sub/x", "x");
    FaultInjector faults;
    faults.OnlyPaths(FAULT_LIST, "mod/sub");
    faults.Fail(FAULT_LIST, 1, EACCES, true);
    for (const char* dry : {"-n", "--jobs=4"}) {
        EXPECT_EQ(1, RunCli({dry, t.original, t.modded, t.destination}, &out, &err));
        EXPECT_NE(std::string::npos, err.find("nothing new or changed, 1 failed; nothing written")) << err;
    }
    WriteFile(t.modded + "/new", "n");
    EXPECT_EQ(1, RunCli({"-n", t.original, t.modded, t.destination}, &out, &err));
    EXPECT_NE(std::string::npos, err.find(", 1 new, 0 changed, 1 failed; would go to ")) << err;
    EXPECT_EQ(1, RunCli({t.original, t.modded, t.destination}, &out, &err));
    EXPECT_NE(std::string::npos, err.find(", 1 new, 0 changed, 1 failed; mod in ")) << err;

    // A destination that needs quoting is quoted whole, its Data included.
    std::string odd = t.dir / "d\tz";
    EXPECT_EQ(1, RunCli({t.original, t.modded, odd}, &out, &err));
    EXPECT_NE(std::string::npos, err.find("; mod in \"" + t.dir.path + "/d\\tz/Data\"\n")) << err;
}

// Shells hand a process substitution over as a pipe; a FIFO and a device
// are read to their end as standard input is.
TEST(PosixCli, PatternFilesFromPipesFifosAndDevicesAreReadToTheirEnd) {
    JobTrees t;
    WriteFile(t.modded + "/a.log", "l");
    WriteFile(t.modded + "/b.txt", "t");
    std::string out, err;
    EXPECT_EQ(0, RunCli({"-n", "--exclude-from", "/dev/null", t.original, t.modded, t.destination}, &out, &err))
        << err;
    EXPECT_EQ("A a.log\nA b.txt\n", out);

    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    std::string patterns = "# from a pipe\n*.log\n" + std::string(70000, '\n');  // more than a pipe holds
    std::thread writer([&] {
        EXPECT_EQ((ssize_t)patterns.size(), write(ends[1], patterns.data(), patterns.size()));
        close(ends[1]);
    });
    std::string piped = "/dev/fd/" + std::to_string(ends[0]);
    EXPECT_EQ(0, RunCli({"-n", "--exclude-from", piped, t.original, t.modded, t.destination}, &out, &err)) << err;
    writer.join();
    close(ends[0]);
    EXPECT_EQ("A b.txt\n", out);

    std::string fifo = t.dir / "patterns";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::thread fifoWriter([&] { WriteFile(fifo, "*.txt\nnone-*\n"); });
    EXPECT_EQ(0, RunCli({"-n", "--exclude-from=" + fifo, t.original, t.modded, t.destination}, &out, &err)) << err;
    fifoWriter.join();
    EXPECT_EQ("A a.log\n", out);
    EXPECT_NE(std::string::npos, err.find("modextract: warning: " + fifo + ", line 2: 'none-*' matched nothing\n"))
        << err;
}

static std::atomic<int> Calls{0};
static std::atomic<int> SignalToSend{0};
static std::atomic<unsigned> NamedCopies{0};

// The signal comes while copies run; the copy goes on once the job knows.
static void SignalOnTheFourthCopy(const CopyRequest* request) {
    if (Calls++ == 3) {
        kill(getpid(), SignalToSend.load());
        while (!request->stop->load()) std::this_thread::yield();
    }
}

static SysError SignalWhileCopying(const CopyRequest* request, uint64_t* copied) {
    SignalOnTheFourthCopy(request);
    return PlatformCalls.copyFile(request, copied);
}

// A copy as a file system without unnamed files (FAT, exFAT, a network
// share) makes it: under a temporary name beside the target, which is
// there while the signal comes, renamed when whole and removed when the
// job's stop ends the copy.
static SysError SignalWhileCopyingUnderATemporaryName(const CopyRequest* request, uint64_t* copied) {
    std::string target = request->target;
    std::string temporary = target.substr(0, target.rfind('/') + 1) + ".modextract-" + std::to_string(getpid()) +
                            "-" + std::to_string(NamedCopies++) + ".tmp";
    if (!IsTemporaryName(temporary.substr(temporary.rfind('/') + 1).c_str())) return EINVAL;
    std::string contents = ReadFile(request->source);
    WriteFile(temporary, contents.substr(0, contents.size() / 2));
    SignalOnTheFourthCopy(request);
    if (request->stop->load()) {
        unlink(temporary.c_str());
        return ENGINE_ABANDONED;
    }
    WriteFile(temporary, contents);
    *copied = contents.size();
    return rename(temporary.c_str(), request->target) == 0 ? 0 : errno;
}

// Each stopping signal ends the run the same way, with unnamed temporary
// files or named ones: the copies in flight stop and leave no temporary
// file, the summary says what was copied, and the exit status is 128 + the
// signal.
TEST(PosixCli, SigtermSighupAndSigquitStopTheCopiesCleanlyAndExitWith128PlusTheSignal) {
    for (bool named : {false, true})
    for (int signal : {SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(std::string(strsignal(signal)) + (named ? ", named temporaries" : ""));
        JobTrees t;
        for (int i = 0; i < 30; ++i) WriteFile(t.modded + "/f" + std::to_string(i), std::string(100, 'x'));
        Calls = 0;
        SignalToSend = signal;
        SysSwap restore;
        Sys.copyFile = named ? SignalWhileCopyingUnderATemporaryName : SignalWhileCopying;
        std::string out, err;
        int status = RunCli({t.original, t.modded, t.destination}, &out, &err);
        ClearJobStop();
        EXPECT_EQ(128 + signal, status);
        EXPECT_NE(std::string::npos, err.find("modextract: interrupted: ")) << err;
        std::vector<std::string> copied = ListTree(t.destination);
        EXPECT_GE(copied.size(), 1u);  // the one the signalling copier made before
        EXPECT_LT(copied.size(), 30u);
        for (const std::string& path : copied) {
            EXPECT_EQ(std::string::npos, path.find(".modextract-")) << path;
            EXPECT_EQ(std::string(100, 'x'), ReadFile(t.destination + "/" + path));
        }
    }
}

// The folder check's resolutions come before the program listens for
// signals; the first one after them is the job's, while it sets out.
static std::atomic<int> Resolutions{0}, ResolutionsOfTheCheck{0};
static SysError CountResolution(const char* path, char* out, size_t outSize) {
    ++Resolutions;
    return PlatformCalls.resolvePath(path, out, outSize);
}
static SysError SignalAtTheJobsResolution(const char* path, char* out, size_t outSize) {
    if (++Resolutions == ResolutionsOfTheCheck + 1) {
        kill(getpid(), SIGINT);
        for (int i = 0; i < 5000 && !StopRequested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return PlatformCalls.resolvePath(path, out, outSize);
}

TEST(PosixCli, SigintWhileTheJobSetsOutIsKeptAndNothingIsCopied) {
    JobTrees t;
    for (int i = 0; i < 20; ++i) WriteFile(t.modded + "/f" + std::to_string(i), "x");
    Resolutions = 0;
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.resolvePath = CountResolution;
    char reason[512];
    ASSERT_TRUE(CheckJobFolders(std::array<const char*, 3>{t.original.c_str(), t.modded.c_str(), t.destination.c_str()}.data(), reason, sizeof reason));
    ResolutionsOfTheCheck = Resolutions.load();
    Resolutions = 0;
    Sys.resolvePath = SignalAtTheJobsResolution;
    std::string out, err;
    int status = RunCli({t.original, t.modded, t.destination}, &out, &err);
    ClearJobStop();
    EXPECT_GT(Resolutions.load(), ResolutionsOfTheCheck.load());
    EXPECT_EQ(130, status);
    EXPECT_EQ(Paths{}, ListTree(t.destination));
    EXPECT_NE(std::string::npos, err.find("modextract: interrupted: 0 files copied")) << err;
}

// A signal while the destination is probed: the program listens already,
// so the probe ends as it began, and the run stops before the job.
static SysError SignalWhileProbing(const char* folder) {
    kill(getpid(), SIGINT);
    for (int i = 0; i < 5000 && !StopRequested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return PlatformCalls.probeFolder(folder);
}

TEST(PosixCli, SigintWhileTheDestinationIsProbedLeavesNothingAnywhere) {
    for (bool existing : {true, false}) {
        SCOPED_TRACE(existing ? "an existing destination" : "a destination not there yet");
        JobTrees t;
        WriteFile(t.modded + "/f", "x");
        if (existing) WriteFile(t.destination + "/Data/kept.txt", "an earlier run's");
        Paths before = ListTree(t.dir.path);
        SysSwap restore;
        Sys.probeFolder = SignalWhileProbing;
        std::string out, err;
        int status = RunCli({t.original, t.modded, t.destination}, &out, &err);
        ClearJobStop();
        EXPECT_EQ(130, status) << err;
        EXPECT_EQ(before, ListTree(t.dir.path));
        EXPECT_EQ(existing, Exists(t.destination));
    }
}

// The destination locked by another process, which is then killed: while
// it lives, a writing run is refused (exit status 2, one line naming the
// destination); once it is killed, nothing of its lock is left.
TEST(PosixCli, AKilledRunsLockOnTheDestinationIsGoneWithIt) {
    JobTrees t;
    WriteFile(t.modded + "/f", "x");
    std::filesystem::create_directories(t.destination);
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileHandle lock;
        if (Sys.lockFolder(t.destination.c_str(), &lock) == 0 && write(ready[1], "x", 1) == 1) pause();
        _exit(1);
    }
    close(ready[1]);
    char got = 0;
    bool locked = read(ready[0], &got, 1) == 1;
    close(ready[0]);
    std::string out, err;
    int status = locked ? RunCli({t.original, t.modded, t.destination}, &out, &err) : -1;
    kill(child, SIGKILL);
    int childStatus = 0;
    waitpid(child, &childStatus, 0);
    ASSERT_TRUE(locked);
    EXPECT_EQ(2, status);
    EXPECT_EQ("modextract: " + t.destination + ": another job of this program is writing into this destination; "
              "try again once it has ended\n", err);
    EXPECT_TRUE(WIFSIGNALED(childStatus));
    EXPECT_EQ(0, RunCli({t.original, t.modded, t.destination}, &out, &err)) << err;
    EXPECT_EQ(Paths{"Data/f"}, ListTree(t.destination));
}
