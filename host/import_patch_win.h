#pragma once
#include <windows.h>

// Points a module's import of dllName!functionName at a replacement, and gives
// the address it had. false when the module does not import that function by
// name.
bool PatchImport(HMODULE module, const char* dllName, const char* functionName, void* replacement,
                 void** original);
