#include "animation/status_animator_win.h"

#include <cstdlib>

#include "animation/badge_drawing_win.h"
#include "animation/frame_geometry.h"
#include "animation/frame_pixels.h"
#include "docklet/host_services_win.h"
#include "docklet/worker_wait_win.h"
#include "text/bounded_text.h"

using namespace Gdiplus;

namespace {

const DWORD kFramePauseMs = 75;

GdiplusImageObject* LoadStrip(const char* path) {
    return static_cast<GdiplusImageObject*>(HostServices::LoadImage(path));
}

// Copies one frame out of the strip into a bitmap of its own; null when the
// copy fails.
GdiplusImageObject* CopyFrame(GpBitmap* source, int32_t index, UINT height) {
    FrameArea area = FrameAreaOf(index, height);
    if (area.x > INT32_MAX)
        return nullptr;
    GpBitmap* copy = nullptr;
    if (DllExports::GdipCloneBitmapAreaI(static_cast<INT>(area.x), static_cast<INT>(area.y),
                                         static_cast<INT>(area.size), static_cast<INT>(area.size),
                                         0, source, &copy) != Ok || !copy)
        return nullptr;
    return WrapBitmap(copy);
}

UINT BitmapSide(GdiplusImageObject* frame) {
    UINT side = 0;
    DllExports::GdipGetImageHeight(frame->nativeImage, &side);
    return side;
}

// Locks the strip's frames for reading as 32-bit ARGB pixels.
bool LockFrames(GpBitmap* strip, int32_t count, UINT height, BitmapData* locked) {
    int64_t width = FrameAreaOf(count, height).x;
    if (count == 0 || width > INT32_MAX)
        return false;
    GpRect frames(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    return DllExports::GdipBitmapLockBits(strip, &frames, ImageLockModeRead, PixelFormat32bppARGB,
                                          locked) == Ok;
}

// For each frame, the first frame up to kFrameLookBack before it with the
// same pixels, or itself; every frame is its own when the pixels cannot be
// read. Copies are made only after the strip is unlocked, as GDI+ copies
// nothing out of a locked bitmap.
void FindOriginals(GpBitmap* strip, int32_t count, UINT height, int32_t* originals) {
    for (int32_t i = 0; i < count; ++i)
        originals[i] = i;
    uint32_t* digests =
        static_cast<uint32_t*>(calloc(static_cast<size_t>(count) + 1, sizeof *digests));
    BitmapData locked = {};
    if (!digests || !LockFrames(strip, count, height, &locked)) {
        free(digests);
        return;
    }
    StripPixels pixels{static_cast<const uint8_t*>(locked.Scan0), locked.Stride, height};
    for (int32_t i = 0; i < count; ++i) {
        digests[i] = FrameDigest(&pixels, i);
        int32_t first = i > kFrameLookBack ? i - kFrameLookBack : 0;
        for (int32_t earlier = first; earlier < i; ++earlier) {
            if (originals[earlier] == earlier && digests[earlier] == digests[i] &&
                SameFramePixels(&pixels, earlier, i)) {
                originals[i] = earlier;
                break;
            }
        }
    }
    DllExports::GdipBitmapUnlockBits(strip, &locked);
    free(digests);
}

// Cuts a set from a strip. Returns false when the strip is unusable (missing,
// or a side of 0), leaving the set absent. Frames with the same pixels share
// one copy. A frame whose copy fails stays null; an array that cannot be
// allocated leaves the set absent as well.
bool CutSet(GdiplusImageObject* strip, FrameSet* set) {
    UINT width = 0;
    UINT height = 0;
    if (strip) {
        DllExports::GdipGetImageWidth(strip->nativeImage, &width);
        DllExports::GdipGetImageHeight(strip->nativeImage, &height);
    }
    int32_t count = FrameCount(width, height);
    if (count < 0)
        return false;
    set->position = 0;
    // One spare entry keeps an empty set's array apart from an absent one.
    set->entries = static_cast<void**>(calloc(static_cast<size_t>(count) + 1, sizeof(void*)));
    int32_t* originals =
        static_cast<int32_t*>(calloc(static_cast<size_t>(count) + 1, sizeof *originals));
    if (!set->entries || !originals) {
        free(set->entries);
        set->entries = nullptr;
        free(originals);
        return false;
    }
    set->count = count;
    GpBitmap* source = reinterpret_cast<GpBitmap*>(strip->nativeImage);
    FindOriginals(source, count, height, originals);
    for (int32_t i = 0; i < count; ++i) {
        set->entries[i] = set->entries[originals[i]];
        if (!set->entries[i])
            set->entries[i] = CopyFrame(source, i, height);
    }
    free(originals);
    return true;
}

void ReleaseSet(FrameSet* set) {
    if (set->entries) {
        for (int32_t i = 0; i < set->count; ++i) {
            if (!SharesEarlierEntry(set, i))
                ReleaseImageObject(static_cast<GdiplusImageObject*>(set->entries[i]));
        }
        free(set->entries);
        set->entries = nullptr;
    }
    set->count = 0;
}

}  // namespace

StatusAnimator::StatusAnimator(HWND itemWindow, HINSTANCE moduleInstance)
    : itemWindow_(itemWindow),
      moduleInstance_(moduleInstance),
      animationWorker_(nullptr),
      stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      noMailPath_(),
      newMailPath_(),
      noMail_(),
      newMail_(),
      mode_(kNoMailMode),
      badge_(false),
      badgeTotal_(0),
      drawnTotal_(0),
      cleanAreas_(nullptr),
      shown_(nullptr),
      retired_(nullptr) {}

StatusAnimator::~StatusAnimator() {
    Clear();
    if (stopEvent_)
        CloseHandle(stopEvent_);
}

void StatusAnimator::Load(const char* noMailPath, const char* newMailPath, bool badge) {
    Clear();
    badge_ = badge;
    CopyText(noMailPath_, sizeof noMailPath_, noMailPath);
    CopyText(newMailPath_, sizeof newMailPath_, newMailPath);
    GdiplusImageObject* noMailStrip = LoadStrip(noMailPath_);
    GdiplusImageObject* newMailStrip = LoadStrip(newMailPath_);
    CutFrames(noMailStrip, newMailStrip);
    ReleaseImageObject(noMailStrip);
    ReleaseImageObject(newMailStrip);
    StartAnimation();
}

void StatusAnimator::Clear() {
    StopAnimation();
    ReleaseFrames();
}

void StatusAnimator::SetMode(int32_t mode) { mode_.store(mode, std::memory_order_relaxed); }

void StatusAnimator::ShowTotal(int32_t total) { badgeTotal_.store(total, std::memory_order_release); }

void* StatusAnimator::NextFrame() {
    return NextFrameOf(&noMail_, &newMail_, mode_.load(std::memory_order_relaxed));
}

void StatusAnimator::CutFrames(GdiplusImageObject* noMailStrip, GdiplusImageObject* newMailStrip) {
    ReleaseFrames();
    // The new-mail strip is looked at only when the no-mail strip was usable.
    if (CutSet(noMailStrip, &noMail_) && CutSet(newMailStrip, &newMail_) && badge_)
        KeepCleanAreas();
}

void StatusAnimator::ReleaseFrames() {
    if (cleanAreas_) {
        for (int32_t i = 0; i < newMail_.count; ++i) {
            if (cleanAreas_[i])
                DllExports::GdipDisposeImage(cleanAreas_[i]);
        }
        free(cleanAreas_);
        cleanAreas_ = nullptr;
    }
    ReleaseImageObject(retired_);
    retired_ = nullptr;
    shown_ = nullptr;
    drawnTotal_ = 0;
    ReleaseSet(&noMail_);
    ReleaseSet(&newMail_);
}

void StatusAnimator::KeepCleanAreas() {
    cleanAreas_ = static_cast<GpBitmap**>(calloc(static_cast<size_t>(newMail_.count) + 1, sizeof *cleanAreas_));
    if (!cleanAreas_)
        return;
    for (int32_t i = 0; i < newMail_.count; ++i) {
        GdiplusImageObject* frame = static_cast<GdiplusImageObject*>(newMail_.entries[i]);
        if (frame && !SharesEarlierEntry(&newMail_, i))
            cleanAreas_[i] = CopyBadgeArea(reinterpret_cast<GpBitmap*>(frame->nativeImage), BitmapSide(frame));
    }
}

// Frames that fail to draw keep what they had; the next change of total
// tries them again.
void StatusAnimator::RefreshBadge() {
    if (!cleanAreas_ || mode_.load(std::memory_order_acquire) == kNoMailMode)
        return;
    int32_t total = badgeTotal_.load(std::memory_order_acquire);
    if (total == drawnTotal_)
        return;
    for (int32_t i = 0; i < newMail_.count; ++i) {
        GdiplusImageObject* frame = static_cast<GdiplusImageObject*>(newMail_.entries[i]);
        if (!cleanAreas_[i])
            continue;
        if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0)
            return;
        if (frame == shown_) {
            // Left for the next frame's turn rather than drawn on where the host reads.
            GdiplusImageObject* copy =
                retired_ ? nullptr : CopyFrame(reinterpret_cast<GpBitmap*>(frame->nativeImage), 0, BitmapSide(frame));
            if (!copy)
                return;
            for (int32_t j = i; j < newMail_.count; ++j) {
                if (newMail_.entries[j] == frame)
                    newMail_.entries[j] = copy;
            }
            retired_ = frame;
            frame = copy;
        }
        DrawBadge(reinterpret_cast<GpBitmap*>(frame->nativeImage), cleanAreas_[i], BitmapSide(frame), total);
    }
    drawnTotal_ = total;
}

