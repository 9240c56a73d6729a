#pragma once
#include <cstddef>
#include <cstdint>

// Fills label[size] from a user's template for a total of messages: the first
// integer conversion (d, i, u, o, x or X, with flags and a width) receives
// the total, "%%" is a percent sign, and anything else that looks like a
// conversion is shown as written, so that no template can read or write
// beyond the one number it is given. The result is cut to the buffer.
void FormatMessageLabel(char* label, size_t size, const char* labelTemplate, int32_t total);

// Fills label[size] with what a cycle ends with when `failed` accounts could
// not be checked: the count label as it stands when none failed or the
// failure template is empty; the failure text alone (the template formatted
// with `failed`, as above) when no account answered, as there is no count to
// show; else the count label, ", " and the failure text. A signInText that is
// not empty (an account waits for its user to sign in) follows all that after
// " - ", and stands alone when no account answered and no failure shows.
void FormatCycleLabel(char* label, size_t size, const char* countLabel, const char* failedTemplate,
                      int32_t failed, bool anyAnswered, const char* signInText);
