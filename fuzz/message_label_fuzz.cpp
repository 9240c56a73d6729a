// The label template comes from the user's settings and is formatted with
// the message total into a fixed array. The input chooses template, total and
// array size; the array is a heap block of exactly that size, so any write
// or read past it is an ASan report, and any conversion other than the one
// integer reaching printf would read a missing argument or, for %n, write
// through the total taken as a pointer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check/message_label.h"

namespace {

// The rule read plainly: the first %[flags][width]<d|i|u|o|x|X> gets the
// total (a width past 1023 is 1023), "%%" is "%", all else is written as is.
std::string ReferenceLabel(const std::string& labelTemplate, int32_t total) {
    std::string label;
    bool used = false;
    for (size_t i = 0; i < labelTemplate.size();) {
        if (labelTemplate.compare(i, 2, "%%") == 0) {
            label += '%';
            i += 2;
            continue;
        }
        if (labelTemplate[i] == '%' && !used) {
            size_t j = i + 1;
            std::string flags;
            while (j < labelTemplate.size() && strchr("-+ 0#", labelTemplate[j]))
                flags += labelTemplate[j++];
            unsigned long width = 0;
            for (; j < labelTemplate.size() && labelTemplate[j] >= '0' && labelTemplate[j] <= '9'; ++j)
                width = width > 1023 ? width : width * 10 + (labelTemplate[j] - '0');
            if (j < labelTemplate.size() && strchr("diuoxX", labelTemplate[j])) {
                std::string format = "%" + flags;
                if (width > 0)
                    format += std::to_string(width < 1023 ? width : 1023);
                format += labelTemplate[j];
                char number[2048];
                snprintf(number, sizeof number, format.c_str(), total);
                label += number;
                used = true;
                i = j + 1;
                continue;
            }
        }
        label += labelTemplate[i++];
    }
    return label;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const size_t labelSize = input.ConsumeIntegralInRange<size_t>(1, 1024);
    const int32_t total = input.ConsumeIntegral<int32_t>();
    // A settings text ends at its first NUL, so the template holds none.
    const std::string labelTemplate = input.ConsumeRemainingBytesAsString().c_str();

    char* label = static_cast<char*>(malloc(labelSize));
    FormatMessageLabel(label, labelSize, labelTemplate.c_str(), total);
    const char* terminator = static_cast<const char*>(memchr(label, '\0', labelSize));
    if (!terminator)
        abort();
    std::string expected = ReferenceLabel(labelTemplate, total);
    if (expected.size() > labelSize - 1)
        expected.resize(labelSize - 1);
    if (std::string(label, terminator - label) != expected)
        abort();
    free(label);
    return 0;
}
