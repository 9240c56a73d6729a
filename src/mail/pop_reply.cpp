#include "mail/pop_reply.h"

#include <climits>
#include <cstring>

bool IsPopOk(const char* reply) {
    // RFC 1939 section 3: the text after the status indicator is optional,
    // and servers such as Dovecot answer USER with a bare "+OK".
    return strncmp(reply, "+OK", 3) == 0 && (reply[3] == ' ' || reply[3] == '\r' || reply[3] == '\n');
}

int ParseStatCount(const char* reply) {
    if (strncmp(reply, "+OK ", 4) != 0)
        return 0;
    int count = 0;
    for (const char* digit = reply + 4; *digit >= '0' && *digit <= '9'; ++digit) {
        int value = *digit - '0';
        count = count > (INT_MAX - value) / 10 ? INT_MAX : count * 10 + value;
    }
    return count;
}
