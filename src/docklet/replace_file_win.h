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
