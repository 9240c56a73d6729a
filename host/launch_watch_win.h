#pragma once
#include <windows.h>

#include <string>

// Points the docklet's imports of CreateProcessA and CloseHandle at host
// wrappers: every launch is journaled with its command line, and the handles
// it returned are followed. false when the docklet imports no CreateProcessA.
bool WatchLaunches(HMODULE docklet);

// Forgets earlier launches; called before each click.
void BeginLaunchWatch();

// The handles of the launches since BeginLaunchWatch: "none" when nothing was
// launched, "closed", or "open:" with the ones left open.
std::string LaunchHandlesState();
