// The Win32 platform layer against the real file system (under Wine in the
// cross build): what only Windows has, such as share modes, file
// attributes, drive roots, names outside the code page and paths past the
// old 259-character limit.
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "filecompare.h"
#include "fileindex.h"
#include "holdwait.h"
#include "job.h"
#include "copyqueue.h"
#include "modassembly.h"
#include "platform_win32.h"
#include "support.h"
#include "paths.h"
#include "jobstate.h"

using Paths = std::vector<std::string>;

static bool Gather(void* context, const FolderEntry* entry) {
    (*(std::map<std::string, FolderEntry>*)context)[entry->name] = *entry;
    return true;
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
    IndexTree(root.c_str(), &tree, TREE_MODDED, nullptr, nullptr);
    Paths paths;
    char path[PATH_BUFFER_SIZE];
    for (uint32_t file = FileCount(&tree); file-- > 0;) paths.push_back(std::string(path, FilePath(&tree, file, path)));
    ReleaseFileTree(&tree);
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

TEST(Win32Platform, SeparatorsAndLimit) {
    EXPECT_EQ('\\', PathSeparator());
    EXPECT_TRUE(IsPathSeparator('\\'));
    EXPECT_TRUE(IsPathSeparator('/'));
    EXPECT_FALSE(IsPathSeparator(':'));
    EXPECT_EQ((size_t)PATH_BUFFER_SIZE - 1, PathLimit());
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

TEST(Win32Platform, RootEndingInASeparatorGivesPathsThatWork) {
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
    EXPECT_EQ(strlen("C:\\Data\\x\\y.dat"), BuildTargetPath("C:\\", "\\x\\y.dat", target));
    EXPECT_STREQ("C:\\Data\\x\\y.dat", target);  // a root keeps its one separator
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

TEST(Win32Platform, ATargetComparedInPlaceKeepsNoReaderOutAndTakesTheSourcesTimes) {
    TempDir dir;
    WriteFile(dir / "src/f", "bytes");
    WriteFile(dir / "dst/f", "bytes");
    ASSERT_TRUE(SetFileAttributesA((dir / "dst/f").c_str(), FILE_ATTRIBUTE_READONLY));
    FileHandle target = INVALID_FILE, source = INVALID_FILE;
    uint64_t size = 0;
    ASSERT_EQ(0u, Sys.openTarget((dir / "dst/f").c_str(), &target, &size));
    EXPECT_EQ(5u, size);
    // A scanner's read (sharing reading only) and a game's (sharing reading and writing) open meanwhile.
    for (DWORD share : {(DWORD)FILE_SHARE_READ, (DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
        HANDLE reader = CreateFileA((dir / "dst/f").c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, reader) << share << " " << GetLastError();
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    }
    char bytes[8] = {};
    size_t got = 0;
    EXPECT_EQ(0u, Sys.readAt(target, 2, bytes, sizeof bytes, &got));
    EXPECT_EQ("tes", std::string(bytes, got));
    FILETIME old = {0x12345678u, 0x01c00000u};
    ASSERT_TRUE(SetFileTime((HANDLE)target, nullptr, nullptr, &old));
    ASSERT_EQ(0u, Sys.openForReading((dir / "src/f").c_str(), &source));
    bool set = false;
    EXPECT_EQ(0u, Sys.matchTimes(target, source, &set));
    EXPECT_TRUE(set);
    EXPECT_EQ(0u, Sys.matchTimes(target, source, &set));
    EXPECT_FALSE(set);  // already the source's: nothing written
    uint64_t sourceSize = 0, sourceStamp = 0, targetStamp = 0;
    Sys.examineOpenFile(source, &sourceSize, &sourceStamp);
    Sys.examineOpenFile(target, &size, &targetStamp);
    EXPECT_EQ(sourceStamp, targetStamp);
    Sys.closeFile(source);
    Sys.closeFile(target);
    EXPECT_NE(0u, GetFileAttributesA((dir / "dst/f").c_str()) & FILE_ATTRIBUTE_READONLY);
    // A folder in a target's place is none to compare.
    EXPECT_NE(0u, Sys.openTarget((dir / "dst").c_str(), &target, &size));
    EXPECT_EQ(INVALID_FILE, target);
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
    ASSERT_EQ(0u, Sys.resolvePath(("\\\\?\\" + dir.path + "\\a").c_str(), two, sizeof two));
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

// A wide text of ASCII characters as a plain string, for messages and comparing.
static std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text; ++text) narrow += *text < 128 ? (char)*text : '?';
    return narrow;
}

// Absolute paths, each with the form the wide calls are given, or an error.
TEST(Win32Platform, NormaliseGivesThePrefixedFormOrNamesTheFault) {
    struct Case {
        const wchar_t* raw;
        const wchar_t* normal;  // null: fails with `error`
        SysError error;
        size_t rootLength;
    };
    const Case cases[] = {
        {L"C:\\a\\b", L"\\\\?\\C:\\a\\b", 0, 6},
        {L"C:/a/b/", L"\\\\?\\C:\\a\\b", 0, 6},
        {L"C:\\\\a\\\\\\b", L"\\\\?\\C:\\a\\b", 0, 6},
        {L"C:\\a\\.\\b\\..\\c", L"\\\\?\\C:\\a\\c", 0, 6},
        {L"C:\\..\\..\\a", L"\\\\?\\C:\\a", 0, 6},
        {L"C:\\", L"\\\\?\\C:\\", 0, 6},
        {L"C:\\a\\..", L"\\\\?\\C:\\", 0, 6},
        {L"C:\\name. \\x.", L"\\\\?\\C:\\name. \\x.", 0, 6},  // trailing dots and spaces stay
        {L"\\\\server\\share\\a\\..\\b", L"\\\\?\\UNC\\server\\share\\b", 0, 20},
        {L"//server/share", L"\\\\?\\UNC\\server\\share\\", 0, 20},
        {L"\\\\?\\C:\\a\\.\\b", L"\\\\?\\C:\\a\\b", 0, 6},
        {L"\\\\?\\UNC\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\a", 0, 20},
        {L"\\\\server", nullptr, ERROR_BAD_PATHNAME, 0},
        {L"\\\\server\\", nullptr, ERROR_BAD_PATHNAME, 0},
    };
    for (const Case& c : cases) {
        WidePath out;
        SysError error = Normalise(c.raw, &out);
        std::string raw = Narrow(c.raw);
        if (!c.normal) {
            EXPECT_EQ(c.error, error) << raw;
            continue;
        }
        ASSERT_EQ(0u, error) << raw;
        EXPECT_EQ(Narrow(c.normal), Narrow(out.text)) << raw;
        EXPECT_EQ(wcslen(c.normal), out.length) << raw;
        EXPECT_EQ(c.rootLength, out.rootLength) << raw;
    }
    // Relative paths are taken from the current folder.
    WidePath here, dot;
    ASSERT_EQ(0u, Normalise(L"a\\..\\b", &here));
    ASSERT_EQ(0u, Normalise(L".", &dot));
    EXPECT_EQ(Narrow(dot.text) + (EndsWithSeparator(dot) ? "b" : "\\b"), Narrow(here.text));
    // Longer than the buffers: refused, never cut.
    std::wstring longPath = L"C:\\" + std::wstring(WIDE_PATH_SIZE, L'x');
    WidePath tooLong;
    EXPECT_EQ((SysError)ENGINE_PATH_TOO_LONG, Normalise(longPath.c_str(), &tooLong));
}

TEST(Win32Platform, DeviceNamesAreNoFilesAndReservedNamesInAFolderAreNames) {
    FileHandle file = INVALID_FILE;
    EXPECT_EQ(ENGINE_NOT_REGULAR, Sys.openForReading("\\\\.\\NUL", &file));
    EXPECT_EQ(INVALID_FILE, file);
    EntryKind kind = ENTRY_FILE;
    FolderId id;
    EXPECT_EQ(0u, Sys.examine("\\\\.\\NUL", &kind, &id));
    EXPECT_EQ(ENTRY_OTHER, kind);
    // Below a folder, "NUL" is what the long form makes it: a name. One that
    // the folder does not hold is not found, never the empty device.
    TempDir dir;
    EXPECT_TRUE(IsNotFound(Sys.openForReading((dir / "NUL").c_str(), &file)));
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
    // An input folder standing in Data refuses the whole run before anything is written.
    EXPECT_TRUE(t.result.refused) << ProblemText(t.result);
    EXPECT_EQ(Paths{link}, FailedPaths(t.result)) << ProblemText(t.result);
    EXPECT_EQ("original", ReadFile(t.original + "\\sub\\a.txt"));
    EXPECT_FALSE(Exists(t.destination + "\\Data\\top.txt"));
}

// ---- Names outside the code page and paths past 259 characters ----------
// The test's own file calls take the long form and UTF-16, so that they
// reach what the engine is asked to reach, whatever its length or name.

static std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, &wide[0], (int)wide.size());
    EXPECT_GT(n, 0) << utf8;
    wide.resize(n > 0 ? n - 1 : 0);
    return wide;
}

static std::string Utf8(const std::wstring& wide) {
    std::string utf8(3 * wide.size() + 1, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], (int)utf8.size(), nullptr, nullptr);
    utf8.resize(n > 0 ? n - 1 : 0);
    return utf8;
}

static std::wstring LongForm(const std::string& path) {
    return L"\\\\?\\" + Wide(path);
}

static void WriteLong(const std::string& path, const std::string& contents) {
    std::wstring wide = LongForm(path);
    for (size_t at = wide.find(L'\\', 7); at != std::wstring::npos; at = wide.find(L'\\', at + 1))
        CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path << ": " << GetLastError();
    DWORD wrote = 0;
    ::WriteFile(file, contents.data(), (DWORD)contents.size(), &wrote, nullptr);
    CloseHandle(file);
}

static std::string ReadLong(const std::string& path) {
    HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string contents;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) contents.append(buffer, got);
    CloseHandle(file);
    return contents;
}

