// The destination's Data folder kept out of the inputs by identity: a path
// says nothing about a bind mount, a volume mounted in a folder or a
// junction, but the folder met there has the identity of the folder it
// is. The index looks up every folder of an input it meets here.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "hashtable.h"
#include "platform.h"

// A path of PATH_BUFFER_SIZE bytes has at most half as many folders.
enum { MAX_GUARDED = PATH_BUFFER_SIZE / 2 + 1 };

// One job's guard, owned by the job while its trees are indexed: the
// folders it guards, and every folder of the inputs that the index went
// into, by identity (8 bytes a slot: a 64-bit mix of volume and file
// number). Zero-filled, it guards nothing.
struct FolderGuard {
    FolderId guarded[MAX_GUARDED];
    size_t guardedCount;
    HashTable<uint64_t> inputFolders;
};

// Takes the identities of the folder `data` (resolved) and of every folder
// above it up to its root, as far as they exist and can be examined, in
// place of any taken before. An input that holds one of them holds the
// Data folder, or the folder it will be made in.
void GuardDataFolder(FolderGuard* guard, const char* data);

// True when `id` is one of the folders GuardDataFolder took. A file number
// of 0 (a file system without them) matches nothing.
bool IsGuardedFolder(const FolderGuard* guard, const FolderId& id);

// Forgets the folders taken and frees the input folders met: nothing is
// guarded any more.
void ForgetGuardedFolders(FolderGuard* guard);

// For the index, for each input folder it comes to: remembers `id` as an
// input folder, and returns true when it is guarded, and then, the first
// time, the running job is refused (its result's `refused`, and one
// problem naming its Data folder). Whoever meets it goes no further into it.
// When memory runs out the folder goes unremembered: DataHoldsInputFolder
// then knows fewer of them.
bool GuardMet(FolderGuard* guard, const FolderId& id);

// After both indexes: true when a folder that stands in the job's Data
// folder where a modded folder would be copied to (links followed) is an
// input folder that the index met (a link, a bind mount, a volume mounted
// there, a junction); the job is then refused, one problem naming it.
// Reads only: a dry run asks too.
bool DataHoldsInputFolder(const FolderGuard* guard);
