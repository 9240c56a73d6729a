#pragma once
#include "docklet/docklet_instance.h"

// The item's check workers: one periodic worker for the item's whole life and
// one one-shot worker per hold of the button or wake of the machine. Started
// and stopped on the host's thread, one-shot workers also by CheckAtOnce. Stopping sets the item's stop event, which ends every wait
// of every check worker at once, and then waits for the workers to end while
// dispatching messages sent to the host's thread; afterwards no check worker
// of the item runs.

// Ends a periodic worker started earlier, then starts one that checks at once
// and again DelaySecond seconds (10 s to a day) after the end of each check,
// time asleep included, and with it the idle watchers
// (check/idle_watcher_win.h); stopping it stops them. Between checks it
// shows accounts whose counts grew too old as failed.
void StartPeriodicWorker(DockletInstance* instance);
void StopPeriodicWorker(DockletInstance* instance);

// Starts a worker that runs one check cycle, first releasing the handles of
// one-shot workers that have ended.
void StartOneShotWorker(DockletInstance* instance);
// The same for a held button: the user asks for fresh counts, so accounts in
// IDLE count again for it (or log in anew), rather than give their last count.
void StartHeldCheckWorker(DockletInstance* instance);
// The same as a hold, from any thread, for wakeEvents (WakeEvent bits,
// check/wake_coalescing.h), which the worker names in the debug log; it has
// the idle connections opened again before its check. Never waits; the
// caller keeps the item from going away meanwhile (OnDestroy stops one-shot
// workers only after).
void CheckAtOnce(DockletInstance* instance, uint32_t wakeEvents);
void StopOneShotWorkers(DockletInstance* instance);

// On a click: when an OAuth2 account waits for its user, starts the sign-in
// worker for it (which checks at once once signed in), or has the sign-in
// already under way open its page again; true then, and the click is the
// sign-in's. False when no account waits: the click is the Link's. Never
// waits for the browser.
bool StartSignInWorker(DockletInstance* instance);
// Ends a sign-in under way at once; OnDestroy calls it.
void StopSignInWorker(DockletInstance* instance);
