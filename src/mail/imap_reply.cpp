#include "mail/imap_reply.h"

#include <cstring>

#include "text/bounded_text.h"

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

bool AnnouncesLiteralPlus(const char* reply) {
    for (const char* list = strstr(reply, "CAPABILITY "); list; list = strstr(list, "CAPABILITY ")) {
        list += strlen("CAPABILITY ");
        for (;;) {
            size_t length = strcspn(list, " ]\r\n");
            char name[16];
            if (length < sizeof name) {
                memcpy(name, list, length);
                name[length] = '\0';
                if (EqualsIgnoringCase(name, "LITERAL+"))
                    return true;
            }
            list += length;
            if (*list != ' ')
                break;
            ++list;
        }
    }
    return false;
}
