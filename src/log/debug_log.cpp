#include "log/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "log/debug_log_file.h"

void WriteDebugLog(const DockletInstance* instance, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    // A line holds a whole reply, up to a mebibyte: its room is its own size.
    int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    char* line = length >= 0 ? static_cast<char*>(malloc(static_cast<size_t>(length) + 1)) : nullptr;
    if (line) {
        FormatTextV(line, static_cast<size_t>(length) + 1, format, arguments);
        AppendDebugLogLine(instance->logPath, line, static_cast<size_t>(length));
        free(line);
    }
    va_end(arguments);
}
