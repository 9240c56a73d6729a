// The INI file is the user's, of any content: the editor that writes a
// protected password into it must change the value it reports and nothing
// else, within the room it promises, and never read or write out of bounds.
// The input's first byte picks the expected value's length; the next bytes
// are the expected value, the rest is the file.
#include <cstdlib>
#include <cstring>
#include <string>

#include "secrets/ini_value_edit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    size_t expectedLength = data[0] % 16;
    if (expectedLength > size - 1)
        expectedLength = size - 1;
    std::string expected(reinterpret_cast<const char*>(data + 1), expectedLength);
    expected = expected.substr(0, expected.find('\0'));
    const size_t length = size - 1 - expectedLength;
    // A heap block of exactly the file's size, so any read past it is caught.
    char* file = static_cast<char*>(malloc(length ? length : 1));
    memcpy(file, data + 1 + expectedLength, length);
    const char value[] = "dpapi:QUJD";
    const size_t capacity = length + strlen(value);
    char* out = static_cast<char*>(malloc(capacity ? capacity : 1));
    size_t outLength = 0;
    IniEdit outcome = ReplaceIniValue(file, length, "account0", "Password", expected.c_str(), value,
                                      out, capacity, &outLength);
    if (outcome == kIniNoRoom)
        abort();
    if (outcome == kIniValueReplaced) {
        if (outLength > capacity)
            abort();
        // The bytes before and after the new value are the file's own.
        size_t before = 0;
        while (before < length && before < outLength && file[before] == out[before])
            ++before;
        size_t after = 0;
        while (after < length - before && after < outLength - before &&
               file[length - 1 - after] == out[outLength - 1 - after])
            ++after;
        if (before + after + strlen(value) < outLength)
            abort();
        // The new value is what a second reading finds there.
        char* again = static_cast<char*>(malloc(outLength + strlen(value)));
        size_t againLength = 0;
        if (ReplaceIniValue(out, outLength, "account0", "Password", value, value, again,
                            outLength + strlen(value), &againLength) != kIniValueReplaced ||
            againLength != outLength || memcmp(again, out, outLength) != 0)
            abort();
        free(again);
    }
    free(out);
    free(file);
    return 0;
}
