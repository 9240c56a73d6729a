#pragma once
#include "docklet/docklet_instance.h"

// Replaces each plain, non-empty Password in the sections of the accounts
// (every copy of the key, in every section of the name, in any encoding the
// profile functions read) with its protected form, changing nothing else in
// the file. The copy the profile functions read is protected only while it is
// the one read at start; an account whose copy changed is left whole. The
// file is written only if it is still what was read: a file of one name is
// replaced in one step at its real path, so a symbolic link stays a link; a
// file of several names is written over in place, so every name ends
// protected (see RewriteFile). A file that cannot be read or written
// (read-only included) keeps its passwords: Debug.log says why. The passwords
// in memory are not changed. Runs on a check worker, once per instance (the
// caller sees to that); another instance on the same file finds the values
// protected and leaves them. False when the file kept changing while being
// rewritten: it is left for the next check.
bool ProtectPasswordsInFile(const DockletInstance* instance);
