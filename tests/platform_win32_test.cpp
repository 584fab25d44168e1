// The Win32 platform layer against the real file system (under Wine in the
// cross build): what only Windows has, such as share modes, file
// attributes, drive roots and the 259-character path limit.
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "fileindex.h"
#include "job.h"
#include "modassembly.h"
#include "support.h"

using Paths = std::vector<std::string>;

static void Gather(void* context, const FolderEntry* entry) {
    (*(std::map<std::string, FolderEntry>*)context)[entry->name] = *entry;
}

static std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)tolower(c); });
    return text;
}

// The full paths that IndexTree pushes for `root`, from the head.
static Paths IndexPaths(const std::string& root, JobResult* result) {
    Job.Result = result;
    FileTree tree;
    InitFileTree(&tree, false);
    Job.CurrentTree = &tree;
    Job.CountingFiles = 0;
    IndexTree(root.c_str());
    Paths paths;
    char path[PATH_BUFFER_SIZE];
    for (uint32_t file = FileCount(&tree); file-- > 0;) paths.push_back(std::string(path, FilePath(&tree, file, path)));
    ReleaseFileTree(&tree);
    Job.CurrentTree = nullptr;
    Job.Result = nullptr;
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Holds a file open the way a running game would: share mode 0.
struct HeldFile {
    explicit HeldFile(const std::string& path)
        : handle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr)) {}
    ~HeldFile() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    HANDLE handle;
};

static DWORD Attributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

// A folder path of exactly `length` characters below `dir`, made of
// nested folders of at most 100 characters each, created on disk.
static std::string FolderOfLength(const TempDir& dir, size_t length) {
    std::string path = dir.path;
    EXPECT_LT(path.size() + 2, length);
    while (path.size() < length) {
        size_t room = length - path.size() - 1;  // after the separator
        size_t name = std::min<size_t>(room, 100);
        if (room > name && room - name < 2) name = room - 2;  // leave room for one more level
        path += '\\';
        path += std::string(name, 'd');
        CreateDirectoryA(path.c_str(), nullptr);
    }
    EXPECT_EQ(length, path.size());
    return path;
}

