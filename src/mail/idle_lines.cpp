#include "mail/idle_lines.h"

#include "mail/imap_reply.h"

IdleLines StartIdleLines() {
    return IdleLines{0, 0};
}

IdleNews ReadIdleLines(IdleLines* lines, const char* text, size_t length, size_t* whole) {
    size_t lineStart = 0;
    IdleNews news = kIdleNoNews;
    for (size_t at = lines->scanned; at < length && news == kIdleNoNews; ++at) {
        if (text[at] != '\n')
            continue;
        const size_t lineLength = at + 1 - lineStart;
        if (LineAnnouncesChange(text + lineStart, lineLength)) {
            news = kIdleChanged;
        } else {
            lines->quiet += lineLength;
            if (lines->quiet > kMaxIdleTalk)
                news = kIdleTalksOn;
        }
        lineStart = at + 1;
    }
    *whole = lineStart;
    lines->scanned = news == kIdleNoNews ? length - lineStart : 0;
    return news;
}
