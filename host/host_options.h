#pragma once
#include <string>
#include <vector>

const int kHostFunctionCount = 6;
// The functions a dock host exports to its docklets, as --hide names them.
extern const char* const kHostFunctionNames[kHostFunctionCount];

struct HostOptions {
    std::string journalPath;  // empty: standard output
    std::string dllPath;      // empty: the docklet folder of the first create
    std::string scriptPath;   // empty: the steps follow the options
    std::vector<std::string> hiddenFunctions;
    bool direct = false;        // host calls from other threads run there, not on the main thread
    bool print = false;         // label and picture changes also go to standard output
    bool poisonImages = false;  // loaded images get a vtable pointer that faults on use
    bool nullIni = false;       // OnCreate gets null for its ini and iniGroup
    bool quietFrames = false;   // pictures are kept unread and unjournaled; stats counts them
    std::vector<std::string> stepWords;  // everything after the options
};

extern const char kHostUsage[];

// Options come first; the first word not starting with "--" begins the steps.
// false with a message for an unknown option, a missing value, an unknown
// host function name, or steps given both as words and as a script.
bool ParseHostOptions(const std::vector<std::string>& arguments, HostOptions* options,
                      std::string* error);
