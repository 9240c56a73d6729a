#pragma once
#include <cstddef>

// Appends one line, text[length] and a line end, to the file at path
// (created when missing), under one process-wide lock around the
// open-append-close, so that lines written at the same moment by several
// workers never mix. Nothing else takes that lock: no call that can be
// abandoned holds it. A file that cannot be opened drops the line.
void AppendDebugLogLine(const char* path, const char* text, size_t length);
