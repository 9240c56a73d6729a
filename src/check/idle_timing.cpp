#include "check/idle_timing.h"

namespace {

const uint32_t kQuickReopenMs = 2 * 1000;
const uint32_t kFirstBackOffMs = 10 * 1000;
// DelaySecond's least value.
const uint32_t kLeastDelayMs = 10 * 1000;

} // namespace

uint32_t ReconnectPauseMs(uint32_t failures, uint32_t longestMs) {
    if (failures == 0)
        return kQuickReopenMs;
    const uint64_t longest = longestMs > kFirstBackOffMs ? longestMs : kFirstBackOffMs;
    uint64_t pause = kFirstBackOffMs;
    for (uint32_t i = 1; i < failures && pause < longest; ++i)
        pause *= 2;
    return static_cast<uint32_t>(pause < longest ? pause : longest);
}

uint32_t JitteredMs(uint32_t ms, uint32_t random) {
    // From 80 % up to (not quite) 120 %: 40 % of ms spread over the 2^32 values.
    const uint64_t spread = static_cast<uint64_t>(ms) * 2 / 5;
    return static_cast<uint32_t>(static_cast<uint64_t>(ms) * 4 / 5 + ((spread * random) >> 32));
}

uint32_t StaleAfterMs(bool idle, uint32_t delayMs) {
    const uint32_t least = idle ? kIdleCheckInMs : kLeastDelayMs;
    const uint32_t interval = delayMs < least ? least : delayMs;
    const uint64_t stale = static_cast<uint64_t>(interval) * 3;
    return stale > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(stale);
}
