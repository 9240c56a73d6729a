#pragma once
#include "docklet/docklet_instance.h"

// Replaces each plain, non-empty Password of the INI file with its protected
// form, changing nothing else in the file. Reads the file afresh and leaves
// any value that is no longer the one read at start; writes a temporary file
// beside it and moves it over the INI file in one step, so a reader sees the
// old file or the new one, never a part. A file that cannot be read or
// written (read-only included) keeps its passwords: Debug.log says why.
// The passwords in memory are not changed. Runs on a check worker, once per
// instance (the caller sees to that); another instance on the same file finds
// the values changed and leaves them.
void ProtectPasswordsInFile(const DockletInstance* instance);