TEST(Win32Platform, SeparatorsAndLimit) {
    EXPECT_EQ('\\', PathSeparator());
    EXPECT_TRUE(IsPathSeparator('\\'));
    EXPECT_TRUE(IsPathSeparator('/'));
    EXPECT_FALSE(IsPathSeparator(':'));
    EXPECT_EQ(259u, PathLimit());
    EXPECT_TRUE(IsNotFound(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(IsNotFound(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(IsNotFound(ERROR_ACCESS_DENIED));
}

TEST(Win32Platform, ErrorTextsAreSystemTextsWithoutTheLineEnd) {
    char text[256];
    DescribeError(ERROR_SHARING_VIOLATION, text, sizeof text);
    size_t length = strlen(text);
    ASSERT_GT(length, 3u);
    EXPECT_NE('.', text[length - 1]);
    EXPECT_EQ(nullptr, strpbrk(text, "\r\n")) << text;
    DescribeError(ENGINE_PATH_TOO_LONG, text, sizeof text);
    EXPECT_STREQ("path too long", text);
    DescribeError(0xDEADBEEFu, text, sizeof text);
    EXPECT_GT(strlen(text), 0u);
    char tiny[6];
    DescribeError(ERROR_ACCESS_DENIED, tiny, sizeof tiny);
    EXPECT_EQ(5u, strlen(tiny));
}

TEST(Win32Platform, DriveRootIsListedAndExamined) {
    std::map<std::string, FolderEntry> entries;
    ASSERT_EQ(0u, Sys.listFolder("C:\\", Gather, &entries));
    bool windows = false;
    for (auto& entry : entries)
        if (Lower(entry.first) == "windows") windows = entry.second.kind == ENTRY_FOLDER;
    EXPECT_TRUE(windows);
    EntryKind kind;
    FolderId id;
    ASSERT_EQ(0u, Sys.examine("C:\\", &kind, &id));
    EXPECT_EQ(ENTRY_FOLDER, kind);
    char resolved[PATH_BUFFER_SIZE];
    ASSERT_EQ(0u, Sys.resolvePath("C:\\", resolved, sizeof resolved));
    EXPECT_EQ("c:\\", Lower(resolved));
}

TEST(Win32Platform, RootEndingInASeparatorGivesDoubledSeparators) {
    TempDir dir;
    WriteFile(dir / "a.dat", "a");
    WriteFile(dir / "sub/b.dat", "b");
    std::string root = dir.path + "\\";
    JobResult result = {};
    Paths paths = IndexPaths(root, &result);
    EXPECT_EQ((Paths{root + "\\a.dat", root + "\\sub\\b.dat"}), paths);
    EXPECT_EQ(0u, result.failures + result.warnings) << ProblemText(result);
    ReleaseJobResult(&result);

    // Such paths reach the file all the same.
    FileHandle file;
    ASSERT_EQ(0u, Sys.openForReading(paths[1].c_str(), &file));
    char buffer[8];
    size_t got = 0;
    EXPECT_EQ(0u, Sys.readFile(file, buffer, sizeof buffer, &got));
    EXPECT_EQ(1u, got);
    Sys.closeFile(file);

    char target[PATH_BUFFER_SIZE];
    EXPECT_EQ(strlen("C:\\\\Data\\x\\y.dat"), BuildTargetPath("C:\\", "\\x\\y.dat", target));
    EXPECT_STREQ("C:\\\\Data\\x\\y.dat", target);
}

TEST(Win32Platform, JobWithRootsEndingInSeparators) {
    TempDir dir;
    WriteFile(dir / "original/same.dat", "same");
    WriteFile(dir / "original/sub/changed.dat", "old");
    WriteFile(dir / "modded/same.dat", "same");
    WriteFile(dir / "modded/sub/changed.dat", "new");
    WriteFile(dir / "modded/sub/deeper/added.dat", "added");
    CreateDirectoryA((dir / "dest").c_str(), nullptr);
    Recorder recorder;
    JobResult result = {};
    RunJob(dir / "original\\", dir / "modded\\", dir / "dest\\", &recorder, &result);
    EXPECT_EQ(0u, result.failures) << ProblemText(result);
    EXPECT_EQ(2u, result.copiedFiles);
    EXPECT_EQ((Paths{"Data/sub/changed.dat", "Data/sub/deeper/added.dat"}), ListTree(dir / "dest"));
    EXPECT_EQ("new", ReadFile(dir / "dest/Data/sub/changed.dat"));
    ReleaseJobResult(&result);
}

TEST(Win32Platform, ForwardSlashesAreAccepted) {
    TempDir dir;
    std::string slashed = dir.path + "/a/b";
    ASSERT_EQ(0u, Sys.createFolders(slashed.c_str()));
    WriteFile(dir / "a/b/f", "forward");
    FileHandle file;
    ASSERT_EQ(0u, Sys.openForReading((slashed + "/f").c_str(), &file));
    Sys.closeFile(file);
    uint64_t copied = 0;
    EXPECT_EQ(0u, CopyPlain((slashed + "/f").c_str(), (slashed + "/g").c_str(), &copied));
    EXPECT_EQ(7u, copied);
    char one[PATH_BUFFER_SIZE], two[PATH_BUFFER_SIZE];
    ASSERT_EQ(0u, Sys.resolvePath(slashed.c_str(), one, sizeof one));
    ASSERT_EQ(0u, Sys.resolvePath((dir / "a/b").c_str(), two, sizeof two));
    EXPECT_STREQ(two, one);
    EXPECT_EQ(nullptr, strchr(one, '/'));
}

TEST(Win32Platform, HiddenAndSystemEntriesAreListedAndCopied) {
    TempDir dir;
    WriteFile(dir / "modded/plain.dat", "p");
    WriteFile(dir / "modded/hidden.dat", "h");
    WriteFile(dir / "modded/system.dat", "s");
    WriteFile(dir / "modded/secret/inner.dat", "i");
    ASSERT_TRUE(SetFileAttributesA((dir / "modded/hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesA((dir / "modded/system.dat").c_str(),
                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA((dir / "modded/secret").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(Attributes(dir / "modded/system.dat") & FILE_ATTRIBUTE_SYSTEM);

    std::map<std::string, FolderEntry> entries;
    ASSERT_EQ(0u, Sys.listFolder((dir / "modded").c_str(), Gather, &entries));
    EXPECT_EQ(ENTRY_FILE, entries["hidden.dat"].kind);
    EXPECT_EQ(ENTRY_FILE, entries["system.dat"].kind);
    EXPECT_EQ(1u, entries["system.dat"].size);
    EXPECT_EQ(ENTRY_FOLDER, entries["secret"].kind);

    CreateDirectoryA((dir / "original").c_str(), nullptr);
    Recorder recorder;
    JobResult result = {};
    RunJob(dir / "original", dir / "modded", dir / "dest", &recorder, &result);
    EXPECT_EQ(0u, result.failures) << ProblemText(result);
    EXPECT_EQ((Paths{"Data/hidden.dat", "Data/plain.dat", "Data/secret/inner.dat", "Data/system.dat"}),
              ListTree(dir / "dest"));
    EXPECT_EQ("s", ReadFile(dir / "dest/Data/system.dat"));
    ReleaseJobResult(&result);
}

TEST(Win32Platform, FileHeldWithShareModeZeroCannotBeOpened) {
    TempDir dir;
    WriteFile(dir / "held.dat", "held");
    {
        HeldFile held(dir / "held.dat");
        ASSERT_NE(INVALID_HANDLE_VALUE, held.handle);
        FileHandle file = 42;
        EXPECT_EQ((SysError)ERROR_SHARING_VIOLATION, Sys.openForReading((dir / "held.dat").c_str(), &file));
        EXPECT_EQ(INVALID_FILE, file);
        // Looking at it is still possible.
        EntryKind kind;
        FolderId id;
        EXPECT_EQ(0u, Sys.examine((dir / "held.dat").c_str(), &kind, &id));
        EXPECT_EQ(ENTRY_FILE, kind);
    }
    // And the engine's own open keeps everybody else out.
    FileHandle file;
    ASSERT_EQ(0u, Sys.openForReading((dir / "held.dat").c_str(), &file));
    HANDLE other = CreateFileA((dir / "held.dat").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, other);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    Sys.closeFile(file);
}

TEST(Win32Platform, HeldModdedFileIsComparedAsChangedAndItsCopyFails) {
    TempDir dir;
    WriteFile(dir / "original/a.dat", "same");
    WriteFile(dir / "modded/a.dat", "same");
    HeldFile held(dir / "modded/a.dat");
    ASSERT_NE(INVALID_HANDLE_VALUE, held.handle);
    Recorder recorder;
    JobResult result = {};
    RunJob(dir / "original", dir / "modded", dir / "dest", &recorder, &result);
    EXPECT_EQ((Paths{dir / "modded/a.dat"}), FailedPaths(result)) << ProblemText(result);
    EXPECT_EQ(0u, result.copiedFiles);
    EXPECT_EQ(Paths{}, ListTree(dir / "dest"));
    ReleaseJobResult(&result);
}

TEST(Win32Platform, PathsOf259CharactersWorkAnd260AreRefused) {
    TempDir dir;
    // 248 characters: the longest folder that CreateDirectory makes.
    std::string folder = FolderOfLength(dir, 248);
    std::string file259 = folder + "\\" + std::string(259 - folder.size() - 1, 'f');
    ASSERT_EQ(259u, file259.size());
    WriteFile(file259, "at the limit");
    ASSERT_TRUE(Exists(file259));

    FileHandle file;
    ASSERT_EQ(0u, Sys.openForReading(file259.c_str(), &file));
    Sys.closeFile(file);
    EntryKind kind;
    FolderId id;
    EXPECT_EQ(0u, Sys.examine(file259.c_str(), &kind, &id));
    char resolved[PATH_BUFFER_SIZE];
    EXPECT_EQ(0u, Sys.resolvePath(file259.c_str(), resolved, sizeof resolved));

    // A copy to a target at the limit, with only a short temporary name
    // fitting beside it.
    std::string target259 = folder + "\\" + std::string(259 - folder.size() - 1, 't');
    uint64_t copied = 0;
    EXPECT_EQ(0u, CopyPlain(file259.c_str(), target259.c_str(), &copied));
    EXPECT_EQ(12u, copied);
    EXPECT_EQ("at the limit", ReadFile(target259));
    std::string shortTarget = folder + "\\t";
    EXPECT_EQ(0u, CopyPlain(file259.c_str(), shortTarget.c_str(), &copied));
    EXPECT_EQ("at the limit", ReadFile(shortTarget));
    std::map<std::string, FolderEntry> entries;
    ASSERT_EQ(0u, Sys.listFolder(folder.c_str(), Gather, &entries));
    EXPECT_EQ(5u, entries.size());  // ".", "..", the file and the two copies

    std::string file260 = file259 + "x";
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.openForReading(file260.c_str(), &file));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.examine(file260.c_str(), &kind, &id));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.resolvePath(file260.c_str(), resolved, sizeof resolved));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.createFolders(file260.c_str()));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, CopyPlain(file260.c_str(), target259.c_str(), &copied));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, CopyPlain(file259.c_str(), (target259 + "x").c_str(), &copied));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.listFolder(file260.c_str(), Gather, &entries));
    // A folder so long that its search pattern passes the limit cannot be listed.
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.listFolder(file259.c_str(), Gather, &entries));

    // The index takes files right at the limit.
    WriteFile(folder + "\\ok", "ok");
    JobResult result = {};
    Paths paths = IndexPaths(folder, &result);
    EXPECT_EQ((Paths{file259, folder + "\\ok", shortTarget, target259}), paths);
    EXPECT_EQ(0u, result.failures + result.warnings) << ProblemText(result);
    ReleaseJobResult(&result);
}

