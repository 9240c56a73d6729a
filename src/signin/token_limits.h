#pragma once
#include <cstddef>

// Room for an access or a refresh token, its terminator included. A longer
// token is refused with a reason, never cut: a cut token fails later with no
// hint of why.
const size_t kMaxTokenSize = 16385;
