#pragma once
#include <string>
#include <vector>

// Removes the named functions from this executable's export directory in
// memory, so that GetProcAddress no longer finds them, as with a host that
// lacks them. Checks the result; false with a message when it did not take.
bool HideOwnExports(const std::vector<std::string>& names, std::string* error);
