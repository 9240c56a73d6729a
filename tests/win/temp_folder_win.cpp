#include "temp_folder_win.h"

#include <windows.h>

#include <cstdio>

TempFolder::TempFolder() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static unsigned counter;
    char name[64];
    snprintf(name, sizeof name, "tidewell-%lu-%u\\", GetCurrentProcessId(), ++counter);
    path_ = std::string(base) + name;
    CreateDirectoryA(path_.c_str(), nullptr);
}

static void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + name + "\\");
            else
                DeleteFileA((folder + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void TempFolder::Write(const std::string& name, const std::string& contents) const {
    FILE* file = fopen((path_ + name).c_str(), "wb");
    if (!file)
        return;
    fwrite(contents.data(), 1, contents.size(), file);
    fclose(file);
}

std::string TempFolder::Read(const std::string& name) const {
    FILE* file = fopen((path_ + name).c_str(), "rb");
    if (!file)
        return "<missing>";
    std::string contents;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        contents.append(chunk, got);
    fclose(file);
    return contents;
}

bool TempFolder::Exists(const std::string& name) const {
    return GetFileAttributesA((path_ + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TempFolder::MakeFolder(const std::string& name) const {
    for (size_t end = name.find('\\'); end != std::string::npos; end = name.find('\\', end + 1))
        CreateDirectoryA((path_ + name.substr(0, end)).c_str(), nullptr);
    CreateDirectoryA((path_ + name).c_str(), nullptr);
}

std::wstring Wide(const std::string& text, UINT codePage) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT codePage) {
    std::string narrow(wide.size() * 4, '\0');
    narrow.resize(WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0],
                                      static_cast<int>(narrow.size()), nullptr, nullptr));
    return narrow;
}

std::string Ansi(const std::string& utf8) {
    return Narrow(Wide(utf8), CP_ACP);
}

std::string Stored(FileForm form, const std::string& text) {
    if (form == kAnsiFile)
        return Ansi(text);
    if (form == kUtf8File)
        return "\xEF\xBB\xBF" + text;
    if (form == kUtf8NoMarkFile)
        return text;
    std::string bytes = form == kUtf16LeFile ? "\xFF\xFE" : "\xFE\xFF";
    for (wchar_t c : Wide(text)) {
        const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        bytes += form == kUtf16LeFile ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}