TEST(Win32Platform, CopyReplacesAReadOnlyTarget) {
    TempDir dir;
    WriteFile(dir / "src/f", "new contents");
    WriteFile(dir / "dst/f", "old");
    ASSERT_TRUE(SetFileAttributesA((dir / "dst/f").c_str(), FILE_ATTRIBUTE_READONLY));
    uint64_t copied = 0;
    ASSERT_EQ(0u, CopyPlain((dir / "src/f").c_str(), (dir / "dst/f").c_str(), &copied));
    EXPECT_EQ(12u, copied);
    EXPECT_EQ("new contents", ReadFile(dir / "dst/f"));
    EXPECT_EQ(Paths{"f"}, ListTree(dir / "dst"));
}

TEST(Win32Platform, CopyOfAReadOnlySourceKeepsTheAttributeAndCanBeRepeated) {
    TempDir dir;
    WriteFile(dir / "src/f", "read only");
    ASSERT_TRUE(SetFileAttributesA((dir / "src/f").c_str(), FILE_ATTRIBUTE_READONLY));
    CreateDirectoryA((dir / "dst").c_str(), nullptr);
    uint64_t copied = 0;
    ASSERT_EQ(0u, CopyPlain((dir / "src/f").c_str(), (dir / "dst/f").c_str(), &copied));
    EXPECT_TRUE(Attributes(dir / "dst/f") & FILE_ATTRIBUTE_READONLY);
    // The next extraction replaces it again.
    ASSERT_EQ(0u, CopyPlain((dir / "src/f").c_str(), (dir / "dst/f").c_str(), &copied));
    EXPECT_EQ("read only", ReadFile(dir / "dst/f"));
    EXPECT_EQ(Paths{"f"}, ListTree(dir / "dst"));
    SetFileAttributesA((dir / "src/f").c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA((dir / "dst/f").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32Platform, FailedCopiesLeaveNoTemporaryFile) {
    TempDir dir;
    WriteFile(dir / "src/held", "held");
    WriteFile(dir / "src/readonly", "r");
    ASSERT_TRUE(SetFileAttributesA((dir / "src/readonly").c_str(), FILE_ATTRIBUTE_READONLY));
    WriteFile(dir / "dst/t", "old");
    CreateDirectoryA((dir / "dst/folder").c_str(), nullptr);
    uint64_t copied = 99;
    {
        HeldFile held(dir / "src/held");
        ASSERT_NE(INVALID_HANDLE_VALUE, held.handle);
        EXPECT_EQ((SysError)ERROR_SHARING_VIOLATION,
                  CopyPlain((dir / "src/held").c_str(), (dir / "dst/t").c_str(), &copied));
        EXPECT_EQ(0u, copied);
    }
    // The copy is made, and then the rename onto a folder fails: the
    // temporary file, read-only like its source, goes again.
    EXPECT_NE(0u, CopyPlain((dir / "src/readonly").c_str(), (dir / "dst/folder").c_str(), &copied));
    // A target held open by someone else cannot be replaced.
    {
        HeldFile held(dir / "dst/t");
        ASSERT_NE(INVALID_HANDLE_VALUE, held.handle);
        EXPECT_NE(0u, CopyPlain((dir / "src/readonly").c_str(), (dir / "dst/t").c_str(), &copied));
    }
    EXPECT_EQ("old", ReadFile(dir / "dst/t"));
    std::map<std::string, FolderEntry> entries;
    ASSERT_EQ(0u, Sys.listFolder((dir / "dst").c_str(), Gather, &entries));
    entries.erase(".");
    entries.erase("..");
    std::vector<std::string> names;
    for (auto& entry : entries) names.push_back(entry.first);
    EXPECT_EQ((Paths{"folder", "t"}), names);
    SetFileAttributesA((dir / "src/readonly").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32Platform, CreateFoldersMakesNestedMissingFolders) {
    TempDir dir;
    std::string deep = dir / "one/two/three/four";
    EXPECT_EQ(0u, Sys.createFolders(deep.c_str()));
    EXPECT_TRUE(Attributes(deep) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(0u, Sys.createFolders(deep.c_str()));
    EXPECT_EQ(0u, Sys.createFolders((dir.path + "\\\\doubled\\\\twice").c_str()));
    EXPECT_TRUE(Attributes(dir / "doubled/twice") & FILE_ATTRIBUTE_DIRECTORY);
    WriteFile(dir / "plain", "p");
    EXPECT_EQ(ENGINE_NOT_A_FOLDER, Sys.createFolders((dir / "plain").c_str()));
    EXPECT_NE(0u, Sys.createFolders((dir / "plain/below").c_str()));

    // A relative folder is taken from the current folder.
    char current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof current, current), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.path.c_str()));
    SysError error = Sys.createFolders("relative\\below");
    SetCurrentDirectoryA(current);
    EXPECT_EQ(0u, error);
    EXPECT_TRUE(Attributes(dir / "relative/below") & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Win32Platform, CreateFoldersOnManyThreadsAtOnce) {
    TempDir dir;
    for (int round = 0; round < 10; ++round) {
        std::string chain = dir / ("r" + std::to_string(round) + "/shared/deeper/still");
        std::vector<std::thread> threads;
        std::atomic<int> failed{0};
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] {
                if (Sys.createFolders((chain + "\\t" + std::to_string(i)).c_str())) ++failed;
            });
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(0, failed.load()) << "round " << round;
        for (int i = 0; i < 8; ++i)
            EXPECT_TRUE(Attributes(chain + "\\t" + std::to_string(i)) & FILE_ATTRIBUTE_DIRECTORY);
    }
}

