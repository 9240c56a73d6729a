// The six functions the host exports to its docklets. Each journals under the
// thread that called it, then does its work on the main thread unless --direct.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "host_context_win.h"
#include "host_items_win.h"
#include "image_objects_win.h"
#include "journal_text.h"
#include "journal_win.h"
#include "strip_frames_win.h"

namespace {

const int kFolderSize = 260;

// Journals the call; for an item already destroyed, also a LATE line. Under StateLock.
HostItem* NoteItemCall(DWORD caller, HWND window, const char* function, const std::string& details) {
    HostItem* item = FindItemByWindow(window);
    std::string column = item ? ItemColumn(item->number) : "?";
    JournalEventFor(caller, column, function, details);
    if (item && item->destroyed) {
        JournalEventFor(caller, column, "LATE", function);
        CountLateCall();
    }
    return item;
}

void PrintChange(const HostItem& item, const std::string& what) {
    if (!Options().print)
        return;
    printf("item %d %s\n", item.number, what.c_str());
    fflush(stdout);
}

// The picture takes the place of the last, which is freed when it was the host's to free.
void ReplaceImage(HostItem* item, void* image, BOOL autoDelete) {
    if (item->image && item->image != image && item->imageAutoDelete)
        DeleteImageObject(item->image);
    item->image = image;
    item->imageAutoDelete = autoDelete != FALSE;
}

// What a dock does with a picture and no more. Only a call for no item or a
// destroyed one is journaled.
void KeepQuietly(DWORD caller, HWND window, void* image, BOOL autoDelete) {
    StateLock lock;
    HostItem* item = FindItemByWindow(window);
    if (!item || item->destroyed)
        item = NoteItemCall(caller, window, "DockletSetImage", "unread");
    if (item)
        ReplaceImage(item, image, autoDelete);
}

std::string TextOrNull(const char* text) { return text ? QuoteJournalText(text) : "null"; }

void GetFolder(HWND window, char* buffer, const char* function,
               const std::string HostItem::*folder) {
    DWORD caller = GetCurrentThreadId();
    RunOnMainThread(window, [&] {
        StateLock lock;
        HostItem* item = FindItemByWindow(window);
        std::string written = item ? item->*folder : std::string();
        written.resize(std::min(written.size(), static_cast<size_t>(kFolderSize - 1)));
        NoteItemCall(caller, window, function, buffer ? QuoteJournalText(written) : "null buffer");
        if (buffer)
            memcpy(buffer, written.c_str(), written.size() + 1);
    });
}

}  // namespace

extern "C" {

void __stdcall DockletSetLabel(HWND window, char* text) {
    DWORD caller = GetCurrentThreadId();
    std::string copy = text ? text : "";
    RunOnMainThread(window, [&] {
        StateLock lock;
        HostItem* item = NoteItemCall(caller, window, "DockletSetLabel", TextOrNull(text));
        if (!item || item->label == copy)
            return;
        item->previousLabel = item->label;
        item->label = copy;
        PrintChange(*item, "label: " + copy);
        SetEvent(LabelChangedEvent());
    });
}

void* __stdcall DockletLoadGDIPlusImage(char* path) {
    DWORD caller = GetCurrentThreadId();
    // The whole call, as the docklet waits for it, and the decoding alone, as
    // any host does it: the benchmark tells the host's share of OnCreate from
    // the docklet's own, and this host's journaling aids from what a dock pays.
    const double start = JournalClock();
    void* image = nullptr;
    RunOnMainThread(nullptr, [&] {
        image = path ? LoadImageObject(path, Options().poisonImages) : nullptr;
        const double decoded = JournalClock();
        if (image)
            RememberStripFrames(path, image);
        std::string result = image ? DescribeImage(ReadImageFacts(image)) : "none";
        char duration[64];
        snprintf(duration, sizeof duration, " %.1fms, decoding %.1fms", JournalClock() - start,
                 decoded - start);
        JournalEventFor(caller, "-", "DockletLoadGDIPlusImage", TextOrNull(path) + " -> " + result + duration);
    });
    return image;
}

void __stdcall DockletSetImage(HWND window, void* image, BOOL autoDelete) {
    DWORD caller = GetCurrentThreadId();
    CountFrame();
    if (Options().quietFrames) {
        RunOnMainThread(window, [&] { KeepQuietly(caller, window, image, autoDelete); });
        return;
    }
    RunOnMainThread(window, [&] {
        StateLock lock;
        ImageFacts facts;
        if (image)
            facts = ReadImageFacts(image);
        std::string details = image ? DescribeImage(facts) : "none";
        details += autoDelete ? " auto=1" : " auto=0";
        const std::string origin =
            facts.pixelsRead ? FrameOrigin(facts.fingerprint, facts.width, facts.height) : "";
        if (!origin.empty())
            details += " frame=" + origin;
        HostItem* item = NoteItemCall(caller, window, "DockletSetImage", details);
        if (!item)
            return;
        bool wasShown = item->image != nullptr;
        const std::string oldShape = item->imageShape;
        ReplaceImage(item, image, autoDelete);
        // What a watcher would tell apart: the strip the frames come from, and the size.
        const std::string strip = origin.substr(0, origin.find('#'));
        item->imageStrip = strip;
        item->imageShape = std::to_string(facts.width) + "x" + std::to_string(facts.height) +
                           (strip.empty() ? "" : " from " + strip);
        if (!image && wasShown)
            PrintChange(*item, "picture: none");
        else if (image && (!wasShown || oldShape != item->imageShape))
            PrintChange(*item, "picture: " + item->imageShape);
        SetEvent(LabelChangedEvent());
    });
}

void __stdcall DockletDoAttentionAnimation(HWND window) {
    DWORD caller = GetCurrentThreadId();
    RunOnMainThread(window, [&] {
        StateLock lock;
        NoteItemCall(caller, window, "DockletDoAttentionAnimation", "");
    });
}

void __stdcall DockletGetRootFolder(HWND window, char* buffer) {
    GetFolder(window, buffer, "DockletGetRootFolder", &HostItem::rootFolder);
}

void __stdcall DockletGetRelativeFolder(HWND window, char* buffer) {
    GetFolder(window, buffer, "DockletGetRelativeFolder", &HostItem::relativeFolder);
}

}  // extern "C"
