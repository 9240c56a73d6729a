#pragma once
#include "docklet/docklet_instance.h"

// Writes a reason line to Debug.log for each key of account index that is
// set but does not apply to it (Folder on a POP account, Password with
// Auth=oauth2, CAFile without TLS, ...), in the form "Account N: Key applies
// to ... only: what happens instead". An account whose Type, Security or Auth
// makes its check fail gets none for the keys it concerns: its failure says
// why. Called with the debug flag set, on the host's thread in OnCreate.
void LogKeysNotApplying(const DockletInstance* instance, int index, const MailAccount* account);

// The same for the keys of [Common] that concern accounts (IdleRenewSecond,
// stringSignIn), once every account is read.
void LogCommonKeysNotApplying(const DockletInstance* instance, bool idleRenewWritten, bool signInWritten);
