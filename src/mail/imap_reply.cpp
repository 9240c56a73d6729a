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

static bool AnnouncesCapability(const char* reply, const char* capability) {
    for (const char* list = strstr(reply, "CAPABILITY "); list; list = strstr(list, "CAPABILITY ")) {
        list += strlen("CAPABILITY ");
        for (;;) {
            size_t length = strcspn(list, " ]\r\n");
            char name[16];
            if (length < sizeof name) {
                memcpy(name, list, length);
                name[length] = '\0';
                if (EqualsIgnoringCase(name, capability))
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

bool AnnouncesLiteralPlus(const char* reply) { return AnnouncesCapability(reply, "LITERAL+"); }

bool AnnouncesSaslIr(const char* reply) { return AnnouncesCapability(reply, "SASL-IR"); }

bool AnnouncesIdle(const char* reply) { return AnnouncesCapability(reply, "IDLE"); }

// One line, at its start: "* ", digits, a space, then the word alone.
static bool LineAnnouncesChange(const char* line) {
    if (line[0] != '*' || line[1] != ' ' || line[2] < '0' || line[2] > '9')
        return false;
    line += 2 + strspn(line + 2, "0123456789");
    if (*line != ' ')
        return false;
    ++line;
    // FETCH carries its data after the word; the others end the line.
    const size_t length = strcspn(line, " (\r\n");
    char word[8];
    if (length >= sizeof word)
        return false;
    memcpy(word, line, length);
    word[length] = '\0';
    return EqualsIgnoringCase(word, "EXISTS") || EqualsIgnoringCase(word, "EXPUNGE") ||
           EqualsIgnoringCase(word, "FETCH") || EqualsIgnoringCase(word, "RECENT");
}

bool AnnouncesMailboxChange(const char* reply) {
    for (const char* line = reply; line; line = strchr(line, '\n')) {
        if (*line == '\n')
            ++line;
        if (LineAnnouncesChange(line))
            return true;
    }
    return false;
}

bool HasImapNo(const char* reply, char tag) {
    const char refusal[] = {tag, ' ', 'N', 'O', '\0'};
    for (const char* line = reply; *line; ++line) {
        if (strncmp(line, refusal, 4) == 0)
            return true;
        line = strchr(line, '\n');
        if (!line)
            break;
    }
    return false;
}

const char* FindContinuation(const char* reply) {
    const char* last = reply;
    for (const char* end = strchr(reply, '\n'); end && end[1] != '\0'; end = strchr(end + 1, '\n'))
        last = end + 1;
    if (last[0] != '+' || (last[1] != ' ' && last[1] != '\r' && last[1] != '\n'))
        return nullptr;
    // RFC 3501 section 7.5: "+" SP text; some servers send "+" alone.
    return last[1] == ' ' ? last + 2 : last + 1;
}
