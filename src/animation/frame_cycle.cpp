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
