#include "questions.h"

#include <wchar.h>

#include "jobbox.h"
#include "services.h"
#include "texts.h"

// Room for the longest question: its texts, twice three names and a path.
static WCHAR QuestionText[16 * 1024];

// Starts a question's text, measured for a box of `owner`, so that a long
// name or path is cut to the box's width.
static WideText BeginQuestion(HWND owner, BoxFit* fit) {
    QuestionText[0] = L'\0';
    bool measured = BeginBoxFit(owner, fit);
    return WideText{QuestionText, sizeof QuestionText / sizeof QuestionText[0], 0, measured ? fit : nullptr};
}

static bool AskYesNo(HWND owner, WideText* out) {
    if (out->fit) EndBoxFit((BoxFit*)out->fit);
    WCHAR caption[64];
    MultiByteToWideChar(TEXTS_CODE_PAGE, 0, NOTICE_CAPTION, -1, caption, sizeof caption / sizeof caption[0]);
    // No is the default: Return alone does not go on with a likely mistake.
    return Services.messageBoxW(owner, QuestionText, caption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// "un répertoire, DATA" or "52 files: a, b, c, ..." in the words of `words`.
static void AddTop(WideText* out, const TopWords& words, const TreeTop& top) {
    uint32_t entries = top.folders + top.files;
    if (entries == 0) {
        AppendText(out, "%s", words.nothing);
        return;
    }
    if (entries == 1) AppendText(out, "%s, ", top.folders ? words.oneFolder : words.oneFile);
    else if (top.files == 0) AppendText(out, words.folders, top.folders);
    else if (top.folders == 0) AppendText(out, words.files, top.files);
    else AppendText(out, words.both, top.folders, top.files);
    if (entries > 1) AppendText(out, "%s", words.namesFollow);
    for (uint32_t at = 0; at < top.named; ++at) {
        if (at) AppendText(out, ", ");
        AppendPath(out, top.names[at]);
    }
    if (entries > top.named) AppendText(out, ", ...");
}

bool AskTreesApart(HWND owner, const JobQuestion* question) {
    BoxFit fit;
    WideText out = BeginQuestion(owner, &fit);
    for (int language = 0; language < 2; ++language) {
        const TopWords& words = QUESTION_TOP_WORDS[language];
        if (language) AppendText(&out, "\n\n");
        AppendText(&out, QUESTION_TREES_APART_FORMAT[language], question->sharedFiles, question->originalFiles);
        AppendText(&out, "\n%s", words.backupHolds);
        AddTop(&out, words, question->tops[0]);
        AppendText(&out, "\n%s", words.moddedHolds);
        AddTop(&out, words, question->tops[1]);
    }
    AppendText(&out, "\n\n%s", QUESTION_GO_ON);
    return AskYesNo(owner, &out);
}

bool AskDataNamed(HWND owner, const char* data) {
    BoxFit fit;
    WideText out = BeginQuestion(owner, &fit);
    AppendText(&out, "%s\n", QUESTION_DATA_NAMED_TEXT);
    AppendPath(&out, data);
    AppendText(&out, "\n%s", QUESTION_GO_ON);
    return AskYesNo(owner, &out);
}
