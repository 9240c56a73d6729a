#pragma once
#include <cstdint>

// The frames cut from one strip. Absent (no array) and empty (an array of 0
// entries, from a strip narrower than tall) are different states: either set
// being absent stops the animation whatever the mode.
struct FrameSet {
    void** entries;    // count frames, an entry null where cutting it failed; null when absent
    int32_t count;     // 0 when absent
    int32_t position;  // index of the next frame to show
};

const int32_t kNoMailMode = 1;
const int32_t kNewMailMode = 2;

// The next frame of the set that mode selects (kNoMailMode the no-mail set,
// any other value the new-mail set), moving only that set's position so that
// each set takes up again where it stopped. Null when either set is absent,
// the selected one is empty, or its next frame could not be cut.
void* NextFrameOf(FrameSet* noMail, FrameSet* newMail, int32_t mode);