TEST(Win32Platform, ResolvePathNormalisesAndSaysNotFound) {
    TempDir dir;
    CreateDirectoryA((dir / "a").c_str(), nullptr);
    char one[PATH_BUFFER_SIZE], two[PATH_BUFFER_SIZE];
    ASSERT_EQ(0u, Sys.resolvePath((dir / "a").c_str(), one, sizeof one));
    ASSERT_EQ(0u, Sys.resolvePath((dir.path + "\\\\a\\.\\..\\a\\").c_str(), two, sizeof two));
    EXPECT_STREQ(one, two);
    EXPECT_NE(0, strncmp(one, "\\\\?\\", 4)) << one;
    EXPECT_EQ(':', one[1]) << one;
    EXPECT_TRUE(IsNotFound(Sys.resolvePath((dir / "a/missing").c_str(), two, sizeof two)));
    EXPECT_TRUE(IsNotFound(Sys.resolvePath((dir / "missing/below").c_str(), two, sizeof two)));
    // Below a file nothing can ever be: that is no "not found".
    WriteFile(dir / "a-file", "f");
    EXPECT_EQ((SysError)ERROR_DIRECTORY, Sys.resolvePath((dir / "a-file/below/more").c_str(), two, sizeof two));
    EntryKind kind;
    FolderId id;
    EXPECT_EQ((SysError)ERROR_DIRECTORY, Sys.examine((dir / "a-file/below").c_str(), &kind, &id));
}

