#include "linux_files_win.h"

#include <fstream>
#include <sstream>

std::string WindowsFolder(const std::string& linuxFolder) {
    std::string path = "Z:" + linuxFolder + "/";
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
