#include <string.h>

#include <filesystem>
#include <vector>
#include <string>

#include <array>

#include <gtest/gtest.h>

#include "foldercheck.h"
#include "support.h"
#include "paths.h"

struct Folders {
    TempDir dir;
    std::string reason;

    Folders() {
        for (const char* name : {"orig", "mod", "file-parent"}) std::filesystem::create_directories(dir / name);
        WriteFile(dir / "a-file", "f");
    }
    bool Check(const std::string& original, const std::string& modded, const std::string& destination) {
        char text[1024] = "";
        bool ok = CheckJobFolders(std::array<const char*, 3>{original.c_str(), modded.c_str(), destination.c_str()}.data(), text, sizeof text);
        reason = text;
        return ok;
    }
};

TEST(CheckJobFolders, AcceptsThreeSeparateFoldersAndADestinationStillToBeMade) {
    Folders f;
    EXPECT_TRUE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / "dest")) << f.reason;
    EXPECT_TRUE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / "new/deeper/dest")) << f.reason;
}

TEST(CheckJobFolders, RefusesEmptyMissingAndNonFolderPaths) {
    Folders f;
    EXPECT_FALSE(f.Check("", f.dir / "mod", f.dir / "dest"));
    EXPECT_NE(std::string::npos, f.reason.find("original"));
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "mod", ""));
    EXPECT_FALSE(f.Check(f.dir / "missing", f.dir / "mod", f.dir / "dest"));
    EXPECT_NE(std::string::npos, f.reason.find("missing"));
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "a-file", f.dir / "dest"));
    EXPECT_NE(std::string::npos, f.reason.find("not a folder"));
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / "a-file"));
    EXPECT_FALSE(f.Check(std::string(PathLimit() + 1, 'p'), f.dir / "mod", f.dir / "dest"));
    EXPECT_NE(std::string::npos, f.reason.find("too long"));
}

TEST(CheckJobFolders, RefusesTheSameFolderTwiceHoweverItIsSpelt) {
    Folders f;
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "orig", f.dir / "dest"));
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "orig" + PathSeparator(), f.dir / "dest"));
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "mod/../orig", f.dir / "dest"));
    EXPECT_NE(std::string::npos, f.reason.find("same folder"));
}

TEST(CheckJobFolders, RefusesOneInputInsideTheOther) {
    Folders f;
    std::filesystem::create_directories(f.dir / "orig/inner");
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "orig/inner", f.dir / "dest"));
    EXPECT_FALSE(f.Check(f.dir / "orig/inner", f.dir / "orig", f.dir / "dest"));
}

TEST(CheckJobFolders, RefusesADataFolderThatIsInsideOrContainsAnInput) {
    Folders f;
    // The modded folder itself as the destination's Data folder.
    std::filesystem::create_directories(f.dir / "game/Data");
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "game/Data", f.dir / "game"));
    EXPECT_NE(std::string::npos, f.reason.find("is the modded folder"));
    // Data inside an input.
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / "mod"));
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / "orig/sub"));
    EXPECT_NE(std::string::npos, f.reason.find("lies inside the original"));
    // Data holding an input.
    std::filesystem::create_directories(f.dir / "out/Data/backup");
    EXPECT_FALSE(f.Check(f.dir / "out/Data/backup", f.dir / "mod", f.dir / "out"));
    EXPECT_NE(std::string::npos, f.reason.find("contains the original"));
    // Next to the inputs is fine, even with a look-alike name.
    EXPECT_TRUE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / "mod-out")) << f.reason;
}

// Sys.probeFolder that records where it was asked and refuses as a
// read-only file system would (root writes anywhere else).
static std::vector<std::string> Probed;
static SysError ProbeReadOnly(const char* folder) {
    Probed.push_back(folder);
    return ENGINE_NOT_A_FOLDER + 100;  // no platform error: the refusal shows it as given
}