TEST(Win32Platform, DeviceNamesAreNoFiles) {
    FileHandle file = INVALID_FILE;
    EXPECT_EQ(ENGINE_NOT_REGULAR, Sys.openForReading("NUL", &file));
    EXPECT_EQ(INVALID_FILE, file);
    EntryKind kind = ENTRY_FILE;
    FolderId id;
    EXPECT_EQ(0u, Sys.examine("NUL", &kind, &id));
    EXPECT_EQ(ENTRY_OTHER, kind);
}

typedef BOOLEAN(WINAPI* MakeLinkFunction)(LPCSTR, LPCSTR, DWORD);

TEST(Win32Platform, FolderLinkInsideDataNeverLeadsACopyOutsideIt) {
    JobTrees t;
    WriteFile(t.original + "\\sub\\a.txt", "original");
    WriteFile(t.modded + "\\sub\\a.txt", "modded");
    WriteFile(t.modded + "\\top.txt", "top");
    CreateDirectoryA(t.destination.c_str(), nullptr);
    CreateDirectoryA((t.destination + "\\Data").c_str(), nullptr);
    MakeLinkFunction makeLink =
        (MakeLinkFunction)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA");
    std::string link = t.destination + "\\Data\\sub";
    // Wine answers TRUE and makes nothing.
    if (!makeLink || !makeLink(link.c_str(), (t.original + "\\sub").c_str(), 1) ||
        GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no folder links here";
    t.Run();
    EXPECT_EQ(Paths{t.modded + "\\sub\\a.txt"}, FailedPaths(t.result)) << ProblemText(t.result);
    EXPECT_EQ("original", ReadFile(t.original + "\\sub\\a.txt"));
    EXPECT_EQ("top", ReadFile(t.destination + "\\Data\\top.txt"));
}
