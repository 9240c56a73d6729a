#pragma once
#include <string>

// Saves what a dock shows for an item as PNG: the picture (an image object,
// or null for none) with the label drawn under it. Gives the saved size
// ("WxH") or, on failure, a reason.
bool SavePicture(const std::string& path, const void* image, const std::string& label,
                 std::string* outcome);
