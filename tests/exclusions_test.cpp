// The pattern matcher, case by case, and pattern files in every form a
// player's editor may save them.
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "exclusions.h"
#include "support.h"

static ExclusionList List;  // too big for a test's stack

struct Match {
    std::vector<const char*> patterns;
    const char* path;  // '/' between names, turned into the platform's separator
    bool isFolder;
    bool excluded;
};

TEST(Exclusions, PatternsMatchAsDotGitignoreFilesDo) {
    bool posix = PathSeparator() == '/';
    std::vector<Match> table = {
        // Classes: members, ranges, negation either way, ']' as first member.
        {{"*.[lL]og"}, "a/b.log", false, true},
        {{"*.[lL]og"}, "b.Log", false, true},
        {{"*.[lL]og"}, "b.xog", false, false},
        {{"[a-c]x"}, "bx", false, true},
        {{"[a-c]x"}, "dx", false, false},
        {{"[!a-c]x"}, "dx", false, true},
        {{"[^a-c]x"}, "bx", false, false},
        {{"[]a]x"}, "]x", false, true},
        {{"[!]]x"}, "]x", false, false},
        {{"f[0-9][0-9]"}, "f42", false, true},
        {{"f[0-9][0-9]"}, "f4", false, false},
        {{"[\xC3\xA0-\xC3\xBF]t\xC3\xA9"}, "\xC3\xA9t\xC3\xA9", false, true},  // a range of two-byte characters
        {{"*[ab]"}, "xxb", false, true},
        // A '[' without its ']' is itself.
        {{"a[b"}, "a[b", false, true},
        {{"a[b"}, "ab", false, false},
        {{"[x"}, "[x", false, true},
        // '!' re-includes what an earlier pattern left out; the last match decides.
        {{"*.log", "!keep.log"}, "keep.log", false, false},
        {{"*.log", "!keep.log"}, "other.log", false, true},
        {{"!keep.log", "*.log"}, "keep.log", false, true},
        {{"cache/", "!cache/"}, "cache", true, false},
        {{"*", "!*.dds", "old.dds"}, "old.dds", false, true},
        {{"**/!x"}, "a/!x", false, true},  // a name that starts with '!'
        // Beside '!', the other rules still hold: '*', '?', '**', anchoring, folders only.
        {{"a/**/b"}, "a/x/y/b", false, true},
        {{"a/**"}, "a", true, false},
        {{"/top"}, "sub/top", false, false},
        {{"d/"}, "d", false, false},
        {{"??.ini"}, "ab.ini", false, true},
    };
    if (posix) {
        std::vector<Match> escapes = {
            {{"\\*.log"}, "*.log", false, true},
            {{"\\*.log"}, "a.log", false, false},
            {{"a\\?"}, "a?", false, true},
            {{"a\\?"}, "ab", false, false},
            {{"\\[a]"}, "[a]", false, true},
            {{"\\!x"}, "!x", false, true},
            {{"[\\]]x"}, "]x", false, true},
            {{"back\\\\slash"}, "back\\slash", false, true},
            {{"\\#note"}, "#note", false, true},
        };
        table.insert(table.end(), escapes.begin(), escapes.end());
    } else {
        // No escapes on Windows, where '\' separates names; no letter case either.
        table.push_back({{"a\\b"}, "a/b", false, true});
        table.push_back({{"*.[l]OG"}, "x.Log", false, true});
    }
    for (const Match& match : table) {
        InitExclusions(&List);
        std::string described;
        for (const char* pattern : match.patterns) {
            char why[200];
            ASSERT_TRUE(AddExclusion(&List, pattern, why, sizeof why)) << pattern << ": " << why;
            described += std::string(pattern) + " ";
        }
        EXPECT_EQ(match.excluded, IsExcluded(&List, Native(match.path).c_str(), match.isFolder))
            << described << "against " << match.path;
    }
    InitExclusions(&List);
    char why[200];
    for (const char* bad : {"!", "!/", posix ? "a\\" : "a//b"}) EXPECT_FALSE(AddExclusion(&List, bad, why, sizeof why)) << bad;

    // Each pattern counts its matches, one that a later pattern overrules
    // included, from the walkers' threads at once: "matched nothing" is exact.
    InitExclusions(&List);
    for (const char* pattern : {"*.log", "!keep.log", "none", "sub/"})
        ASSERT_TRUE(AddExclusion(&List, pattern, why, sizeof why)) << pattern;
    std::vector<std::thread> walkers;
    for (int t = 0; t < 4; ++t)
        walkers.emplace_back([] {
            for (int i = 0; i < 1000; ++i) {
                EXPECT_FALSE(IsExcluded(&List, "keep.log", false));
                EXPECT_TRUE(IsExcluded(&List, "sub", true));
            }
        });
    for (std::thread& walker : walkers) walker.join();
    EXPECT_LE(1u, List.matches[0].load());
    EXPECT_EQ(4000u, List.matches[1].load());
    EXPECT_EQ(0u, List.matches[2].load());
    EXPECT_EQ(4000u, List.matches[3].load());
    EXPECT_STREQ("!keep.log", GivenPattern(&List, 1));
    ASSERT_TRUE(AddExclusion(&List, "late", why, sizeof why));
    EXPECT_EQ(0u, List.matches[4].load()) << "a pattern starts with no match";
}

