// Every text the window program shows its user, in one place. Strings are
// Windows-1252 bytes: accents are written as \x escapes.
#pragma once

// The code page of these texts, for every conversion to or from them.
enum { TEXTS_CODE_PAGE = 1252 };

// Window classes and the main window's title.
extern const char MAIN_CLASS_NAME[];
extern const char SURFACE_CLASS_NAME[];
extern const char MAIN_WINDOW_TITLE[];
extern const char SURFACE_WINDOW_TITLE[];

// Start-up failures, shown with the system's default caption.
extern const char REGISTER_CLASS_FAILED[];
extern const char CREATE_WINDOW_FAILED[];

// The controls.
extern const char ORIGINAL_FIELD_PROMPT[];
extern const char MODDED_FIELD_PROMPT[];
extern const char DESTINATION_FIELD_PROMPT[];
extern const char BROWSE_LABEL[];
extern const char CREATE_MOD_LABEL[];
extern const char CONTROL_FONT_FACE[];

// Titles of the three folder browsers.
extern const char ORIGINAL_BROWSER_TITLE[];
extern const char MODDED_BROWSER_TITLE[];
extern const char DESTINATION_BROWSER_TITLE[];

// The help box, and the 24 lines of its text joined by line feeds.
extern const char HELP_CAPTION[];
extern const char HELP_TEXT[];

// Caption of every warning box about the folders or the job's outcome.
extern const char ERROR_CAPTION[];
// Two of the chosen paths are byte for byte equal.
extern const char DIFFERENT_FOLDERS_TEXT[];

// Refusals of the folder check: a French line, a line feed, the English
// line. The box adds a line feed and the path concerned.
extern const char REFUSAL_EMPTY_TEXT[];
extern const char REFUSAL_TOO_LONG_TEXT[];
extern const char REFUSAL_UNUSABLE_TEXT[];
extern const char REFUSAL_SAME_FOLDER_TEXT[];
extern const char REFUSAL_NESTED_TEXT[];
extern const char REFUSAL_DATA_OVERLAPS_INPUT_TEXT[];
extern const char REFUSAL_DATA_BESIDE_INPUT_TEXT[];
extern const char REFUSAL_DATA_UNWRITABLE_TEXT[];
// Another job of this program is writing into the destination (the path
// that follows); the refusal ends once it has.
extern const char REFUSAL_DESTINATION_BUSY_TEXT[];

// A job could not be started (no memory or no thread).
extern const char JOB_NOT_STARTED_TEXT[];

// The box after a job whose mod misses files. Formats: the number of
// failed paths (twice: French, English); the number of warnings (twice);
// the number of failures not listed (twice).
extern const char JOB_FAILURES_FORMAT[];
extern const char JOB_WARNINGS_FORMAT[];
extern const char JOB_MORE_FAILURES_FORMAT[];
// How many failed paths the box names at most.
enum { JOB_FAILURES_LISTED = 10 };

// The same box, or one of its own after a job that lost nothing, for what
// the mod folder holds that the job did not make. Formats: the number of
// stale files (twice), then the Data folder's path follows on its own
// line, then their paths relative to it; the advice; the number of files
// of the backup gone from the modded folder (twice), then their paths.
// The listed paths end with JOB_MORE_FAILURES_FORMAT when there are more.
extern const char JOB_STALE_FORMAT[];
extern const char JOB_STALE_ADVICE[];
extern const char JOB_REMOVED_FORMAT[];
// Caption of that box when nothing failed, and of the questions.
extern const char NOTICE_CAPTION[];

// What a job made, said at its end: in the window's own text after a job
// that lost nothing and left nothing behind, and in the box after one
// that did. Formats: the new, changed and already-in-place counts (twice:
// French, English); the Data folder's path follows on its own line.
extern const char JOB_DONE_FORMAT[];
// The same after a job that found nothing new or changed: the number of
// modded files (twice).
extern const char JOB_NOTHING_FORMAT[];
// The questions before a likely mistake, Yes to go on: their last line.
extern const char QUESTION_GO_ON[];
// The destination is itself named Data; the Data folder's path follows.
extern const char QUESTION_DATA_NAMED_TEXT[];
// The two trees share few paths: in French, then in English, formats of
// the files found and the backup's files, each followed by what the two
// folders hold at their top, in the words of QUESTION_TOP_WORDS.
extern const char QUESTION_TREES_APART_FORMAT[2][200];
struct TopWords {
    const char* backupHolds;
    const char* moddedHolds;
    const char* nothing;
    const char* oneFolder;
    const char* oneFile;
    const char* folders;  // %u
    const char* files;    // %u
    const char* both;     // %u folders, %u files
    const char* namesFollow;
};
extern const TopWords QUESTION_TOP_WORDS[2];

// The scene's texts, drawn with the label font's glyph lists: the labels
// above the three path fields and the status line of each StatusCode 1 to 5.
extern const char ORIGINAL_LABEL[];
extern const char MODDED_LABEL[];
extern const char DESTINATION_LABEL[];
extern const char READY_TEXT[];
extern const char ORIGINAL_INDEX_TEXT[];
extern const char MODDED_INDEX_TEXT[];
extern const char DEEP_SCAN_TEXT[];
extern const char CREATING_MOD_TEXT[];
// The scrolling credit line: 224 characters and a NUL.
extern const char CreditText[];

// Failures of the OpenGL set-up, shown with no owner and an OK button.
extern const char GL_DC_FAILED[];
extern const char GL_DC_CAPTION[];
extern const char PIXEL_FORMAT_FAILED[];
extern const char SET_PIXEL_FORMAT_FAILED[];
extern const char PIXEL_FORMAT_CAPTION[];
