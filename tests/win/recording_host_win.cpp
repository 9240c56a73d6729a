#include "recording_host_win.h"

#include <windows.h>

namespace {

struct Record {
    CRITICAL_SECTION lock;
    std::vector<std::string> labels;
    int attentions = 0;
    Record() { InitializeCriticalSection(&lock); }
};

Record record;

struct Locked {
    Locked() { EnterCriticalSection(&record.lock); }
    ~Locked() { LeaveCriticalSection(&record.lock); }
};

}  // namespace

extern "C" {

void __stdcall DockletSetLabel(HWND, char* text) {
    Locked locked;
    record.labels.push_back(text ? text : "<null>");
}

void __stdcall DockletSetImage(HWND, void*, BOOL) {}

void __stdcall DockletDoAttentionAnimation(HWND) {
    Locked locked;
    ++record.attentions;
}

}  // extern "C"

namespace RecordingHost {

void Reset() {
    Locked locked;
    record.labels.clear();
    record.attentions = 0;
}

std::vector<std::string> Labels() {
    Locked locked;
    return record.labels;
}

int Attentions() {
    Locked locked;
    return record.attentions;
}

}  // namespace RecordingHost
