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

bool LineAnnouncesChange(const char* line, size_t length) {
    if (length < 3 || line[0] != '*' || line[1] != ' ' || line[2] < '0' || line[2] > '9')
        return false;
    size_t at = 2;
    while (at < length && line[at] >= '0' && line[at] <= '9')
        ++at;
    if (at == length || line[at] != ' ')
        return false;
    const size_t start = ++at;
    // FETCH carries its data after the word; the others end the line.
    while (at < length && line[at] != ' ' && line[at] != '(' && line[at] != '\r' && line[at] != '\n')
        ++at;
    char word[8];
    if (at - start >= sizeof word)
        return false;
    memcpy(word, line + start, at - start);
    word[at - start] = '\0';
    // A NUL byte inside the word makes it no word of the four.
    return strlen(word) == at - start &&
           (EqualsIgnoringCase(word, "EXISTS") || EqualsIgnoringCase(word, "EXPUNGE") ||
            EqualsIgnoringCase(word, "FETCH") || EqualsIgnoringCase(word, "RECENT"));
}

bool AnnouncesMailboxChange(const char* reply) {
    for (const char* line = reply; line; line = strchr(line, '\n')) {
        if (*line == '\n')
            ++line;
        if (LineAnnouncesChange(line, strcspn(line, "\n")))
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

// Reads the decimal at text up to a byte that is no digit; false when none
// stands there, it is 0 or past 32 bits.
static bool ReadNumber(const char** text, uint32_t* number) {
    const char* digit = *text;
    uint64_t value = 0;
    for (; *digit >= '0' && *digit <= '9'; ++digit) {
        value = value * 10 + static_cast<uint64_t>(*digit - '0');
        if (value > UINT32_MAX)
            return false;
    }
    if (digit == *text || value == 0)
        return false;
    *text = digit;
    *number = static_cast<uint32_t>(value);
    return true;
}

bool ReadImapCodeNumber(const char* reply, const char* name, uint32_t* number) {
    char code[32];
    if (!FormatText(code, sizeof code, "* OK [%s ", name))
        return false;
    for (const char* line = reply; line; line = strchr(line, '\n')) {
        if (*line == '\n')
            ++line;
        if (strncmp(line, code, strlen(code)) != 0)
            continue;
        const char* digits = line + strlen(code);
        uint32_t read = 0;
        if (!ReadNumber(&digits, &read) || *digits != ']')
            return false;
        *number = read;
        return true;
    }
    return false;
}

int CountUidsAbove(const char* reply, uint32_t floor, uint32_t* largest) {
    const char* line = strstr(reply, "* SEARCH");
    if (!line)
        return -1;
    const char* item = line + 8;
    int count = 0;
    while (*item == ' ') {
        ++item;
        uint32_t uid = 0;
        if (!ReadNumber(&item, &uid) || !(*item == ' ' || EndsLine(*item)))
            return -1;
        if (uid > floor) {
            ++count;
            if (uid > *largest)
                *largest = uid;
        }
    }
    return EndsLine(*item) ? count : -1;
}
