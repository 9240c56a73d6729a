#include "mail/login_refusal.h"

void NoteLoginRefusal(Reply* reply, const MailAccount* account) {
    if (reply->length > 0 && account->password[0] == '\0')
        SetReplyFailure(reply, "rejected by the server: %s (no Password is set)", reply->step);
}
