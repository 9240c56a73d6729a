#include "host_options.h"

#include <algorithm>

const char* const kHostFunctionNames[kHostFunctionCount] = {
    "DockletSetLabel",          "DockletLoadGDIPlusImage",  "DockletSetImage",
    "DockletDoAttentionAnimation", "DockletGetRootFolder", "DockletGetRelativeFolder",
};

const char kHostUsage[] =
    "usage: tidewell-host [options] [steps...]\n"
    "options:\n"
    "  --journal FILE        write the journal to FILE (default: standard output)\n"
    "  --dll PATH            load this DLL instead of ROOT+REL+TidewellDocklet.dll\n"
    "  --script FILE         read the steps from FILE, one a line, # comments\n"
    "  --hide NAME[,NAME]    do not export these host functions (or: all)\n"
    "  --direct              run host calls on the calling thread\n"
    "  --print               print label and picture changes as they happen\n"
    "  --poison-images       loaded images fault on any virtual call\n"
    "  --null-ini            pass null ini and iniGroup to OnCreate\n"
    "  --quiet-frames        keep pictures without reading or journaling them (waitframe\n"
    "                        cannot tell them); the stats step counts them\n"
    "steps:\n"
    "  create N ROOT REL | wait MS | waitlabel N TEXT MS | click N | hold N\n"
    "  waitchange N PASSOVER MS   until the label is neither PASSOVER nor the last other one\n"
    "  waitframe N STRIP.png MS   until the picture is a frame of that strip\n"
    "  destroy N | info | save N FILE.png [SIDE] | stats | quit\n"
    "  power suspend|resumesuspend|resumeautomatic   sent to the top-level windows of the\n"
    "                        process, as Windows broadcasts it\n"
    "  addresschange         an address of the machine changed: the docklet's waiting\n"
    "                        NotifyAddrChange completes\n"
    "Ctrl-C or Ctrl-Break ends the steps early; every live item is then destroyed as after the last.\n";

static bool ParseHiddenList(const std::string& list, std::vector<std::string>* hidden,
                            std::string* error) {
    if (list == "all") {
        hidden->assign(kHostFunctionNames, kHostFunctionNames + kHostFunctionCount);
        return true;
    }
    size_t start = 0;
    while (true) {
        size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                         : comma - start);
        const char* const* end = kHostFunctionNames + kHostFunctionCount;
        if (std::find(kHostFunctionNames, end, name) == end) {
            *error = "--hide: \"" + name + "\" is not a host function";
            return false;
        }
        if (std::find(hidden->begin(), hidden->end(), name) == hidden->end())
            hidden->push_back(name);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

bool ParseHostOptions(const std::vector<std::string>& arguments, HostOptions* options,
                      std::string* error) {
    size_t i = 0;
    for (; i < arguments.size() && arguments[i].compare(0, 2, "--") == 0; ++i) {
        const std::string& option = arguments[i];
        bool flag = true;
        if (option == "--direct")
            options->direct = true;
        else if (option == "--print")
            options->print = true;
        else if (option == "--poison-images")
            options->poisonImages = true;
        else if (option == "--null-ini")
            options->nullIni = true;
        else if (option == "--quiet-frames")
            options->quietFrames = true;
        else
            flag = false;
        if (flag)
            continue;

        std::string* value = nullptr;
        if (option == "--journal")
            value = &options->journalPath;
        else if (option == "--dll")
            value = &options->dllPath;
        else if (option == "--script")
            value = &options->scriptPath;
        else if (option != "--hide") {
            *error = "unknown option " + option;
            return false;
        }
        if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
            *error = option + " needs a value";
            return false;
        }
        ++i;
        if (value)
            *value = arguments[i];
        else if (!ParseHiddenList(arguments[i], &options->hiddenFunctions, error))
            return false;
    }
    options->stepWords.assign(arguments.begin() + i, arguments.end());
    if (!options->scriptPath.empty() && !options->stepWords.empty()) {
        *error = "give the steps either after the options or with --script, not both";
        return false;
    }
    return true;
}
