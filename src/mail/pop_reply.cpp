#include "mail/pop_reply.h"

#include <climits>
#include <cstring>

bool IsPopOk(const char* reply) {
    // RFC 1939 section 3: the text after the status indicator is optional,
    // and servers such as Dovecot answer USER with a bare "+OK".
    return strncmp(reply, "+OK", 3) == 0 && (reply[3] == ' ' || reply[3] == '\r' || reply[3] == '\n');
}

const char* FindPopContinuation(const char* reply) {
    if (reply[0] != '+' || (reply[1] != ' ' && reply[1] != '\r' && reply[1] != '\n'))
        return nullptr;
    return reply[1] == ' ' ? reply + 2 : reply + 1;
}

StatCount ParseStatCount(const char* reply, int* count) {
    if (strncmp(reply, "+OK ", 4) != 0)
        return kStatNoCount;
    const char* digit = reply + 4;
    int value = 0;
    bool tooLarge = false;
    for (; *digit >= '0' && *digit <= '9'; ++digit) {
        int next = *digit - '0';
        tooLarge = tooLarge || value > (INT_MAX - next) / 10;
        value = tooLarge ? INT_MAX : value * 10 + next;
    }
    bool ended = *digit == ' ' || *digit == '\r' || *digit == '\n' || *digit == '\0';
    if (digit == reply + 4 || !ended)
        return kStatNoCount;
    if (tooLarge)
        return kStatTooLarge;
    *count = value;
    return kStatCounted;
}
