#include "journal_text.h"

#include <cstdio>
#include <cstdlib>

std::string QuoteJournalText(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char escape[8];
                snprintf(escape, sizeof escape, "\\x%02x", c);
                quoted += escape;
            } else {
                quoted += static_cast<char>(c);
            }
        }
    }
    return quoted + "\"";
}

std::string FormatJournalLine(double milliseconds, unsigned long thread, const std::string& item,
                              const std::string& event, const std::string& details) {
    char head[64];
    snprintf(head, sizeof head, "%.1f\t%lu\t", milliseconds, thread);
    return head + item + "\t" + event + "\t" + details;
}

static bool ParseTime(const std::string& field, double* milliseconds) {
    if (field.empty() || field.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char* end = nullptr;
    *milliseconds = strtod(field.c_str(), &end);
    return *end == '\0';
}

static bool ParseThread(const std::string& field, unsigned long* thread) {
    if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *thread = strtoul(field.c_str(), nullptr, 10);
    return true;
}

bool ParseJournalLine(const std::string& line, JournalLine* parsed) {
    std::string fields[5];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t tab = line.find('\t', start);
        if (tab == std::string::npos)
            return false;
        fields[i] = line.substr(start, tab - start);
        start = tab + 1;
    }
    fields[4] = line.substr(start);

    if (!ParseTime(fields[0], &parsed->milliseconds) || !ParseThread(fields[1], &parsed->thread))
        return false;
    parsed->item = fields[2];
    parsed->event = fields[3];
    parsed->details = fields[4];
    return true;
}
