#pragma once
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
