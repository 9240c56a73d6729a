#pragma once
#include <cstddef>

// The reply buffer of one account check: the greeting, then each command's
// reply in turn, each replacing the one before. It starts as a zero-filled
// array of 1024 and moves to the heap when a reply needs more room.
struct Reply {
    char* text;       // NUL-terminated reply: points at initial or at heap memory
    size_t length;    // bytes received, excluding the terminator
    size_t capacity;  // bytes text can hold, the terminator included
    char initial[1024];
};

void InitReply(Reply* reply);
// Makes the reply the empty text, keeping its memory.
void EmptyReply(Reply* reply);
// Makes room for at least capacity bytes, terminator included; false when
// memory ran out (the reply is then unchanged).
bool GrowReply(Reply* reply, size_t capacity);
void FreeReply(Reply* reply);
