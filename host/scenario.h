#pragma once
#include <string>
#include <vector>

#include "scenario_words.h"

enum class StepKind {
    kCreate, kWait, kWaitLabel, kWaitChange, kWaitFrame, kClick, kHold, kDestroy, kInfo, kSave, kStats,
    kPower, kAddressChange, kQuit
};

struct Step {
    StepKind kind = StepKind::kQuit;
    int item = 0;            // create, waitlabel, waitchange, waitframe, click, hold, destroy, save
    unsigned long ms = 0;    // wait, waitlabel, waitchange, waitframe
    std::string root;        // create
    std::string relative;    // create
    std::string text;        // waitlabel; waitchange: the label it passes over; power: the event (kPowerEvents)
    std::string file;        // save; waitframe: the strip's file name
    unsigned long side = 0;  // save: the picture's side in pixels, as a dock shrinks it; 0: as given
    std::string where;       // "step 3" or "FILE:LINE", for messages
};

const int kMaxItem = 9999;

// The power events the power step broadcasts, by the names it takes.
struct PowerEvent {
    const char* name;
    unsigned long code; // WM_POWERBROADCAST's wParam
};
extern const PowerEvent kPowerEvents[3];
const unsigned long kMaxWaitMs = 24UL * 60 * 60 * 1000;
const unsigned long kMinSaveSide = 16;
const unsigned long kMaxSaveSide = 1024;

// Steps given as command-line words, one after another.
bool ParseWordSteps(const std::vector<std::string>& words, bool dllGiven, std::vector<Step>* steps,
                    std::string* error);

// Steps from a script, exactly one a line.
bool ParseScriptSteps(const std::string& scriptName, const std::vector<ScriptLine>& lines,
                      bool dllGiven, std::vector<Step>* steps, std::string* error);
