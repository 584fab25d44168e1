// The check every front end makes before it starts a job: the three folders
// must be usable, and the mod must not land in either input tree, which
// are only ever read.
#pragma once

#include <stddef.h>

#include "platform.h"

// Why CheckJobFolders refused, for a front end that words it its own way.
enum FolderRefusalKind {
    REFUSAL_EMPTY,               // no path given
    REFUSAL_TOO_LONG,            // the path (for the destination, with "Data") is over the limit
    REFUSAL_UNUSABLE,            // missing, not a folder, or not resolvable; see error
    REFUSAL_SAME_FOLDER,         // the original and the modded path name one folder
    REFUSAL_NESTED,              // one input lies inside the other; role is the inner one
    REFUSAL_DATA_OVERLAPS_INPUT, // the destination's Data folder is, holds or lies in an input
    REFUSAL_DATA_BESIDE_INPUT,   // the Data folder would stand beside an input named alike but for letter case
    REFUSAL_DATA_UNWRITABLE,     // the destination's Data folder cannot be made or written; see error
    REFUSAL_NOT_ABSOLUTE,        // the path cannot be made absolute; see error
    REFUSAL_OUT_OF_MEMORY,       // no memory for the job's parameters
    REFUSAL_DESTINATION_BUSY,    // another job of this program is writing into the destination
};

struct FolderRefusal {
    FolderRefusalKind kind;
    int role;        // the path concerned: 0 original, 1 modded, 2 destination
    SysError error;  // for REFUSAL_UNUSABLE
    int other;       // the other folder concerned, for the refusals between two
                     // (same folder, nested, Data overlapping or beside an input); else -1
};

// True when a job may run on these folders. Otherwise false, with a
// one-line reason in `reason`. Refuses: an empty or too long path; an input
// that is missing or not a folder; a destination that exists but is not a
// folder; two inputs that are the same folder or one inside the other; a
// destination whose "Data" folder is an input, lies inside one or contains
// one; and, on every platform, a destination whose Data folder would stand
// beside an input whose name is "Data" in another letter case ("game/Data"
// beside "game/DATA"), which a program that ignores letter case takes for
// the same folder. Paths are compared resolved (absolute, links followed),
// byte for byte, and folders also by identity (FolderId), which holds
// where a volume cannot resolve links. A refusal between two folders
// names both, as they were given.
// Refuses too, naming the Data folder, a destination that cannot hold the
// mod: Data, or the nearest folder above it that exists, is not a folder;
// and, when `willWrite`, a file cannot be written there (Sys.probeFolder:
// a file of the program's temporary pattern is made and removed in that
// folder, so a read-only or special file system, or one where the user
// may not write, is refused before the first copy). A dry run passes
// `willWrite` false and writes nothing: it checks only what the folders
// are. When `refusal` is given, a refusal also fills it.
// When `willWrite`, the destination (Data's parent, resolved) is held
// before the probe (HoldDestination: made when missing, locked, the
// leftovers of killed runs cleared there and in Data), and a destination
// that another job of this program holds is refused at once
// (REFUSAL_DESTINATION_BUSY, "<destination>: another job of this program is
// writing into this destination; ..."). With `hold`, a job that may run gets
// the hold in `*hold`, to keep while it writes and release at its end
// (ReleaseDestination); without, it is released before the check returns.
// `folders`: the original, the modded and the destination folder.
struct DestinationHold;
bool CheckJobFolders(const char* const folders[3], char* reason, size_t reasonSize, FolderRefusal* refusal = nullptr,
                     bool willWrite = false, DestinationHold** hold = nullptr);
