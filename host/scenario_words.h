#pragma once
#include <string>
#include <vector>

struct ScriptLine {
    int number;  // from 1
    std::vector<std::string> words;
};

// Words are separated by blanks. Double quotes keep blanks inside a word and
// can give an empty word (""); backslashes are plain characters, since paths
// are Windows paths. A '#' at the start of a word begins a comment. false
// with a message for a quote left open.
bool SplitScriptLine(const std::string& line, std::vector<std::string>* words, std::string* error);

// The lines of a script file that hold words; false with a message when the
// file cannot be read or a line cannot be split.
bool ReadScriptFile(const std::string& path, std::vector<ScriptLine>* lines, std::string* error);
