#pragma once
// Files that scripts on the Linux side leave for tests under Wine.
#include <string>

// A Linux folder as a Windows program names it ("Z:\...\"), ending with a backslash.
std::string WindowsFolder(const std::string& linuxFolder);

// A whole file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
