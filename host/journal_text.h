#pragma once
// The journal's line format, shared by the host that writes it and the tests
// that read it: "<ms>\t<thread>\t<item>\t<event>\t<details>".

#include <string>

// The text in double quotes; quotes, backslashes and control characters are
// escaped, so a journal line never breaks inside a label.
std::string QuoteJournalText(const std::string& text);

std::string FormatJournalLine(double milliseconds, unsigned long thread, const std::string& item,
                              const std::string& event, const std::string& details);

struct JournalLine {
    double milliseconds = 0;
    unsigned long thread = 0;
    std::string item;  // the item number, "-" for none, "?" for a window the host does not know
    std::string event;
    std::string details;
};

// false when the line does not have the five fields with a time and a thread id.
bool ParseJournalLine(const std::string& line, JournalLine* parsed);
