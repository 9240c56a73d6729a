#pragma once
#include <cstddef>

// Reads what an IMAP server sends while idling (RFC 2177) as it comes: the
// bytes of each receive, after those kept from the receives before, may end
// anywhere in a line. Only whole lines are judged; the caller keeps the rest
// in front of what comes next, so no byte of the stream is ever lost.

// Bytes of whole lines announcing no change, in one IDLE, after which the
// server is taken to talk on without news (some 4,000 lines of
// "* OK Still here"; a server that only keeps the connection alive sends one
// every few minutes).
const size_t kMaxIdleTalk = 64 * 1024;

struct IdleLines {
    size_t scanned; // bytes of the kept text already looked at: all but the newest
    size_t quiet;   // bytes of whole lines without news since IDLE began
};

enum IdleNews {
    kIdleNoNews,  // no whole line announces a change: wait for more
    kIdleChanged, // a whole line announces a change (see LineAnnouncesChange)
    kIdleTalksOn, // the lines without news passed kMaxIdleTalk
};

IdleLines StartIdleLines();

// Looks at text[0..length): the kept text, which begins at a line start,
// then what came since. *whole is the count of bytes at its start that the
// answer has used up: the whole lines up to the one that changed something
// or passed the bound, else every whole line. The caller logs and drops them,
// keeping the rest (a partial line, or what follows the answering line) in
// front of the next receive; the next call then sees text[0..length - *whole)
// again as the start of its text.
IdleNews ReadIdleLines(IdleLines* lines, const char* text, size_t length, size_t* whole);