// Every file below `root` with its contents, by relative path ('\' separators).
static std::map<std::string, std::string> Snapshot(const std::string& root, const std::string& below = "") {
    std::map<std::string, std::string> files;
    WIN32_FIND_DATAW found;
    std::string folder = below.empty() ? root : root + "\\" + below;
    HANDLE search = FindFirstFileW((LongForm(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        std::string name = Utf8(found.cFileName);
        if (name == "." || name == "..") continue;
        std::string relative = below.empty() ? name : below + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            std::map<std::string, std::string> inner = Snapshot(root, relative);
            files.insert(inner.begin(), inner.end());
        } else {
            files[relative] = ReadLong(root + "\\" + relative);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

// Removes a tree of any depth (TempDir's own removal stops at 259).
static void RemoveLong(const std::string& root) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((LongForm(root) + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = Utf8(found.cFileName);
            if (name == "." || name == "..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveLong(root + "\\" + name);
            else DeleteFileW(LongForm(root + "\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(LongForm(root).c_str());
}

static std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

// In folder `where` of both trees: `same` left alone, `changed` with other
// bytes, and `added` in the modded tree only.
struct Triple {
    std::string where, same, changed, added;
};

// Trees of triples for one job, and what the mod must hold afterwards.
struct Kind {
    std::string original, modded, destination;
    std::vector<Triple> triples;
    std::map<std::string, std::string> inputs;  // both trees, as made

    void Make() {
        for (const Triple& t : triples) {
            for (const std::string& root : {original, modded})
                WriteLong(root + "\\" + Join(t.where, t.same), "same: " + t.same);
            WriteLong(original + "\\" + Join(t.where, t.changed), "before: " + t.changed);
            WriteLong(modded + "\\" + Join(t.where, t.changed), "after, longer: " + t.changed);
            WriteLong(modded + "\\" + Join(t.where, t.added), "added: " + t.added);
        }
        inputs = Inputs();
    }

    std::map<std::string, std::string> Inputs() const {
        std::map<std::string, std::string> both;
        for (auto& file : Snapshot(original)) both["original\\" + file.first] = file.second;
        for (auto& file : Snapshot(modded)) both["modded\\" + file.first] = file.second;
        return both;
    }

    // Exactly the changed and the added files, byte for byte, inputs untouched.
    void Expect() const {
        std::map<std::string, std::string> expected;
        for (const Triple& t : triples) {
            expected["Data\\" + Join(t.where, t.changed)] = "after, longer: " + t.changed;
            expected["Data\\" + Join(t.where, t.added)] = "added: " + t.added;
        }
        EXPECT_EQ(expected, Snapshot(destination));
        EXPECT_EQ(inputs, Inputs());
    }

    void Remove() const {
        for (const std::string& root : {original, modded, destination}) RemoveLong(root);
    }
};

static void RunKind(Kind& kind) {
    kind.Make();
    Recorder recorder;
    JobResult result = {};
    RunJob(kind.original, kind.modded, kind.destination, &recorder, &result);
    EXPECT_EQ(0u, result.failures + result.warnings) << ProblemText(result);
    EXPECT_EQ(2 * kind.triples.size(), (size_t)result.copiedFiles);
    kind.Expect();
    ReleaseJobResult(&result);
    kind.Remove();
}

// A name of `length` characters of `letter`, as folders of at most 100.
static std::string Deep(size_t length, char letter) {
    std::string path;
    while (path.size() < length) {
        if (!path.empty()) path += '\\';
        path += std::string(std::min<size_t>(100, length - path.size()), letter);
    }
    return path;
}

TEST(Win32Platform, NamesOutsideTheCodePageAreCarriedExactly) {
    TempDir dir;
    Kind kind{dir / "original", dir / "modded", dir / "dest",
              {{"\xD0\x9A\xD0\xB8\xD1\x80\xD0\xB8\xD0\xBB\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0",  // Кириллица
                "\xD1\x82\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82.txt",                             // текст.txt
                "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.dat",      // Ελληνικά.dat
                "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.nif"},                                // 日本語.nif
               {"\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4\\\xF0\x9F\x98\x80",                    // 한국어\😀
                "e\xCC\x81t\xC3\xA9.txt",                                                  // e + combining acute, été
                "\xF0\x9F\x98\x80 smile.dds",                                               // 😀 smile.dds
                "\xE4\xB8\xAD\xE6\x96\x87\xF0\x9F\x90\x89.esp"}},  // 中文🐉.esp
              {}};
    kind.Make();
    // The listing gives the names as UTF-8, exactly.
    std::map<std::string, FolderEntry> entries;
    ASSERT_EQ(0u, Sys.listFolder((kind.modded + "\\" + kind.triples[0].where).c_str(), Gather, &entries));
    EXPECT_EQ(1u, entries.count(kind.triples[0].added));
    Recorder recorder;
    JobResult result = {};
    RunJob(kind.original, kind.modded, kind.destination, &recorder, &result);
    EXPECT_EQ(0u, result.failures + result.warnings) << ProblemText(result);
    EXPECT_EQ(4u, result.copiedFiles);
    kind.Expect();
    ReleaseJobResult(&result);

    // A name with an unpaired surrogate has no UTF-8 form: a named failure
    // under a stand-in, never a file read under another name.
    std::wstring lone = LongForm(kind.modded) + L"\\lone\xD800.txt";
    HANDLE file = CreateFileW(lone.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;  // Wine refuses such a name; NTFS takes it
    CloseHandle(file);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(lone.c_str(), &found);
    bool kept = search != INVALID_HANDLE_VALUE && wcscmp(found.cFileName, L"lone\xD800.txt") == 0;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    if (!kept) return;  // this file system stores no such name
    result = {};
    RunJob(kind.original, kind.modded, kind.destination, &recorder, &result);
    EXPECT_EQ((Paths{kind.modded + "\\lone\xEF\xBF\xBD.txt"}), FailedPaths(result)) << ProblemText(result);
    ReleaseJobResult(&result);
    DeleteFileW(lone.c_str());
}

TEST(Win32Platform, BestFitPairSideBySideAreTwoFiles) {
    // "Łódź" in a Western code page is "Lódz", "Čapek" is "Capek": both
    // names of each pair stand side by side, one changed, one not.
    const std::string lodz = "L\xC3\xB3" "dz", lodzPolish = "\xC5\x81\xC3\xB3" "d\xC5\xBA";
    TempDir dir;
    Kind kind{dir / "original", dir / "modded", dir / "dest",
              {{"", lodz + ".txt", lodzPolish + ".txt", "\xC4\x8C" "apek.txt"},
               {lodz, lodzPolish + ".txt", lodz + ".txt", "Capek.txt"},
               {lodzPolish, "Capek.txt", "\xC4\x8C" "apek.txt", lodz + ".txt"}},
              {}};
    RunKind(kind);
}

TEST(Win32Platform, ModdedPathsPast259CharactersAreCopied) {
    TempDir dir;
    Kind kind{dir / "original", dir / "modded", dir / "dest",
              {{Deep(300, 'm'), "same.dat", "changed.dat", "added.dat"},
               {Deep(700, 'n'), "s", "c", "a"}},
              {}};
    RunKind(kind);
}

TEST(Win32Platform, TargetsPast259CharactersThroughALongDestination) {
    TempDir dir;
    Kind kind{dir / "original", dir / "modded", dir / Deep(250, 'd'),
              {{"sub", "same.dat", "changed.dat", "added.dat"}},
              {}};
    RunKind(kind);
}

TEST(Win32Platform, LongOriginalRootIsReadNotTakenAsMissing) {
    TempDir dir;
    Kind kind{dir / Deep(300, 'o'), dir / "modded", dir / "dest",
              {{"", "same.dat", "changed.dat", "added.dat"}, {"sub", "same.dat", "changed.dat", "added.dat"}},
              {}};
    RunKind(kind);
}

TEST(Win32Platform, LongPathsWorkUpToTheEngineBuffersAndAreRefusedPastThem) {
    TempDir dir;
    std::string folder = dir / Deep(600, 'f');
    std::string file = folder + "\\" + std::string(100, 'x');
    WriteLong(file, "far down");
    FileHandle handle;
    ASSERT_EQ(0u, Sys.openForReading(file.c_str(), &handle));
    Sys.closeFile(handle);
    EntryKind kind;
    FolderId id;
    EXPECT_EQ(0u, Sys.examine(file.c_str(), &kind, &id));
    char resolved[PATH_BUFFER_SIZE];
    ASSERT_EQ(0u, Sys.resolvePath((folder + "\\.\\..\\" + folder.substr(folder.rfind('\\') + 1)).c_str(), resolved,
                                  sizeof resolved));
    EXPECT_EQ(0, Lower(resolved).compare(Lower(folder))) << resolved;
    std::string target = folder + "\\made\\" + std::string(100, 't');
    ASSERT_EQ(0u, Sys.createFolders((folder + "\\made").c_str()));
    uint64_t copied = 0;
    EXPECT_EQ(0u, CopyPlain(file.c_str(), target.c_str(), &copied));
    EXPECT_EQ("far down", ReadLong(target));
    ASSERT_EQ(0u, Sys.removeFile(target.c_str()));

    // Past the engine's buffers the path is refused by name, before any call.
    std::string tooLong = "C:\\" + std::string(PATH_BUFFER_SIZE - 3, 'p');
    ASSERT_EQ((size_t)PATH_BUFFER_SIZE, tooLong.size());
    std::map<std::string, FolderEntry> entries;
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.openForReading(tooLong.c_str(), &handle));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.examine(tooLong.c_str(), &kind, &id));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.resolvePath(tooLong.c_str(), resolved, sizeof resolved));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.createFolders(tooLong.c_str()));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, Sys.listFolder(tooLong.c_str(), Gather, &entries));
    EXPECT_EQ(ENGINE_PATH_TOO_LONG, CopyPlain(file.c_str(), tooLong.c_str(), &copied));
    // A path that is no UTF-8 cannot name a file exactly.
    EXPECT_EQ((SysError)ERROR_NO_UNICODE_TRANSLATION, Sys.examine("C:\\caf\xE9", &kind, &id));
    RemoveLong(dir / std::string(100, 'f'));
}

// ---- modextract.exe as a user starts it ---------------------------------

// Runs modextract.exe (built beside the tests' folder) with `arguments` on
// its wide command line; standard output through a pipe, standard error
// through a file, both caught as bytes.
static int RunModExtractExe(const std::vector<std::string>& arguments, std::string* out, std::string* err) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program = self;
    program = program.substr(0, program.rfind(L'\\'));
    program = program.substr(0, program.rfind(L'\\')) + L"\\modextract.exe";
    std::wstring command = L"\"" + program + L"\"";
    for (const std::string& argument : arguments) command += L" \"" + Wide(argument) + L"\"";

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readOut, writeOut;
    if (!CreatePipe(&readOut, &writeOut, &inherit, 0)) return -1;
    SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    wchar_t errName[MAX_PATH], folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"mx", 0, errName);
    HANDLE errFile = CreateFileW(errName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = writeOut;
    start.hStdError = errFile;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &start, &process);
    CloseHandle(writeOut);
    int status = -1;
    out->clear();
    err->clear();
    if (started) {
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(readOut, buffer, sizeof buffer, &got, nullptr) && got > 0) out->append(buffer, got);
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        status = (int)code;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        SetFilePointer(errFile, 0, nullptr, FILE_BEGIN);
        while (::ReadFile(errFile, buffer, sizeof buffer, &got, nullptr) && got > 0) err->append(buffer, got);
    }
    CloseHandle(readOut);
    CloseHandle(errFile);
    return status;
}

TEST(Win32Platform, ModExtractExeTakesFoldersNamedOutsideTheCodePageAndPrintsUtf8) {
    TempDir dir;
    const std::string lodzPolish = "\xC5\x81\xC3\xB3" "d\xC5\xBA";
    Kind kind{dir / "\xD0\x9E\xD1\x80\xD0\xB8\xD0\xB3\xD0\xB8\xD0\xBD\xD0\xB0\xD0\xBB",  // Оригинал
              dir / (lodzPolish + " \xF0\x9F\x98\x80"),                                 // Łódź 😀
              dir / "\xE7\x9B\xAE\xE6\xA8\x99",                                         // 目標
              {{"\xCE\xB1", "\xCE\xB2.txt", "\xCE\xB3.txt", "\xED\x95\x9C.txt"}},  // α: β, γ, 한
              {}};
    kind.Make();
    std::string out, err;
    // The list to a pipe: exact UTF-8 bytes, and with -z NUL-ended.
    ASSERT_EQ(0, RunModExtractExe({"-n", kind.original, kind.modded, kind.destination}, &out, &err)) << err;
    std::string changed = "\xCE\xB1\\\xCE\xB3.txt", added = "\xCE\xB1\\\xED\x95\x9C.txt";
    std::string listed = out;
    listed.erase(std::remove(listed.begin(), listed.end(), '\r'), listed.end());
    EXPECT_TRUE(listed == "A " + added + "\nM " + changed + "\n" || listed == "M " + changed + "\nA " + added + "\n")
        << out;
    EXPECT_NE(std::string::npos, err.find(kind.destination + "\\Data")) << err;
    ASSERT_EQ(0, RunModExtractExe({"-nz", kind.original, kind.modded, kind.destination}, &out, &err)) << err;
    EXPECT_TRUE(out == "A " + added + '\0' + "M " + changed + '\0' || out == "M " + changed + '\0' + "A " + added + '\0')
        << out;
    EXPECT_EQ(Paths{}, ListTree(kind.destination));

    // A trailing backslash before the closing quote, as cmd.exe users write
    // "D:\": the quote becomes part of the argument, which is refused.
    EXPECT_EQ(2, RunModExtractExe({kind.original, kind.modded, kind.destination + "\\"}, &out, &err));
    EXPECT_EQ(0u, err.find("modextract: '" + kind.destination + "\"' holds a '\"', which no Windows name can")) << err;
    EXPECT_NE(std::string::npos, err.find("(\"D:\\\" arrives as D:\"); write \"D:\\\\\"")) << err;
    EXPECT_EQ(Paths{}, ListTree(kind.destination));

    ASSERT_EQ(0, RunModExtractExe({kind.original, kind.modded, kind.destination}, &out, &err)) << err;
    EXPECT_EQ("", out);
    kind.Expect();
}

// ---- Other programs holding files -----------------------------------------

// Sys.openForReading refused with a sharing violation for the next
// `Refusals` calls, as while a scanner or a game has the file.
static std::atomic<int> Refusals, OpenCalls;

static SysError RefusedOpen(const char* path, FileHandle* file) {
    ++OpenCalls;
    if (Refusals.fetch_sub(1) > 0) {
        *file = INVALID_FILE;
        return ERROR_SHARING_VIOLATION;
    }
    return PlatformCalls.openForReading(path, file);
}

struct RefusedOpens {
    explicit RefusedOpens(int times) {
        Refusals = times;
        OpenCalls = 0;
        Sys.openForReading = RefusedOpen;
        Sys.openListed = RefusedOpen;
    }
    ~RefusedOpens() {
        Sys.openForReading = PlatformCalls.openForReading;
        Sys.openListed = PlatformCalls.openListed;
    }
};

static double SecondsSince(DWORD start) {
    return (GetTickCount() - start) / 1000.0;
}

static Comparison CompareRefused(const std::string& a, const std::string& b, SysError* error) {
    unsigned char one[64], two[64];
    ListedFile listed = {4, 0, 0};  // "same", as listed
    CompareCost cost = {0, 0};
    CompareRequest request = {a.c_str(), b.c_str(), &listed, one, two, sizeof one, nullptr, nullptr};
    CompareFailure failure;
    Comparison comparison = CompareFiles(&request, &failure, &cost);
    *error = failure.error;
    return comparison;
}

// The waits and the budget themselves are tested natively (HoldPolicy); here
// the sharing violations of this platform are what is waited out.
TEST(Win32Platform, RefusedOpensAreTriedAgainBriefly) {
    JobTrees t;
    WriteFile(t.original + "\\a.dat", "same");
    WriteFile(t.modded + "\\a.dat", "same");
    SysError error = 0;
    {
        // A job starts with the whole budget: refused eight times (255 ms
        // of waiting), then allowed, the pair is compared as equal.
        RefusedOpens refused(8);
        t.Run();
        EXPECT_EQ(0u, t.result.failures + t.result.warnings) << ProblemText(t.result);
        EXPECT_EQ(0u, t.result.copiedFiles);
        EXPECT_EQ(10, OpenCalls.load());
    }
    // What no other program causes is not waited for.
    FaultInjector faults;
    faults.Fail(FAULT_OPEN, 1, ERROR_ACCESS_DENIED, true);
    DWORD start = GetTickCount();
    EXPECT_EQ(FILES_NOT_COMPARED, CompareRefused(t.original + "\\a.dat", t.modded + "\\a.dat", &error));
    EXPECT_EQ(1, faults.Calls(FAULT_OPEN));
    EXPECT_LT(SecondsSince(start), 0.1);
}

// This test program's folder, with its backslash.
static std::wstring OwnFolder() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// Starts holder.exe (tests/holder.cpp, beside this program) with
// `arguments`; its standard error goes to `errors` when given.
static HANDLE StartHolder(const std::vector<std::string>& arguments, const std::string& errors = "") {
    std::wstring program = OwnFolder() + L"holder.exe";
    std::wstring command = L"\"" + program + L"\"";
    for (const std::string& argument : arguments) command += L" \"" + Wide(argument) + L"\"";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE errFile = INVALID_HANDLE_VALUE;
    if (!errors.empty())
        errFile = CreateFileW(Wide(errors).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdError = errFile != INVALID_HANDLE_VALUE ? errFile : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &start, &process);
    if (errFile != INVALID_HANDLE_VALUE) CloseHandle(errFile);
    EXPECT_TRUE(started) << GetLastError();
    if (!started) return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Waits (at most 20 s) for a holder to end, then lets go of it.
static void AwaitHolder(HANDLE process) {
    if (!process) return;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 20000));
    CloseHandle(process);
}

