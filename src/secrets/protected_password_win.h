#pragma once
#include <windows.h>

#include <cstddef>

#include "config/mail_account.h"
#include "docklet/docklet_instance.h"

// Passwords kept in the INI file as DPAPI blobs of the current Windows user
// (CryptProtectData, user scope, never a prompt), bound to the account: the
// entropy is made of its Address and Login as written, so a blob copied into
// another account, or left after either changed, cannot be unprotected.

// Protects password for the account: "dpapi:" and the blob's Base64 in
// text[size]. False, with *error the Windows error, when it cannot.
bool ProtectPassword(const MailAccount* account, const char* password, char* text, size_t size,
                     DWORD* error);

// Unprotects the account's protectedPassword into password[size], on a check
// worker. False, with the reason written to Debug.log (the Windows error
// among it), when it is no Base64, no blob of this user for this account, or
// no password that fits; password is then empty.
bool RevealPassword(const DockletInstance* instance, const MailAccount* account, char* password,
                    size_t size);
