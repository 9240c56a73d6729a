#pragma once
#include <cstddef>
#include <cstdint>

#include "config/mail_account.h"

// Bytes of a DBX mail folder file's header.
const size_t kDbxHeaderSize = 208;

// The message count a DBX file keeps in its header, from the file's first
// `length` bytes; false when they are fewer than the header's.
bool DbxHeaderCount(const unsigned char* bytes, size_t length, uint32_t* count);

// Reads one file's header count (ReadDbxHeaderCount, or a read of it that
// can be abandoned); context is the caller's.
typedef bool (*DbxHeaderReader)(const char* path, uint32_t* count, void* context);

// The number of messages in the account's local DBX files: the sum of their
// header counts (0 with no files), read one file at a time with read. Returns
// -1 as soon as one file cannot be read, and its index in *unreadable, which
// is left alone otherwise: headers may well add up to -1 too.
int CountDbxMessages(const MailAccount* account, DbxHeaderReader read, void* context, int* unreadable);
