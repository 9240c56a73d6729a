#pragma once
#include <windows.h>

#include <string>

// A fresh folder under the Windows temporary folder, removed with its files
// when the test ends. Path() ends with a backslash, as the host's folders do.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Creates or replaces a file in the folder (or in a subfolder given in the name).
    void Write(const std::string& name, const std::string& contents) const;
    // The file's bytes as stored, or "<missing>".
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const;
    // Creates the folder and any missing folder above it.
    void MakeFolder(const std::string& name) const;

private:
    std::string path_;
};

// How the user's editor stored a text file: Notepad's ANSI (Windows' code
// page), UTF-8 with or without its mark, UTF-16 either way round.
enum FileForm { kAnsiFile, kUtf8File, kUtf8NoMarkFile, kUtf16LeFile, kUtf16BeFile };

std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8);
std::string Narrow(const std::wstring& wide, UINT codePage = CP_UTF8);
// UTF-8 in Windows' code page, as the profile functions give a text.
std::string Ansi(const std::string& utf8);
// The text (UTF-8 here) as the file holds it.
std::string Stored(FileForm form, const std::string& text);
