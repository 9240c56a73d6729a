#pragma once
#include "config/mail_account.h"
#include "docklet/docklet_instance.h"
#include "mail/bearer_login.h"

// The POP3 account's count of new messages: the server's STAT count (USER,
// PASS, STAT, QUIT) less the messages already in the account's DBX files,
// plus the unread count of its registry value when one can be read. -1 when
// the check failed, including when a DBX file cannot be read (the server is
// then not contacted); other negative numbers when the local files hold more
// than the server. Blocks the calling check worker on the server, within the
// instance's time-out; writes its steps to the debug log. With a bearer, AUTH
// XOAUTH2 with its access token takes the place of USER and PASS, and
// bearer->refused tells whether the server refused that token.
int CheckPopAccount(const DockletInstance* instance, const MailAccount* account, BearerLogin* bearer);
