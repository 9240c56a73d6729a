#pragma once
#include <cstddef>
#include <cstdint>

#include "config/mail_account.h"

// Whose mail service a server or an address is, by the names Microsoft and
// Google publish for mail programs. Names are compared whole and without
// regard to case, one final dot aside: "imap.gmail.com." is Google's,
// "imap.gmail.com.evil.example" is nobody's.

// kProviderMicrosoft, kProviderGoogle, or kProviderUnknown for any other host.
int32_t ProviderOfHost(const char* host);

// The same for the domain of a mail address, after its last '@';
// kProviderUnknown for an address without one.
int32_t ProviderOfAddress(const char* address);

// Why the provider an OAuth2 account signs in with does not seem to go with
// its Address (a server of the other provider) or its Login (an address of the
// other provider), in why[size]; false when there is nothing to say, as for
// OAuthProvider=custom, whose endpoints are the user's own.
bool WhyProviderMisfits(const MailAccount* account, char* why, size_t size);
