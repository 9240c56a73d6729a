#pragma once
#include <cstddef>

#include "docklet/docklet_instance.h"
#include "text/bounded_text.h"

// The reply buffer of one account check: the greeting, then each command's
// reply in turn, each replacing the one before. It starts as a zero-filled
// array of 1024 and moves to the heap when a reply needs more room. It also
// keeps why the dialogue could not go on, worded where that happened.
struct Reply {
    char* text;       // NUL-terminated reply: points at initial or at heap memory
    size_t length;    // bytes received, excluding the terminator
    size_t capacity;  // bytes text can hold, the terminator included
    char step[32];    // what the reply answers: "greeting", "reply to LOGIN"
    char failure[400];  // why no usable reply came, as the log words it; empty while none
    bool stopped;     // the item is going away: nothing failed, nothing to say
    char initial[1024];
};

void InitReply(Reply* reply);
// Makes the reply the empty text, keeping its memory.
void EmptyReply(Reply* reply);
// Makes room for at least capacity bytes, terminator included, wiping the
// memory the reply leaves; false when memory ran out (the reply is then unchanged).
bool GrowReply(Reply* reply, size_t capacity);
void FreeReply(Reply* reply);

// Records why the dialogue cannot go on; the first reason recorded stays,
// as later ones only follow from it.
void SetReplyFailure(Reply* reply, const char* format, ...) TIDEWELL_PRINTF(2, 3);

// Writes the reason line of a check that gives up after this reply: the
// recorded failure, else the server's refusal of the reply's step; nothing
// when the item is going away. Only with the debug flag set.
void LogReplyFailure(const DockletInstance* instance, const Reply* reply);
