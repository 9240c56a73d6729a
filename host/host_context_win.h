#pragma once
// What the whole host process shares: the options, the main thread, the lock
// over the items' state, and the count of late host calls.
#include <windows.h>

#include <string>

#include "host_options.h"

void InitialiseHostContext(const HostOptions& options);
const HostOptions& Options();

bool OnMainThread();
DWORD MainThreadId();

// Guards the items' state, which host calls change on whatever thread they
// run. Never held while calling into the docklet.
class StateLock {
  public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

// Signalled whenever an item's label or picture changes, so a waiting main
// thread wakes.
HANDLE LabelChangedEvent();

// Ctrl-C or Ctrl-Break (SIGINT under Wine) asks the host to stop: waits end
// early, no further step runs, and the items are destroyed as after the last.
void WatchForStopRequests();
bool StopRequested();
// Signalled once a stop is requested.
HANDLE StopRequestedEvent();

// The item whose entry point the main thread is running, or 0: host code
// reached through the docklet's imports journals under that item.
void SetEntryItem(int item);
std::string EntryItemColumn();

void CountLateCall();
int LateCallCount();

// Every DockletSetImage call, journaled or not.
void CountFrame();
long FrameCount();

// The journal's item column: "-" for none.
std::string ItemColumn(int item);
