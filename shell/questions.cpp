#include "questions.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include "services.h"
#include "textconvert_win32.h"
#include "texts.h"

// Room for the longest question: its texts, twice three names and a path.
static WCHAR QuestionText[16 * 1024];
static const size_t QUESTION_SIZE = sizeof QuestionText / sizeof QuestionText[0];

// Appends the program's own text (Windows-1252), formatted; what does not fit is cut.
__attribute__((format(printf, 2, 3)))
static void AddText(size_t* used, const char* format, ...) {
    char part[512];
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(part, sizeof part, format, arguments);
    va_end(arguments);
    if (written < 0 || *used >= QUESTION_SIZE - 1) return;
    int got = MultiByteToWideChar(1252, 0, part, -1, QuestionText + *used, (int)(QUESTION_SIZE - *used));
    if (got > 0) *used += (size_t)got - 1;
}

// Appends a name or path as the engine holds it (UTF-8), exactly or not at all.
static void AddName(size_t* used, const char* name) {
    if (*used < QUESTION_SIZE - 1 && WideFromUtf8(name, QuestionText + *used, QUESTION_SIZE - *used))
        *used += wcslen(QuestionText + *used);
    else if (*used < QUESTION_SIZE)
        QuestionText[*used] = L'\0';
}

static bool AskYesNo(HWND owner) {
    WCHAR caption[64];
    MultiByteToWideChar(1252, 0, NOTICE_CAPTION, -1, caption, sizeof caption / sizeof caption[0]);
    // No is the default: Return alone does not go on with a likely mistake.
    return Services.messageBoxW(owner, QuestionText, caption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// "un répertoire, DATA" or "52 files: a, b, c, ..." in the words of `words`.
static void AddTop(size_t* used, const TopWords& words, const TreeTop& top) {
    uint32_t entries = top.folders + top.files;
    if (entries == 0) {
        AddText(used, "%s", words.nothing);
        return;
    }
    if (entries == 1) AddText(used, "%s, ", top.folders ? words.oneFolder : words.oneFile);
    else if (top.files == 0) AddText(used, words.folders, top.folders);
    else if (top.folders == 0) AddText(used, words.files, top.files);
    else AddText(used, words.both, top.folders, top.files);
    if (entries > 1) AddText(used, "%s", words.namesFollow);
    for (uint32_t at = 0; at < top.named; ++at) {
        if (at) AddText(used, ", ");
        AddName(used, top.names[at]);
    }
    if (entries > top.named) AddText(used, ", ...");
}

bool AskTreesApart(HWND owner, const JobQuestion* question) {
    size_t used = 0;
    QuestionText[0] = L'\0';
    for (int language = 0; language < 2; ++language) {
        const TopWords& words = QUESTION_TOP_WORDS[language];
        if (language) AddText(&used, "\n\n");
        AddText(&used, QUESTION_TREES_APART_FORMAT[language], question->sharedFiles, question->originalFiles);
        AddText(&used, "\n%s", words.backupHolds);
        AddTop(&used, words, question->tops[0]);
        AddText(&used, "\n%s", words.moddedHolds);
        AddTop(&used, words, question->tops[1]);
    }
    AddText(&used, "\n\n%s", QUESTION_GO_ON);
    return AskYesNo(owner);
}

bool AskDataNamed(HWND owner, const char* data) {
    size_t used = 0;
    QuestionText[0] = L'\0';
    AddText(&used, "%s\n", QUESTION_DATA_NAMED_TEXT);
    AddName(&used, data);
    AddText(&used, "\n%s", QUESTION_GO_ON);
    return AskYesNo(owner);
}
