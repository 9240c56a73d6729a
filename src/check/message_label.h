#pragma once
#include <cstddef>
#include <cstdint>

// Fills label[size] from a user's template for a total of messages: the first
// integer conversion (d, i, u, o, x or X, with flags and a width) receives
// the total, "%%" is a percent sign, and anything else that looks like a
// conversion is shown as written, so that no template can read or write
// beyond the one number it is given. The result is cut to the buffer.
void FormatMessageLabel(char* label, size_t size, const char* labelTemplate, int32_t total);