void StatusAnimator::HandedOver(void* frame) {
    shown_ = frame;
    ReleaseImageObject(retired_);
    retired_ = nullptr;
}

void StatusAnimator::StartAnimation() {
    StopAnimation();
    if (!stopEvent_)
        return;
    animationWorker_ = CreateThread(nullptr, 0, AnimationThread, this, 0, nullptr);
}

void StatusAnimator::StopAnimation() {
    if (!animationWorker_)
        return;
    SetEvent(stopEvent_);
    WaitForWorker(animationWorker_);
    CloseHandle(animationWorker_);
    animationWorker_ = nullptr;
    ResetEvent(stopEvent_);
}

DWORD WINAPI StatusAnimator::AnimationThread(void* parameter) {
    StatusAnimator* animator = static_cast<StatusAnimator*>(parameter);
    for (;;) {
        animator->RefreshBadge();
        void* frame = animator->NextFrame();
        // A stop asked for while the frame was chosen wins over showing it.
        if (WaitForSingleObject(animator->stopEvent_, 0) == WAIT_OBJECT_0)
            return 0;
        if (!frame) {
            HostServices::SetImage(animator->itemWindow_, nullptr, TRUE);
            return 0;
        }
        HostServices::SetImage(animator->itemWindow_, frame, FALSE);
        animator->HandedOver(frame);
        if (WaitForSingleObject(animator->stopEvent_, kFramePauseMs) == WAIT_OBJECT_0)
            return 0;
    }
}
