#include "scenario.h"

#include <map>

const PowerEvent kPowerEvents[3] = {
    {"suspend", 4},          // PBT_APMSUSPEND
    {"resumesuspend", 7},    // PBT_APMRESUMESUSPEND: resumed, and the user is there
    {"resumeautomatic", 18}, // PBT_APMRESUMEAUTOMATIC: every resume
};

namespace {

struct StepWord {
    const char* word;
    StepKind kind;
};

const StepWord kStepWords[] = {
    {"create", StepKind::kCreate},         {"wait", StepKind::kWait},
    {"waitlabel", StepKind::kWaitLabel},   {"waitchange", StepKind::kWaitChange},
    {"waitframe", StepKind::kWaitFrame},   {"click", StepKind::kClick},
    {"hold", StepKind::kHold},             {"destroy", StepKind::kDestroy},
    {"info", StepKind::kInfo},             {"save", StepKind::kSave},
    {"stats", StepKind::kStats},           {"quit", StepKind::kQuit},
    {"power", StepKind::kPower},           {"addresschange", StepKind::kAddressChange},
};

bool ParseNumber(const std::string& word, unsigned long low, unsigned long high,
                 unsigned long* value) {
    if (word.empty() || word.size() > 9 || word.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoul(word);
    return *value >= low && *value <= high;
}

// Reads one step from words[*next], advancing *next past it.
class StepReader {
  public:
    StepReader(const std::vector<std::string>& words, size_t* next, std::string* error)
        : words_(words), next_(next), error_(error) {}

    bool Read(Step* step) {
        const std::string& keyword = words_[(*next_)++];
        for (const StepWord& known : kStepWords) {
            if (keyword == known.word) {
                step->kind = known.kind;
                return ReadArguments(keyword, step);
            }
        }
        *error_ = "unknown step \"" + keyword + "\"";
        return false;
    }

  private:
    bool ReadArguments(const std::string& keyword, Step* step) {
        switch (step->kind) {
        case StepKind::kCreate:
            return Item(keyword, step) && Text(keyword, "a root folder", &step->root) &&
                   Text(keyword, "a relative folder", &step->relative);
        case StepKind::kWait:
            return Milliseconds(keyword, step);
        case StepKind::kWaitLabel:
            return Item(keyword, step) && Text(keyword, "a label text", &step->text) &&
                   Milliseconds(keyword, step);
        case StepKind::kWaitChange:
            return Item(keyword, step) && Text(keyword, "a label to pass over", &step->text) &&
                   Milliseconds(keyword, step);
        case StepKind::kWaitFrame:
            return Item(keyword, step) && Text(keyword, "a picture file name", &step->file) &&
                   NotEmpty(keyword, "picture file name", step->file) && Milliseconds(keyword, step);
        case StepKind::kClick:
        case StepKind::kHold:
        case StepKind::kDestroy:
            return Item(keyword, step);
        case StepKind::kSave:
            return Item(keyword, step) && Text(keyword, "a file name", &step->file) &&
                   NotEmpty(keyword, "file name", step->file) && OptionalSide(keyword, step);
        case StepKind::kPower:
            return Power(keyword, step);
        case StepKind::kInfo:
        case StepKind::kStats:
        case StepKind::kAddressChange:
        case StepKind::kQuit:
            return true;
        }
        return true;
    }

    bool Power(const std::string& keyword, Step* step) {
        if (!Text(keyword, "a power event", &step->text))
            return false;
        for (const PowerEvent& known : kPowerEvents) {
            if (step->text == known.name)
                return true;
        }
        *error_ = "\"" + keyword + "\" needs suspend, resumesuspend or resumeautomatic, not \"" +
                  step->text + "\"";
        return false;
    }

    bool Text(const std::string& keyword, const char* what, std::string* value) {
        if (*next_ >= words_.size()) {
            *error_ = "\"" + keyword + "\" needs " + what;
            return false;
        }
        *value = words_[(*next_)++];
        return true;
    }

    bool NotEmpty(const std::string& keyword, const char* what, const std::string& value) {
        if (!value.empty())
            return true;
        *error_ = "\"" + keyword + "\" needs a non-empty " + what;
        return false;
    }

    bool Item(const std::string& keyword, Step* step) {
        std::string word;
        unsigned long value = 0;
        if (!Text(keyword, "an item number", &word))
            return false;
        if (!ParseNumber(word, 1, kMaxItem, &value)) {
            *error_ = "\"" + keyword + "\" needs an item number from 1 to " +
                      std::to_string(kMaxItem) + ", not \"" + word + "\"";
            return false;
        }
        step->item = static_cast<int>(value);
        return true;
    }

    bool Milliseconds(const std::string& keyword, Step* step) {
        std::string word;
        if (!Text(keyword, "a time in milliseconds", &word))
            return false;
        if (!ParseNumber(word, 0, kMaxWaitMs, &step->ms)) {
            *error_ = "\"" + keyword + "\" needs a time in milliseconds from 0 to " +
                      std::to_string(kMaxWaitMs) + ", not \"" + word + "\"";
            return false;
        }
        return true;
    }

    // A number after the file is the side; no step begins with a digit.
    bool OptionalSide(const std::string& keyword, Step* step) {
        if (*next_ >= words_.size() || words_[*next_].empty() || words_[*next_][0] < '0' ||
            words_[*next_][0] > '9')
            return true;
        const std::string& word = words_[(*next_)++];
        if (ParseNumber(word, kMinSaveSide, kMaxSaveSide, &step->side))
            return true;
        *error_ = "\"" + keyword + "\" needs a side from " + std::to_string(kMinSaveSide) + " to " +
                  std::to_string(kMaxSaveSide) + " pixels, not \"" + word + "\"";
        return false;
    }

    const std::vector<std::string>& words_;
    size_t* next_;
    std::string* error_;
};

enum class ItemState { kLive, kDestroyed };

// Checks the order of the steps as the host will run them, so that nothing
// runs when a later step could not.
bool CheckOrder(const std::vector<Step>& steps, bool dllGiven, std::string* error) {
    std::map<int, ItemState> items;
    bool dllLoaded = dllGiven;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const std::string item = "item " + std::to_string(step.item);
        auto found = items.find(step.item);
        bool needsItem = false;
        bool needsLiveItem = false;
        switch (step.kind) {
        case StepKind::kCreate:
            if (found != items.end()) {
                *error = step.where + ": " + item + " is created twice";
                return false;
            }
            items[step.item] = ItemState::kLive;
            dllLoaded = true;
            break;
        case StepKind::kWaitLabel:
        case StepKind::kWaitChange:
        case StepKind::kWaitFrame:
        case StepKind::kSave:
            needsItem = true;
            break;
        case StepKind::kClick:
        case StepKind::kHold:
        case StepKind::kDestroy:
            needsLiveItem = true;
            break;
        case StepKind::kInfo:
            if (!dllLoaded) {
                *error = step.where + ": info needs the docklet: give --dll or create an item first";
                return false;
            }
            break;
        case StepKind::kQuit:
            if (i + 1 != steps.size()) {
                *error = steps[i + 1].where + ": no step can follow quit";
                return false;
            }
            break;
        case StepKind::kWait:
        case StepKind::kStats:
        case StepKind::kPower:
        case StepKind::kAddressChange:
            break;
        }
        if ((needsItem || needsLiveItem) && found == items.end()) {
            *error = step.where + ": " + item + " is not created before this step";
            return false;
        }
        if (needsLiveItem && found->second == ItemState::kDestroyed) {
            *error = step.where + ": " + item + " is already destroyed";
            return false;
        }
        if (step.kind == StepKind::kDestroy)
            found->second = ItemState::kDestroyed;
    }
    return true;
}

}  // namespace

bool ParseWordSteps(const std::vector<std::string>& words, bool dllGiven, std::vector<Step>* steps,
                    std::string* error) {
    size_t next = 0;
    StepReader reader(words, &next, error);
    while (next < words.size()) {
        Step step;
        step.where = "step " + std::to_string(steps->size() + 1);
        if (!reader.Read(&step)) {
            *error = step.where + ": " + *error;
            return false;
        }
        steps->push_back(step);
    }
    return CheckOrder(*steps, dllGiven, error);
}

bool ParseScriptSteps(const std::string& scriptName, const std::vector<ScriptLine>& lines,
                      bool dllGiven, std::vector<Step>* steps, std::string* error) {
    for (const ScriptLine& line : lines) {
        Step step;
        step.where = scriptName + ":" + std::to_string(line.number);
        size_t next = 0;
        StepReader reader(line.words, &next, error);
        if (!reader.Read(&step)) {
            *error = step.where + ": " + *error;
            return false;
        }
        if (next != line.words.size()) {
            *error = step.where + ": unexpected \"" + line.words[next] + "\" after the step";
            return false;
        }
        steps->push_back(step);
    }
    return CheckOrder(*steps, dllGiven, error);
}
