#pragma once
#include "docklet/docklet_instance.h"
#include "mail/bearer_login.h"

// What a cycle takes from an account's connection in IDLE.
enum CycleCounts {
    kRecentCounts, // its count, when its server's last word is recent (kIdleFreshMs)
    kVerifiedCounts, // only a count made for this cycle: the user asked for a fresh one
};

// One whole check cycle: shows the check text, asks every account in turn,
// adds up the counts above 0, selects the animation and sets the final label;
// before each account, accounts whose counts are too old show as failed.
// Runs on a check worker and blocks on each server in turn. When the item is
// being destroyed it ends at the next step without touching the item again.
void CheckAllAccounts(DockletInstance* instance, CycleCounts wanted);

// A dialogue with an account's server, run once its password or token is at
// hand: a check, or an idle watcher's whole connection. Returns -1 when it
// failed, and sets bearer->refused (when given a bearer) as the checks do.
typedef int (*AccountDialogue)(const DockletInstance* instance, const MailAccount* account,
                               BearerLogin* bearer, void* context);

// Runs the dialogue for account index as a check would: with its password
// (unprotected for the dialogue only) or its OAuth2 access token, which is
// forgotten when the server refuses it. Logs why an account cannot be asked.
int RunAccountDialogue(const DockletInstance* instance, int32_t index, const MailAccount* account,
                       AccountDialogue dialogue, void* context);
