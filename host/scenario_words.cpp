#include "scenario_words.h"

#include <fstream>

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool SplitScriptLine(const std::string& line, std::vector<std::string>* words, std::string* error) {
    words->clear();
    size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i == line.size() || line[i] == '#')
            return true;
        std::string word;
        while (i < line.size() && !IsBlank(line[i])) {
            if (line[i] != '"') {
                word += line[i++];
                continue;
            }
            size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                *error = "a double quote is not closed";
                return false;
            }
            word.append(line, i + 1, close - i - 1);
            i = close + 1;
        }
        words->push_back(word);
    }
}

bool ReadScriptFile(const std::string& path, std::vector<ScriptLine>* lines, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read the script " + path;
        return false;
    }
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        ScriptLine line{number, {}};
        if (!SplitScriptLine(text, &line.words, error)) {
            *error = path + ":" + std::to_string(number) + ": " + *error;
            return false;
        }
        if (!line.words.empty())
            lines->push_back(line);
    }
    return true;
}
