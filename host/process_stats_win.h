#pragma once
#include <string>

// "handles=N pagefile=BYTES private=BYTES threads=N" for this process, to
// follow leaks across many creates and destroys, and threads that outlive
// their items. Wine reports no private bytes (0).
std::string ProcessStats();
