#pragma once
#include <cstdint>

#include "config/mail_account.h"

// Reads the message count a DBX mail folder file keeps in its header; false
// when the file cannot be opened or is shorter than its 208-byte header. The
// file is only read, without keeping other programs out.
bool ReadDbxHeaderCount(const char* path, uint32_t* count);

// Reads one file's header count, as ReadDbxHeaderCount does or through it;
// context is the caller's.
typedef bool (*DbxHeaderReader)(const char* path, uint32_t* count, void* context);

// The number of messages in the account's local DBX files: the sum of their
// header counts (0 with no files), read one file at a time with read. Returns
// -1 as soon as one file cannot be read, and its index in *unreadable, which
// is left alone otherwise: headers may well add up to -1 too.
int CountDbxMessages(const MailAccount* account, DbxHeaderReader read, void* context, int* unreadable);
