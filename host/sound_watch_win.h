#pragma once
#include <windows.h>

// Points the docklet's import of PlaySoundA at a host wrapper that journals
// each call (its sound name and flags) and then makes it: under Wine there is
// no sound device to hear, so the journal is where a test sees the sound.
// false when the docklet imports no PlaySoundA.
bool WatchSounds(HMODULE docklet);
