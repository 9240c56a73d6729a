#pragma once
#include <windows.h>

#include <cstdint>

#include "docklet/docklet_instance.h"

// Room for a sign-in page's address, and for OAuthBrowser with it in place of %s.
const size_t kSignInUrlSize = 4096;

// Shows url to the user: runs the account's OAuthBrowser with the address in
// place of its %s (or after it, without one), else the program Windows opens
// http addresses with. Whether a page really appears cannot be known (a
// system without a browser still reports success), so the log has the
// address for the user to paste. Waits at most timeoutMs, and no longer than
// the item lives.
void OpenInBrowser(const DockletInstance* instance, int32_t index, const char* url, DWORD timeoutMs);
