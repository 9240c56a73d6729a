#include "check/message_label.h"

#include <cstring>

#include "text/bounded_text.h"

namespace {

// Appends to the label, keeping it terminated and within its size.
struct LabelWriter {
    char* label;
    size_t size;
    size_t length;

    void Append(const char* text, size_t count) {
        for (size_t i = 0; i < count && length + 1 < size; ++i)
            label[length++] = text[i];
        label[length] = '\0';
    }
};

// No label is longer; a wider field would only be cut.
const unsigned kMaxWidth = 1023;

// Reads a conversion the total may fill (flags, width, an integer
// conversion letter) into a printf format of bounded size. Returns where the
// conversion ends in the template, or null when it is not such a conversion.
const char* ReadIntegerConversion(const char* percent, char* format, size_t formatSize) {
    static const char kFlags[] = "-+ 0#";
    const char* p = percent + 1;
    bool present[sizeof kFlags - 1] = {};
    for (const char* flag; *p && (flag = strchr(kFlags, *p)); ++p)
        present[flag - kFlags] = true;
    unsigned width = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        width = width >= kMaxWidth ? kMaxWidth : width * 10 + (*p - '0');
    if (!*p || !strchr("diuoxX", *p))
        return nullptr;
    // Rebuilt rather than copied: each flag once, the width within bounds.
    char flags[sizeof kFlags] = "";
    size_t count = 0;
    for (size_t i = 0; i < sizeof kFlags - 1; ++i)
        if (present[i])
            flags[count++] = kFlags[i];
    flags[count] = '\0';
    char widthText[8] = "";
    if (width > 0)
        FormatText(widthText, sizeof widthText, "%u", width < kMaxWidth ? width : kMaxWidth);
    FormatText(format, formatSize, "%%%s%s%c", flags, widthText, *p);
    return p + 1;
}

}  // namespace

void FormatMessageLabel(char* label, size_t size, const char* labelTemplate, int32_t total) {
    if (size == 0)
        return;
    LabelWriter writer{label, size, 0};
    label[0] = '\0';
    bool totalUsed = false;
    for (const char* p = labelTemplate; *p;) {
        if (p[0] == '%' && p[1] == '%') {
            writer.Append("%", 1);
            p += 2;
            continue;
        }
        char conversion[16];
        const char* end = (p[0] == '%' && !totalUsed)
                              ? ReadIntegerConversion(p, conversion, sizeof conversion)
                              : nullptr;
        if (!end) {
            writer.Append(p, 1);
            ++p;
            continue;
        }
        char number[kMaxWidth + 16];
        FormatText(number, sizeof number, conversion, total);
        writer.Append(number, strlen(number));
        totalUsed = true;
        p = end;
    }
}

void FormatCycleLabel(char* label, size_t size, const char* countLabel, const char* failedTemplate,
                      int32_t failed, bool anyAnswered, const char* signInText) {
    if (size == 0)
        return;
    char failure[1024] = "";
    if (failed != 0 && failedTemplate[0] != '\0')
        FormatMessageLabel(failure, sizeof failure, failedTemplate, failed);
    // Without an answer the count label would speak of no account: it shows
    // then only when nothing else would.
    const bool countShown = anyAnswered || (failure[0] == '\0' && signInText[0] == '\0');
    LabelWriter writer{label, size, 0};
    label[0] = '\0';
    bool said = false;
    const struct {
        const char* text;
        const char* separator; // before it, when something precedes it
    } parts[] = {{countShown ? countLabel : "", ""}, {failure, ", "}, {signInText, " - "}};
    for (const auto& part : parts) {
        if (part.text[0] == '\0')
            continue;
        if (said)
            writer.Append(part.separator, strlen(part.separator));
        writer.Append(part.text, strlen(part.text));
        said = true;
    }
}
