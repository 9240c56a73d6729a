#include "mail/imap_reply.h"

#include <cstring>

bool HasImapOk(const char* reply, char tag) {
    const char acceptance[] = {tag, ' ', 'O', 'K', '\0'};
    return strstr(reply, acceptance) != nullptr;
}

static bool EndsLine(char c) { return c == '\n' || c == '\r' || c == '\0'; }

int CountSearchResults(const char* reply) {
    if (!strstr(reply, "* SEARCH"))
        return -1;
    const char* item = strstr(reply, "* SEARCH ");
    if (!item)
        return 0;
    item += 9;
    int count = 0;
    while (!EndsLine(*item)) {
        ++count;
        while (*item != ' ' && !EndsLine(*item))
            ++item;
        if (EndsLine(*item))
            break;
        ++item;  // exactly one separator: a second space starts an empty item
    }
    return count;
}
