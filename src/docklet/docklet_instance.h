#pragma once
#include <cstdint>

#include "config/mail_account.h"
#include "docklet/win_handles.h"

class StatusAnimator;
struct IdleWatchers;
struct ShownTotal;
struct SeenBoard;
struct SignInBoard;
struct TlsCredentials;

// The check workers started by holds that may still run.
struct OneShotWorkers {
    HANDLE* handles;  // owned array, or null
    int32_t count;
    int32_t capacity;
};

const int kPathSize = 260;   // every path, terminator included
const int kLabelSize = 256;  // every configured label text, terminator included

const int32_t kSoundNone = 0;
const int32_t kSoundDefault = 1;  // the system's new-mail sound
const int32_t kSoundFile = 2;

// One per dock item: made zero-filled by OnCreate, handed back by the host to
// every later entry point, freed by OnDestroy. The configuration fields are
// written only inside OnCreate, before any worker starts, and only read after.
struct DockletInstance {
    HWND itemWindow;            // passed to every host function
    HINSTANCE moduleInstance;   // this module, as OnCreate received it
    StatusAnimator* animator;   // owned
    HANDLE periodicWorker;      // the periodic check worker, or null
    char logPath[kPathSize];    // Debug.log in the docklet folder; empty when it cannot be named
    char link[kPathSize];       // command line run on a left click
    int32_t delaySeconds;       // pause between periodic checks, 10 to 86400
    bool debug;                 // Debug was exactly 1
    int32_t accountCount;       // NbAccount, at most 100; 0 when the accounts could not be allocated
    MailAccount* accounts;      // owned, accountCount records, or null
    char checkText[kLabelSize];             // label while a check runs
    char noMessageText[kLabelSize];         // label after a check found nothing
    char oneMessageText[kLabelSize];        // label after a check found one message
    char manyMessagesTemplate[kLabelSize];  // label template for a total above one
    char failedTemplate[kLabelSize];        // added to the label when checks failed; empty: nothing
    int32_t timeoutSeconds;     // bound on a connect and on each reply
    HANDLE stopEvent;           // set when the item goes away: every check worker's waits end
    OneShotWorkers oneShotWorkers;  // under the one-shot lock (check/check_workers_win.cpp)
    // Made by the item's first TLS check, on a worker, then shared by all its
    // checks; freed by OnDestroy once the workers have ended.
    mutable TlsCredentials* volatile tlsCredentials;
    char iniPath[kPathSize];    // TidewellDocklet.ini; empty when it cannot be named
    bool protectPasswords;      // ProtectPasswords was exactly 1
    // Set by the first check, which protects the plain passwords of the file;
    // cleared again when the file kept changing meanwhile, for the next check.
    volatile long passwordsProtected;
    char signInText[kLabelSize];  // label while an account waits for its user to sign in
    // What the item's OAuth2 accounts know of their sign-in; made by OnCreate
    // when an account signs in with OAuth2, else null.
    SignInBoard* signIn;
    int32_t idleRenewSeconds;   // IDLE is renewed after this long without news, 10 to 1440
    IdleWatchers* idleWatchers;  // the accounts kept in IDLE, or null; owned
    ShownTotal* shownTotal;      // the accounts' last counts behind the label, or null; owned
    // The marks of the accounts with CountNew=1, else null; made by OnCreate.
    SeenBoard* seen;
    bool badge;                 // Badge was exactly 1: the new-mail frames show the total
    int32_t sound;              // what plays when the total rises: kSoundNone, kSoundDefault, kSoundFile
    char soundPath[kPathSize];  // the .wav for kSoundFile, from the docklet folder when relative
    volatile long lastHeardTotal;  // the total last shown, a failed account at its last count
    // What woke the machine since the last check it caused (WakeEvent bits,
    // check/wake_coalescing.h): the next one-shot check names it and takes it.
    volatile long wakeEvents;
};
