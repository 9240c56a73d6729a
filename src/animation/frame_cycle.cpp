#include "animation/frame_cycle.h"

void* NextFrameOf(FrameSet* noMail, FrameSet* newMail, int32_t mode) {
    if (!noMail->entries || !newMail->entries)
        return nullptr;
    FrameSet* active = mode == kNoMailMode ? noMail : newMail;
    if (active->count <= 0)
        return nullptr;
    void* frame = active->entries[active->position];
    active->position = (active->position + 1) % active->count;
    return frame;
}

bool SharesEarlierEntry(const FrameSet* set, int32_t index) {
    void* frame = set->entries[index];
    if (!frame)
        return false;
    for (int32_t earlier = index > kFrameLookBack ? index - kFrameLookBack : 0; earlier < index;
         ++earlier) {
        if (set->entries[earlier] == frame)
            return true;
    }
    return false;
}