static void AwaitFile(const std::string& path) {
    for (int i = 0; i < 2000 && Attributes(path) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
}

TEST(Win32Platform, FilesOtherProgramsHoldAreWaitedForOrNamed) {
    TempDir dir;
    std::string original = dir / "orig", modded = dir / "mod", destination = dir / "dest";
    std::map<std::string, std::string> expected, old;
    std::vector<std::string> targets;
    for (int i = 0; i < 30; ++i) {
        std::string name = "d" + std::to_string(i % 3) + "\\f" + std::to_string(i) + ".dat";
        WriteFile(original + "\\" + name, "old " + name);
        WriteFile(modded + "\\" + name, "new, longer " + name);
        WriteFile(modded + "\\new\\" + name, "added " + name);
        expected["Data\\" + name] = "new, longer " + name;
        expected["Data\\new\\" + name] = "added " + name;
        old["Data\\" + name] = "old " + name;
        targets.push_back(destination + "\\Data\\" + name);
    }
    WriteFile(original + "\\same.dat", "same");
    WriteFile(modded + "\\same.dat", "same");
    auto oldTargets = [&] {
        RemoveLong(destination);
        for (auto& file : old) WriteFile(destination + "\\" + file.first, file.second);
    };
    std::string out, err;
    DWORD start = GetTickCount();
    ASSERT_EQ(0, RunModExtractExe({original, modded, destination}, &out, &err)) << err;
    double unheld = SecondsSince(start);

    // A scanner that opens each new file for 300 ms as soon as it can: it
    // never meets a copy before its rename, and nothing waits for it.
    RemoveLong(destination);
    CreateDirectoryA(destination.c_str(), nullptr);
    CreateDirectoryA((destination + "\\Data").c_str(), nullptr);
    HANDLE scanner = StartHolder({"scan", "300", destination + "\\Data", dir / "stop"}, dir / "scanner.txt");
    Sleep(300);
    EXPECT_EQ(0, RunModExtractExe({original, modded, destination}, &out, &err)) << err;
    WriteFile(dir / "stop", "");
    AwaitHolder(scanner);
    EXPECT_EQ(expected, Snapshot(destination));
    EXPECT_NE(std::string::npos, ReadFile(dir / "scanner.txt").find("60 files opened")) << ReadFile(dir / "scanner.txt");

    // A source, a file to compare and a target held for a second with share
    // mode 0: they are compared and land.
    oldTargets();
    HANDLE holder =
        StartHolder({"hold", "1000", dir / "ready", modded + "\\d0\\f0.dat", modded + "\\same.dat", targets[1]});
    AwaitFile(dir / "ready");
    EXPECT_EQ(0, RunModExtractExe({original, modded, destination}, &out, &err)) << err;
    EXPECT_EQ(std::string::npos, err.find("warning")) << err;
    AwaitHolder(holder);
    EXPECT_EQ(expected, Snapshot(destination));

    // Every old target held for good: each is named and kept as it was, the
    // rest lands, and the waiting stays within the budget.
    oldTargets();
    DeleteFileA((dir / "ready").c_str());
    std::vector<std::string> arguments = {"hold", "0", dir / "ready"};
    arguments.insert(arguments.end(), targets.begin(), targets.end());
    holder = StartHolder(arguments);
    AwaitFile(dir / "ready");
    start = GetTickCount();
    EXPECT_EQ(1, RunModExtractExe({original, modded, destination}, &out, &err));
    double held = SecondsSince(start);
    DeleteFileA((dir / "ready").c_str());
    AwaitHolder(holder);
    for (int i = 0; i < 30; ++i)
        EXPECT_NE(std::string::npos, err.find(targets[i] + ": cannot copy")) << err;  // the target is what failed
    std::map<std::string, std::string> kept = expected;
    for (auto& file : old) kept[file.first] = file.second;
    EXPECT_EQ(kept, Snapshot(destination));
    EXPECT_LT(held - unheld, 15.0);
}

TEST(Win32Platform, BothProgramsRunAsInvokerOnWindows7To11) {
    std::wstring build = OwnFolder();
    build = build.substr(0, build.rfind(L'\\', build.size() - 2) + 1);
    for (const wchar_t* program : {L"modextract.exe", L"ModExtractor.exe"}) {
        HMODULE module = LoadLibraryExW((build + program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << Utf8(program);
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
        ASSERT_NE(nullptr, found) << Utf8(program);
        std::string manifest((const char*)LockResource(LoadResource(module, found)), SizeofResource(module, found));
        FreeLibrary(module);
        EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"asInvoker\"")) << Utf8(program);
        for (const char* os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                               "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
            EXPECT_NE(std::string::npos, manifest.find(std::string("<supportedOS Id=\"{") + os + "}\"/>"))
                << Utf8(program) << " " << os;
    }
}

// A folder that tells letter case apart (per-folder case sensitivity, a
// network share) lists each file of CaseTwinFolder a second time, its name
// in upper case; under Wine both names open the one file.
static std::string CaseTwinFolder;
struct Twins {
    EntrySink sink;
    void* context;
};
static bool WithTwin(void* context, const FolderEntry* entry) {
    Twins* twins = (Twins*)context;
    if (!twins->sink(twins->context, entry)) return false;
    std::string upper = entry->name;
    for (char& c : upper) c = (char)toupper((unsigned char)c);
    if (entry->kind != ENTRY_FILE || upper == entry->name) return true;
    FolderEntry twin = *entry;
    twin.name = upper.c_str();
    return twins->sink(twins->context, &twin);
}
static SysError ListWithCaseTwins(const char* folder, EntrySink sink, void* context) {
    if (CaseTwinFolder != folder) return PlatformCalls.listFolder(folder, sink, context);
    Twins twins = {sink, context};
    return PlatformCalls.listFolder(folder, WithTwin, &twins);
}

// Two modded files whose names differ only in letter case would land on
// one target: one is carried, the other is a named failure, in the dry run
// too; nothing is merged silently.
TEST(Win32Platform, ModdedNamesEqualButForCaseAreNeverMergedIntoOneTarget) {
    JobTrees t;
    WriteFile(t.modded + "\\sub\\a.txt", "mine");
    WriteFile(t.modded + "\\b.txt", "b");
    SysSwap restore;
    CaseTwinFolder = t.modded + "\\sub";
    Sys.listFolder = ListWithCaseTwins;
    for (bool dryRun : {true, false}) {
        SCOPED_TRACE(dryRun ? "dry run" : "real run");
        ReleaseJobResult(&t.result);
        t.result = JobResult{};
        t.Run(dryRun);
        EXPECT_EQ(3u, t.result.newFiles);
        ASSERT_EQ(1u, t.result.failures) << ProblemText(t.result);
        EXPECT_EQ(ENGINE_NAME_CLASH, t.result.problems->error);
        EXPECT_NE(std::string::npos, std::string(t.result.problems->path).find(t.modded + "\\sub\\")) << ProblemText(t.result);
    }
    EXPECT_EQ(2u, t.result.copiedFiles);
    Paths copied = ListTree(t.destination);
    ASSERT_EQ(2u, copied.size());
    EXPECT_EQ("Data/b.txt", copied[0]);
    EXPECT_EQ(0, _stricmp("Data/sub/a.txt", copied[1].c_str()));  // either name: one of them
}

// The destination locked by another process, which is then ended as a
// killed run is: while it lives, a writing run is refused (exit status 2,
// one line naming the destination) and a dry run is not; once it is
// ended, nothing of its lock is left.
TEST(Win32Platform, AKilledRunsLockOnTheDestinationIsGoneWithIt) {
    TempDir dir;
    std::string original = dir / "orig", modded = dir / "mod", destination = dir / "dest";
    WriteFile(modded + "\\f", "x");
    CreateDirectoryA(original.c_str(), nullptr);
    CreateDirectoryA(destination.c_str(), nullptr);
    HANDLE holder = StartHolder({"lock", dir / "ready", destination});
    ASSERT_NE(nullptr, holder);
    AwaitFile(dir / "ready");
    bool locked = Attributes(dir / "ready") != INVALID_FILE_ATTRIBUTES;
    std::string out, err;
    int refused = RunModExtractExe({original, modded, destination}, &out, &err);
    std::string refusal = err;
    int dry = RunModExtractExe({"-n", original, modded, destination}, &out, &err);
    TerminateProcess(holder, 9);
    AwaitHolder(holder);
    ASSERT_TRUE(locked);
    EXPECT_EQ(2, refused);
    refusal.erase(std::remove(refusal.begin(), refusal.end(), '\r'), refusal.end());
    EXPECT_EQ("modextract: " + destination + ": another job of this program is writing into this destination; "
              "try again once it has ended\n", refusal);
    EXPECT_EQ(0, dry) << err;
    EXPECT_EQ(0, RunModExtractExe({original, modded, destination}, &out, &err)) << err;
    EXPECT_EQ(std::vector<std::string>{"Data/f"}, ListTree(destination));
}