TEST(CheckJobFolders, RefusesADestinationThatCannotHoldTheModNamingItsDataFolder) {
    Folders f;
    std::string data = f.dir / "out/Data";
    auto Refused = [&](const std::string& destination, bool willWrite) {
        char text[1024] = "";
        FolderRefusal refusal = {};
        bool ok = CheckJobFolders(std::array<const char*, 3>{(f.dir / "orig").c_str(), (f.dir / "mod").c_str(), destination.c_str()}.data(), text,
                                  sizeof text, &refusal, willWrite);
        f.reason = text;
        return !ok && refusal.kind == REFUSAL_DATA_UNWRITABLE && refusal.role == 2;
    };
    // Data is a file: refused for a dry run too, which writes nothing.
    WriteFile(data, "not a folder");
    EXPECT_TRUE(Refused(f.dir / "out", false));
    EXPECT_EQ(0u, f.reason.find(data + ": the destination cannot hold the mod: not a folder")) << f.reason;
    EXPECT_TRUE(Refused(f.dir / "out", true));
    // A file where a folder above Data would have to be made.
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / Native("a-file/out")));
    EXPECT_EQ(0u, f.reason.find(f.dir / Native("a-file/out"))) << f.reason;

    // A folder that cannot be written: asked in Data, or in the destination
    // itself, never outside it: a destination that is not there yet is
    // made for the question and removed again. Only when the run will write.
    Probed.clear();
    Sys.probeFolder = ProbeReadOnly;
    std::filesystem::create_directories(f.dir / "ro/Data");
    EXPECT_TRUE(Refused(f.dir / "ro", true));
    EXPECT_TRUE(Refused(f.dir / "ro-new", true));
    EXPECT_TRUE(Refused(f.dir / Native("ro/deeper/dest"), true));
    EXPECT_EQ((std::vector<std::string>{f.dir / Native("ro/Data"), f.dir / "ro-new", f.dir / Native("ro/deeper/dest")}),
              Probed);
    EXPECT_FALSE(Exists(f.dir / "ro-new"));
    EXPECT_FALSE(Exists(f.dir / Native("ro/deeper")));
    EXPECT_TRUE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / "ro")) << f.reason;  // a dry run asks nothing
    EXPECT_EQ(3u, Probed.size());
    Sys.probeFolder = PlatformCalls.probeFolder;

    // The real probe leaves nothing behind, in Data or in a new destination.
    EXPECT_FALSE(Refused(f.dir / "ro", true)) << f.reason;
    EXPECT_TRUE(std::filesystem::is_empty(f.dir / Native("ro/Data")));
    EXPECT_FALSE(Refused(f.dir / Native("fresh/deeper"), true)) << f.reason;
    EXPECT_FALSE(Exists(f.dir / "fresh"));
}

// What a volume that cannot resolve links answers (on Windows, RAM disks
// and other virtual volumes, which give no final path): the path made
// absolute, "." and ".." applied, and nothing more.
static SysError ResolveNoLinks(const char* path, char* out, size_t outSize) {
    EntryKind kind;
    FolderId id;
    if (SysError error = PlatformCalls.examine(path, &kind, &id)) return error;
    std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
    while (absolute.size() > 1 && IsPathSeparator(absolute.back()) && absolute[absolute.size() - 2] != ':')
        absolute.pop_back();
    if (absolute.size() >= outSize) return ENGINE_PATH_TOO_LONG;
    memcpy(out, absolute.c_str(), absolute.size() + 1);
    return 0;
}

// Another spelling of the folder `path`: a link `link` to it where links
// can be made, else (Windows, whose names ignore letter case) the path in
// capitals.
static std::string Alias(const std::string& path, const std::string& link) {
    std::error_code error;
    std::filesystem::create_directory_symlink(path, link, error);
    if (!error && std::filesystem::is_directory(link)) return link;
    std::string upper = path;
    for (char& c : upper) c = (char)toupper((unsigned char)c);
    return upper;
}

