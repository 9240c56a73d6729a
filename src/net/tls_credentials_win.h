#pragma once
#include "docklet/docklet_instance.h"
#include "net/tls_channel_win.h"

// The one SChannel credentials handle of a dock item, shared by all its TLS
// checks (so that Windows may resume sessions with the same server).

// The item's handle, acquired by the first TLS check that asks, on whichever
// worker; checks on several workers may ask at once. Null when SChannel
// gives none.
CredHandle* ItemTlsCredentials(const DockletInstance* instance);

// Frees the handle. Only once no worker of the item runs any more (OnDestroy).
void ReleaseItemTlsCredentials(DockletInstance* instance);