// Adds the pattern file `text`, as bytes; "" when that went well, else why not.
static std::string FromFile(TempDir& dir, const std::string& text) {
    std::string path = dir / "patterns";
    WriteFile(path, text);
    InitExclusions(&List);
    char why[4200];
    if (AddExclusionsFromFile(&List, path.c_str(), why, sizeof why)) return "";
    EXPECT_EQ(0u, std::string(why).find(path)) << why;  // the file is named
    return std::string(why).substr(path.size());
}

static std::string Utf16(const std::string& ascii, bool little) {
    std::string text = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : ascii) {
        text += little ? c : '\0';
        text += little ? '\0' : c;
    }
    return text;
}

TEST(Exclusions, PatternFilesInUtf8AndUtf16WithCommentsOnlyAtTheStartOfALine) {
    TempDir dir;
    // Only a line whose first non-blank character is '#' is a comment.
    EXPECT_EQ("", FromFile(dir, "  # a comment\n*.log # note\n\\#x\n"));
    EXPECT_EQ(2u, List.count);
    EXPECT_EQ(2u, List.patterns[0].line);  // for the warning of a pattern that matched nothing
    EXPECT_EQ(3u, List.patterns[1].line);
    EXPECT_STREQ("*.log # note", GivenPattern(&List, 0));
    EXPECT_FALSE(IsExcluded(&List, "a.log", false));
    EXPECT_TRUE(IsExcluded(&List, "a.log # note", false));

    // Notepad's "Unicode" and "Unicode big endian", é and a character beyond 16 bits included.
    for (bool little : {true, false}) {
        std::string text = Utf16("*.tmp\r\n# c\r\n!keep.tmp\r\nX", little);
        text += little ? std::string("\xE9\x00", 2) : std::string("\x00\xE9", 2);                    // é
        text += little ? std::string("\x3D\xD8\x00\xDE", 4) : std::string("\xD8\x3D\xDE\x00", 4);  // U+1F600
        EXPECT_EQ("", FromFile(dir, text));
        EXPECT_EQ(3u, List.count);
        EXPECT_TRUE(IsExcluded(&List, "a.tmp", false));
        EXPECT_FALSE(IsExcluded(&List, "keep.tmp", false));
        EXPECT_TRUE(IsExcluded(&List, "X\xC3\xA9\xF0\x9F\x98\x80", false));
    }
    // A NUL is no part of a text, wherever it comes: the line is named.
    EXPECT_EQ(", line 2: a NUL character: a pattern file is text, UTF-8 or UTF-16 with its byte order mark",
              FromFile(dir, std::string("*.log\n*\0.log\n", 12)));
    EXPECT_NE(std::string::npos, FromFile(dir, Utf16("*.log\n", true).substr(2)).find(", line 1: a NUL character"))
        << "UTF-16 without its mark";
    std::string nul = Utf16("a\n", true);
    nul += std::string("\0\0", 2);
    EXPECT_NE(std::string::npos, FromFile(dir, nul).find(", line 2: a NUL character"));
    EXPECT_NE(std::string::npos, FromFile(dir, Utf16("a", true) + std::string("\x00\xDC", 2)).find("not valid UTF-16"));
    EXPECT_NE(std::string::npos, FromFile(dir, Utf16("ab", true) + "x").find("not valid UTF-16"));
}
