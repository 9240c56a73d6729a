#pragma once
#include <string>

// Saves what a dock shows for an item as PNG: the picture (an image object,
// or null for none) with the label drawn under it, the picture shrunk or
// grown to side x side pixels as a dock shows it when side is not 0. Gives
// the saved size ("WxH") or, on failure, a reason.
bool SavePicture(const std::string& path, const void* image, const std::string& label, unsigned long side,
                 std::string* outcome);
