#pragma once

// The unread count kept in the registry value that path names
// ("ROOT\sub\key\value"): the first 4 bytes of its data as a little-endian
// int, missing bytes counting as 0. -1 when the path names no readable value
// of at most 256 bytes.
int ReadRegistryCount(const char* path);
