#pragma once
#include <windows.h>

#include <cstddef>

// One run of bytes of a file being written.
struct FilePiece {
    const void* data;
    size_t length;
};

enum ReplaceStep {
    kReplaced,       // the new file is in place
    kNoTemporary,    // no new file could be made in the folder
    kNotReplaced,    // writing it, or putting it in the old one's place, failed
};

// Writes the pieces, in order, to a new file in path's folder,
// flushed to disk, with the given attributes (FILE_ATTRIBUTE_NORMAL for
// none), then puts it in path's place in one step: a reader sees the old
// file or the new one, never a part. On failure the new file is removed, the
// old one is left as it was, and *error holds Windows' reason.
ReplaceStep ReplaceFileWhole(const char* path, const FilePiece* pieces, int count, DWORD attributes,
                             DWORD* error);

// A file as read for a rewrite, with the marks a change leaves on it.
struct FileSnapshot {
    char* bytes;              // the file, NUL after length; RewriteFile owns and wipes it
    size_t length;
    DWORD attributes;
    DWORD links;              // its names (hard links), 1 for most files
    DWORD volume;             // with indexHigh and indexLow: which file it is
    DWORD indexHigh;
    DWORD indexLow;
    FILETIME written;         // when it was last written
    char realPath[MAX_PATH];  // where it lives, every symbolic link on the way followed; empty when unknown
};

// Makes a file's new bytes from the ones read: true with *edited (malloc'd,
// freed by the caller) and *editedLength to have them written, false to leave
// the file as it is. May be called again on a fresh reading.
typedef bool (*FileEdit)(void* context, const FileSnapshot* file, char** edited, size_t* editedLength);

enum RewriteOutcome {
    kRewritten,            // the edited bytes are in place, under every name of the file
    kRewriteNotWanted,     // the edit left the file as it was
    kRewriteNotFound,      // no such file
    kRewriteTooLarge,      // larger than the bound: not read
    kRewriteUnreadable,    // it cannot be opened or read, or there is no memory for it
    kRewriteNoTemporary,   // no new file could be made beside it
    kRewriteNotWritten,    // writing or replacing it failed: it is as it was
    kRewriteKeptChanging,  // each time, another program changed it or held it open between reading and writing
};

struct RewriteReport {
    DWORD error;              // Windows' reason for a failure
    bool inPlace;             // written over in place, because it has several names or its place is unknown
    DWORD links;
    char realPath[MAX_PATH];  // where the bytes went when a new file replaced it
};

// Reads the file at path (at most maxSize bytes), has edit make its new
// bytes, and puts them in place only if the file is still exactly what was
// read (size, time of writing, bytes, which file it is): else it starts over,
// three times at most, pausing 100 ms on stop between tries (a signalled
// stop ends the tries). A file of one name is replaced in one step by a new
// file beside it, at its real path, so a symbolic link leading to it stays a
// link; a file of several names (hard links) is written over in place, held
// against other writers from the check to the end, so that every name sees
// the new bytes. Blocks; runs on a worker.
RewriteOutcome RewriteFile(const char* path, DWORD maxSize, FileEdit edit, void* context, HANDLE stop,
                           RewriteReport* report);
