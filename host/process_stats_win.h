#pragma once
#include <string>

// "handles=N pagefile=BYTES private=BYTES" for this process, to follow leaks
// across many creates and destroys. Wine reports no private bytes (0).
std::string ProcessStats();
