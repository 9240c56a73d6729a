#pragma once
#include <windows.h>

// Events that Windows sends a program of its own accord and that the host
// plays for the steps that ask for them.

// Sends WM_POWERBROADCAST with this wParam to every top-level window of the
// process, as Windows broadcasts it (a message-only window gets none), each
// with a bound on the wait; the number of windows it went to.
int BroadcastPower(unsigned long code);

// Under Wine, NotifyAddrChange accepts a request and never completes it, even
// when an address comes or goes. The host plays Windows' part: the docklet's
// imports of NotifyAddrChange and CancelIPChangeNotify are pointed at the
// host's, which hold the request the docklet's OVERLAPPED stands for, and
// DeliverAddressChange completes it, as Windows does when an address
// changes. false when the docklet imports no NotifyAddrChange.
bool StandInForAddressChanges(HMODULE docklet);
// Completes the request that waits; false when none does.
bool DeliverAddressChange();
