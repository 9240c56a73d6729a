#pragma once
#include <cstdint>

// Keeps frames to a fixed schedule, one every period, so that the time the
// host takes to show a frame does not stretch the interval between frames.
// Times are millisecond tick counts that wrap around at 2^32.
//
// Call with the time a frame was due (initially: when the first one was
// started) and the time now, after it was shown. Moves *due to the next
// frame's time and returns how long to wait for it. A frame shown later than
// the next one was due (the host held it longer than a period) starts the
// schedule again from now: the next frame waits a whole period, and no frames
// are rushed out to catch up.
uint32_t PauseBeforeNextFrame(uint32_t* due, uint32_t now, uint32_t period);
