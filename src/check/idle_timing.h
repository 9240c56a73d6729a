#pragma once
#include <cstdint>

// The timing of an account kept in IMAP IDLE (Idle=1): how often its
// connection proves the path to the server alive, how fresh its count must
// be for a check to take it, how long a lost connection waits before it is
// opened again, and when an account's count is too old to show as news.
//
// A router that forgets a quiet connection forwards nothing more, in either
// direction, and tells neither side; where it still acknowledges what it
// receives, TCP keepalive sees nothing wrong either. Only an answer from
// the server proves the path, so after a minute without a word from it the
// connection ends IDLE and begins it again, and DONE's answer is awaited a
// bounded time: a silent path is noticed at most a minute and that bound
// after the server's last word.

// After this long without a word from the server: DONE, then IDLE again.
const uint32_t kIdleCheckInMs = 60 * 1000;
// The bound on the replies a server gives at once (DONE's, IDLE's go-ahead),
// unless TimeoutSecond is shorter.
const uint32_t kIdleQuickReplyMs = 10 * 1000;
// A periodic cycle takes the connection's count as it stands when the
// server's last word is this recent (the check-in's minute and its round
// trip); otherwise the connection counts again first, as for a hold.
const uint32_t kIdleFreshMs = kIdleCheckInMs + 5 * 1000;

// The pause before a watcher opens its connection again, before jitter:
// after a connection that had been idling and had answered a check-in, a
// renewal or a count in IDLE (failures 0), 2 s, as the path to the server
// was good and a new connection will most likely pass where the old one
// was forgotten; else 10 s after the first failure in a row, doubling with
// each one after it, up to longestMs (never below 10 s).
uint32_t ReconnectPauseMs(uint32_t failures, uint32_t longestMs);

// ms made up to 20 % shorter or longer by random (any 32 bits, spread
// evenly), so that items and users who lost their connections together do
// not all come back to the server in the same second.
uint32_t JitteredMs(uint32_t ms, uint32_t random);

// How old an account's last count (or, for an account in IDLE, its
// connection's last word) may be before the account shows as failed: three
// times DelaySecond (never less than its least, 10 s), and for an account
// with Idle=1 at least three check-ins.
uint32_t StaleAfterMs(bool idle, uint32_t delayMs);