TEST(CheckJobFolders, RefusesTheSameFoldersWhereLinksCannotBeResolved) {
    Folders f;
    std::filesystem::create_directories(f.dir / "orig/inner");
    std::filesystem::create_directories(f.dir / "game/Data");
    std::filesystem::create_directories(f.dir / "out/Data/backup");
    std::string orig = Alias(f.dir / "orig", f.dir / "orig-link");
    std::string game = Alias(f.dir / "game", f.dir / "game-link");
    std::string mod = Alias(f.dir / "mod", f.dir / "mod-link");
    std::string out = Alias(f.dir / "out", f.dir / "out-link");
    Sys.resolvePath = ResolveNoLinks;
    EXPECT_FALSE(f.Check(f.dir / "orig", orig, f.dir / "dest"));
    EXPECT_NE(std::string::npos, f.reason.find("same folder")) << f.reason;
    EXPECT_FALSE(f.Check(f.dir / "orig", orig + Native("/inner"), f.dir / "dest"));
    EXPECT_NE(std::string::npos, f.reason.find("modded folder lies inside")) << f.reason;
    EXPECT_FALSE(f.Check(orig + Native("/inner"), f.dir / "orig", f.dir / "dest"));
    EXPECT_NE(std::string::npos, f.reason.find("original folder lies inside")) << f.reason;
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "game/Data", game));
    EXPECT_NE(std::string::npos, f.reason.find("is the modded folder")) << f.reason;
    EXPECT_FALSE(f.Check(f.dir / "orig", f.dir / "mod", mod + Native("/sub")));
    EXPECT_NE(std::string::npos, f.reason.find("lies inside the modded")) << f.reason;
    EXPECT_FALSE(f.Check(out + Native("/Data/backup"), f.dir / "mod", f.dir / "out"));
    EXPECT_NE(std::string::npos, f.reason.find("contains the original")) << f.reason;
    EXPECT_TRUE(f.Check(f.dir / "orig", f.dir / "mod", f.dir / "mod-out")) << f.reason;
    Sys.resolvePath = PlatformCalls.resolvePath;
}

// Each refusal between two folders names both as they were given, the
// same folder spelt two ways included, and says which two they are.
TEST(CheckJobFolders, ARefusalBetweenTwoFoldersNamesBoth) {
    Folders f;
    std::filesystem::create_directories(f.dir / "orig/inner");
    std::string orig = f.dir / "orig", mod = f.dir / "mod", spelt = f.dir / "mod/../orig";
    struct Case {
        std::string original, modded, destination;
        FolderRefusalKind kind;
        int role, other;
        std::string first, second;  // named in this order
    } cases[] = {
        {orig, spelt, f.dir / "dest", REFUSAL_SAME_FOLDER, 1, 0, orig, spelt},
        {orig, f.dir / "orig/inner", f.dir / "dest", REFUSAL_NESTED, 1, 0, f.dir / "orig/inner", orig},
        {f.dir / "orig/inner", orig, f.dir / "dest", REFUSAL_NESTED, 0, 1, f.dir / "orig/inner", orig},
        {orig, mod, f.dir / "mod/sub", REFUSAL_DATA_OVERLAPS_INPUT, 2, 1, f.dir / "mod/sub/Data", mod},
        {orig, mod, f.dir / "orig/inner", REFUSAL_DATA_OVERLAPS_INPUT, 2, 0, f.dir / "orig/inner/Data", orig},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first + " " + c.second);
        char text[3 * PATH_BUFFER_SIZE] = "";
        FolderRefusal refusal = {};
        const char* folders[3] = {c.original.c_str(), c.modded.c_str(), c.destination.c_str()};
        EXPECT_FALSE(CheckJobFolders(folders, text, sizeof text, &refusal));
        EXPECT_EQ(c.kind, refusal.kind);
        EXPECT_EQ(c.role, refusal.role);
        EXPECT_EQ(c.other, refusal.other);
        std::string reason = text;
        size_t first = reason.find(c.first), second = reason.find(c.second, first + c.first.size());
        EXPECT_NE(std::string::npos, first) << reason;
        EXPECT_NE(std::string::npos, second) << reason;
    }
    // A refusal of one folder alone names no other.
    FolderRefusal refusal = {};
    char text[1024];
    std::string missing = f.dir / "missing", dest = f.dir / "dest";
    const char* folders[3] = {missing.c_str(), mod.c_str(), dest.c_str()};
    EXPECT_FALSE(CheckJobFolders(folders, text, sizeof text, &refusal));
    EXPECT_EQ(REFUSAL_UNUSABLE, refusal.kind);
    EXPECT_EQ(-1, refusal.other);
}
