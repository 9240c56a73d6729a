#pragma once
#include <cstddef>

// SASL XOAUTH2, as Google and Microsoft mail servers take it: the client's
// one message names the mailbox and carries the access token; a refused
// token is answered with a challenge holding the reasons as JSON.

// A command line on the heap: prefix, then the Base64 of
// "user=<login>^Aauth=Bearer <accessToken>^A^A", then CR LF. Null, with the
// reason in why[whySize], when the token is empty or longer than
// kMaxTokenSize - 1, when the account's Login or the token holds a control
// character (it would end the message or the line early), or when memory
// runs out. The caller releases it with FreeSecretLine.
char* FormXoauth2Line(const char* prefix, const char* login, const char* accessToken, char* why,
                      size_t whySize);

// Wipes and frees a line made by FormXoauth2Line; null is fine.
void FreeSecretLine(char* line);

// Words the server's failure challenge (the Base64 text after "+ ", length
// bytes) for a reason line, in reason[size]: "XOAUTH2 refused: " and the
// decoded JSON with anything unprintable escaped, cut with "..." past a
// bound; text that is no Base64 is shown the same way, marked as such.
void DescribeXoauth2Challenge(const char* challenge, size_t length, char* reason, size_t size);
