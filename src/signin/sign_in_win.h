#pragma once
#include <cstdint>

#include "docklet/docklet_instance.h"

// Signs the OAuth2 account at index in, as a mail program does: a listener
// on 127.0.0.1, the provider's page in the browser (authorization code with
// PKCE), up to five minutes for the browser to come back with this sign-in's
// state, then the code exchanged for tokens, the refresh token kept in the
// store and the access token in memory. True once signed in, or signed in as
// another account than Login's, which the check that follows then fails.
// Runs on the item's sign-in worker; the stop event ends every wait at once.
// Writes each step to the debug log, never a secret.
bool SignInAccount(DockletInstance* instance, int32_t index);

// Writes a line to the debug log at start-up for each OAuth2 account whose
// provider does not seem to go with its Address or Login. Host's thread, OnCreate.
void NoteProviderMisfits(const DockletInstance* instance);
