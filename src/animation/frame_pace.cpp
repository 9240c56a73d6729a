#include "animation/frame_pace.h"

uint32_t PauseBeforeNextFrame(uint32_t* due, uint32_t now, uint32_t period) {
    *due += period;
    // The difference read as signed is right across a wrap of the tick count.
    int64_t ahead = static_cast<int32_t>(*due - now);
    if (ahead > 0 && ahead <= period)
        return static_cast<uint32_t>(ahead);
    *due = now + period;
    return period;
}
