#pragma once
#include <cstddef>

#include "config/mail_account.h"
#include "mail/bearer_login.h"
#include "docklet/docklet_instance.h"
#include "net/reply.h"

struct Connection;

// The steps of a POP3 check, for a caller that judges what the server said
// between them. Each blocks the calling check worker on the server, within
// the instance's time-out, and writes its dialogue to the debug log.
struct PopSession {
    Connection* connection; // null once closed
    Reply reply;            // the last reply; FreeReply it when done
};

// Connects, secures and logs in, then asks STAT; true on the server's +OK to
// STAT, whose reply session->reply then holds. False when the dialogue
// cannot go on (the reply says why). Initialises session->reply either way.
// With a bearer (its flags false on entry), AUTH XOAUTH2 with its access
// token takes the place of USER and PASS, and bearer->refused tells whether
// the server refused that token.
bool OpenPopMailbox(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer,
                    PopSession* session);

// The reply to UIDL as the server gave it, read where it came in: no copy,
// good until the session's next command or its end.
struct UidlReply {
    bool listed; // "+OK": a listing follows
    const char* text;
    size_t length;
};

// Sends UIDL and logs its listing (a long one in part); false when the
// connection was lost on the way.
bool ListPopUids(const DockletInstance* instance, PopSession* session, UidlReply* said);
// "QUIT", then the normal close.
void QuitPop(const DockletInstance* instance, PopSession* session);
// Gives up: writes the reply's reason line and closes without a word.
void AbandonPopSession(const DockletInstance* instance, PopSession* session);
