#pragma once
#include <cstdarg>

#include "docklet/docklet_instance.h"
#include "text/bounded_text.h"

// Appends one line, the formatted text and a line end, to the instance's
// Debug.log. Callers call it only when the instance's debug flag is set. The
// file is opened and closed for every line, so lines of any thread and any
// instance interleave whole; a file that cannot be opened drops the line.
void WriteDebugLog(const DockletInstance* instance, const char* format, ...) TIDEWELL_PRINTF(2, 3);

// The same, the line beginning with prefix: for the helpers of a part that
// starts each of its lines alike.
void WriteDebugLogAfter(const DockletInstance* instance, const char* prefix, const char* format,
                        va_list arguments);
