#pragma once
#include <cstddef>

// Room for an access or a refresh token, the terminator included. Providers
// document tokens of a few kilobytes; a longer one is refused, never cut.
const size_t kMaxTokenSize = 16385;
