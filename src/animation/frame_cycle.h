#pragma once
#include <cstdint>

// The frames cut from one strip. Absent (no array) and empty (an array of 0
// entries, from a strip narrower than tall) are different states: either set
// being absent stops the animation whatever the mode.
struct FrameSet {
    // count frames, an entry null where cutting it failed; null when absent.
    // Frames with the same pixels may share one entry value.
    void** entries;
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

// Entries at most this far apart may share a frame; farther ones are never
// compared, which bounds the work for strips of very many frames.
const int32_t kFrameLookBack = 256;

// True when an entry up to kFrameLookBack before index holds the same
// non-null frame: the frame is released with the first entry that holds it.
bool SharesEarlierEntry(const FrameSet* set, int32_t index);
