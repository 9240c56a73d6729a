#pragma once
#include <cstdint>

#include "config/mail_account.h"
#include "docklet/docklet_instance.h"
#include "mail/bearer_login.h"
#include "mail/imap_check.h"

// Keeps an IMAP connection open in IDLE (RFC 2177) and counts again whenever
// the server announces a change. Runs on the account's idle watcher and
// blocks there for as long as the connection lasts; every wait ends at once
// when the instance's stop event or the listener's interrupt is set, however
// much the server sends. A server that talks on in IDLE without news
// (kMaxIdleTalk), or does not answer DONE or IDLE within the quick bound, is
// left. The dialogue goes to the debug log as every other does.

// Counts the mailbox on the session with the searches of imap_check.h, as
// the caller judges what counts; false when the dialogue cannot go on.
// *count: the count, -1 when the answer holds none.
typedef bool (*ImapCount)(const DockletInstance* instance, const MailAccount* account,
                          ImapSession* session, ImapCounting* counting, char tag, int* count);

// Whom the dialogue tells what it learnt, and what it is asked; the calls
// come on the watcher's thread.
struct IdleListener {
    void* context;
    uint32_t renewMs;   // after this long in one IDLE: DONE, count again, IDLE again
    uint32_t checkInMs; // after this long without a word from the server: DONE, IDLE again
    uint32_t quickMs;   // bound on the replies to DONE and IDLE (at most the time-out)
    HANDLE recount;     // an event a check sets to have the mailbox counted now; null: none
    HANDLE interrupt;   // an event set to have the connection dropped at once; null: none
    // Each count of unseen (with CountNew, new) messages: the first after the
    // login, then one per change, per renewal and per recount; how it was counted beside it.
    void (*counted)(void* context, int count, const ImapCounting* counting);
    // The server has accepted IDLE: the last count stays true until the next.
    void (*idling)(void* context);
    // The server said something since IDLE began, answered: its answer to
    // DONE: the path to it is alive.
    void (*heard)(void* context, bool answered);
    ImapCount count; // each count above
};

// How the dialogue ended.
enum IdleEnd {
    kIdleDropped = -1, // the login failed, the connection broke or was refused IDLE, or the
                       // server talked on without news: reason logged
    kIdleNotOffered =
        0,            // the server does not announce IDLE: counted once, logged out, reason logged
    kIdleStopped = 1, // the item is going away, or the interrupt was set: closed without a word
};

// Logs in as the check does (bearer->refused telling whether a token was
// refused), counts, then idles until the connection ends. Returns an IdleEnd.
int WatchImapAccount(const DockletInstance* instance, const MailAccount* account,
                     BearerLogin* bearer, const IdleListener* listener);
