#include "log/debug_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/debug_log_file.h"

void WriteDebugLogAfter(const DockletInstance* instance, const char* prefix, const char* format,
                        va_list arguments) {
    va_list measuring;
    va_copy(measuring, arguments);
    // A line holds a whole reply, up to a mebibyte: its room is its own size.
    int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    const size_t prefixLength = strlen(prefix);
    const size_t lineLength = prefixLength + static_cast<size_t>(length);
    char* line = length >= 0 ? static_cast<char*>(malloc(lineLength + 1)) : nullptr;
    if (!line)
        return;
    memcpy(line, prefix, prefixLength);
    FormatTextV(line + prefixLength, static_cast<size_t>(length) + 1, format, arguments);
    AppendDebugLogLine(instance->logPath, line, lineLength);
    free(line);
}

void WriteDebugLog(const DockletInstance* instance, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteDebugLogAfter(instance, "", format, arguments);
    va_end(arguments);
}
