#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "animation/frame_cycle.h"
#include "animation/gdiplus_object_win.h"

// Shows the mail status on the dock item as an endless animation: the frames
// of the no-mail strip or of the new-mail strip, one every 75 ms, handed to
// the host by a worker thread of the animator's own.
//
// The host's thread constructs it, calls Load once and destroys it; check
// workers call SetMode and ShowTotal from any thread. Frames are cut once per
// Load, handed to the host by reference with automatic delete off, and stay
// the animator's. The two images the host loaded are released as soon as
// they are cut: a frame is a copy with pixels of its own.
//
// With a badge, the worker draws the total onto the new-mail frames itself,
// once per change of total and only when about to show them, so no frame
// changes under another thread of ours. The host may read the frame it was
// last given at any moment: that one is never drawn on but replaced by a
// copy, and released only once the host has been given another.
class StatusAnimator {
public:
    StatusAnimator(HWND itemWindow, HINSTANCE moduleInstance);
    ~StatusAnimator();  // Clear
    StatusAnimator(const StatusAnimator&) = delete;
    StatusAnimator& operator=(const StatusAnimator&) = delete;

    // Loads both strips through the host, cuts them and starts the worker,
    // which shows frame 0 of the active set at once. Paths under 260
    // characters. badge: the new-mail frames show the total.
    void Load(const char* noMailPath, const char* newMailPath, bool badge);
    // Stops the worker and frees the frames; makes no host call, so
    // the frame last shown stays with the host, which does not use it after
    // the item is destroyed.
    void Clear();
    // 1 selects the no-mail set, any other value the new-mail set, from the next frame on.
    void SetMode(int32_t mode);
    // The total the badge shows from the next new-mail frame on; below 1, none.
    void ShowTotal(int32_t total);

private:
    void* NextFrame();
    void CutFrames(GdiplusImageObject* noMailStrip, GdiplusImageObject* newMailStrip);
    void ReleaseFrames();
    void KeepCleanAreas();
    // On the worker, before it picks a frame.
    void RefreshBadge();
    // On the worker, once the host has taken frame.
    void HandedOver(void* frame);
    void StartAnimation();
    // Signals the worker and waits until it has ended; afterwards it makes no
    // further call. Returns within one host call, never a whole pause.
    void StopAnimation();
    static DWORD WINAPI AnimationThread(void* animator);

    HWND itemWindow_;
    HINSTANCE moduleInstance_;
    HANDLE animationWorker_;   // null before the first start and after each stop
    HANDLE stopEvent_;         // manual reset; set while the worker is asked to stop
    char noMailPath_[260];
    char newMailPath_[260];
    FrameSet noMail_;          // entries are GdiplusImageObject*
    FrameSet newMail_;
    std::atomic<int32_t> mode_;
    bool badge_;
    std::atomic<int32_t> badgeTotal_;  // as last asked for
    // What follows is the worker's alone while it runs.
    int32_t drawnTotal_;               // as drawn on the new-mail frames; 0: none
    // Per new-mail entry, the clean badge area of the first entry holding
    // each frame (null for the others); null without a badge.
    Gdiplus::GpBitmap** cleanAreas_;
    void* shown_;                      // the frame the host was given last
    GdiplusImageObject* retired_;      // replaced while shown; freed after the next handover
};
